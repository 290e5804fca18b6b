#include "KRCrashReporterWindowController.h"

#include <core/KRDataExtensions.h>
#include <core/KRRunLogger.h>
#include <core/QZZipArchive.h>
#include <network/KRJSONRPC.h>
#include <platform/appkit/KRInterfaceRegistry.h>
#include <platform/crash/KRCrashReport.h>
#include <platform/crash/KRCrashReporter.h>
#include <platform/foundation/KRPaths.h>
#include <platform/foundation/KRUserDefaults.h>

#include <QCoreApplication>
#include <QDateTime>
#include <QDialog>
#include <QFile>
#include <QFileInfo>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTemporaryFile>
#include <QThreadPool>
#include <QTimer>
#include <QVBoxLayout>

namespace {

QWidget *buildCrashReporterWindow(QObject *owner)
{
    auto *controller = qobject_cast<KRCrashReporterWindowController *>(owner);
    auto *dialog = new QDialog;
    dialog->setObjectName(QStringLiteral("KRCrashReporterWindow"));
    dialog->setWindowTitle(QStringLiteral("Korvane Crash Report"));
    dialog->setWindowModality(Qt::ApplicationModal);
    dialog->resize(520, 420);
    auto *layout = new QVBoxLayout(dialog);
    controller->label1 = new QLabel(QStringLiteral("Korvane quit unexpectedly the last time it ran."));
    QFont bold = controller->label1->font();
    bold.setBold(true);
    controller->label1->setFont(bold);
    controller->label2 = new QLabel(QStringLiteral(
        "A report of the problem was saved. Please help us fix it by sending the report. If you remember, "
        "describe what you were doing when it happened:"));
    for (QLabel *label : {controller->label1, controller->label2}) {
        label->setWordWrap(true);
        layout->addWidget(label);
    }
    controller->userDescription = new QPlainTextEdit;
    controller->userDescription->setObjectName(QStringLiteral("userDescription"));
    layout->addWidget(controller->userDescription, 1);
    auto *form = new QFormLayout;
    controller->contactEmail = new QLineEdit;
    controller->contactEmail->setObjectName(QStringLiteral("contactEmail"));
    controller->contactEmail->setPlaceholderText(QStringLiteral("optional"));
    form->addRow(QStringLiteral("Contact email:"), controller->contactEmail);
    layout->addLayout(form);
    auto *buttons = new QHBoxLayout;
    controller->spinner = new QProgressBar;
    controller->spinner->setRange(0, 0);
    controller->spinner->setMaximumWidth(80);
    controller->spinner->setVisible(false);
    controller->sendingLabel = new QLabel(QStringLiteral("Sending report…"));
    controller->sendingLabel->setObjectName(QStringLiteral("sendingLabel"));
    controller->sendingLabel->setVisible(false);
    controller->sendingLabel->setWordWrap(true);
    controller->cancelButton = new QPushButton(QStringLiteral("Cancel"));
    controller->laterButton = new QPushButton(QStringLiteral("Send Later"));
    controller->laterButton->setVisible(false);
    controller->sendButton = new QPushButton(QStringLiteral("Send"));
    controller->sendButton->setDefault(true);
    buttons->addWidget(controller->spinner);
    buttons->addWidget(controller->sendingLabel, 1);
    buttons->addStretch();
    buttons->addWidget(controller->cancelButton);
    buttons->addWidget(controller->laterButton);
    buttons->addWidget(controller->sendButton);
    layout->addLayout(buttons);
    QObject::connect(controller->sendButton, &QPushButton::clicked, controller, &KRCrashReporterWindowController::sendReportAction);
    QObject::connect(controller->cancelButton, &QPushButton::clicked, controller, &KRCrashReporterWindowController::closeWindowAction);
    QObject::connect(controller->laterButton, &QPushButton::clicked, controller, &KRCrashReporterWindowController::sendLaterAction);
    // Closing with the title bar or Escape is Cancel, or Send Later once a crash report could
    // not be sent: only Discard throws that away.
    QObject::connect(dialog, &QDialog::rejected, controller, [controller] {
        if (!controller->laterButton->isHidden()) // the dialog itself is hidden by now
            controller->sendLaterAction();
        else
            controller->closeWindowAction();
    });
    return dialog;
}

} // namespace

void KRCrashReporterWindowController::registerInterface()
{
    if (!KRInterfaceRegistry::hasInterface(QStringLiteral("KRCrashReporterWindow")))
        KRInterfaceRegistry::registerInterface(QStringLiteral("KRCrashReporterWindow"), buildCrashReporterWindow);
}

