#include "JQMBaseToolbar.h"

#include <controls/jqm/JQMMarkup.h>
#include <core/KRJSONSerialization.h>
#include <core/KRJavaScript.h>
#include <core/KRRunLogger.h>
#include <model/KRFunction.h>
#include <model/KRModelAdapter.h>
#include <model/KRPage.h>
#include <model/KRProject.h>
#include <platform/dom/DOMCSSStyleDeclaration.h>
#include <platform/dom/DOMDocument.h>
#include <platform/dom/DOMElement.h>
#include <platform/foundation/KRNotificationCenter.h>

#include <array>

using ordered_json = nlohmann::ordered_json;

// --- Item lists

namespace JQMItemList {

Items parse(const QString &text)
{
    if (text.isEmpty())
        return Items::array();
    // A widget reads its list several times while it is built (markup, then script, the
    // script once the page's other widgets are made): the lists read last on this thread are
    // kept with their texts, the oldest making room for a new one.
    struct Parsed
    {
        QString text;
        Items items;
    };
    constexpr std::size_t kKept = 4;
    thread_local std::array<Parsed, kKept> kept;
    thread_local std::size_t next = 0;
    for (const Parsed &parsed : kept) {
        if (!parsed.text.isNull() && parsed.text == text)
            return parsed.items;
    }
    // Nested no deeper than JSON may be: a project or a paste holding deeper items is refused
    // where it is read (KRModelAdapter::checkJSONValueDepth); deeper items typed in are none.
    KRResult<Items> read = KRJSONSerialization::read(text.toStdString());
    Items json = read && read.value().is_array() ? std::move(read).value() : Items::array();
    if (!read && read.error().userInfo().contains(QStringLiteral("depth")))
        KR_LOG(QStringLiteral("An item list is read as empty: %1").arg(read.error().message()));
    Parsed &slot = kept[next];
    next = (next + 1) % kKept;
    slot.text = text;
    slot.items = json;
    return json;
}

QString serialize(const Items &items)
{
    return KRJSONSerialization::storableText(items);
}

bool truthValue(const Items &value)
{
    if (value.is_boolean())
        return value.get<bool>();
    if (value.is_number())
        return value.get<double>() != 0.0;
    return false;
}

QString stringValue(const Items &item, const char *key)
{
    if (!item.is_object())
        return QString(QLatin1String(""));
    const auto found = item.find(key);
    if (found == item.end() || !found->is_string())
        return QString(QLatin1String(""));
    return QString::fromStdString(found->get<std::string>());
}

namespace {
QString numberText(const Items &value)
{
    if (value.is_boolean())
        return value.get<bool>() ? QStringLiteral("1") : QStringLiteral("0");
    return QString::fromStdString(value.dump());
}
} // namespace

QString initializer(const Items &items, const QString &opening, const QString &pageID, bool dividersReduced)
{
    QString out = opening;
    bool firstItem = true;
    for (const Items &item : items) {
        if (!item.is_object())
            continue;
        if (!firstItem)
            out += QLatin1Char(',');
        firstItem = false;
        const bool divider = dividersReduced && item.contains("divider") && truthValue(item["divider"]);
        out += QLatin1Char('{');
        bool firstPair = true;
        for (auto it = item.begin(); it != item.end(); ++it) {
            const QString key = QString::fromStdString(it.key());
            if (divider && key != QLatin1String("divider") && key != QLatin1String("label") && key != QLatin1String("theme"))
                continue;
            const Items &value = it.value();
            QString text;
            if (value.is_number() || value.is_boolean()) {
                text = numberText(value);
            } else if (value.is_string()) {
                const QString s = QString::fromStdString(value.get<std::string>());
                if (s.isEmpty())
                    continue;
                if (key == QLatin1String("onClick")) {
                    // A reference into code: only identifiers make one.
                    if (!KRJavaScript::isValidIdentifier(s) || !KRJavaScript::isValidIdentifier(pageID)) {
                        KR_LOG(QStringLiteral("Item click handler '%1' is not a function name; left out").arg(s));
                        continue;
                    }
                    text = QStringLiteral("application._pages.%1._events.%2").arg(pageID, s);
                } else {
                    text = KRJavaScript::quotedString(s);
                }
            } else {
                continue; // null, arrays and objects are not item values
            }
            if (!firstPair)
                out += QLatin1Char(',');
            firstPair = false;
            out += KRJavaScript::quotedString(key);
            out += QLatin1Char(':');
            out += text;
        }
        out += QLatin1Char('}');
    }
    out += QStringLiteral("]}");
    return out;
}

bool removeFunctionReferences(Items &items, const QString &functionID)
{
    bool changed = false;
    const std::string id = functionID.toStdString();
    for (Items &item : items) {
        if (!item.is_object())
            continue;
        const auto found = item.find("onClick");
        if (found != item.end() && found->is_string() && found->get<std::string>() == id) {
            item.erase("onClick");
            changed = true;
        }
    }
    return changed;
}

bool renameFunctionReferences(Items &items, const QString &oldID, const QString &newID)
{
    bool changed = false;
    const std::string from = oldID.toStdString();
    for (Items &item : items) {
        if (!item.is_object())
            continue;
        const auto found = item.find("onClick");
        if (found != item.end() && found->is_string() && found->get<std::string>() == from) {
            *found = newID.toStdString();
            changed = true;
        }
    }
    return changed;
}

void followFunctionReferences(const std::shared_ptr<KRObject> &object, const KRPageBase &page, const QString &key,
                              std::vector<KRObservationToken> &tokens)
{
    const std::weak_ptr<KRObject> weak = object;
    auto &center = KRNotificationCenter::defaultCenter();
    tokens.push_back(center.addObserver(KRPageDidDeleteObjectNotification, page.identity(), [weak, key](const KRNotification &n) {
        const auto self = weak.lock();
        if (!self)
            return;
        const KRObjectHandle handle = n.userInfo.value(QStringLiteral("deletedObject")).value<KRObjectHandle>();
        const auto function = std::dynamic_pointer_cast<KRFunction>(handle.object);
        if (!function)
            return;
        Items items = parse(self->value(key));
        if (removeFunctionReferences(items, function->kr_id()))
            self->setValue(key, serialize(items));
    }));
    tokens.push_back(center.addObserver(KRPageFunctionDidChangeIDNotification, page.identity(), [weak, key](const KRNotification &n) {
        const auto self = weak.lock();
        if (!self)
            return;
        const QString oldID = n.userInfo.value(QStringLiteral("oldID")).toString();
        const QString newID = n.userInfo.value(QStringLiteral("newID")).toString();
        if (oldID.isEmpty() || oldID == newID)
            return;
        Items items = parse(self->value(key));
        if (renameFunctionReferences(items, oldID, newID))
            self->setValue(key, serialize(items));
    }));
}

void appendToPageElement(const std::shared_ptr<DOMElement> &parent, const std::shared_ptr<DOMElement> &element)
{
    std::shared_ptr<DOMElement> target;
    if (parent->hasTagName(QLatin1String("div")) && parent->getAttribute(QStringLiteral("data-role")) == QLatin1String("page"))
        target = parent;
    // The divs below are looked through only when the parent is not the page's div (mostly it
    // is, with every control of the page below it).
    if (!target) {
        for (const auto &div : parent->getElementsByTagName(QStringLiteral("div"))) {
            if (div->getAttribute(QStringLiteral("data-role")) == QLatin1String("page")) {
                target = div;
                break;
            }
        }
    }
    (target ? target : parent)->appendChild(element);
}

} // namespace JQMItemList

