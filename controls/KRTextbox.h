#pragma once

#include <controls/KRControl.h>
#include <platform/foundation/KRObservationToken.h>

class KRTextbox : public KRFormControl
{
public:
    using KRFormControl::KRFormControl;
    static KRObjectClass objectClass();
    QString domElementName() const override { return QStringLiteral("input"); }
    QString defaultProperty() const override { return QStringLiteral("value"); }
    void initializeDefaultProperties() override;
    QList<KRMenuItem> contextMenuItemsForObject() override;

protected:
    void buildElement() override;

private:
    // "maxsize" is kept as the stored attribute; browsers enforce only "maxlength".
    void updateMaxLength();
    KRObservationToken m_maxsizeToken;
};
