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

} // namespace

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
    QList<QPushButton *> buttons;
    QPushButton *escape = nullptr;
    for (const QString &title : titles) {
        const bool cancel = title == QLatin1String("Cancel");
        QPushButton *button =
            box->addButton(title, cancel ? QMessageBox::RejectRole : QMessageBox::AcceptRole);
        if (cancel && !escape)
            escape = button;
        buttons.append(button);
    }
    if (!escape && buttons.size() == 1)
        escape = buttons.first();
    box->setDefaultButton(buttons.first());
    box->setEscapeButton(escape);

    QCheckBox *suppression = nullptr;
    if (!alert.suppressionButtonTitle.isEmpty()) {
        suppression = new QCheckBox(alert.suppressionButtonTitle);
        suppression->setChecked(*alert.suppressionButtonChecked);
        box->setCheckBox(suppression); // the box owns it
    }

    box->exec();

    // The box is gone only if something destroyed its parent window during the loop.
    int index = 0;
    if (box) {
        const int clicked = buttons.indexOf(qobject_cast<QPushButton *>(box->clickedButton()));
        index = clicked >= 0 ? clicked : static_cast<int>(buttons.indexOf(escape));
        if (index < 0)
            index = 0;
        if (suppression)
            *alert.suppressionButtonChecked = suppression->isChecked();
        delete box.data();
    }
    return FirstButtonReturn + index;
}
