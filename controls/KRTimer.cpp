#include "KRTimer.h"

#include <controls/KRControl.h>

KRObjectClass KRTimer::objectClass()
{
    KRObjectClass c;
    c.className = QStringLiteral("KRTimer");
    c.superclassName = QStringLiteral("KRObject");
    c.idBase = QStringLiteral("timer");
    c.descriptors = {
        krDescriptor("interval", nullptr, nullptr, KRAdapterOptionJSNumber),
        krEventDescriptor("onTimeout"),
        krDescriptor("enabled", nullptr, nullptr, KRAdapterOptionJSBoolean),
    };
    c.factory = [](const KRObjectInit &init) { return std::make_shared<KRTimer>(init); };
    return c;
}

QList<KRMenuItem> KRTimer::contextMenuItemsForObject()
{
    QList<KRMenuItem> items = KRObject::contextMenuItemsForObject();
    addEventContextMenuItems(items, {QStringLiteral("onTimeout")});
    return items;
}
