#include "KRLabel.h"

#include <platform/dom/DOMCSSStyleDeclaration.h>
#include <platform/dom/DOMElement.h>

KRObjectClass KRLabel::objectClass()
{
    KRObjectClass c;
    c.className = QStringLiteral("KRLabel");
    c.superclassName = QStringLiteral("KRControl");
    c.idBase = QStringLiteral("label");
    c.descriptors = {
        krDescriptor("value", nullptr, nullptr, KRAdapterOptionXMLText | KRAdapterOptionDOMText),
    };
    c.factory = [](const KRObjectInit &init) { return std::make_shared<KRLabel>(init); };
    return c;
}

void KRLabel::initializeDefaultProperties()
{
    KRControl::initializeDefaultProperties();
    setValue(QStringLiteral("kr_value"), kr_id());
    setValue(QStringLiteral("kr_height"), QStringLiteral("32"));
    setValue(QStringLiteral("kr_width"), QStringLiteral("100"));
}

void KRLabel::buildElement()
{
    KRControl::buildElement();
    if (!domElement())
        return;
    setNoSelectStyles();
    enableOwnAdapters(QStringLiteral("KRLabel"));
    appendToParentElement();
}
