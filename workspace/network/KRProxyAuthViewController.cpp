#include "KRProxyAuthViewController.h"

#include "KRNetworkInterfaces.h"

#include <core/KRRunLogger.h>
#include <network/KRJSONRPC.h>
#include <platform/appkit/KRMessageBoxAlertService.h>
#include <platform/appkit/KRPopover.h>
#include <platform/foundation/KRAlertService.h>

#include <QApplication>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QMessageBox>
#include <QPushButton>

namespace {

// The message box of the application's alert service with the fields under the text.
int proxyAuthRunWithFields(const KRAlert &alert, QWidget *fields)
{
    QWidget *window = QApplication::activeWindow();
    while (qobject_cast<KRPopover *>(window))
        window = window->parentWidget() ? window->parentWidget()->window() : nullptr;
    // The news pop-over may be open while it asks: it stays, and stays alive, until answered.
    const KRPopover::ModalHold popovers;
    QMessageBox box(window);
    box.setWindowModality(window && !popovers.holdsAny() ? Qt::WindowModal : Qt::ApplicationModal);
    box.setIcon(QMessageBox::Information);
    box.setWindowTitle(QApplication::applicationDisplayName());
    box.setText(alert.messageText);
    box.setInformativeText(alert.informativeText);
    QPushButton *login = box.addButton(alert.buttonTitles.value(0), QMessageBox::AcceptRole);
    QPushButton *cancel = box.addButton(alert.buttonTitles.value(1), QMessageBox::RejectRole);
    box.setDefaultButton(login);
    box.setEscapeButton(cancel);
    if (auto *grid = qobject_cast<QGridLayout *>(box.layout())) {
        QDialogButtonBox *buttons = box.findChild<QDialogButtonBox *>();
        const int row = grid->rowCount();
        if (buttons)
            grid->removeWidget(buttons);
        grid->addWidget(fields, row, 1, 1, grid->columnCount() - 1);
        if (buttons)
            grid->addWidget(buttons, row + 1, 0, 1, grid->columnCount());
    }
    box.exec();
    fields->setParent(nullptr);
    return box.clickedButton() == login ? KRAlertService::FirstButtonReturn : KRAlertService::SecondButtonReturn;
}

} // namespace

KRProxyAuthViewController::KRProxyAuthViewController()
{
    KRNetworkInterfaces::registerInterfaces();
}

KRProxyAuthViewController::~KRProxyAuthViewController() = default;

bool KRProxyAuthViewController::askForCredentials(const QString &proxy, QString *user, QString *password)
{
    KR_LOG(QStringLiteral("using"));
    std::unique_ptr<KRProxyAuthViewController> controller = create<KRProxyAuthViewController>();
    KRAlert alert;
    alert.style = KRAlert::Style::Informational;
    alert.messageText = QStringLiteral("HTTP Proxy Authentication");
    alert.informativeText = QStringLiteral("In order to continue, you must log in to the HTTP proxy \"%1\": ").arg(proxy);
    alert.buttonTitles = {QStringLiteral("Login"), QStringLiteral("Cancel")};

    // Another service (a headless one) shows the alert without the fields.
    KRAlertService &service = KRAlertService::current();
    const int answer = dynamic_cast<KRMessageBoxAlertService *>(&service)
                           ? proxyAuthRunWithFields(alert, controller->view())
                           : service.runModal(alert);
    if (answer != KRAlertService::FirstButtonReturn)
        return false;
    *user = controller->username()->text();
    *password = controller->password()->text();
    KR_LOG(QStringLiteral("ret"));
    return true;
}

void KRProxyAuthViewController::installAsProxyCredentialPrompt()
{
    KRJSONRPC::setProxyCredentialPrompt(&KRProxyAuthViewController::askForCredentials);
}
