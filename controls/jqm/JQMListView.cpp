#include "JQMListView.h"

#include <controls/jqm/JQMMarkup.h>
#include <model/KRPage.h>
#include <platform/dom/DOMCSSStyleDeclaration.h>
#include <platform/dom/DOMDocument.h>
#include <platform/dom/DOMElement.h>

JQMListView::JQMListView(const KRObjectInit &init) : KRFormControl(init) {}

JQMListView::~JQMListView() = default;

KRObjectClass JQMListView::objectClass()
{
    KRObjectClass c;
    c.className = QStringLiteral("JQMListView");
    c.superclassName = QStringLiteral("KRFormControl");
    c.idBase = QStringLiteral("listview");
    constexpr std::uint32_t rebuild = KRAdapterOptionUpdateDesignView;
    c.descriptors = {
        krDescriptor("icon", nullptr, nullptr, KRAdapterOptionJSString | rebuild),
        krDescriptor("inset", nullptr, nullptr, rebuild),
        krDescriptor("items", nullptr, nullptr,
                     KRAdapterOptionXMLText | KRAdapterOptionJSCustom | KRAdapterOptionJSONValue | rebuild),
        krDescriptor("wordwrap", nullptr, nullptr, KRAdapterOptionJSBoolean | rebuild),
        krDescriptor("gotoPageTransition", nullptr, nullptr, KRAdapterOptionJSString),
        krDescriptor("theme", nullptr, nullptr, rebuild),
        krDescriptor("autodividers", nullptr, nullptr, rebuild),
        krDescriptor("filter", nullptr, nullptr, rebuild),
        krDescriptor("filterPlaceholder", nullptr, nullptr, rebuild),
    };
    c.factory = [](const KRObjectInit &init) { return std::make_shared<JQMListView>(init); };
    return c;
}

void JQMListView::buildElement()
{
    KRFormControl::buildElement();
    const auto element = domElement();
    if (!element)
        return;
    element->removeAttribute(QStringLiteral("data-role"));
    enableOwnAdapters(QStringLiteral("JQMListView"));
    if (const auto parent = parentDomElement()) {
        JQMItemList::appendToPageElement(parent, element);
    }
    followTextStyle(m_tokens);
    createChildren();
    observeInDesignMode();
}

void JQMListView::observeInDesignMode()
{
    if (!designMode())
        return;
    observeForRebuild(m_tokens, {QStringLiteral("kr_id")},
                      [](KRControl &self) { static_cast<JQMListView &>(self).createChildren(); });
    if (const auto page = owningPage())
        JQMItemList::followFunctionReferences(shared_from_this(), *page, QStringLiteral("kr_items"), m_tokens);
}

void JQMListView::initializeDefaultProperties()
{
    KRFormControl::initializeDefaultProperties();
    // No place of its own: a new list stands where it is dropped, as any control does, and a
    // built page shows it there.
    setValue(QStringLiteral("kr_top"), QString());
    setValue(QStringLiteral("kr_left"), QString());
    setValue(QStringLiteral("kr_width"), QStringLiteral("100%"));
    setValue(QStringLiteral("kr_height"), QStringLiteral("400"));
    setValue(QStringLiteral("kr_items"),
             QStringLiteral("[{\"label\":\"Item #1\"}, {\"label\":\"Item #2\"}, {\"label\":\"Item #3\"}]"));
    createChildren();
}

JQMItemList::Items JQMListView::items() const
{
    return JQMItemList::parse(value(QStringLiteral("kr_items")));
}

void JQMListView::setItems(const JQMItemList::Items &items)
{
    setValue(QStringLiteral("kr_items"), JQMItemList::serialize(items));
}

void JQMListView::updateDesignView(KRModelAdapter &, const QString &)
{
    createChildren();
}

