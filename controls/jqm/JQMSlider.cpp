#include "JQMSlider.h"

#include <controls/jqm/JQMMarkup.h>
#include <core/KRJavaScript.h>
#include <model/KRModelAdapter.h>
#include <platform/dom/DOMCSSStyleDeclaration.h>
#include <platform/dom/DOMElement.h>
#include <platform/foundation/KRException.h>

KRObjectClass JQMSlider::objectClass()
{
    KRObjectClass c;
    c.className = QStringLiteral("JQMSlider");
    c.superclassName = QStringLiteral("KRFormControl");
    c.idBase = QStringLiteral("slider");
    c.descriptors = {
        krDescriptor("value", nullptr, nullptr, KRAdapterOptionUpdateDesignView),
        krDescriptor("min", nullptr, nullptr, KRAdapterOptionUpdateDesignView),
        krDescriptor("max", nullptr, nullptr, KRAdapterOptionUpdateDesignView),
        krDescriptor("label", nullptr, nullptr, KRAdapterOptionCheckSize | KRAdapterOptionUpdateDesignView),
        krDescriptor("theme", nullptr, nullptr, KRAdapterOptionUpdateDesignView),
        krDescriptor("mini", nullptr, nullptr, KRAdapterOptionUpdateDesignView),
        krDescriptor("trackTheme", nullptr, nullptr, KRAdapterOptionUpdateDesignView),
        krDescriptor("step", nullptr, nullptr, KRAdapterOptionUpdateDesignView),
        krDescriptor("highlight", nullptr, nullptr, KRAdapterOptionUpdateDesignView),
    };
    c.factory = [](const KRObjectInit &init) { return std::make_shared<JQMSlider>(init); };
    return c;
}

void JQMSlider::initializeDefaultProperties()
{
    JQMFormWidget::initializeDefaultProperties();
    setValue(QStringLiteral("kr_width"), QStringLiteral("200"));
    setValue(QStringLiteral("kr_height"), QStringLiteral("32"));
    setValue(QStringLiteral("kr_min"), QStringLiteral("0"));
    setValue(QStringLiteral("kr_max"), QStringLiteral("100"));
}

void JQMSlider::buildElement()
{
    JQMFormWidget::buildElement();
    buildWidget(QStringLiteral("JQMSlider"), {});
}

void JQMSlider::createChildren()
{
    const auto input = beginLabelledInput(QStringLiteral("input"));
    if (!input)
        return;
    input->setAttribute(QStringLiteral("type"), QStringLiteral("number"));
    input->setAttribute(QStringLiteral("data-type"), QStringLiteral("range"));
    jqmSetDataAttribute(*input, QStringLiteral("highlight"), value(QStringLiteral("kr_highlight")));
    input->setOptionalAttribute(QStringLiteral("step"), value(QStringLiteral("kr_step")));
    setNameAndDisabled(*input);
    for (const char *name : {"value", "min", "max"})
        input->setOptionalAttribute(QString::fromLatin1(name), value(QStringLiteral("kr_") + QString::fromLatin1(name)));
    jqmSetDataAttribute(*input, QStringLiteral("theme"), value(QStringLiteral("kr_theme")));
    jqmSetDataAttribute(*input, QStringLiteral("mini"), value(QStringLiteral("kr_mini")));
    jqmSetDataAttribute(*input, QStringLiteral("track-theme"), value(QStringLiteral("kr_trackTheme")));
    domElement()->appendChild(input);
    if (designMode())
        queueDesignScript(QStringLiteral("$(document).ready(function() {$(%1).trigger('create');$(%2).slider('disable');});")
                              .arg(krSelectorLiteral(domElement()->id()), krSelectorLiteral(input->id())));
}
