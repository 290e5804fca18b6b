#include "KRPropertyEditorItemContentViewController.h"

#include "KRPropertyEditorViewController.h"

#include <controls/jqm/JQMBaseToolbar.h>
#include <controls/jqm/JQMListView.h>
#include <model/KRFunction.h>
#include <model/KRObject.h>

#include <QLineEdit>
#include <QToolButton>

QWidget *KRPropertyEditorItemContentViewController::buildView()
{
    QWidget *view = makeRowView(KRRowRowHeight);
    m_textField = new QLineEdit(view);
    m_textField->setReadOnly(true);
    m_textField->setFocusPolicy(Qt::NoFocus);
    m_textField->setGeometry(KRRowLabelWidth, 1, 100, 20);
    m_editButton = new QToolButton(view);
    m_editButton->setText(QObject::tr("Edit…"));
    m_editButton->setGeometry(KRRowLabelWidth + 104, 1, 48, 20);
    QObject::connect(m_editButton, &QToolButton::clicked, m_editButton, [this] { editButtonAction(); });
    return view;
}

void KRPropertyEditorItemContentViewController::setup()
{
    const auto target = targetObject();
    if (krRowIsKindOf(target, "JQMListView") || krRowIsKindOf(target, "JQMBaseToolbar")) {
        m_textField->setText(QStringLiteral("(items)"));
        return;
    }
    m_textFieldBound = true;
    m_vt.functionMode = krRowIsKindOf(target, "KRFunction");
    showValue();
    m_observation = observeValue([this](const QString &) { showValue(); });
}

void KRPropertyEditorItemContentViewController::showValue()
{
    const auto target = targetObject();
    m_textField->setText(m_vt.transformedValue(target ? QVariant(storedValue()) : QVariant()));
}

bool KRPropertyEditorItemContentViewController::beginEditing()
{
    editButtonAction();
    return true;
}

void KRPropertyEditorItemContentViewController::editButtonAction()
{
    const auto target = targetObject();
    KRPropertyEditorViewController *inspector = delegate();
    if (!target || !inspector)
        return;
    if (krRowIsKindOf(target, "JQMListView"))
        inspector->editListViewItems(target);
    else if (krRowIsKindOf(target, "JQMBaseToolbar"))
        inspector->editNavbarItems(target, key());
    else if (const auto function = std::dynamic_pointer_cast<KRFunction>(target))
        inspector->editFunction(function);
    else
        inspector->editHTML(key());
}
