#include "KRSelect.h"

#include <platform/dom/DOMCSSStyleDeclaration.h>
#include <platform/dom/DOMElement.h>

KRObjectClass KRSelect::objectClass()
{
    KRObjectClass c;
    c.className = QStringLiteral("KRSelect");
    c.superclassName = QStringLiteral("KRFormControl");
    c.idBase = QStringLiteral("select");
    c.descriptors = {
        krDescriptor("options", nullptr, nullptr, KRAdapterOptionOptionList | KRAdapterOptionXMLText),
        krDescriptor("value", nullptr, nullptr, KRAdapterOptionRefreshOptions),
        krEventDescriptor("onFocus"),
        krEventDescriptor("onBlur"),
    };
    c.factory = [](const KRObjectInit &init) { return std::make_shared<KRSelect>(init); };
    return c;
}

void KRSelect::initializeDefaultProperties()
{
    KRFormControl::initializeDefaultProperties();
    setValue(QStringLiteral("kr_width"), QStringLiteral("150"));
    setValue(QStringLiteral("kr_height"), QStringLiteral("32"));
}

void KRSelect::buildElement()
{
    KRFormControl::buildElement();
    if (!domElement())
        return;
    domElement()->style().setProperty(QStringLiteral("-webkit-appearance"), QStringLiteral("menulist-button"));
    enableOwnAdapters(QStringLiteral("KRSelect"));
    appendToParentElement();
}

QList<KRMenuItem> KRSelect::contextMenuItemsForObject()
{
    QList<KRMenuItem> items = KRFormControl::contextMenuItemsForObject();
    addEventContextMenuItems(items, {QStringLiteral("onFocus"), QStringLiteral("onBlur")});
    return items;
}
