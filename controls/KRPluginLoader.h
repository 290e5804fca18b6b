#pragma once

#include <QString>
#include <QStringList>
#include <QVariantMap>

class KRObjectInfo;

// Reads plug-in bundles ("<name>.krplugin" folders with a "krplugin.json" manifest) and makes
// each class they describe: a class-registry record below "KRPlugin", its catalogue entry and
// its plug-in data. Run once at start-up, after the catalogue is loaded and before any
// project opens. A broken manifest or class (unreadable JSON, a bad class name, a repeated
// property name, an entry the catalogue refuses) is written to the run log, listed in
// problems() and skipped; loading goes on with the rest. Main thread only.
class KRPluginLoader
{
public:
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

private:
    void problem(const QString &where, const QString &text);

    KRObjectInfo &m_catalogue;
    QStringList m_problems;
    QStringList m_loaded;
};