KRCrashReporterWindowController::KRCrashReporterWindowController()
    : KRCrashReporterWindowController(KRCrashReporter::sharedReporter())
{
}

KRCrashReporterWindowController::KRCrashReporterWindowController(KRCrashReporter &reporter, QObject *parent)
    : KRWindowControllerBase(parent)
    , m_reporter(reporter)
    , m_currentLog(KRRunLogger::sharedInstance().logURL())
    , m_previousLog(KRRunLogger::sharedInstance().oldLogURL())
{
    registerInterface();
    setWindow(KRInterfaceRegistry::instantiate(QStringLiteral("KRCrashReporterWindow"), this));
}

KRCrashReporterWindowController::~KRCrashReporterWindowController() = default;

QDialog *KRCrashReporterWindowController::dialog() const
{
    return qobject_cast<QDialog *>(window());
}

void KRCrashReporterWindowController::setRunLogFiles(const QString &current, const QString &previous)
{
    m_currentLog = current;
    m_previousLog = previous;
}

QString KRCrashReporterWindowController::pendingReportStamp(const KRCrashReporter &reporter)
{
    const QFileInfo file(reporter.pendingReportPath());
    if (!file.isFile())
        return {};
    return QStringLiteral("%1/%2").arg(file.lastModified().toMSecsSinceEpoch()).arg(file.size());
}

bool KRCrashReporterWindowController::shouldOfferAtStart(const KRCrashReporter &reporter)
{
    if (!reporter.hasPendingCrashReport())
        return false;
    // A report the user kept for later is sent with the next problem report, not asked about
    // at every start; a newer crash is offered again.
    return KRUserDefaults::sharedInstance().stringValue(keptReportKey) != pendingReportStamp(reporter);
}

void KRCrashReporterWindowController::enableProblemReportMode()
{
    window()->setWindowTitle(QStringLiteral("Send Report"));
    label1->setText(QStringLiteral("If you've experienced a problem using Korvane, or have a suggestion, please help us "
                                   "improve the app by submitting a report."));
    label2->setText(QStringLiteral("Please describe the issue you've experienced, in as much detail as you can.  If "
                                   "possible, please also describe what you were doing immediately prior to "
                                   "experiencing the issue:"));
    m_problemReportMode = true;
    // A crash report kept for later goes with the problem report.
    m_sendsKeptCrashReport = m_reporter.hasPendingCrashReport()
                             && KRUserDefaults::sharedInstance().stringValue(keptReportKey) == pendingReportStamp(m_reporter);
    if (m_sendsKeptCrashReport)
        label2->setText(label2->text() + QStringLiteral("\n\nThe report of the last crash, not sent yet, is sent with it."));
}

int KRCrashReporterWindowController::runModal()
{
    return dialog()->exec();
}

QByteArray KRCrashReporterWindowController::buildCrashReport(const QString &description, const QString &email) const
{
    return buildArchive(m_reporter, m_problemReportMode, description, email, m_currentLog, m_previousLog,
                        m_sendsKeptCrashReport);
}

QByteArray KRCrashReporterWindowController::buildArchive(const KRCrashReporter &reporter, bool problemReportMode,
                                                          const QString &description, const QString &email,
                                                          const QString &currentLog, const QString &previousLog,
                                                          bool withCrashReport)
{
    // A private file of its own: the archive carries the run logs. Without the private folder
    // there is no archive (not a file at the root of the file system).
    const QString folder = KRPaths::temporaryDirectory();
    if (folder.isEmpty())
        return {};
    QTemporaryFile file(folder + QStringLiteral("/kr-crash-report-XXXXXX.zip"));
    if (!file.open())
        return {};
    const QString path = file.fileName();
    QZZipArchive archive(path);
    if (!archive.open())
        return {};
    if (!problemReportMode || withCrashReport) {
        QString text = QStringLiteral("Error loading crash report");
        if (const std::optional<QByteArray> data = reporter.loadPendingCrashReportData()) {
            if (const std::optional<KRCrashReport> report = KRCrashReport::fromData(*data))
                text = report->textValue(0);
        }
        archive.writeData(text.toUtf8(), QStringLiteral("crash-report.txt"));
    }
    const QString information = QStringLiteral("Mode: %1\nUser description: %2\nContact email: %3\n")
                                    .arg(problemReportMode ? QStringLiteral("Problem Report") : QStringLiteral("Crash Report"),
                                         description, email);
    archive.writeData(information.toUtf8(), QStringLiteral("user-information.txt"));
    for (const QString &log : {currentLog, previousLog}) {
        if (!log.isEmpty() && QFileInfo(log).isFile())
            archive.writeFile(log);
    }
    archive.close();
    QFile written(path);
    if (!written.open(QIODevice::ReadOnly))
        return {};
    return written.readAll(); // the temporary file goes with `file`
}