// --- Toolbar

JQMBaseToolbar::JQMBaseToolbar(const KRObjectInit &init) : KRFormControl(init) {}

JQMBaseToolbar::~JQMBaseToolbar() = default;

KRObjectClass JQMBaseToolbar::objectClass()
{
    KRObjectClass c;
    c.className = QStringLiteral("JQMBaseToolbar");
    c.superclassName = QStringLiteral("KRFormControl");
    constexpr std::uint32_t rebuild = KRAdapterOptionUpdateDesignView;
    constexpr std::uint32_t js = KRAdapterOptionJSString;
    // Every handler follows renames and deletions of its function (with undo).
    constexpr std::uint32_t handler = KRAdapterOptionEvent | KRAdapterOptionFunctionReference;
    c.descriptors = {
        krDescriptor("title", nullptr, nullptr, rebuild),
        krDescriptor("theme", nullptr, nullptr, rebuild),
        krDescriptor("position", nullptr, nullptr, rebuild),
        krDescriptor("navbarItems", nullptr, nullptr, KRAdapterOptionJSCustom | KRAdapterOptionJSONValue | rebuild),
        krDescriptor("navbarIconpos", nullptr, nullptr, js | rebuild),
        krDescriptor("navbarOnClick", nullptr, nullptr, handler),
        krDescriptor("leftButtonIcon", nullptr, nullptr, rebuild),
        krDescriptor("leftButtonIconpos", nullptr, nullptr, rebuild),
        krDescriptor("leftButtonLabel", nullptr, nullptr, rebuild),
        krDescriptor("leftButtonTheme", nullptr, nullptr, rebuild),
        krDescriptor("leftButtonGotoPage", nullptr, nullptr, js),
        krDescriptor("leftButtonGotoPageTransition", nullptr, nullptr, js),
        krDescriptor("leftButtonOnClick", nullptr, nullptr, handler),
        krDescriptor("rightButtonIcon", nullptr, nullptr, rebuild),
        krDescriptor("rightButtonIconpos", nullptr, nullptr, rebuild),
        krDescriptor("rightButtonLabel", nullptr, nullptr, rebuild),
        krDescriptor("rightButtonTheme", nullptr, nullptr, rebuild),
        krDescriptor("rightButtonGotoPage", nullptr, nullptr, js),
        krDescriptor("rightButtonGotoPageTransition", nullptr, nullptr, js),
        krDescriptor("rightButtonOnClick", nullptr, nullptr, handler),
    };
    c.factory = [](const KRObjectInit &init) { return std::make_shared<JQMBaseToolbar>(init); };
    return c;
}

