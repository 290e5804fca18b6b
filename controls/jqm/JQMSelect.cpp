#include "JQMSelect.h"

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
    const auto outer = domElement();
    if (!outer)
        return;
    removeElementChildren();
    const QString inner = innerID(QStringLiteral("sel"));
    outer->appendChild(makeLabel(inner, QStringLiteral("ui-hidden-accessible"), QStringLiteral("select")));
    m_selectElement = createElement(QStringLiteral("select"));
    m_selectElement->setAttribute(QStringLiteral("id"), inner);
    m_selectElement->setAttribute(QStringLiteral("name"), nameOrID());
    const QString selected = value(QStringLiteral("kr_value"));
    m_selectElement->setOptionalAttribute(QStringLiteral("value"), selected);
    if (isDisabled())
        m_selectElement->setAttribute(QStringLiteral("disabled"), QStringLiteral("disabled"));
    for (const char *name : {"icon", "iconpos", "iconshadow", "shadow", "theme", "mini"})
        m_selectElement->setDataAttribute(QString::fromLatin1(name), value(QStringLiteral("kr_") + QString::fromLatin1(name)));
    m_selectElement->setDataAttribute(QStringLiteral("native-menu"), value(QStringLiteral("kr_nativeMenu")));
    outer->appendChild(m_selectElement);
    jqmAppendOptions(*m_selectElement, value(QStringLiteral("kr_options")), selected);
    queueDesignScript(QStringLiteral("$(%1).selectmenu();$(%1).selectmenu('disable');").arg(krSelectorLiteral(inner)));
}