void KRCrashReporterWindowController::sendReportAction()
{
    const QString description = userDescription->toPlainText();
    if (m_problemReportMode && description.isEmpty())
        return;
    sendingLabel->setText(QStringLiteral("Sending report…"));
    sendingLabel->setVisible(true);
    spinner->setVisible(true);
    sendButton->setEnabled(false);
    const QString email = contactEmail->text();
    // The texts are read here on the main thread; only the archive is built in the background,
    // and the call is made back on the main thread, where its reply arrives.
    QPointer<KRCrashReporterWindowController> self(this);
    // The context object of the hop back is the application: the controller may be gone by then.
    QThreadPool::globalInstance()->start([self, description, email, problemMode = m_problemReportMode,
                                          withCrash = m_sendsKeptCrashReport, reporter = &m_reporter,
                                          current = m_currentLog, previous = m_previousLog] {
        const QByteArray archive = buildArchive(*reporter, problemMode, description, email, current, previous, withCrash);
        QMetaObject::invokeMethod(QCoreApplication::instance(), [self, archive, problemMode] {
            if (!self)
                return;
            if (archive.isEmpty()) {
                // Nothing to send is a failure, never "Thanks!" (which would purge the report).
                self->sendingFinished(false);
                return;
            }
            QJsonObject arguments = KRJSONRPC::credentialedArgumentsDictionary();
            arguments.insert(QStringLiteral("crashReportBase64"), KRData::base64StringValue(archive));
            if (problemMode)
                arguments.insert(QStringLiteral("problemReportMode"), QStringLiteral("true"));
            KRJSONRPC::create()->callMethod(QStringLiteral("crashReport"), arguments,
                                            [self](const QJsonDocument &, const KRError &error) {
                                                if (self)
                                                    self->sendingFinished(error.isNull(), error);
                                            });
        }, Qt::QueuedConnection);
    });
}

void KRCrashReporterWindowController::sendingFinished(bool sent, const KRError &error)
{
    spinner->setVisible(false);
    if (sent) {
        KR_LOG(m_problemReportMode ? QStringLiteral("Problem report sent") : QStringLiteral("Crash report sent"));
        sendingLabel->setText(QStringLiteral("Thanks!"));
        if (m_problemReportMode && m_sendsKeptCrashReport)
            m_reporter.purgePendingCrashReport(); // it went with the problem report
        QTimer::singleShot(1000, this, &KRCrashReporterWindowController::closeWindowAction);
        return;
    }
    KR_LOG(QStringLiteral("The report could not be sent"));
    // Without a service address there is no one to send to: the connection is not at fault.
    const bool noService = error.domain() == QLatin1String("KRJSONRPCErrorDomain") && error.code() == KRJSONRPC::NoServiceAddressError;
    const QString reason = noService ? QStringLiteral("The report could not be sent: no service address is set. Enter the "
                                                      "hosting service's address under Service address in Preferences ▸ Hosting.")
                                     : QStringLiteral("The report could not be sent. Please check your connection and try again.");
    if (m_problemReportMode) {
        // The description stays in the window for another try.
        sendingLabel->setText(reason);
        sendButton->setEnabled(true);
        return;
    }
    // The crash report is kept until the user sends or discards it: Send tries again, Discard
    // purges it, Send Later keeps it for the next problem report without asking at every start.
    sendingLabel->setText(reason);
    sendButton->setEnabled(true);
    cancelButton->setText(QStringLiteral("Discard"));
    laterButton->setVisible(true);
}

void KRCrashReporterWindowController::sendLaterAction()
{
    KRUserDefaults::sharedInstance().setValue(keptReportKey, pendingReportStamp(m_reporter));
    closeWindow(false);
}

void KRCrashReporterWindowController::closeWindowAction()
{
    // A problem report has nothing to do with the pending crash report, which stays for the
    // next start when it could not be sent.
    closeWindow(!m_problemReportMode);
}

void KRCrashReporterWindowController::closeWindow(bool purge)
{
    if (m_isClosed)
        return;
    m_isClosed = true;
    if (purge)
        m_reporter.purgePendingCrashReport();
    if (QDialog *window = dialog()) {
        QObject::disconnect(window, &QDialog::rejected, this, nullptr);
        window->done(QDialog::Accepted);
        window->close();
    }
}
