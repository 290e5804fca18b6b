#include "KRImage.h"

#include <platform/dom/DOMCSSStyleDeclaration.h>
#include <platform/dom/DOMElement.h>

KRObjectClass KRImage::objectClass()
{
    KRObjectClass c;
    c.className = QStringLiteral("KRImage");
    c.superclassName = QStringLiteral("KRControl");
    c.idBase = QStringLiteral("image");
    c.descriptors = {
        krDescriptor("src", "src", nullptr, 0),
        krEventDescriptor("onLoad"),
    };
    c.factory = [](const KRObjectInit &init) { return std::make_shared<KRImage>(init); };
    return c;
}

void KRImage::initializeDefaultProperties()
{
    KRControl::initializeDefaultProperties();
    setValue(QStringLiteral("kr_width"), QStringLiteral("64"));
    setValue(QStringLiteral("kr_height"), QStringLiteral("64"));
}

void KRImage::buildElement()
{
    KRControl::buildElement();
    if (!domElement())
        return;
    enableOwnAdapters(QStringLiteral("KRImage"));
}

QList<KRMenuItem> KRImage::contextMenuItemsForObject()
{
    QList<KRMenuItem> items = KRControl::contextMenuItemsForObject();
    addEventContextMenuItems(items, {QStringLiteral("onLoad")});
    return items;
}
