#pragma once

#include <controls/KRControl.h>

class KRImage : public KRControl
{
public:
    using KRControl::KRControl;
    static KRObjectClass objectClass();
    QString domElementName() const override { return QStringLiteral("img"); }
    QString defaultProperty() const override { return QStringLiteral("src"); }
    void initializeDefaultProperties() override;
    QList<KRMenuItem> contextMenuItemsForObject() override;

protected:
    void buildElement() override;
};
