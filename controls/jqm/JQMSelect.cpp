#include "JQMSelect.h"

#include <controls/jqm/JQMMarkup.h>
#include <core/KRJavaScript.h>
#include <model/KRModelAdapter.h>
#include <platform/dom/DOMCSSStyleDeclaration.h>
#include <platform/dom/DOMElement.h>
#include <platform/foundation/KRException.h>

KRObjectClass JQMSelect::objectClass()
{
    KRObjectClass c;
    c.className = QStringLiteral("JQMSelect");
    c.superclassName = QStringLiteral("KRFormControl");
    c.idBase = QStringLiteral("select");
    c.descriptors = {
        krDescriptor("value", nullptr, nullptr, KRAdapterOptionUpdateDesignView),
        krDescriptor("options", nullptr, nullptr, KRAdapterOptionUpdateDesignView | KRAdapterOptionXMLText),
        krDescriptor("icon", nullptr, nullptr, KRAdapterOptionUpdateDesignView),
        krDescriptor("iconpos", nullptr, nullptr, KRAdapterOptionUpdateDesignView),
        krDescriptor("iconshadow", nullptr, nullptr, KRAdapterOptionUpdateDesignView),
        krDescriptor("shadow", nullptr, nullptr, KRAdapterOptionUpdateDesignView),
        krDescriptor("nativeMenu", nullptr, nullptr, KRAdapterOptionUpdateDesignView),
        krDescriptor("label", nullptr, nullptr, KRAdapterOptionCheckSize | KRAdapterOptionUpdateDesignView),
        krDescriptor("theme", nullptr, nullptr, KRAdapterOptionUpdateDesignView),
        krDescriptor("mini", nullptr, nullptr, KRAdapterOptionUpdateDesignView),
        krDescriptor("overlayTheme", nullptr, nullptr, KRAdapterOptionUpdateDesignView),
        krEventDescriptor("onFocus"),
        krEventDescriptor("onBlur"),
    };
    c.factory = [](const KRObjectInit &init) { return std::make_shared<JQMSelect>(init); };
    return c;
}

void JQMSelect::initializeDefaultProperties()
{
    JQMFormWidget::initializeDefaultProperties();
    setValue(QStringLiteral("kr_width"), QStringLiteral("200"));
    setValue(QStringLiteral("kr_height"), QStringLiteral("32"));
    setValue(QStringLiteral("kr_options"), QStringLiteral("Choice 1\nChoice 2\nChoice 3"));
}

void JQMSelect::buildElement()
{
    JQMFormWidget::buildElement();
    BuildSteps steps;
    steps.rebuildKeys = {QStringLiteral("kr_id"), QStringLiteral("kr_name")};
    buildWidget(QStringLiteral("JQMSelect"), steps);
}

QList<KRMenuItem> JQMSelect::contextMenuItemsForObject()
{
    QList<KRMenuItem> items = JQMFormWidget::contextMenuItemsForObject();
    addEventContextMenuItems(items, {QStringLiteral("onFocus"), QStringLiteral("onBlur")});
    return items;
}

void JQMSelect::createChildren()
{
    const auto select = beginOptionSelect(QString());
    if (!select)
        return;
    m_selectElement = select;
    // The data attribute and the property it shows, named once.
    static const std::pair<QString, QString> dataKeys[] = {
        {QStringLiteral("icon"), QStringLiteral("kr_icon")},     {QStringLiteral("iconpos"), QStringLiteral("kr_iconpos")},
        {QStringLiteral("iconshadow"), QStringLiteral("kr_iconshadow")}, {QStringLiteral("shadow"), QStringLiteral("kr_shadow")},
        {QStringLiteral("theme"), QStringLiteral("kr_theme")},   {QStringLiteral("mini"), QStringLiteral("kr_mini")}};
    for (const auto &[name, key] : dataKeys)
        jqmSetDataAttribute(*m_selectElement, name, value(key));
    jqmSetDataAttribute(*m_selectElement, QStringLiteral("native-menu"), value(QStringLiteral("kr_nativeMenu")));
    finishOptionSelect(m_selectElement);
    if (designMode())
        queueDesignScript(QStringLiteral("$(%1).selectmenu();$(%1).selectmenu('disable');").arg(krSelectorLiteral(m_selectElement->id())));
}
