#pragma once

#include "KRPropertyEditorItemViewController.h"

class KRPropertyEditorItemEnumViewController : public KRPropertyEditorItemTypedViewController
{
public:
    QString nibName() const override { return QStringLiteral("KRPropertyEditorItemEnum"); }
    QString kindName() const override { return QStringLiteral("Enum"); }
    QWidget *buildView() override;
    virtual KREnumOptions enumerationContent() const;
    virtual std::optional<QString> nullPlaceholder() const;
    void reloadContent();
    QComboBox *popupButton() const { return m_popupButton; }
    // Picks the option as the user would.
    virtual void chooseIndex(int index);

protected:
    void setup() override;
    QWidget *editControl() const override;
    virtual void showValue();
    QComboBox *m_popupButton = nullptr;
    KRDictionaryValueTransformer2 m_vt;
    KRObservationToken m_observation;
};
