#include "KRStyleClass.h"

#include <model/KRClassRegistry.h>
#include <model/KRPage.h>
#include <platform/dom/DOMCSSRule.h>
#include <platform/dom/DOMCSSStyleSheet.h>
#include <platform/foundation/KRNotificationCenter.h>

#include <QRegularExpression>

#include <algorithm>

void KRStyleClass::registerClass()
{
    static bool done = false;
    if (done)
        return;
    done = true;
    KRObjectClass styleClass;
    styleClass.className = QStringLiteral("KRStyleClass");
    styleClass.superclassName = QStringLiteral("KRObject");
    styleClass.idBase = QStringLiteral("styleClass");
    const std::pair<const char *, std::uint32_t> table[] = {
        {"color", 0}, {"boxShadow", 0}, {"backgroundColor", 0}, {"backgroundImage", 0},
        {"backgroundGradient", KRAdapterOptionLinearGradient}, {"backgroundRepeat", 0}, {"backgroundPosition", 0},
        {"backgroundAttachment", 0}, {"opacity", 0}, {"textAlign", 0}, {"letterSpacing", KRAdapterOptionCSSPixels},
        {"lineHeight", 0}, {"borderTopStyle", 0}, {"borderTopColor", 0}, {"borderTopWidth", KRAdapterOptionCSSPixels},
        {"borderBottomStyle", 0}, {"borderBottomColor", 0}, {"borderBottomWidth", KRAdapterOptionCSSPixels},
        {"borderLeftStyle", 0}, {"borderLeftColor", 0}, {"borderLeftWidth", KRAdapterOptionCSSPixels},
        {"borderRightStyle", 0}, {"borderRightColor", 0}, {"borderRightWidth", KRAdapterOptionCSSPixels},
        {"borderStyle", 0}, {"borderColor", 0}, {"borderWidth", KRAdapterOptionCSSPixels},
        {"borderRadius", KRAdapterOptionCSSPixels}, {"paddingTop", KRAdapterOptionCSSPixels},
        {"paddingBottom", KRAdapterOptionCSSPixels}, {"paddingLeft", KRAdapterOptionCSSPixels},
        {"paddingRight", KRAdapterOptionCSSPixels}, {"padding", KRAdapterOptionCSSPixels},
        {"fontFamily", KRAdapterOptionCSSImportant}, {"fontStyle", 0}, {"fontWeight", 0},
        {"fontSize", KRAdapterOptionCSSPixels}, {"textShadow", 0}, {"visible", KRAdapterOptionDisplayBoolean}};
    for (const auto &[name, options] : table) {
        QString property = QString::fromLatin1(name);
        QString css;
        if (property == QLatin1String("backgroundGradient"))
            css = QStringLiteral("background");
        else if (property == QLatin1String("borderRadius"))
            css = QStringLiteral("-webkit-border-radius");
        else if (property == QLatin1String("visible"))
            css = QStringLiteral("display");
        else
            css = property.replace(QRegularExpression(QStringLiteral("([A-Z])")), QStringLiteral("-\\1")).toLower();
        styleClass.descriptors.emplace_back(QString::fromLatin1(name), QString(), css, options);
    }
    styleClass.factory = [](const KRObjectInit &init) { return std::make_shared<KRStyleClass>(init); };
    KRClassRegistry::sharedInstance().registerClass(styleClass);
}

namespace {
// The name in the rule's selector; a placeholder for an id that is no valid class name.
QString selectorName(const QString &id)
{
    return KRStyleClass::isValidClassName(id) ? id.toLower() : QStringLiteral("___kr_id");
}

// The class's own properties that jQuery Mobile's widget elements set for themselves: key, CSS name.
const std::vector<std::pair<QString, QString>> &widgetTextKeys()
{
    static const std::vector<std::pair<QString, QString>> keys = [] {
        std::vector<std::pair<QString, QString>> found;
        if (const KRObjectClass *c = KRClassRegistry::sharedInstance().classNamed(QStringLiteral("KRStyleClass"))) {
            for (const KRPropertyDescriptor &descriptor : c->descriptors) {
                if (KRPage::widgetTextProperties().contains(descriptor.cssAttributeName()))
                    found.emplace_back(descriptor.kr_propertyName(), descriptor.cssAttributeName());
            }
        }
        return found;
    }();
    return keys;
}
} // namespace

