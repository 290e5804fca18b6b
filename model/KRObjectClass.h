#pragma once

#include <model/KRPropertyDescriptor.h>

#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <vector>

class KRObject;
struct KRObjectInit;

// One page-object class as the registry knows it: the registry's stand-in for run-time class
// lookup. The class name is also the XML element name of its instances.
struct KRObjectClass
{
    using Factory = std::function<std::shared_ptr<KRObject>(const KRObjectInit &)>;

    QString className;
    QString superclassName;          // "" for the root class
    QString idBase;                  // prefix of new ids; "" inherits
    QStringList requiredScripts;     // files needed in the design page and the built application
    QStringList requiredStylesheets;
    QStringList requiredResources;
    std::vector<KRPropertyDescriptor> descriptors; // the class's own table
    QStringList extraProperties;     // "kr_" keys the class declares without a descriptor
    Factory factory;                 // empty inherits the superclass's
    bool abstractClass = false;      // a base of other classes, never made itself (no factory)
    bool plugin = false;
};
