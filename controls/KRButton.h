#pragma once

#include <controls/KRControl.h>

class KRButton : public KRFormControl
{
public:
    using KRFormControl::KRFormControl;
    static KRObjectClass objectClass();
    QString domElementName() const override { return QStringLiteral("input"); }
    QString defaultProperty() const override { return QStringLiteral("onClick"); }
    void initializeDefaultProperties() override;

protected:
    void buildElement() override;
};
