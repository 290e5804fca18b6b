#pragma once

#include <controls/KRControl.h>

class KRTextArea : public KRFormControl
{
public:
    using KRFormControl::KRFormControl;
    static KRObjectClass objectClass();
    QString domElementName() const override { return QStringLiteral("textarea"); }
    QString defaultProperty() const override { return QStringLiteral("value"); }
    void initializeDefaultProperties() override;
    QList<KRMenuItem> contextMenuItemsForObject() override;

protected:
    void buildElement() override;
};
