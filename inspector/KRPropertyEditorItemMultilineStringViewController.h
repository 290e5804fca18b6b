#pragma once

#include "KRPropertyEditorItemViewController.h"

// Free text over several lines, unwrapped. The row grows while the text has the focus, and
// the text is stored when the focus leaves it.
class KRPropertyEditorItemMultilineStringViewController : public KRPropertyEditorItemTypedViewController
{
public:
    ~KRPropertyEditorItemMultilineStringViewController() override;
    QString nibName() const override { return QStringLiteral("KRPropertyEditorItemMultilineString"); }
    QString kindName() const override { return QStringLiteral("MultilineString"); }
    QWidget *buildView() override;
    QPlainTextEdit *textView() const { return m_textView; }

protected:
    void setup() override;
    QWidget *editControl() const override;

private:
    void showText();
    QPlainTextEdit *m_textView = nullptr;
    bool m_open = false;
    QMetaObject::Connection m_focusConnection;
    KRObservationToken m_observation;
};
