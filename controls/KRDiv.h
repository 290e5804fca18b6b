#pragma once

#include <controls/KRControl.h>

class KRDiv : public KRControl
{
public:
    using KRControl::KRControl;
    static KRObjectClass objectClass();
    QString domElementName() const override { return QStringLiteral("div"); }
    QString defaultProperty() const override { return QStringLiteral("content"); }
    // Lets jQuery Mobile enhance markup inside new content in the design view.
    void updateDesignView(KRModelAdapter &adapter, const QString &newValue) override;

protected:
    void buildElement() override;
};
