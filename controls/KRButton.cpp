#include "KRButton.h"

#include <platform/dom/DOMCSSStyleDeclaration.h>
#include <platform/dom/DOMElement.h>

KRObjectClass KRButton::objectClass()
{
    KRObjectClass c;
    c.className = QStringLiteral("KRButton");
    c.superclassName = QStringLiteral("KRFormControl");
    c.idBase = QStringLiteral("button");
    c.descriptors = {
        krDescriptor("value", "value", nullptr, 0),
        krDescriptor("gotoPage", nullptr, nullptr, KRAdapterOptionJSString),
        krDescriptor("gotoPageTransition", nullptr, nullptr, KRAdapterOptionJSString),
    };
    c.factory = [](const KRObjectInit &init) { return std::make_shared<KRButton>(init); };
    return c;
}

void KRButton::initializeDefaultProperties()
{
    KRFormControl::initializeDefaultProperties();
    setValue(QStringLiteral("kr_value"), kr_id());
    setValue(QStringLiteral("kr_width"), QStringLiteral("150"));
    setValue(QStringLiteral("kr_height"), QStringLiteral("50"));
    setValue(QStringLiteral("kr_fontFamily"), QStringLiteral("Helvetica Neue"));
    setValue(QStringLiteral("kr_fontSize"), QStringLiteral("20"));
    setValue(QStringLiteral("kr_fontWeight"), QStringLiteral("bold"));
    setValue(QStringLiteral("kr_textShadow"), QStringLiteral("#cecece 0px 1px 0px "));
    setValue(QStringLiteral("kr_borderStyle"), QStringLiteral("solid"));
    setValue(QStringLiteral("kr_borderWidth"), QStringLiteral("3"));
    setValue(QStringLiteral("kr_borderColor"), QStringLiteral("#282726"));
    setValue(QStringLiteral("kr_borderRadius"), QStringLiteral("8"));
    setValue(QStringLiteral("kr_backgroundGradient"), QStringLiteral("90deg, #8c8a88, #82807e 50%, #acadae 50%, #e2e2e2"));
}

void KRButton::buildElement()
{
    KRFormControl::buildElement();
    if (!domElement())
        return;
    domElement()->setAttribute(QStringLiteral("type"), QStringLiteral("button"));
    domElement()->style().setProperty(QStringLiteral("-webkit-appearance"), QStringLiteral("none"));
    enableOwnAdapters(QStringLiteral("KRButton"));
    appendToParentElement();
}
