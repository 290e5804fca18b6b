#include "KRMessageBoxAlertService.h"

#include <platform/appkit/KRPopover.h>

#include <QApplication>
#include <QCheckBox>
#include <QList>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>

namespace {

QMessageBox::Icon iconFor(KRAlert::Style style)
{
    switch (style) {
    case KRAlert::Style::Informational:
        return QMessageBox::Information;
    case KRAlert::Style::Critical:
        return QMessageBox::Critical;
    case KRAlert::Style::Warning:
        break;
    }
    return QMessageBox::Warning;
}

constexpr const char *cancelledProperty = "krQuestionCancelled";

// The boxes waiting for an answer, innermost last.
QList<QPointer<QMessageBox>> &openBoxes()
{
    static QList<QPointer<QMessageBox>> boxes;
    return boxes;
}

} // namespace

bool KRMessageBoxAlertService::hasOpenQuestions()
{
    openBoxes().removeAll(nullptr);
    return !openBoxes().isEmpty();
}

bool KRMessageBoxAlertService::cancelOpenQuestions()
{
    openBoxes().removeAll(nullptr);
    const QList<QPointer<QMessageBox>> boxes = openBoxes();
    for (const QPointer<QMessageBox> &box : boxes) {
        if (!box)
            continue;
        box->setProperty(cancelledProperty, true); // answered with the harmless choice
        box->done(QDialog::Rejected);
    }
    return !boxes.isEmpty();
}

int KRMessageBoxAlertService::runModal(const KRAlert &alert)
{
    QWidget *window = QApplication::activeWindow();
    // An alert asked from inside a pop-over belongs to the window the pop-over points into.
    while (qobject_cast<KRPopover *>(window))
        window = window->parentWidget() ? window->parentWidget()->window() : nullptr;
    // Open pop-overs stay open under the box and are not deleted before it has answered.
    const KRPopover::ModalHold popovers;
    // A parent makes the box window-modal on it; without one it blocks the application.
    QPointer<QMessageBox> box = new QMessageBox(window);
    box->setWindowModality(window && !popovers.holdsAny() ? Qt::WindowModal : Qt::ApplicationModal);
    box->setIcon(iconFor(alert.style));
    box->setWindowTitle(QApplication::applicationDisplayName());
    box->setText(alert.messageText);
    box->setInformativeText(alert.informativeText);

    const QStringList titles = alert.effectiveButtonTitles();
    const int harmless = alert.harmlessButtonIndex();
    QList<QPushButton *> buttons;
    for (const QString &title : titles) {
        const bool cancel = buttons.size() == harmless;
        buttons.append(box->addButton(title, cancel ? QMessageBox::RejectRole : QMessageBox::AcceptRole));
    }
    // Return never answers with a destructive first button.
    box->setDefaultButton(alert.destructive ? buttons.at(harmless) : buttons.first());
    box->setEscapeButton(buttons.at(harmless));

    QCheckBox *suppression = nullptr;
    if (!alert.suppressionButtonTitle.isEmpty()) {
        suppression = new QCheckBox(alert.suppressionButtonTitle);
        suppression->setChecked(*alert.suppressionButtonChecked);
        box->setCheckBox(suppression); // the box owns it
    }

    openBoxes().append(box);
    box->exec();
    openBoxes().removeAll(box);
    openBoxes().removeAll(nullptr);

    // A question that ended without a click (its window went, the application quit, the
    // question was cancelled) takes the harmless choice.
    int index = harmless;
    if (box) {
        const int clicked = int(buttons.indexOf(qobject_cast<QPushButton *>(box->clickedButton())));
        if (clicked >= 0 && !box->property(cancelledProperty).toBool())
            index = clicked;
        if (suppression)
            *alert.suppressionButtonChecked = suppression->isChecked();
        delete box.data();
    }
    return FirstButtonReturn + index;
}
