#pragma once

#include <controls/KRControl.h>

class KRRadioButton : public KRFormControl
{
public:
    using KRFormControl::KRFormControl;
    static KRObjectClass objectClass();
    QString domElementName() const override { return QStringLiteral("input"); }
    void initializeDefaultProperties() override;

protected:
    void buildElement() override;
};
