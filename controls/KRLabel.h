#pragma once

#include <controls/KRControl.h>

class KRLabel : public KRControl
{
public:
    using KRControl::KRControl;
    static KRObjectClass objectClass();
    QString domElementName() const override { return QStringLiteral("div"); }
    QString defaultProperty() const override { return QStringLiteral("value"); }
    void initializeDefaultProperties() override;

protected:
    void buildElement() override;
};
