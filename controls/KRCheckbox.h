#pragma once

#include <controls/KRControl.h>

class KRCheckbox : public KRFormControl
{
public:
    using KRFormControl::KRFormControl;
    static KRObjectClass objectClass();
    QString domElementName() const override { return QStringLiteral("input"); }

protected:
    void buildElement() override;
};