void JQMBaseToolbar::buildElement()
{
    KRFormControl::buildElement();
    const auto element = domElement();
    const auto page = designPage();
    if (!element || !page)
        return;
    element->removeAttribute(QStringLiteral("data-role"));
    element->style().removeProperty(QStringLiteral("position"));
    if (element->getAttribute(QStringLiteral("style")).isEmpty())
        element->removeAttribute(QStringLiteral("style"));
    enableOwnAdapters(QStringLiteral("JQMBaseToolbar"));
    if (const auto parent = parentDomElement())
        JQMItemList::appendToPageElement(parent, element);
    createChildren();
    observeInDesignMode();
}

void JQMBaseToolbar::observeInDesignMode()
{
    if (!designMode())
        return;
    observeForRebuild(m_tokens, {QStringLiteral("kr_id"), QStringLiteral("kr_name")},
                      [](KRControl &self) { static_cast<JQMBaseToolbar &>(self).createChildren(); });
    // The three handler properties are cleared by their adapters, undoably; the items here,
    // in the same undo group as the deletion.
    if (const auto page = owningPage())
        JQMItemList::followFunctionReferences(shared_from_this(), *page, QStringLiteral("kr_navbarItems"), m_tokens);
}

void JQMBaseToolbar::initializeDefaultProperties()
{
    KRFormControl::initializeDefaultProperties();
    for (const char *key : {"kr_top", "kr_left", "kr_width", "kr_height"})
        setValue(QLatin1String(key), QString(QLatin1String("")));
}


JQMItemList::Items JQMBaseToolbar::navbarItems() const
{
    return JQMItemList::parse(value(QStringLiteral("kr_navbarItems")));
}

void JQMBaseToolbar::setNavbarItems(const JQMItemList::Items &items)
{
    setValue(QStringLiteral("kr_navbarItems"), JQMItemList::serialize(items));
}

void JQMBaseToolbar::updateDesignView(KRModelAdapter &, const QString &)
{
    createChildren();
}

