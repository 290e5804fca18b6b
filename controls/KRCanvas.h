#pragma once

#include <controls/KRControl.h>

class KRCanvas : public KRControl
{
public:
    using KRControl::KRControl;
    static KRObjectClass objectClass();
    QString domElementName() const override { return QStringLiteral("canvas"); }

protected:
    void buildElement() override;
};
