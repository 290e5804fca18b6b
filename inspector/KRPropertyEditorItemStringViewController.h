#pragma once

#include "KRPropertyEditorItemViewController.h"

class KRPropertyEditorItemStringViewController : public KRPropertyEditorItemTypedViewController
{
public:
    QString nibName() const override { return QStringLiteral("KRPropertyEditorItemString"); }
    QString kindName() const override { return QStringLiteral("String"); }
    QWidget *buildView() override;
    QLineEdit *textField() const { return m_textField; }
    // Null unless the property is a number.
    KRStepper *stepper() const { return m_stepper; }
    KRStepperValueTransformer &transformer() { return m_transformer; }

protected:
    void setup() override;
    QWidget *editControl() const override;

private:
    QLineEdit *m_textField = nullptr;
    KRStepper *m_stepper = nullptr;
    KRStepperValueTransformer m_transformer;
    std::unique_ptr<KRBinding> m_binding;
};
