#include "KRCanvas.h"

#include <platform/dom/DOMCSSStyleDeclaration.h>
#include <platform/dom/DOMElement.h>

KRObjectClass KRCanvas::objectClass()
{
    KRObjectClass c;
    c.className = QStringLiteral("KRCanvas");
    c.superclassName = QStringLiteral("KRControl");
    c.idBase = QStringLiteral("canvas");
    c.factory = [](const KRObjectInit &init) { return std::make_shared<KRCanvas>(init); };
    return c;
}

void KRCanvas::buildElement()
{
    KRControl::buildElement();
    if (!domElement())
        return;
    setNoSelectStyles();
    enableOwnAdapters(QStringLiteral("KRCanvas"));
    appendToParentElement();
}
