#include "KRPluginLoader.h"

#include "KRPlugin.h"

#include <core/KRFileManagerAdditions.h>
#include <core/KRJSONSerialization.h>
#include <core/KRJavaScript.h>
#include <core/KRRunLogger.h>
#include <model/KRClassRegistry.h>
#include <model/KRObjectInfo.h>
#include <model/KRProjectResource.h>
#include <platform/foundation/KRPaths.h>

#include <QDir>
#include <QFileInfo>
#include <QHash>
#include <QJsonDocument>
#include <QJsonObject>
#include <QScopeGuard>
#include <QSet>

namespace {
// Class and property names become XML names, script identifiers and function names: only
// ASCII letters, digits and "_", not starting with a digit.
bool isPlainName(const QString &name)
{
    return KRJavaScript::isValidIdentifier(name) && !name.startsWith(QLatin1Char('$'));
}

// The real path of a file the manifest names, when it is a file inside the bundle's own
// folder once every symbolic link is resolved; empty otherwise.
QString fileInsideBundle(const QString &bundlePath, const QString &relativePath)
{
    if (relativePath.isEmpty() || QDir::isAbsolutePath(relativePath) || relativePath.contains(QChar(0)))
        return {};
    const QString bundle = QFileInfo(bundlePath).canonicalFilePath();
    const QFileInfo file(bundlePath + QLatin1Char('/') + relativePath);
    const QString real = file.canonicalFilePath();
    if (bundle.isEmpty() || real.isEmpty() || !file.isFile() || !real.startsWith(bundle + QLatin1Char('/')))
        return {};
    return real;
}

// The class and bundle of another plug-in whose run-time script has the file name but is
// another file; empty when there is none. A build copies every run-time script under its
// file name into one folder.
QString otherScriptOfName(const QString &fileName, const QString &realPath)
{
    for (const QString &className : KRPlugin::subclassNames()) {
        const KRPluginClassData *data = KRPlugin::subclassData(className);
        for (const QString &source : data->runtimeSource) {
            if (QFileInfo(source).fileName() != fileName)
                continue;
            const QString other = fileInsideBundle(data->pluginBasePath, source);
            if (other != realPath)
                return QStringLiteral("%1 (%2)").arg(QFileInfo(data->pluginBasePath).fileName(), className);
        }
    }
    return {};
}

QStringList &folderProblems()
{
    static QStringList problems;
    return problems;
}

// Class name -> "<bundle>: <reason>".
QHash<QString, QString> &refusedClasses()
{
    static QHash<QString, QString> refused;
    return refused;
}
} // namespace

KRPluginLoader::KRPluginLoader(KRObjectInfo &catalogue) : m_catalogue(catalogue) {}

KRPluginLoader::KRPluginLoader() : m_catalogue(KRObjectInfo::sharedInstance()) {}

QString KRPluginLoader::pluginsDirectory()
{
    return QStringLiteral("%1/Plug-ins").arg(KRPaths::applicationSupportDirectory());
}

void KRPluginLoader::problem(const QString &where, const QString &text)
{
    const QString message = QStringLiteral("%1: %2").arg(where, text);
    m_problems.append(message);
    KR_LOG(QStringLiteral("Plug-in skipped: %1").arg(message));
    if (!m_className.isEmpty())
        refusedClasses().insert(m_className, QStringLiteral("%1: %2").arg(m_bundleName, text));
}

void KRPluginLoader::loadAllPlugins()
{
    const qsizetype before = m_problems.size();
    loadPluginsInDirectory(pluginsDirectory());
    folderProblems() = m_problems.mid(before);
}

QStringList KRPluginLoader::pluginsFolderProblems()
{
    return folderProblems();
}

QString KRPluginLoader::refusalOfClass(const QString &className)
{
    return refusedClasses().value(className);
}

void KRPluginLoader::loadPluginsInDirectory(const QString &directory)
{
    QDir dir(directory);
    if (!dir.exists())
        return;
    // Name order, so that which of two bundles naming one class wins does not depend on the
    // file system.
    const QStringList names = dir.entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden, QDir::Name);
    for (const QString &name : names) {
        const QString path = QStringLiteral("%1/%2").arg(directory, name);
        if (name.endsWith(QLatin1String(".krplugin")) && QFileInfo(path).isDir())
            loadPlugin(path);
    }
}

