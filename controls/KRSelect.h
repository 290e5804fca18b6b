#pragma once

#include <controls/KRControl.h>

class KRSelect : public KRFormControl
{
public:
    using KRFormControl::KRFormControl;
    static KRObjectClass objectClass();
    QString domElementName() const override { return QStringLiteral("select"); }
    QString defaultProperty() const override { return QStringLiteral("options"); }
    void initializeDefaultProperties() override;
    QList<KRMenuItem> contextMenuItemsForObject() override;

protected:
    void buildElement() override;
};
