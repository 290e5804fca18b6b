#pragma once

#include <core/KRXMLDocument.h>

#include <QByteArray>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QVariantMap>

class KRObjectInfo;

// Reads plug-in bundles ("<name>.krplugin" folders with a "krplugin.json" manifest) and makes
// each class they describe: a class-registry record below "KRPlugin", its catalogue entry and
// its plug-in data. Run once at start-up, after the catalogue is loaded and before any
// project opens. A broken manifest or class (unreadable JSON, a bad class name, a repeated
// property name, more properties than a project may hold, an entry the catalogue refuses) is
// written to the run log, listed in problems() and skipped; loading goes on with the rest.
// Main thread only.
class KRPluginLoader
{
public:
    // Each property of a plug-in class is an attribute of its objects in the project's XML: a
    // class whose objects would carry more (with the attributes of the class it extends), or
    // that would take the plug-ins' classes and properties past MaximumNames different names,
    // is refused, far below what a project may hold when it is read (KRXMLDocument).
    static constexpr int MaximumAttributes = KRXMLDocument::MaximumAttributes / 2;
    static constexpr int MaximumNames = KRXMLDocument::MaximumNames / 2;

    explicit KRPluginLoader(KRObjectInfo &catalogue);
    KRPluginLoader();

    // "<application support>/Plug-ins".
    static QString pluginsDirectory();

    // Loads every bundle of the plug-ins folder.
    void loadAllPlugins();
    // Loads every bundle directly inside the folder, in name order.
    void loadPluginsInDirectory(const QString &directory);
    // Loads each class of one bundle's manifest.
    void loadPlugin(const QString &bundlePath);
    // Makes one class; false when it was skipped.
    bool loadPluginClass(const QVariantMap &classDictionary, const QString &basePath);

    // "<bundle or class>: <reason>" for everything skipped with a report.
    QStringList problems() const { return m_problems; }
    // The classes made, in order.
    QStringList loadedClasses() const { return m_loaded; }

    // What the user is told of plug-ins not loaded (the palette lists the start's, a project
    // that uses a refused class says why its class is not known). The problems of the last
    // loading of the plug-ins folder (loadAllPlugins), as problems() gives them.
    static QStringList pluginsFolderProblems();
    // Why a loader of this process refused the class ("<bundle>: <reason>", the bundle's
    // folder name); empty when none did, or when one has made it since.
    static QString refusalOfClass(const QString &className);

private:
    void problem(const QString &where, const QString &text);

    KRObjectInfo &m_catalogue;
    QStringList m_problems;
    QStringList m_loaded;
    QSet<QByteArray> m_names;        // the classes' and properties' names of the classes loaded
    QSet<QByteArray> m_pendingNames; // those the class being loaded adds
    QString m_className;             // of the class being loaded
    QString m_bundleName;            // and its bundle
};
