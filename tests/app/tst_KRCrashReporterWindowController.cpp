#include "KRAppTestSupport.h"

#include <app/KRCrashReporterWindowController.h>
#include <core/KRDataExtensions.h>
#include <platform/crash/KRCrashReporter.h>
#include <platform/foundation/KRUserDefaults.h>

#include <KRTestSupport.h>
#include <KRWidgetTestSupport.h>

#include <QDialog>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTimer>

#include <gtest/gtest.h>

namespace {

class KRCrashReporterWindowTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        KRUserDefaults::sharedInstance().removeObject(QStringLiteral("keptCrashReport"));
        folder = KRTest::makeTempDir(QStringLiteral("reports"));
        reporter = std::make_unique<KRCrashReporter>(folder);
        ASSERT_TRUE(server.start());
        server.installHostingAPI();
        KRAppTest::pointDefaultsAt(server);
    }
    void writePendingReport(const QByteArray &bytes) { KRTest::writeFile(reporter->pendingReportPath(), bytes); }
    // The controller with the given log files (empty: none).
    std::unique_ptr<KRCrashReporterWindowController> makeWindow(const QString &current = {}, const QString &previous = {})
    {
        auto window = std::make_unique<KRCrashReporterWindowController>(*reporter);
        window->setRunLogFiles(current, previous);
        return window;
    }
    // Shows the window modally, lets `act` run inside the modal loop, returns once it closed.
    void runModal(KRCrashReporterWindowController &window, const std::function<void()> &act)
    {
        QTimer::singleShot(0, &window, act);
        QTimer giveUp;
        giveUp.setSingleShot(true);
        QObject::connect(&giveUp, &QTimer::timeout, window.dialog(), [&window] { window.dialog()->done(QDialog::Rejected); });
        giveUp.start(15000);
        window.runModal();
        EXPECT_TRUE(giveUp.isActive()) << "the window did not close by itself";
    }
    QJsonObject lastReportArguments() const
    {
        const QList<KRTestRequest> requests = server.requests();
        for (qsizetype i = requests.size() - 1; i >= 0; --i) {
            if (requests.at(i).queryItem("method") == "crashReport")
                return QJsonDocument::fromJson(requests.at(i).body).object();
        }
        return {};
    }

    QString folder;
    std::unique_ptr<KRCrashReporter> reporter;
    KRTestHTTPServer server;
};

} // namespace

TEST_F(KRCrashReporterWindowTest, ArchiveHoldsReportUserTextAndTheLogsThatExist)
{
    const QString logs = KRTest::makeTempDir(QStringLiteral("logs"));
    KRTest::writeFile(logs + QStringLiteral("/k.log"), "line one\n");
    writePendingReport("this is not a crash report");

    auto crash = makeWindow(logs + QStringLiteral("/k.log"), logs + QStringLiteral("/k.old.log"));
    const QByteArray archive = crash->buildCrashReport(QStringLiteral("it froze"), QStringLiteral("me@example.org"));
    EXPECT_EQ(KRAppTest::zipEntryNames(archive),
              (QStringList{QStringLiteral("crash-report.txt"), QStringLiteral("user-information.txt"), QStringLiteral("k.log")}));
    EXPECT_EQ(KRAppTest::zipEntry(archive, QStringLiteral("crash-report.txt")), QByteArray("Error loading crash report"));
    EXPECT_EQ(KRAppTest::zipEntry(archive, QStringLiteral("user-information.txt")),
              QByteArray("Mode: Crash Report\nUser description: it froze\nContact email: me@example.org\n"));

    // A first run without logs, reporting a problem: the user's text alone.
    auto problem = makeWindow();
    problem->enableProblemReportMode();
    EXPECT_EQ(KRAppTest::zipEntryNames(problem->buildCrashReport(QStringLiteral("x"), QString())),
              QStringList{QStringLiteral("user-information.txt")});
}