void KRPluginLoader::loadPlugin(const QString &bundlePath)
{
    const QString manifest = QStringLiteral("%1/krplugin.json").arg(bundlePath);
    if (!QFileInfo(manifest).exists())
        return;
    const QString bundleName = QFileInfo(bundlePath).fileName();
    // A regular file of a text's size, read whole.
    const KRResult<QByteArray> bytes = KRFileManager::readPackageFile(manifest);
    if (!bytes) {
        problem(bundleName, QStringLiteral("krplugin.json cannot be read: %1").arg(bytes.error().message()));
        return;
    }
    const KRResult<QJsonDocument> read = KRJSONSerialization::readDocument(bytes.value());
    if (!read) {
        const QString reason = read.error().userInfo().value(QStringLiteral("reason")).toString();
        problem(bundleName, read.error().userInfo().contains(QStringLiteral("depth"))
                                ? QStringLiteral("krplugin.json is refused: %1").arg(reason)
                                : QStringLiteral("krplugin.json is not valid JSON (%1)").arg(reason));
        return;
    }
    const QJsonDocument &json = read.value();
    const QVariant classes = json.object().toVariantMap().value(QStringLiteral("classes"));
    if (!json.isObject() || classes.typeId() != QMetaType::QVariantList)
        return;
    for (const QVariant &entry : classes.toList()) {
        if (entry.typeId() != QMetaType::QVariantMap) {
            problem(bundleName, QStringLiteral("a class entry is not an object"));
            continue;
        }
        loadPluginClass(entry.toMap(), bundlePath);
    }
}