void JQMBaseToolbar::createChildren()
{
    const auto element = domElement();
    const auto page = designPage();
    if (!element || !page)
        return;
    const auto document = page->domDocument();
    const QString p = pageID();
    const QString o = kr_id();
    element->removeAllChildren();

    m_div = document->createElement(QStringLiteral("div"));
    m_div->setAttribute(QStringLiteral("id"), QStringLiteral("_%1_%2_div").arg(p, o));
    jqmSetDataAttribute(*m_div, QStringLiteral("role"), tbType());
    jqmSetDataAttribute(*m_div, QStringLiteral("theme"), value(QStringLiteral("kr_theme")));
    jqmSetDataAttribute(*m_div, QStringLiteral("update-page-padding"), QStringLiteral("false"));
    jqmSetDataAttribute(*m_div, QStringLiteral("position"), isFooter() ? QStringLiteral("fixed") : value(QStringLiteral("kr_position")));
    jqmSetDataAttribute(*m_div, QStringLiteral("tap-toggle"), QStringLiteral("false"));
    element->appendChild(m_div);

    const QString title = value(QStringLiteral("kr_title"));
    const bool labelled = !title.isEmpty() || !value(QStringLiteral("kr_leftButtonLabel")).isEmpty() ||
                          !value(QStringLiteral("kr_rightButtonLabel")).isEmpty();
    const bool hasItems = !navbarItems().empty();
    const bool heading = isHeader() || (isFooter() && (!hasItems || labelled)) || labelled;
    if (heading) {
        auto h1 = document->createElement(QStringLiteral("h1"));
        h1->setTextContent(title.isEmpty() ? QStringLiteral(" ") : title);
        m_div->appendChild(h1);
        element->appendChild(m_div);
    }

    const auto addButton = [&](const QString &side) {
        const QString label = value(QStringLiteral("kr_%1ButtonLabel").arg(side));
        const QString icon = value(QStringLiteral("kr_%1ButtonIcon").arg(side));
        if (label.isEmpty() && icon.isEmpty())
            return;
        auto a = document->createElement(QStringLiteral("a"));
        a->setAttribute(QStringLiteral("class"), designMode() ? QStringLiteral("ui-btn-%1 ui-disabled").arg(side)
                                                              : QStringLiteral("ui-btn-%1").arg(side));
        if (!label.isEmpty())
            a->setTextContent(label);
        jqmSetDataAttribute(*a, QStringLiteral("icon"), icon);
        jqmSetDataAttribute(*a, QStringLiteral("iconpos"), value(QStringLiteral("kr_%1ButtonIconpos").arg(side)));
        jqmSetDataAttribute(*a, QStringLiteral("theme"), value(QStringLiteral("kr_%1ButtonTheme").arg(side)));
        m_div->appendChild(a);
    };
    addButton(QStringLiteral("left"));
    addButton(QStringLiteral("right"));

    if (!value(QStringLiteral("kr_navbarItems")).isEmpty())
        appendNavbar();

    if (designMode()) {
        // The element id comes from the page and object ids: quoted like any text.
        const QString e = krSelectorLiteral(element->id());
        const QString script =
            QStringLiteral("$(document).ready(function() {$(%1).closest('.ui-page').removeClass('ui-page-header-fixed')"
                           ".css('padding-top', '');$(%1).enhanceWithin();});")
                .arg(e);
        page->queueDesignSetUpScript(shared_from_this(), script);
    }
}

void JQMBaseToolbar::appendNavbar()
{
    const JQMItemList::Items items = navbarItems();
    const auto page = designPage();
    if (items.empty() || !page || !m_div)
        return;
    const auto document = page->domDocument();
    const QString p = pageID();
    const QString o = kr_id();
    auto navbar = document->createElement(QStringLiteral("div"));
    jqmSetDataAttribute(*navbar, QStringLiteral("role"), QStringLiteral("navbar"));
    jqmSetDataAttribute(*navbar, QStringLiteral("iconpos"), value(QStringLiteral("kr_navbarIconpos")));
    navbar->setAttribute(QStringLiteral("id"), QStringLiteral("_%1_%2_nb").arg(p, o));
    m_div->appendChild(navbar);
    auto ul = document->createElement(QStringLiteral("ul"));
    navbar->appendChild(ul);
    qlonglong i = 0;
    for (const JQMItemList::Items &item : items) {
        if (!item.is_object())
            continue;
        auto li = document->createElement(QStringLiteral("li"));
        li->setAttribute(QStringLiteral("id"), QStringLiteral("_%1_%2_nbi%3").arg(p, o).arg(i++));
        ul->appendChild(li);
        auto a = document->createElement(QStringLiteral("a"));
        li->appendChild(a);
        const QString label = JQMItemList::stringValue(item, "label");
        if (!label.isEmpty())
            a->setTextContent(label);
        jqmSetDataAttribute(*a, QStringLiteral("theme"), JQMItemList::stringValue(item, "theme"));
        jqmSetDataAttribute(*a, QStringLiteral("icon"), JQMItemList::stringValue(item, "icon"));
        QString classes = item.contains("active") && JQMItemList::truthValue(item["active"])
                              ? QStringLiteral("ui-btn-active ui-state-persist")
                              : QString();
        if (designMode())
            classes += classes.isEmpty() ? QStringLiteral("ui-disabled") : QStringLiteral(" ui-disabled");
        if (!classes.isEmpty())
            a->setAttribute(QStringLiteral("class"), classes);
    }
}

QString JQMBaseToolbar::jsInitializerForKey(const QString &key) const
{
    if (key != QLatin1String("kr_navbarItems"))
        return {};
    const JQMItemList::Items items = navbarItems();
    bool any = false;
    for (const auto &item : items)
        any = any || item.is_object();
    if (!any)
        return {};
    return JQMItemList::initializer(items, QStringLiteral("{_krinit:true, items: ["), pageID(), false);
}

QList<KRMenuItem> JQMBaseToolbar::contextMenuItemsForObject()
{
    QList<KRMenuItem> items = KRFormControl::contextMenuItemsForObject();
    addEventContextMenuItems(items, {QStringLiteral("navbarOnClick"), QStringLiteral("leftButtonOnClick"),
                                     QStringLiteral("rightButtonOnClick")});
    return items;
}
