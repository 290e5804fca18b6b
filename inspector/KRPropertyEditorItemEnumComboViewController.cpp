#include "KRPropertyEditorItemEnumComboViewController.h"

#include "KRPropertyEditorViewController.h"

#include <model/KRObject.h>

#include <QComboBox>
#include <QLineEdit>

QWidget *KRPropertyEditorItemEnumComboViewController::buildView()
{
    QWidget *view = KRPropertyEditorItemEnumViewController::buildView();
    m_popupButton->setEditable(true);
    m_popupButton->setInsertPolicy(QComboBox::NoInsert);
    QObject::connect(m_popupButton->lineEdit(), &QLineEdit::editingFinished, m_popupButton,
                     [this] { commitText(m_popupButton->currentText()); });
    routeStoredEditUndo(m_popupButton, m_popupButton->lineEdit());
    return view;
}

void KRPropertyEditorItemEnumComboViewController::showValue()
{
    const QSignalBlocker blocker(m_popupButton);
    m_popupButton->setEditText(m_vt.transformedValue(storedValue()));
}

void KRPropertyEditorItemEnumComboViewController::chooseIndex(int index)
{
    if (index < 0 || index >= m_popupButton->count())
        return;
    writeValue(m_popupButton->itemData(index).toString());
    showValue();
}

void KRPropertyEditorItemEnumComboViewController::commitText(const QString &text)
{
    writeValue(m_vt.reverseTransformedValue(text));
}
