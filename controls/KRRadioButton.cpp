#include "KRRadioButton.h"

#include <platform/dom/DOMCSSStyleDeclaration.h>
#include <platform/dom/DOMElement.h>

KRObjectClass KRRadioButton::objectClass()
{
    KRObjectClass c;
    c.className = QStringLiteral("KRRadioButton");
    c.superclassName = QStringLiteral("KRFormControl");
    c.idBase = QStringLiteral("radioButton");
    c.descriptors = {
        krDescriptor("value", "value", nullptr, 0),
        // A boolean attribute, as for the check box: any "checked" attribute checks a radio input,
        // so writing the text would show "false" as checked.
        krDescriptor("checked", "checked", nullptr, KRAdapterOptionBooleanAttribute),
    };
    c.factory = [](const KRObjectInit &init) { return std::make_shared<KRRadioButton>(init); };
    return c;
}

void KRRadioButton::initializeDefaultProperties()
{
    KRFormControl::initializeDefaultProperties();
    setValue(QStringLiteral("kr_name"), QStringLiteral("radioButton"));
}

void KRRadioButton::buildElement()
{
    KRFormControl::buildElement();
    if (!domElement())
        return;
    domElement()->setAttribute(QStringLiteral("type"), QStringLiteral("radio"));
    enableOwnAdapters(QStringLiteral("KRRadioButton"));
    appendToParentElement();
}
