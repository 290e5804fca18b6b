#include "KRPropertyEditorItemEventViewController.h"

#include "KRPropertyEditorViewController.h"

#include <model/KRFunction.h>
#include <model/KRObject.h>
#include <model/KRPage.h>
#include <platform/foundation/KRNotificationCenter.h>

#include <QComboBox>
#include <QToolButton>

QWidget *KRPropertyEditorItemEventViewController::buildView()
{
    QWidget *view = makeRowView(KRRowRowHeight);
    m_popupButton = new QComboBox(view);
    m_popupButton->setGeometry(KRRowLabelWidth, 1, 112, 20);
    m_button = new QToolButton(view);
    m_button->setText(QStringLiteral("→"));
    m_button->setToolTip(QObject::tr("Open or create the event handler"));
    m_button->setGeometry(KRRowLabelWidth + 116, 1, 22, 20);
    QObject::connect(m_popupButton, &QComboBox::activated, m_popupButton, [this](int index) { chooseIndex(index); });
    QObject::connect(m_button, &QToolButton::clicked, m_button, [this] { buttonAction(); });
    return view;
}

QWidget *KRPropertyEditorItemEventViewController::editControl() const
{
    return m_popupButton;
}

void KRPropertyEditorItemEventViewController::setup()
{
    rebuildMenu();
    m_observation = observeValue([this](const QString &) {
        if (!m_echoGuard)
            selectCurrent();
    });
    const auto target = targetObject();
    const auto page = target ? target->page() : nullptr;
    if (!page)
        return;
    auto &centre = KRNotificationCenter::defaultCenter();
    for (const QString &name : {KRPageDidDeleteObjectNotification, KRPageFunctionDidChangeIDNotification})
        m_pageObservations.push_back(
            centre.addObserver(name, page->identity(), [this](const KRNotification &) { rebuildMenu(); }));
    m_pageObservations.push_back(page->observable().observe(
        QStringLiteral("allObjects"),
        [this](const void *, const QString &, const QVariant &, const QVariant &) { rebuildMenu(); }));
}

void KRPropertyEditorItemEventViewController::rebuildMenu()
{
    const QSignalBlocker blocker(m_popupButton);
    m_popupButton->clear();
    m_popupButton->addItem(QObject::tr("No Event Handler"), QString(QLatin1String("")));
    m_popupButton->insertSeparator(1);
    const auto target = targetObject();
    const auto page = target ? std::dynamic_pointer_cast<KRPage>(target->page()) : nullptr;
    if (page) {
        for (const auto &object : page->allObjects()) {
            const auto function = std::dynamic_pointer_cast<KRFunction>(object);
            if (!function)
                continue;
            const bool server = function->value(QStringLiteral("kr_serverFunction")) == QLatin1String("Yes");
            if (server == m_propertyInfo.serverFunction)
                m_popupButton->addItem(function->kr_id(), function->kr_id());
        }
    }
    selectCurrent();
}

void KRPropertyEditorItemEventViewController::selectCurrent()
{
    const QString stored = storedValue();
    const QSignalBlocker blocker(m_popupButton);
    const int foreign = m_popupButton->findData(QStringLiteral("\x01foreign"));
    if (foreign >= 0)
        m_popupButton->removeItem(foreign);
    if (stored.isEmpty()) {
        m_popupButton->setCurrentIndex(0);
        return;
    }
    if (const int index = m_popupButton->findData(stored); index >= 0) {
        m_popupButton->setCurrentIndex(index);
        return;
    }
    const auto target = targetObject();
    const auto page = target ? target->page() : nullptr;
    if (page && std::dynamic_pointer_cast<KRFunction>(page->objectForID(stored))) {
        // A function of the other kind (server or client): shown as it is, never rewritten.
        m_popupButton->addItem(stored, QStringLiteral("\x01foreign"));
        m_popupButton->setCurrentIndex(m_popupButton->count() - 1);
        return;
    }
    // The id names no function: the entry "Invalid function" stays for the row's life, and
    // the dangling id is cleared.
    if (!m_invalidEntry) {
        m_popupButton->insertItem(1, QObject::tr("Invalid function"), QStringLiteral("\x01invalid"));
        m_invalidEntry = true;
    }
    m_popupButton->setCurrentIndex(m_popupButton->findData(QStringLiteral("\x01invalid")));
    m_echoGuard = true;
    writeValue(QString(QLatin1String("")));
    m_echoGuard = false;
}

void KRPropertyEditorItemEventViewController::chooseIndex(int index)
{
    if (index < 0 || index >= m_popupButton->count())
        return;
    QString value = m_popupButton->itemData(index).toString();
    if (value == QLatin1String("\x01foreign"))
        return;
    if (value == QLatin1String("\x01invalid"))
        value = QString(QLatin1String(""));
    m_echoGuard = true;
    writeValue(value);
    m_echoGuard = false;
    if (value.isEmpty() && index != 0) {
        const QSignalBlocker blocker(m_popupButton);
        m_popupButton->setCurrentIndex(index);
        return;
    }
    selectCurrent();
}

bool KRPropertyEditorItemEventViewController::beginEditing()
{
    buttonAction();
    return true;
}

void KRPropertyEditorItemEventViewController::buttonAction()
{
    const auto target = targetObject();
    if (!target)
        return;
    const QString handler = storedValue();
    std::shared_ptr<KRFunction> function;
    if (handler.isEmpty()) {
        function = target->createEventHandlerForProperty(m_propertyName);
        rebuildMenu();
    } else if (const auto page = target->page()) {
        function = std::dynamic_pointer_cast<KRFunction>(page->objectForID(handler));
    }
    if (function && delegate())
        delegate()->editFunction(function);
}
