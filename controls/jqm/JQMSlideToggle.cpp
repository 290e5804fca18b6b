#include "JQMSlideToggle.h"

#include <controls/jqm/JQMMarkup.h>
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
    const auto select = beginOptionSelect(QStringLiteral("slider"));
    if (!select)
        return;
    m_selectElement = select;
    jqmSetDataAttribute(*m_selectElement, QStringLiteral("theme"), value(QStringLiteral("kr_theme")));
    jqmSetDataAttribute(*m_selectElement, QStringLiteral("mini"), value(QStringLiteral("kr_mini")));
    jqmSetDataAttribute(*m_selectElement, QStringLiteral("track-theme"), value(QStringLiteral("kr_trackTheme")));
    finishOptionSelect(m_selectElement);
    if (designMode())
        queueDesignScript(QStringLiteral("$(%1).slider();$(%1).slider('disable');").arg(krSelectorLiteral(m_selectElement->id())));
}
