#pragma once

#include <model/KRObject.h>
#include <model/KRObjectClass.h>

// A non-visual page object: no element, only its XML element and its initialisers (interval,
// enabled, the timeout event).
class KRTimer : public KRObject
{
public:
    using KRObject::KRObject;
    static KRObjectClass objectClass();
    QString defaultProperty() const override { return QStringLiteral("onTimeout"); }
    QList<KRMenuItem> contextMenuItemsForObject() override;
};