void JQMListView::createChildren()
{
    const auto element = domElement();
    const auto page = designPage();
    if (!element || !page)
        return;
    const auto document = page->domDocument();
    const QString p = pageID();
    const QString o = kr_id();
    element->removeAllChildren();

    auto ul = document->createElement(QStringLiteral("ul"));
    jqmSetDataAttribute(*ul, QStringLiteral("role"), QStringLiteral("listview"));
    jqmSetDataAttribute(*ul, QStringLiteral("inset"), value(QStringLiteral("kr_inset")));
    jqmSetDataAttribute(*ul, QStringLiteral("autodividers"), value(QStringLiteral("kr_autodividers")));
    jqmSetDataAttribute(*ul, QStringLiteral("filter"), value(QStringLiteral("kr_filter")));
    jqmSetDataAttribute(*ul, QStringLiteral("filter-placeholder"), value(QStringLiteral("kr_filterPlaceholder")));
    jqmSetDataAttribute(*ul, QStringLiteral("theme"), value(QStringLiteral("kr_theme")));
    const QString listID = QStringLiteral("_%1_%2_ul").arg(p, o);
    ul->setAttribute(QStringLiteral("id"), listID);
    if (designMode())
        ul->setAttribute(QStringLiteral("class"), QStringLiteral("ui-disabled"));
    element->appendChild(ul);

    const QString listIcon = value(QStringLiteral("kr_icon"));
    const bool wrap = value(QStringLiteral("kr_wordwrap")) == QLatin1String("true");
    for (const JQMItemList::Items &item : items()) {
        if (!item.is_object())
            continue;
        auto li = document->createElement(QStringLiteral("li"));
        ul->appendChild(li);
        const QString label = JQMItemList::stringValue(item, "label");
        const QString theme = JQMItemList::stringValue(item, "theme");
        if (item.contains("divider") && JQMItemList::truthValue(item["divider"])) {
            jqmSetDataAttribute(*li, QStringLiteral("dividertheme"), theme);
            li->setAttribute(QStringLiteral("data-role"), QStringLiteral("list-divider"));
            if (!label.isEmpty())
                li->setTextContent(label);
            continue;
        }
        jqmSetDataAttribute(*li, QStringLiteral("theme"), theme);
        const QString icon = JQMItemList::stringValue(item, "icon");
        jqmSetDataAttribute(*li, QStringLiteral("icon"), icon.isEmpty() ? listIcon : icon);
        auto a = document->createElement(QStringLiteral("a"));
        if (!label.isEmpty())
            a->setTextContent(label);
        li->appendChild(a);
        if (wrap)
            a->style().setProperty(QStringLiteral("white-space"), QStringLiteral("normal"));
        const QString thumbnail = JQMItemList::stringValue(item, "thumbnailImage");
        if (!thumbnail.isEmpty()) {
            auto img = document->createElement(QStringLiteral("img"));
            img->setAttribute(QStringLiteral("src"), thumbnail);
            a->appendChild(img);
        }
        auto span = document->createElement(QStringLiteral("span"));
        const QString badge = JQMItemList::stringValue(item, "badge");
        if (badge.isEmpty()) {
            span->setAttribute(QStringLiteral("class"), QStringLiteral("kr-lvi-badge"));
        } else {
            span->setAttribute(QStringLiteral("class"), QStringLiteral("kr-lvi-badge ui-li-count"));
            span->setTextContent(badge);
        }
        li->appendChild(span);
    }

    if (designMode()) {
        // Enhanced as the page enhances it when it opens: the list and, when it filters, the
        // filter field above it. The selectors come from the page and object ids: quoted like
        // any text.
        const QString outerID = QStringLiteral("%1_%2").arg(p, o);
        const QString script = QStringLiteral("$(%1).trigger('create');$(%2).addClass('ui-disabled');$(%3).textinput('disable');")
                                   .arg(krSelectorLiteral(outerID), krSelectorLiteral(listID, QStringLiteral("li")),
                                        krSelectorLiteral(outerID, QStringLiteral("input")));
        page->queueDesignSetUpScript(shared_from_this(), script);
    }
}

QString JQMListView::jsInitializerForKey(const QString &key) const
{
    if (key != QLatin1String("kr_items"))
        return {};
    return JQMItemList::initializer(items(), QStringLiteral("{ _krinit: true, items: ["), pageID(), true);
}