bool KRStyleClass::isValidClassName(const QString &id)
{
    static const QRegularExpression form(QStringLiteral("^[A-Za-z_][0-9A-Za-z_]*$"));
    return form.match(id).hasMatch();
}

KRStyleClass::~KRStyleClass()
{
    removeRule();
}

DOMCSSStyleSheet *KRStyleClass::sheet() const
{
    const auto page = std::dynamic_pointer_cast<KRPage>(owningPage());
    return page && page->styleSheet() ? page->styleSheet().get() : nullptr;
}

void KRStyleClass::insertRule(const QString &text, int at)
{
    DOMCSSStyleSheet *s = sheet();
    if (!s)
        return;
    const int index = s->insertRule(text, at < 0 ? s->length() : std::min(at, s->length()));
    m_rule = index >= 0 ? s->item(index) : nullptr;
}

void KRStyleClass::removeRule()
{
    for (const auto &rule : {m_widgetTextRule, m_rule}) {
        DOMCSSStyleSheet *s = rule ? rule->parentStyleSheet() : nullptr;
        const int index = s ? s->indexOf(rule.get()) : -1;
        if (index >= 0)
            s->deleteRule(index);
    }
    m_widgetTextRule.reset();
    m_widgetTextProperties.clear();
}

void KRStyleClass::updateWidgetTextRule()
{
    QStringList properties;
    for (const auto &[key, css] : widgetTextKeys()) {
        if (!value(key).isEmpty())
            properties.append(css);
    }
    if (properties == m_widgetTextProperties && (m_widgetTextRule || properties.isEmpty()))
        return;
    DOMCSSStyleSheet *s = m_rule ? m_rule->parentStyleSheet() : nullptr;
    if (m_widgetTextRule) {
        const int index = s ? s->indexOf(m_widgetTextRule.get()) : -1;
        if (index >= 0)
            s->deleteRule(index);
        m_widgetTextRule.reset();
    }
    m_widgetTextProperties = properties;
    const int after = s ? s->indexOf(m_rule.get()) : -1;
    if (properties.isEmpty() || after < 0)
        return;
    // Only the widgets of the class: inside other elements its values would override what
    // their own controls set.
    const QString scope = QStringLiteral(".%1[%2]").arg(selectorName(kr_id()), KRPage::widgetTextAttribute());
    const int index = s->insertRule(KRPage::widgetTextRule(scope, properties), after + 1);
    m_widgetTextRule = index >= 0 ? s->item(index) : nullptr;
}

void KRStyleClass::willEnableModelAdapters()
{
    const QString id = kr_id().isEmpty() ? xmlElement().attribute(QStringLiteral("id")) : kr_id();
    insertRule(QStringLiteral(".%1 {  }").arg(selectorName(id)));
    m_idToken = observable().observe(QStringLiteral("kr_id"),
                                     [this](const void *, const QString &, const QVariant &oldValue, const QVariant &newValue) {
                                         idDidChange(oldValue.toString(), newValue.toString());
                                     });
    // The adapters, enabled next, give the values: the widget rule follows them from then on.
    for (const auto &[key, css] : widgetTextKeys())
        m_tokens.push_back(observable().observe(key, [this](const void *, const QString &, const QVariant &, const QVariant &) {
            updateWidgetTextRule();
        }));
    // Deleted: its rule leaves the sheet; undone: the rule comes back with its declarations.
    // Nothing deletes the objects of a page made for output.
    if (!designMode())
        return;
    m_tokens.push_back(KRNotificationCenter::defaultCenter().addObserver(
        KRPageDidDeleteObjectNotification, nullptr, [this](const KRNotification &notification) {
            const auto deleted = notification.userInfo.value(QStringLiteral("deletedObject")).value<KRObjectHandle>().object;
            if (deleted.get() == this)
                pageDidDeleteObject(deleted);
        }));
}