TEST_F(KRCrashReporterWindowTest, ProblemReportNeedsADescriptionAndIsMarkedAsSuch)
{
    auto window = makeWindow();
    window->enableProblemReportMode();
    EXPECT_EQ(window->dialog()->windowTitle(), QStringLiteral("Send Report"));
    EXPECT_TRUE(window->label2->text().contains(QStringLiteral("as you can.  If possible")));

    window->sendButton->click();
    EXPECT_TRUE(window->sendButton->isEnabled()) << "nothing happens without a description";
    EXPECT_FALSE(window->sendingLabel->isVisibleTo(window->dialog()));

    window->dialog()->resize(520, 420);
    window->userDescription->setPlainText(QStringLiteral("The palette is empty."));
    KRTest::saveScreenshot(*window->dialog(), QStringLiteral("app"), QStringLiteral("problem-report-window.png"), {1});
    runModal(*window, [&] { window->sendButton->click(); });
    EXPECT_EQ(window->sendingLabel->text(), QStringLiteral("Thanks!"));
    const QJsonObject arguments = lastReportArguments();
    EXPECT_EQ(arguments.value(QStringLiteral("problemReportMode")).toString(), QStringLiteral("true"));
    const QByteArray archive = KRData::base64DecodeBuffer(arguments.value(QStringLiteral("crashReportBase64")).toString().toLatin1().constData(),
                                                          std::size_t(arguments.value(QStringLiteral("crashReportBase64")).toString().size()));
    EXPECT_TRUE(KRAppTest::zipEntry(archive, QStringLiteral("user-information.txt")).contains("The palette is empty."));
}

TEST_F(KRCrashReporterWindowTest, SentCrashReportIsPurgedAndAFailedSendKeepsIt)
{
    writePendingReport("KRCRASH 1\nSignal: 11 SIGSEGV\nBacktrace:\nMaps:\nEnd\n");
    {
        // The service cannot be reached: the window stays for another try, and the report stays
        // until it is sent or discarded.
        KRUserDefaults::sharedInstance().setValue(QStringLiteral("apiURL"), QStringLiteral("http://127.0.0.1:1/api.php"));
        auto window = makeWindow();
        runModal(*window, [&] {
            window->sendButton->click();
            EXPECT_TRUE(KRTest::processEventsUntil([&] { return window->laterButton->isVisibleTo(window->dialog()); }));
            EXPECT_TRUE(window->sendButton->isEnabled());
            EXPECT_EQ(window->cancelButton->text(), QStringLiteral("Discard"));
            EXPECT_TRUE(window->sendingLabel->text().startsWith(QStringLiteral("The report could not be sent.")));
            window->sendButton->click(); // another try, failing the same way
            EXPECT_TRUE(KRTest::processEventsUntil([&] { return window->sendButton->isEnabled(); }));
            window->dialog()->reject(); // closing the window keeps it, as Send Later does
        });
        EXPECT_TRUE(reporter->hasPendingCrashReport());
        EXPECT_FALSE(KRCrashReporterWindowController::shouldOfferAtStart(*reporter)) << "kept, not asked at every start";
    }
    KRAppTest::pointDefaultsAt(server);
    auto window = makeWindow();
    runModal(*window, [&] { window->sendButton->click(); });
    EXPECT_FALSE(reporter->hasPendingCrashReport());
    EXPECT_FALSE(lastReportArguments().contains(QStringLiteral("problemReportMode")));
    const QByteArray encoded = lastReportArguments().value(QStringLiteral("crashReportBase64")).toString().toLatin1();
    const QByteArray archive = KRData::base64DecodeBuffer(encoded.constData(), std::size_t(encoded.size()));
    EXPECT_TRUE(KRAppTest::zipEntry(archive, QStringLiteral("crash-report.txt")).contains("SIGSEGV")) << "the report as text";
}

TEST_F(KRCrashReporterWindowTest, CancelPurgesOnceAndClosesOnce)
{
    writePendingReport("KRCRASH 1\nSignal: 6 SIGABRT\nBacktrace:\nMaps:\nEnd\n");
    auto window = makeWindow();
    KRTest::saveScreenshot(*window->dialog(), QStringLiteral("app"), QStringLiteral("crash-report-window.png"), {1});
    runModal(*window, [&] {
        window->cancelButton->click();
        // A report written meanwhile (another crash) is not purged by a second close.
        writePendingReport("KRCRASH 1\nSignal: 11 SIGSEGV\nBacktrace:\nMaps:\nEnd\n");
        window->closeWindowAction();
    });
    EXPECT_TRUE(window->isClosed());
    EXPECT_TRUE(reporter->hasPendingCrashReport());
    EXPECT_TRUE(server.requests().isEmpty()) << "nothing is sent on Cancel";
}

