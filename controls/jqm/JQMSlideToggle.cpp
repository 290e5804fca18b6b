#include "JQMSlideToggle.h"

#include <core/KRJavaScript.h>
#include <model/KRModelAdapter.h>
#include <platform/dom/DOMCSSStyleDeclaration.h>
#include <platform/dom/DOMElement.h>
#include <platform/foundation/KRException.h>

KRObjectClass JQMSlideToggle::objectClass()
{
    KRObjectClass c;
    c.className = QStringLiteral("JQMSlideToggle");
    c.superclassName = QStringLiteral("KRFormControl");
    c.idBase = QStringLiteral("toggle");
    c.descriptors = {
        krDescriptor("value", nullptr, nullptr, KRAdapterOptionUpdateDesignView),
        krDescriptor("options", nullptr, nullptr, KRAdapterOptionUpdateDesignView | KRAdapterOptionXMLText),
        krDescriptor("label", nullptr, nullptr, KRAdapterOptionCheckSize | KRAdapterOptionUpdateDesignView),
        krDescriptor("theme", nullptr, nullptr, KRAdapterOptionUpdateDesignView),
        krDescriptor("mini", nullptr, nullptr, KRAdapterOptionUpdateDesignView),
        krDescriptor("trackTheme", nullptr, nullptr, KRAdapterOptionUpdateDesignView),
    };
    c.factory = [](const KRObjectInit &init) { return std::make_shared<JQMSlideToggle>(init); };
    return c;
}

void JQMSlideToggle::initializeDefaultProperties()
{
    JQMFormWidget::initializeDefaultProperties();
    setValue(QStringLiteral("kr_width"), QStringLiteral("125"));
    setValue(QStringLiteral("kr_height"), QStringLiteral("42"));
    setValue(QStringLiteral("kr_options"), QStringLiteral("Off\nOn\n"));
}

void JQMSlideToggle::buildElement()
{
    JQMFormWidget::buildElement();
    BuildSteps steps;
    steps.rebuildKeys = {QStringLiteral("kr_id"), QStringLiteral("kr_name")};
    buildWidget(QStringLiteral("JQMSlideToggle"), steps);
}

void JQMSlideToggle::createChildren()
{
    const auto outer = domElement();
    if (!outer)
        return;
    removeElementChildren();
    const QString inner = innerID(QStringLiteral("sel"));
    outer->appendChild(makeLabel(inner, QStringLiteral("ui-hidden-accessible"), QStringLiteral("select")));
    m_selectElement = createElement(QStringLiteral("select"));
    m_selectElement->setAttribute(QStringLiteral("data-role"), QStringLiteral("slider"));
    m_selectElement->setAttribute(QStringLiteral("id"), inner);
    m_selectElement->setAttribute(QStringLiteral("name"), nameOrID());
    const QString selected = value(QStringLiteral("kr_value"));
    m_selectElement->setOptionalAttribute(QStringLiteral("value"), selected);
    if (isDisabled())
        m_selectElement->setAttribute(QStringLiteral("disabled"), QStringLiteral("disabled"));
    m_selectElement->setDataAttribute(QStringLiteral("theme"), value(QStringLiteral("kr_theme")));
    m_selectElement->setDataAttribute(QStringLiteral("mini"), value(QStringLiteral("kr_mini")));
    m_selectElement->setDataAttribute(QStringLiteral("track-theme"), value(QStringLiteral("kr_trackTheme")));
    outer->appendChild(m_selectElement);
    jqmAppendOptions(*m_selectElement, value(QStringLiteral("kr_options")), selected);
    queueDesignScript(QStringLiteral("$(%1).slider();$(%1).slider('disable');").arg(krSelectorLiteral(inner)));
}
