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
    // The menu lists the page's functions: another object's deletion leaves it as it is (rebuilt
    // for each of many objects deleted, it made deleting them grow with their square).
    m_pageObservations.push_back(centre.addObserver(KRPageDidDeleteObjectNotification, page->identity(),
                                                    [this](const KRNotification &notification) {
                                                        if (KRFunction::deletedBy(notification))
                                                            rebuildMenu();
                                                    }));
    m_pageObservations.push_back(centre.addObserver(KRPageFunctionDidChangeIDNotification, page->identity(),
                                                    [this](const KRNotification &) { rebuildMenu(); }));
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
    // Showing the value never writes it: a handler that names no function of the page (yet: a
    // renamed function's links follow it a moment later) is shown as invalid and kept.
    const QString stored = storedValue();
    const QSignalBlocker blocker(m_popupButton);
    for (const QString &marker : {QStringLiteral("\x01foreign"), QStringLiteral("\x01invalid")})
        if (const int index = m_popupButton->findData(marker); index >= 0)
            m_popupButton->removeItem(index);
    if (stored.isEmpty()) {
        m_popupButton->setCurrentIndex(0);
        return;
    }
    if (const int index = m_popupButton->findData(stored); index >= 0) {
        m_popupButton->setCurrentIndex(index);
        return;
    }
    if (namesFunction(stored)) {
        // A function of the other kind (server or client): shown as it is, never rewritten.
        m_popupButton->addItem(stored, QStringLiteral("\x01foreign"));
        m_popupButton->setCurrentIndex(m_popupButton->count() - 1);
        return;
    }
    m_popupButton->insertItem(1, QObject::tr("Invalid function"), QStringLiteral("\x01invalid"));
    m_popupButton->setCurrentIndex(1);
}

bool KRPropertyEditorItemEventViewController::namesFunction(const QString &id) const
{
    const auto target = targetObject();
    const auto page = target ? target->page() : nullptr;
    return page && std::dynamic_pointer_cast<KRFunction>(page->objectForID(id));
}

void KRPropertyEditorItemEventViewController::chooseIndex(int index)
{
    if (index < 0 || index >= m_popupButton->count())
        return;
    const QString value = m_popupButton->itemData(index).toString();
    // The entries of a foreign or invalid handler show the stored value: choosing one keeps it.
    if (value == QLatin1String("\x01foreign") || value == QLatin1String("\x01invalid"))
        return;
    m_echoGuard = true;
    writeValue(value);
    m_echoGuard = false;
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
    // A handler that names no function is as good as none: the arrow makes one.
    if (handler.isEmpty() || !namesFunction(handler)) {
        function = target->createEventHandlerForProperty(m_propertyName);
        rebuildMenu();
    } else if (const auto page = target->page()) {
        function = std::dynamic_pointer_cast<KRFunction>(page->objectForID(handler));
    }
    if (function && delegate())
        delegate()->editFunction(function);
}
