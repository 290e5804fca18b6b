#include "KRPropertyEditorItemMultilineStringViewController.h"

#include "KRPropertyEditorViewController.h"

#include <model/KRObject.h>

#include <QApplication>
#include <QPlainTextEdit>
#include <QScrollBar>

KRPropertyEditorItemMultilineStringViewController::~KRPropertyEditorItemMultilineStringViewController()
{
    QObject::disconnect(m_focusConnection);
}

QWidget *KRPropertyEditorItemMultilineStringViewController::buildView()
{
    QWidget *view = makeRowView(26);
    m_textView = new QPlainTextEdit(view);
    m_textView->setLineWrapMode(QPlainTextEdit::NoWrap);
    m_textView->setTabChangesFocus(true);
    m_textView->setGeometry(KRRowLabelWidth, 2, 134, 22);
    return view;
}

QWidget *KRPropertyEditorItemMultilineStringViewController::editControl() const
{
    return m_textView;
}

void KRPropertyEditorItemMultilineStringViewController::showText()
{
    if (m_textView->toPlainText() != storedValue())
        m_textView->setPlainText(storedValue());
}

void KRPropertyEditorItemMultilineStringViewController::setup()
{
    showText();
    m_observation = observeValue([this](const QString &) {
        if (!m_open)
            showText();
    });
    m_focusConnection = QObject::connect(qApp, &QApplication::focusChanged, m_textView, [this](QWidget *, QWidget *now) {
        const bool inside = now == m_textView;
        if (inside == m_open)
            return;
        m_open = inside;
        if (!inside) {
            writeValue(m_textView->toPlainText());
            m_textView->verticalScrollBar()->setValue(0);
            m_textView->horizontalScrollBar()->setValue(0);
        }
        setViewHeight(inside ? 125 : 26);
        m_textView->resize(m_textView->width(), inside ? 121 : 22);
        notifySizeChanged();
    });
}
