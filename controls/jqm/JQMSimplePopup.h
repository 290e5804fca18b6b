#pragma once

#include <model/KRObject.h>
#include <model/KRObjectClass.h>

// A jQuery Mobile pop-up dialog with a title, a message and up to two buttons. It has no
// element on the page; the runtime script builds it from the initialisers.
class JQMSimplePopup : public KRObject
{
public:
    using KRObject::KRObject;
    static KRObjectClass objectClass();

    QString defaultProperty() const override { return QStringLiteral("title"); }
    static QString domElementName() { return {}; }
    void initializeDefaultProperties() override;
    QList<KRMenuItem> contextMenuItemsForObject() override;
};
