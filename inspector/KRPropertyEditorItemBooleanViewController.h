#pragma once

#include "KRPropertyEditorItemViewController.h"

class KRPropertyEditorItemBooleanViewController : public KRPropertyEditorItemTypedViewController
{
public:
    QString nibName() const override { return QStringLiteral("KRPropertyEditorItemBoolean"); }
    QString kindName() const override { return QStringLiteral("Boolean"); }
    QWidget *buildView() override;
    QCheckBox *checkbox() const { return m_checkbox; }

protected:
    void setup() override;
    QWidget *editControl() const override;

private:
    QCheckBox *m_checkbox = nullptr;
    std::unique_ptr<KRBinding> m_binding;
};