void KRStyleClass::pageDidDeleteObject(const std::shared_ptr<KRObject> &)
{
    if (!m_rule)
        return;
    const QString text = m_rule->cssText();
    const DOMCSSStyleSheet *s = m_rule->parentStyleSheet();
    const int at = s ? s->indexOf(m_rule.get()) : -1;
    removeRule();
    m_rule.reset();
    // When the deletion is undone the object comes back with the same identity: put the
    // rule back in its place, where it decides against the rules after it as it did (the
    // undo has put the sheet back as it was when the class went).
    const auto page = std::dynamic_pointer_cast<KRPage>(owningPage());
    if (!page)
        return;
    const std::weak_ptr<KRObject> weak = weak_from_this();
    m_tokens.push_back(page->observable().observe(
        QStringLiteral("allObjects"), [weak, text, at](const void *, const QString &, const QVariant &, const QVariant &) {
            const auto self = std::static_pointer_cast<KRStyleClass>(weak.lock());
            if (!self || self->m_rule)
                return;
            const auto page = std::dynamic_pointer_cast<KRPage>(self->owningPage());
            if (page && page->objectForID(self->kr_id()) == self) {
                self->insertRule(text, at);
                self->updateWidgetTextRule();
            }
        }));
}

// The class list with each name of the old class (names match whatever their case, as the
// lower-cased selector does) changed to the new name; the separators stay as they are.
QString KRStyleClass::renamedInClassList(const QString &list, const QString &oldID, const QString &newID)
{
    QString renamed;
    qsizetype at = 0;
    while (at < list.size()) {
        qsizetype end = at;
        while (end < list.size() && !list.at(end).isSpace())
            ++end;
        const QStringView name = QStringView(list).mid(at, end - at);
        if (!name.isEmpty() && name.compare(oldID, Qt::CaseInsensitive) == 0)
            renamed += newID;
        else
            renamed += name;
        at = end;
        while (at < list.size() && list.at(at).isSpace())
            renamed += list.at(at++);
    }
    return renamed;
}

void KRStyleClass::followRename(const QString &oldID, const QString &newID)
{
    const auto page = std::dynamic_pointer_cast<KRPage>(owningPage());
    if (!page || oldID.isEmpty() || newID.isEmpty())
        return;
    // Every object of the page that uses the class follows it, within the rename's undo step:
    // left on the old name it would be drawn without the class.
    const QString key = QStringLiteral("kr_styleClass");
    for (const auto &object : page->allObjects()) {
        const QString list = object->value(key);
        if (list.isEmpty())
            continue;
        if (const QString renamed = renamedInClassList(list, oldID, newID); renamed != list)
            object->setValue(key, renamed);
    }
}

void KRStyleClass::idDidChange(const QString &oldID, const QString &newID)
{
    followRename(oldID, newID);
    if (!m_rule)
        return;
    // Renamed where it stands: which of two classes an element of both takes a value from
    // follows the order of their rules, and a rename (or its undo) leaves that order alone.
    m_rule->setSelectorText(QLatin1Char('.') + selectorName(newID));
    // The widget rule is scoped by the name: made again, right after the class's rule.
    if (m_widgetTextRule) {
        DOMCSSStyleSheet *s = m_widgetTextRule->parentStyleSheet();
        if (const int index = s ? s->indexOf(m_widgetTextRule.get()) : -1; index >= 0)
            s->deleteRule(index);
        m_widgetTextRule.reset();
    }
    m_widgetTextProperties.clear();
    updateWidgetTextRule();
}