bool KRPluginLoader::loadPluginClass(const QVariantMap &classDictionary, const QString &basePath)
{
    KRClassRegistry &classes = KRClassRegistry::sharedInstance();
    const QString bundleName = QFileInfo(basePath).fileName();
    const QString className = classDictionary.value(QStringLiteral("className")).toString();
    if (className.isEmpty())
        return false;
    // The class a problem below refuses (a class of this name made already stays).
    m_className = classes.classNamed(className) ? QString() : className;
    m_bundleName = bundleName;
    const auto loading = qScopeGuard([this] { m_className.clear(); });
    const QString where = QStringLiteral("%1 (%2)").arg(bundleName, className);
    if (!isPlainName(className)) {
        problem(where, QStringLiteral("the class name is not a plain name (letters, digits and _)"));
        return false;
    }
    if (classes.classNamed(className)) {
        problem(where, QStringLiteral("a class of this name exists already"));
        return false;
    }
    const QString superName = classDictionary.value(QStringLiteral("superClass")).toString();
    if (!classes.classNamed(superName) || !classes.isKindOf(superName, QStringLiteral("KRPlugin"))) {
        problem(where, QStringLiteral("the superclass '%1' is not a plug-in class").arg(superName));
        return false;
    }
    std::vector<KRPropertyDescriptor> descriptors;
    QSet<QString> names;
    const QSet<QString> inherited = classes.objectProperties(superName);
    const QVariantList properties = classDictionary.value(QStringLiteral("properties")).toList();
    for (const QVariant &entry : properties) {
        const QVariantMap property = entry.toMap();
        const QString name = property.value(QStringLiteral("propertyName")).toString();
        // Missing names and types are the catalogue's to report, below.
        if (!name.isEmpty() && !isPlainName(name)) {
            problem(where, QStringLiteral("the property name '%1' is not a plain name").arg(name));
            return false;
        }
        if (names.contains(name)) {
            problem(where, QStringLiteral("the property '%1' is declared twice").arg(name));
            return false;
        }
        // A name the class inherits (such as "top") would take over that property.
        if (!name.isEmpty() && inherited.contains(QStringLiteral("kr_") + name)) {
            problem(where, QStringLiteral("the property '%1' is already a property of %2").arg(name, superName));
            return false;
        }
        names.insert(name);
        descriptors.push_back(KRPlugin::pluginPropertyDescriptor(property));
    }
    // Each property is an attribute of every object of the class in the project's XML, beside
    // those it inherits: a class whose objects the project could not be read with again once
    // saved (or beside the project's other names) is refused here, not at the next opening.
    {
        QSet<QByteArray> written;
        if (const std::vector<KRPropertyDescriptor> *table = classes.lastingDescriptorTable(superName)) {
            if (const auto inheritedNames = classes.attributeNames(superName, table)) {
                for (const QByteArray &name : *inheritedNames) {
                    if (!name.isEmpty())
                        written.insert(name);
                }
            }
        }
        QSet<QByteArray> newNames{className.toUtf8()};
        for (const QString &name : names) {
            if (!name.isEmpty()) {
                written.insert(name.toUtf8());
                newNames.insert(name.toUtf8());
            }
        }
        const qsizetype attributes = written.size();
        if (attributes > MaximumAttributes) {
            problem(where, QStringLiteral("its objects would carry %1 attributes (one for each property, its own %2 "
                                          "and those of %3), and an object of a plug-in may carry at most %4")
                               .arg(attributes)
                               .arg(names.size())
                               .arg(superName)
                               .arg(MaximumAttributes));
            return false;
        }
        newNames.subtract(m_names);
        if (m_names.size() + newNames.size() > MaximumNames) {
            problem(where, QStringLiteral("with it the plug-ins' classes and properties would take %1 different names, "
                                          "and they may take at most %2")
                               .arg(m_names.size() + newNames.size())
                               .arg(MaximumNames));
            return false;
        }
        m_pendingNames = newNames;
    }
    QStringList runtimeSource;
    const QVariant runtime = classDictionary.value(QStringLiteral("runtimeSource"));
    if (runtime.typeId() == QMetaType::QString)
        runtimeSource = {runtime.toString()};
    else if (runtime.typeId() == QMetaType::QVariantList)
        runtimeSource = runtime.toStringList();
    // Files come from the bundle only, and a copied run-time script must neither replace a
    // file the build writes nor another plug-in's script.
    for (const QString &source : runtimeSource) {
        const QString real = fileInsideBundle(basePath, source);
        if (real.isEmpty()) {
            problem(where, QStringLiteral("the run-time script '%1' is not a file inside the plug-in").arg(source));
            return false;
        }
        const QString fileName = QFileInfo(source).fileName();
        if (KRProjectResource::isGeneratedFileName(fileName)) {
            problem(where, QStringLiteral("the run-time script '%1' has the name of a file the build writes").arg(source));
            return false;
        }
        if (const QString other = otherScriptOfName(fileName, real); !other.isEmpty()) {
            problem(where, QStringLiteral("the run-time script '%1' has the name of a run-time script of %2")
                               .arg(fileName, other));
            return false;
        }
    }
    const QString designModeSource = classDictionary.value(QStringLiteral("designModeSource")).toString();
    if (!designModeSource.isEmpty() && fileInsideBundle(basePath, designModeSource).isEmpty()) {
        problem(where, QStringLiteral("the design script '%1' is not a file inside the plug-in").arg(designModeSource));
        return false;
    }
    // Object ids are made from it: the same rule as class names.
    const QString idBase = classDictionary.value(QStringLiteral("idBase")).toString();
    if (!idBase.isEmpty() && !isPlainName(idBase)) {
        problem(where, QStringLiteral("the id base '%1' is not a plain name").arg(idBase));
        return false;
    }

    if (const KRResult<void> added = m_catalogue.addPluginObject(classDictionary, basePath); !added) {
        problem(where, added.error().message());
        return false;
    }

    KRPluginClassData &data = KRPlugin::mutableSubclassData(className);
    data = KRPluginClassData{};
    data.pluginBasePath = basePath;
    data.runtimeSource = runtimeSource;
    data.designModeSource = designModeSource;
    data.idBase = idBase;
    data.propertyDescriptors = descriptors;

    KRObjectClass record;
    record.className = className;
    record.superclassName = superName;
    record.idBase = data.idBase;
    record.descriptors = descriptors;
    record.plugin = true;
    if (const KRResult<void> registered = classes.registerClass(record); !registered) {
        KRPlugin::removeSubclassData(className);
        problem(where, registered.error().message());
        return false;
    }
    m_loaded.append(className);
    refusedClasses().remove(className);
    m_names.unite(m_pendingNames);
    KR_LOG(QStringLiteral("Loaded plug-in class %1 from %2").arg(className, basePath));
    return true;
}
