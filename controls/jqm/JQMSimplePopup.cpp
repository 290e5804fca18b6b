#include "JQMSimplePopup.h"

#include <controls/KRControl.h>

KRObjectClass JQMSimplePopup::objectClass()
{
    KRObjectClass c;
    c.className = QStringLiteral("JQMSimplePopup");
    c.superclassName = QStringLiteral("KRObject");
    c.idBase = QStringLiteral("popup");
    constexpr std::uint32_t s = KRAdapterOptionJSString;
    constexpr std::uint32_t b = KRAdapterOptionJSBoolean;
    constexpr std::uint32_t handler = KRAdapterOptionEvent | KRAdapterOptionFunctionReference;
    c.descriptors = {
        krDescriptor("title", nullptr, nullptr, s),
        krDescriptor("message", nullptr, nullptr, s),
        krDescriptor("text", nullptr, nullptr, s),
        krDescriptor("inlineButtons", nullptr, nullptr, b),
        krDescriptor("shadow", nullptr, nullptr, b),
        krDescriptor("corners", nullptr, nullptr, b),
        krDescriptor("transition", nullptr, nullptr, s),
        krDescriptor("theme", nullptr, nullptr, s),
        krDescriptor("overlayTheme", nullptr, nullptr, s),
        krDescriptor("headerTheme", nullptr, nullptr, s),
        krDescriptor("contentTheme", nullptr, nullptr, s),
        krDescriptor("button1Label", nullptr, nullptr, s),
        krDescriptor("button1Theme", nullptr, nullptr, s),
        krDescriptor("onButton1Click", nullptr, nullptr, handler),
        krDescriptor("button2Label", nullptr, nullptr, s),
        krDescriptor("button2Theme", nullptr, nullptr, s),
        krDescriptor("onButton2Click", nullptr, nullptr, handler),
    };
    c.factory = [](const KRObjectInit &init) { return std::make_shared<JQMSimplePopup>(init); };
    return c;
}

void JQMSimplePopup::initializeDefaultProperties()
{
    KRObject::initializeDefaultProperties();
    const std::pair<const char *, const char *> defaults[] = {
        {"kr_shadow", "true"},    {"kr_corners", "true"},     {"kr_transition", "pop"}, {"kr_theme", "c"},
        {"kr_overlayTheme", "a"}, {"kr_headerTheme", "a"}, {"kr_contentTheme", "d"},
    };
    for (const auto &[key, text] : defaults)
        setValue(QLatin1String(key), QLatin1String(text));
}

QList<KRMenuItem> JQMSimplePopup::contextMenuItemsForObject()
{
    QList<KRMenuItem> items = KRObject::contextMenuItemsForObject();
    addEventContextMenuItems(items, {QStringLiteral("onButton1Click"), QStringLiteral("onButton2Click")});
    return items;
}
