#include "KRPlugin.h"

#include <core/KRJavaScript.h>
#include <core/KRRunLogger.h>
#include <model/KRClassRegistry.h>
#include <model/KRPage.h>
#include <platform/dom/DOMElement.h>

#include <QHash>

#include <nlohmann/json.hpp>

namespace {
QHash<QString, KRPluginClassData> &registry()
{
    static QHash<QString, KRPluginClassData> data;
    return data;
}
} // namespace

KRPlugin::KRPlugin(const KRObjectInit &init) : KRControl(init) {}

KRPlugin::~KRPlugin() = default;

KRObjectClass KRPlugin::objectClass()
{
    KRObjectClass c;
    c.className = QStringLiteral("KRPlugin");
    c.superclassName = QStringLiteral("KRControl");
    c.factory = [](const KRObjectInit &init) { return std::make_shared<KRPlugin>(init); };
    return c;
}

const KRPluginClassData *KRPlugin::subclassData(const QString &className)
{
    const auto found = registry().constFind(className);
    return found == registry().constEnd() ? nullptr : &found.value();
}

QStringList KRPlugin::subclassNames()
{
    QStringList names = registry().keys();
    names.sort();
    return names;
}

KRPluginClassData &KRPlugin::mutableSubclassData(const QString &className)
{
    return registry()[className];
}

void KRPlugin::removeSubclassData(const QString &className)
{
    registry().remove(className);
}

QString KRPlugin::designModeSource(const QString &className)
{
    const KRPluginClassData *data = subclassData(className);
    if (!data || data->designModeSource.isEmpty())
        return {};
    return QStringLiteral("%1/%2").arg(data->pluginBasePath, data->designModeSource);
}

QStringList KRPlugin::runtimeSourcePaths(const QString &className)
{
    QStringList paths;
    const KRClassRegistry &classes = KRClassRegistry::sharedInstance();
    // Superclasses first, so that a plug-in's scripts follow those it builds on.
    QStringList chain;
    for (const KRObjectClass *c = classes.classNamed(className); c && c->className != QLatin1String("KRPlugin");
         c = classes.classNamed(c->superclassName))
        chain.prepend(c->className);
    for (const QString &name : chain) {
        if (const KRPluginClassData *data = subclassData(name)) {
            for (const QString &source : data->runtimeSource) {
                const QString path = QStringLiteral("%1/%2").arg(data->pluginBasePath, source);
                if (!paths.contains(path))
                    paths.append(path);
            }
        }
    }
    return paths;
}

KRPropertyDescriptor KRPlugin::pluginPropertyDescriptor(const QVariantMap &property)
{
    const QString type = property.value(QStringLiteral("propertyType")).toString();
    std::uint32_t options = KRAdapterOptionPluginProperty;
    if (type == QLatin1String("string") || type == QLatin1String("color"))
        options |= KRAdapterOptionJSString;
    else if (type == QLatin1String("number"))
        options |= KRAdapterOptionJSNumber;
    else if (type == QLatin1String("boolean"))
        options |= KRAdapterOptionJSBoolean;
    return KRPropertyDescriptor(property.value(QStringLiteral("propertyName")).toString(), QString(), QString(), options);
}

void KRPlugin::buildElement()
{
    KRControl::buildElement();
    // The adapters of the plug-in classes of the chain, then the element goes last again.
    const KRClassRegistry &classes = KRClassRegistry::sharedInstance();
    for (const KRObjectClass *c = &KRObject::objectClass(); c && c->className != QLatin1String("KRPlugin");
         c = classes.classNamed(c->superclassName))
        enableModelAdapters(c->descriptors);
    appendToParentElement();
    if (!designMode())
        return;
    const std::weak_ptr<KRObject> weak = weak_from_this();
    m_tokens.push_back(observable().observe(QString(), [weak](const void *, const QString &, const QVariant &, const QVariant &) {
        if (const auto self = std::static_pointer_cast<KRPlugin>(weak.lock()))
            self->designModeDraw();
    }));
    loadDesignScript();
}

void KRPlugin::loadDesignScript()
{
    const QString path = designModeSource(kr_className());
    const auto page = designPage();
    if (path.isEmpty() || !page)
        return;
    const std::weak_ptr<KRObject> weak = weak_from_this();
    const std::weak_ptr<KRPage> weakPage = page;
    page->queueDesignSetUp(shared_from_this(), [weak, weakPage, path] {
        const auto p = weakPage.lock();
        const auto self = std::static_pointer_cast<KRPlugin>(weak.lock());
        if (!p || !self)
            return;
        // The class's script once per view, before its first drawing there.
        if (!p->evaluateScriptFileOnce(path)) {
            KR_LOG(QStringLiteral("Unable to load the design script %1 of plug-in class %2").arg(path, self->kr_className()));
            return;
        }
        self->setHasDesignModeScript(true);
        self->designModeDraw();
    });
}

QString KRPlugin::designModeDrawScript() const
{
    nlohmann::ordered_json properties = nlohmann::ordered_json::object();
    QStringList keys = objectProperties().values();
    keys.sort();
    for (const QString &key : keys) {
        if (!key.startsWith(QLatin1String("kr_")))
            continue;
        const QString v = value(key);
        if (v.isEmpty()) // unset: the adapters read absent attributes as ""
            continue;
        properties[key.mid(3).toStdString()] = v.toStdString();
    }
    properties["className"] = kr_className().toStdString();
    const KRPluginClassData *data = subclassData(kr_className());
    properties["_pluginPath"] = (data ? data->pluginBasePath : QString()).toStdString();
    QString json = QString::fromStdString(properties.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace));
    json.replace(QStringLiteral("</"), QStringLiteral("<\\/"));
    const QString elementID = domElement() ? domElement()->id() : QString();
    return QStringLiteral("(function() {var f = window[%1];var e = document.getElementById(%2);"
                          "if (typeof f === 'function' && e) f(e, %3);})();")
        .arg(KRJavaScript::quotedString(kr_className() + QStringLiteral("_designMode_draw")),
             KRJavaScript::quotedString(elementID), json);
}

void KRPlugin::designModeDraw()
{
    if (!m_hasDesignModeScript)
        return;
    if (const auto page = designPage())
        page->evaluateScript(designModeDrawScript());
}
