#include "KRPropertyEditorItemEnumViewController.h"

#include "KRPropertyEditorViewController.h"

#include <model/KRObject.h>

#include <QComboBox>

QWidget *KRPropertyEditorItemEnumViewController::buildView()
{
    QWidget *view = makeRowView(KRRowRowHeight);
    m_popupButton = new QComboBox(view);
    m_popupButton->setGeometry(KRRowLabelWidth, 1, 134, 20);
    // Only the user's choice writes: programmatic index changes never reach the model.
    QObject::connect(m_popupButton, &QComboBox::activated, m_popupButton, [this](int index) { chooseIndex(index); });
    return view;
}

QWidget *KRPropertyEditorItemEnumViewController::editControl() const
{
    return m_popupButton;
}

KREnumOptions KRPropertyEditorItemEnumViewController::enumerationContent() const
{
    return enumOptions(m_propertyInfo.enumOptions);
}

std::optional<QString> KRPropertyEditorItemEnumViewController::nullPlaceholder() const
{
    for (const KREnumOption &option : enumerationContent())
        if (option.value.isEmpty())
            return option.description;
    return std::nullopt;
}

void KRPropertyEditorItemEnumViewController::reloadContent()
{
    const KREnumOptions options = enumerationContent();
    m_vt.setValues(options);
    const QSignalBlocker blocker(m_popupButton);
    m_popupButton->clear();
    for (const KREnumOption &option : options)
        m_popupButton->addItem(option.description, option.value);
    showValue();
}

void KRPropertyEditorItemEnumViewController::showValue()
{
    const QSignalBlocker blocker(m_popupButton);
    const QString stored = storedValue();
    int index = m_popupButton->findData(stored);
    // A stored value that is no option is shown as it is, never replaced.
    const int extra = m_popupButton->findData(QStringLiteral("\x01unlisted"));
    if (extra >= 0)
        m_popupButton->removeItem(extra);
    if (index < 0 && !stored.isEmpty()) {
        m_popupButton->addItem(stored, QStringLiteral("\x01unlisted"));
        index = m_popupButton->count() - 1;
    }
    m_popupButton->setCurrentIndex(index);
}

void KRPropertyEditorItemEnumViewController::chooseIndex(int index)
{
    if (index < 0 || index >= m_popupButton->count())
        return;
    const QString value = m_popupButton->itemData(index).toString();
    if (value == QLatin1String("\x01unlisted"))
        return;
    if (m_popupButton->currentIndex() != index) {
        const QSignalBlocker blocker(m_popupButton);
        m_popupButton->setCurrentIndex(index);
    }
    writeValue(value);
}

void KRPropertyEditorItemEnumViewController::setup()
{
    reloadContent();
    m_observation = observeValue([this](const QString &) { showValue(); });
}
