#pragma once

#include "KRPropertyEditorItemEnumViewController.h"

class KRPropertyEditorItemEnumComboViewController : public KRPropertyEditorItemEnumViewController
{
public:
    QString nibName() const override { return QStringLiteral("KRPropertyEditorItemEnumCombo"); }
    QString kindName() const override { return QStringLiteral("EnumCombo"); }
    QWidget *buildView() override;
    void chooseIndex(int index) override;
    // Stores typed text as the user's edit does.
    void commitText(const QString &text);

protected:
    void showValue() override;
};
