#include "KRCheckbox.h"

#include <platform/dom/DOMCSSStyleDeclaration.h>
#include <platform/dom/DOMElement.h>

KRObjectClass KRCheckbox::objectClass()
{
    KRObjectClass c;
    c.className = QStringLiteral("KRCheckbox");
    c.superclassName = QStringLiteral("KRFormControl");
    c.idBase = QStringLiteral("checkbox");
    c.descriptors = {
        krDescriptor("value", "value", nullptr, 0),
        krDescriptor("checked", "checked", nullptr, KRAdapterOptionBooleanAttribute),
    };
    c.factory = [](const KRObjectInit &init) { return std::make_shared<KRCheckbox>(init); };
    return c;
}

void KRCheckbox::buildElement()
{
    KRFormControl::buildElement();
    if (!domElement())
        return;
    domElement()->setAttribute(QStringLiteral("type"), QStringLiteral("checkbox"));
    enableOwnAdapters(QStringLiteral("KRCheckbox"));
    appendToParentElement();
}
