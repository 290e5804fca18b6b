#pragma once

#include <controls/KRControl.h>
#include <platform/foundation/KRObservationToken.h>

#include <QStringList>
#include <QVariantMap>

#include <vector>

// What a plug-in class brings besides its catalogue entry, kept per class name.
struct KRPluginClassData
{
    QString pluginBasePath;    // full path of the bundle that defined the class
    QStringList runtimeSource; // run-time scripts, relative to the bundle
    QString designModeSource;  // design script, relative to the bundle; "" for none
    QString idBase;            // "" inherits
    std::vector<KRPropertyDescriptor> propertyDescriptors; // in declaration order
};

// The base of controls that plug-ins describe: a div whose inner markup the plug-in's design
// script draws. Each plug-in class is a class-registry record below "KRPlugin" whose
// descriptors are the manifest's properties (see KRPluginLoader).
class KRPlugin : public KRControl
{
public:
    explicit KRPlugin(const KRObjectInit &init);
    ~KRPlugin() override;

    static KRObjectClass objectClass();

    // The class's plug-in data; null for a class that has none.
    static const KRPluginClassData *subclassData(const QString &className);
    // The record, created empty on first request.
    static KRPluginClassData &mutableSubclassData(const QString &className);
    // Full path of the class's design script; null when it has none.
    static QString designModeSource(const QString &className);
    // Full paths of the run-time scripts of the class and its plug-in superclasses.
    static QStringList runtimeSourcePaths(const QString &className);
    // The descriptor of one manifest property (no HTML attribute, no CSS property; options by
    // its "propertyType").
    static KRPropertyDescriptor pluginPropertyDescriptor(const QVariantMap &property);
    // The names of the classes that have data.
    static QStringList subclassNames();
    // Forgets a class's data (tests).
    static void removeSubclassData(const QString &className);

    QString domElementName() const override { return QStringLiteral("div"); }

    bool hasDesignModeScript() const { return m_hasDesignModeScript; }
    void setHasDesignModeScript(bool has) { m_hasDesignModeScript = has; }
    // Calls "<className>_designMode_draw(element, properties)" in the design document.
    void designModeDraw();
    // That call: the properties object holds every set "kr_" value under its name without
    // the prefix, "className" and "_pluginPath".
    QString designModeDrawScript() const;

protected:
    void buildElement() override;

private:
    void loadDesignScript();

    std::vector<KRObservationToken> m_tokens;
    bool m_hasDesignModeScript = false;
};
