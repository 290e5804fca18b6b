#pragma once

#include <ui/KRWindowControllerBase.h>
#include <platform/foundation/KRError.h>

#include <QByteArray>
#include <QPointer>
#include <QString>

class KRCrashReporter;
class QDialog;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;

// The report window ("KRCrashReporterWindow"), application-modal. In crash mode it offers the
// pending crash report of the last run; in problem-report mode the user describes a problem
// or a suggestion. Send packs the report, the description and both run logs into a zip
// archive and sends it Base64-encoded through the hosting method "crashReport".
//
// When the report cannot be sent the window says why and stays open for another try. A crash
// report is kept until the user sends or discards it: Discard (Cancel) purges it, Send Later
// keeps it without offering it at the next starts; the next problem report then carries it and
// purges it once sent. In crash mode Cancel (and a sent report) purges the pending crash
// report; a problem report without a kept crash report leaves it.
class KRCrashReporterWindowController : public KRWindowControllerBase
{
    Q_OBJECT

public:
    explicit KRCrashReporterWindowController(KRCrashReporter &reporter, QObject *parent = nullptr);
    KRCrashReporterWindowController();
    ~KRCrashReporterWindowController() override;

    QDialog *dialog() const;
    void enableProblemReportMode();
    bool problemReportMode() const { return m_problemReportMode; }
    bool isClosed() const { return m_isClosed; }

    // Runs the window modally until closeWindowAction.
    int runModal();

    void sendReportAction();
    void closeWindowAction();
    // After a failed send in crash mode: closes, keeping the report for the next problem report.
    void sendLaterAction();

    // Whether start-up offers the pending crash report: there is one, and the user has not
    // kept this one for later.
    static bool shouldOfferAtStart(const KRCrashReporter &reporter);
    bool sendsKeptCrashReport() const { return m_sendsKeptCrashReport; }

    // The archive's bytes: "crash-report.txt" (crash mode), "user-information.txt", then the
    // run log's current and previous files when they exist. Empty when no archive could be
    // written.
    QByteArray buildCrashReport(const QString &description, const QString &email) const;
    static QByteArray buildArchive(const KRCrashReporter &reporter, bool problemReportMode, const QString &description,
                                   const QString &email, const QString &currentLog, const QString &previousLog,
                                   bool withCrashReport = false);
    // The run-log files to include (the shared logger's; tests point them elsewhere).
    void setRunLogFiles(const QString &current, const QString &previous);

    // Outlets.
    QLabel *label1 = nullptr;
    QLabel *label2 = nullptr;
    QPlainTextEdit *userDescription = nullptr;
    QLineEdit *contactEmail = nullptr;
    QPushButton *sendButton = nullptr;
    QPushButton *cancelButton = nullptr;
    QPushButton *laterButton = nullptr;
    QLabel *sendingLabel = nullptr;
    QProgressBar *spinner = nullptr;

    // Builds the interface "KRCrashReporterWindow" (registered by registerInterfaces).
    static void registerInterface();

private:
    void sendingFinished(bool sent, const KRError &error = KRError());
    void closeWindow(bool purge);
    // Names the pending report (time and size of its file), to know a kept one from a newer crash.
    static QString pendingReportStamp(const KRCrashReporter &reporter);
    static inline const QString keptReportKey = QStringLiteral("keptCrashReport");

    KRCrashReporter &m_reporter;
    bool m_problemReportMode = false;
    bool m_sendsKeptCrashReport = false;
    bool m_isClosed = false;
    QString m_currentLog;
    QString m_previousLog;
};
