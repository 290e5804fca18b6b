#pragma once

#include "KRPropertyEditorItemViewController.h"

class KRPropertyEditorItemContentViewController : public KRPropertyEditorItemTypedViewController
{
public:
    QString nibName() const override { return QStringLiteral("KRPropertyEditorItemContent"); }
    QString kindName() const override { return QStringLiteral("Content"); }
    QWidget *buildView() override;
    void editButtonAction();
    QLineEdit *textField() const { return m_textField; }
    QToolButton *editButton() const { return m_editButton; }

protected:
    void setup() override;
    bool beginEditing() override;

private:
    void showValue();
    QLineEdit *m_textField = nullptr;
    QToolButton *m_editButton = nullptr;
    KRContentDescValueTransformer m_vt;
    bool m_textFieldBound = false;
    KRObservationToken m_observation;
};
