#include "JQMButton.h"

#include <controls/jqm/JQMMarkup.h>
#include <core/KRJavaScript.h>
#include <model/KRModelAdapter.h>
#include <platform/dom/DOMCSSStyleDeclaration.h>
#include <platform/dom/DOMElement.h>
#include <platform/foundation/KRException.h>

KRObjectClass JQMButton::objectClass()
{
    KRObjectClass c;
    c.className = QStringLiteral("JQMButton");
    c.superclassName = QStringLiteral("KRFormControl");
    c.idBase = QStringLiteral("button");
    c.descriptors = {
        krDescriptor("value", "value", nullptr, KRAdapterOptionUpdateDesignView),
        krDescriptor("corners", nullptr, nullptr, KRAdapterOptionUpdateDesignView),
        krDescriptor("icon", nullptr, nullptr, KRAdapterOptionUpdateDesignView),
        krDescriptor("iconpos", nullptr, nullptr, KRAdapterOptionUpdateDesignView),
        krDescriptor("iconshadow", nullptr, nullptr, KRAdapterOptionUpdateDesignView),
        krDescriptor("shadow", nullptr, nullptr, KRAdapterOptionUpdateDesignView),
        krDescriptor("theme", nullptr, nullptr, KRAdapterOptionUpdateDesignView),
        krDescriptor("mini", nullptr, nullptr, KRAdapterOptionUpdateDesignView),
        krDescriptor("gotoPage", nullptr, nullptr, KRAdapterOptionJSString),
        krDescriptor("gotoPageTransition", nullptr, nullptr, KRAdapterOptionJSString),
    };
    c.factory = [](const KRObjectInit &init) { return std::make_shared<JQMButton>(init); };
    return c;
}

void JQMButton::initializeDefaultProperties()
{
    JQMFormWidget::initializeDefaultProperties();
    setValue(QStringLiteral("kr_value"), kr_id());
    setValue(QStringLiteral("kr_width"), QStringLiteral("150"));
    setValue(QStringLiteral("kr_height"), QStringLiteral("50"));
}

void JQMButton::buildElement()
{
    JQMFormWidget::buildElement();
    BuildSteps steps;
    steps.removeOuterRole = false;
    steps.redescribeNameAndDisabled = false;
    buildWidget(QStringLiteral("JQMButton"), steps);
}

void JQMButton::createChildren()
{
    const auto outer = domElement();
    if (!outer)
        return;
    removeElementChildren();
    const QString inner = innerID(QStringLiteral("inp"));
    m_inputElement = createElement(QStringLiteral("input"));
    m_inputElement->setAttribute(QStringLiteral("id"), inner);
    m_inputElement->setAttribute(QStringLiteral("type"), QStringLiteral("button"));
    // The data attribute and the property it shows, named once.
    static const std::pair<QString, QString> dataKeys[] = {
        {QStringLiteral("corners"), QStringLiteral("kr_corners")}, {QStringLiteral("icon"), QStringLiteral("kr_icon")},
        {QStringLiteral("iconpos"), QStringLiteral("kr_iconpos")}, {QStringLiteral("iconshadow"), QStringLiteral("kr_iconshadow")},
        {QStringLiteral("shadow"), QStringLiteral("kr_shadow")},   {QStringLiteral("theme"), QStringLiteral("kr_theme")},
        {QStringLiteral("mini"), QStringLiteral("kr_mini")}};
    for (const auto &[name, key] : dataKeys)
        jqmSetDataAttribute(*m_inputElement, name, value(key));
    if (designMode()) {
        DOMCSSStyleDeclaration &style = m_inputElement->style();
        style.setProperty(QStringLiteral("-webkit-user-select"), QStringLiteral("none"));
        style.setProperty(QStringLiteral("-webkit-user-modify"), QStringLiteral("read-only"));
        style.setProperty(QStringLiteral("outline"), QStringLiteral("none"));
        style.setProperty(QStringLiteral("cursor"), QStringLiteral("default"));
    }
    outer->appendChild(m_inputElement);
    static const QString inputKeys[] = {QStringLiteral("kr_value"), QStringLiteral("kr_name"), QStringLiteral("kr_disabled")};
    for (const QString &key : inputKeys) {
        if (const auto adapter = modelAdapter(key)) {
            adapter->setDomElement(m_inputElement);
            adapter->updateDOM(value(key));
        }
    }
    // jQuery Mobile shows the button's value as markup of its own: on the design surface that
    // is the text written, never elements (the built page's scripts read the value as it is).
    if (designMode())
        m_inputElement->setAttribute(QStringLiteral("value"), jqmMarkupText(value(QStringLiteral("kr_value"))));
    if (designMode())
        queueDesignScript(QStringLiteral("$(%1).button();$(%1).button('disable');").arg(krSelectorLiteral(inner)));
}