TEST_F(KRCrashReporterWindowTest, ProblemReportLeavesThePendingCrashReport)
{
    // A crash report that could not be sent at start-up is promised for the next start.
    writePendingReport("KRCRASH 1\nSignal: 11 SIGSEGV\nBacktrace:\nMaps:\nEnd\n");
    {
        auto cancelled = makeWindow();
        cancelled->enableProblemReportMode();
        runModal(*cancelled, [&] { cancelled->cancelButton->click(); });
        EXPECT_TRUE(reporter->hasPendingCrashReport()) << "Cancel";
    }
    auto sent = makeWindow();
    sent->enableProblemReportMode();
    sent->userDescription->setPlainText(QStringLiteral("The palette is empty."));
    runModal(*sent, [&] { sent->sendButton->click(); });
    EXPECT_EQ(sent->sendingLabel->text(), QStringLiteral("Thanks!"));
    EXPECT_TRUE(reporter->hasPendingCrashReport()) << "a sent problem report";
}

TEST_F(KRCrashReporterWindowTest, NoArchiveIsAFailedSendThatKeepsTheReport)
{
    // No private temporary folder can be made: its parent is a file.
    const QByteArray runtime = qgetenv("XDG_RUNTIME_DIR");
    const QByteArray cache = qgetenv("XDG_CACHE_HOME");
    const QString blocked = KRTest::makeTempDir(QStringLiteral("blocked"));
    KRTest::writeFile(blocked + QStringLiteral("/Korvane"), "not a folder");
    qunsetenv("XDG_RUNTIME_DIR");
    qputenv("XDG_CACHE_HOME", QFile::encodeName(blocked));

    writePendingReport("KRCRASH 1\nSignal: 11 SIGSEGV\nBacktrace:\nMaps:\nEnd\n");
    auto window = makeWindow();
    EXPECT_TRUE(window->buildCrashReport(QStringLiteral("x"), QString()).isEmpty());
    runModal(*window, [&] {
        window->sendButton->click();
        EXPECT_TRUE(KRTest::processEventsUntil([&] { return window->laterButton->isVisibleTo(window->dialog()); }));
        window->laterButton->click();
    });
    qputenv("XDG_RUNTIME_DIR", runtime);
    qputenv("XDG_CACHE_HOME", cache);
    EXPECT_TRUE(window->sendingLabel->text().startsWith(QStringLiteral("The report could not be sent.")));
    EXPECT_TRUE(reporter->hasPendingCrashReport());
    EXPECT_TRUE(lastReportArguments().isEmpty()) << "nothing is sent";
}

TEST_F(KRCrashReporterWindowTest, ACrashReportKeptForLaterGoesWithTheNextProblemReport)
{
    KRUserDefaults::sharedInstance().setValue(QStringLiteral("apiURL"), QString());
    writePendingReport("KRCRASH 1\nSignal: 11 SIGSEGV\nBacktrace:\nMaps:\nEnd\n");
    ASSERT_TRUE(KRCrashReporterWindowController::shouldOfferAtStart(*reporter));
    {
        auto window = makeWindow();
        runModal(*window, [&] {
            window->sendButton->click();
            EXPECT_TRUE(KRTest::processEventsUntil([&] { return window->laterButton->isVisibleTo(window->dialog()); }));
            // No service address: the window says so and where to set one.
            EXPECT_TRUE(window->sendingLabel->text().contains(QStringLiteral("no service address is set")))
                << window->sendingLabel->text().toStdString();
            EXPECT_TRUE(window->sendingLabel->text().contains(QStringLiteral("Preferences")));
            window->laterButton->click();
        });
    }
    EXPECT_TRUE(reporter->hasPendingCrashReport());
    EXPECT_FALSE(KRCrashReporterWindowController::shouldOfferAtStart(*reporter));
    KRAppTest::pointDefaultsAt(server);
    auto problem = makeWindow();
    problem->enableProblemReportMode();
    EXPECT_TRUE(problem->sendsKeptCrashReport());
    problem->userDescription->setPlainText(QStringLiteral("It crashed."));
    runModal(*problem, [&] { problem->sendButton->click(); });
    EXPECT_EQ(problem->sendingLabel->text(), QStringLiteral("Thanks!"));
    const QByteArray encoded = lastReportArguments().value(QStringLiteral("crashReportBase64")).toString().toLatin1();
    const QByteArray archive = KRData::base64DecodeBuffer(encoded.constData(), std::size_t(encoded.size()));
    EXPECT_TRUE(KRAppTest::zipEntry(archive, QStringLiteral("crash-report.txt")).contains("SIGSEGV"));
    EXPECT_FALSE(reporter->hasPendingCrashReport()) << "sent with the problem report";
    KRUserDefaults::sharedInstance().removeObject(QStringLiteral("keptCrashReport"));
}
