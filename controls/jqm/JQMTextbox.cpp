#include "JQMTextbox.h"

#include <controls/jqm/JQMMarkup.h>
#include <core/KRJavaScript.h>
#include <model/KRModelAdapter.h>
#include <platform/dom/DOMCSSStyleDeclaration.h>
#include <platform/dom/DOMElement.h>
#include <platform/foundation/KRException.h>

KRObjectClass JQMTextbox::objectClass()
{
    KRObjectClass c;
    c.className = QStringLiteral("JQMTextbox");
    c.superclassName = QStringLiteral("KRFormControl");
    c.idBase = QStringLiteral("textbox");
    c.descriptors = {
        krDescriptor("value", nullptr, nullptr, KRAdapterOptionUpdateDesignView),
        krDescriptor("label", nullptr, nullptr, KRAdapterOptionCheckSize | KRAdapterOptionUpdateDesignView),
        krDescriptor("theme", nullptr, nullptr, KRAdapterOptionUpdateDesignView),
        krDescriptor("mini", nullptr, nullptr, KRAdapterOptionUpdateDesignView),
        krDescriptor("maxsize", nullptr, nullptr, KRAdapterOptionUpdateDesignView),
        krDescriptor("type", nullptr, nullptr, KRAdapterOptionUpdateDesignView),
        krDescriptor("placeholder", nullptr, nullptr, KRAdapterOptionUpdateDesignView),
        krDescriptor("autocorrect", "autocorrect", nullptr, 0),
        krDescriptor("autocapitalize", "autocapitalize", nullptr, 0),
        krEventDescriptor("onFocus"),
        krEventDescriptor("onBlur"),
    };
    c.factory = [](const KRObjectInit &init) { return std::make_shared<JQMTextbox>(init); };
    return c;
}

void JQMTextbox::initializeDefaultProperties()
{
    JQMFormWidget::initializeDefaultProperties();
    setValue(QStringLiteral("kr_width"), QStringLiteral("200"));
    setValue(QStringLiteral("kr_height"), QStringLiteral("32"));
}

void JQMTextbox::buildElement()
{
    JQMFormWidget::buildElement();
    buildWidget(QStringLiteral("JQMTextbox"), {});
}

QList<KRMenuItem> JQMTextbox::contextMenuItemsForObject()
{
    QList<KRMenuItem> items = JQMFormWidget::contextMenuItemsForObject();
    addEventContextMenuItems(items, {QStringLiteral("onFocus"), QStringLiteral("onBlur")});
    return items;
}

void JQMTextbox::createChildren()
{
    const auto input = beginLabelledInput(QStringLiteral("input"));
    if (!input)
        return;
    const QString type = value(QStringLiteral("kr_type"));
    input->setAttribute(QStringLiteral("type"), type.isEmpty() ? QStringLiteral("text") : type);
    setNameAndDisabled(*input);
    input->setOptionalAttribute(QStringLiteral("value"), value(QStringLiteral("kr_value")));
    input->setOptionalAttribute(QStringLiteral("maxsize"), value(QStringLiteral("kr_maxsize")));
    // Browsers enforce only "maxlength"; "maxsize" stays for pages that rely on it.
    input->setOptionalAttribute(QStringLiteral("maxlength"), value(QStringLiteral("kr_maxsize")));
    jqmSetDataAttribute(*input, QStringLiteral("theme"), value(QStringLiteral("kr_theme")));
    jqmSetDataAttribute(*input, QStringLiteral("mini"), value(QStringLiteral("kr_mini")));
    static const std::pair<QString, QString> optionalKeys[] = {
        {QStringLiteral("placeholder"), QStringLiteral("kr_placeholder")},
        {QStringLiteral("autocorrect"), QStringLiteral("kr_autocorrect")},
        {QStringLiteral("autocapitalize"), QStringLiteral("kr_autocapitalize")}};
    for (const auto &[name, key] : optionalKeys)
        input->setOptionalAttribute(name, value(key));
    domElement()->appendChild(input);
    if (designMode())
        queueDesignScript(QStringLiteral("$(%1).trigger('create');$(%2).textinput('disable');")
                              .arg(krSelectorLiteral(domElement()->id()), krSelectorLiteral(input->id())));
}
