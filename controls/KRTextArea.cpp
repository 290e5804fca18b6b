#include "KRTextArea.h"

#include <platform/dom/DOMCSSStyleDeclaration.h>
#include <platform/dom/DOMElement.h>

KRObjectClass KRTextArea::objectClass()
{
    KRObjectClass c;
    c.className = QStringLiteral("KRTextArea");
    c.superclassName = QStringLiteral("KRFormControl");
    c.idBase = QStringLiteral("textarea");
    c.descriptors = {
        krDescriptor("value", nullptr, nullptr, KRAdapterOptionDOMText),
        krDescriptor("autocorrect", "autocorrect", nullptr, 0),
        krDescriptor("autocapitalize", "autocapitalize", nullptr, 0),
        krEventDescriptor("onFocus"),
        krEventDescriptor("onBlur"),
    };
    c.factory = [](const KRObjectInit &init) { return std::make_shared<KRTextArea>(init); };
    return c;
}

void KRTextArea::initializeDefaultProperties()
{
    KRFormControl::initializeDefaultProperties();
    setValue(QStringLiteral("kr_width"), QStringLiteral("80"));
    setValue(QStringLiteral("kr_height"), QStringLiteral("40"));
}

void KRTextArea::buildElement()
{
    KRFormControl::buildElement();
    if (!domElement())
        return;
    enableOwnAdapters(QStringLiteral("KRTextArea"));
    appendToParentElement();
}

QList<KRMenuItem> KRTextArea::contextMenuItemsForObject()
{
    QList<KRMenuItem> items = KRFormControl::contextMenuItemsForObject();
    addEventContextMenuItems(items, {QStringLiteral("onFocus"), QStringLiteral("onBlur")});
    return items;
}
