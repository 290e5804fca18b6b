#include <platform/crash/KRCrashReport.h>
#include <platform/crash/KRCrashReporter.h>

#include <KRTestSupport.h>

#include <csignal>
#include <cstdlib>
#include <functional>
#include <stdexcept>

#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

namespace {

// Runs the body in a child process that enables capture into the folder first; returns the
// child's wait status.
int runCrashingChild(const QString &folder, const std::function<void()> &body)
{
    const pid_t child = ::fork();
    if (child == 0) {
        KRCrashReporter reporter(folder);
        if (!reporter.enableCrashReporter())
            ::_exit(90);
        // Nothing may catch what the body throws (the test framework would).
        [&body]() noexcept { body(); }();
        ::_exit(0);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    return status;
}

KRCrashReport pendingReport(const KRCrashReporter &reporter)
{
    const std::optional<QByteArray> data = reporter.loadPendingCrashReportData();
    EXPECT_TRUE(data.has_value());
    QString error;
    const std::optional<KRCrashReport> report = KRCrashReport::fromData(data.value_or(QByteArray()), &error);
    EXPECT_TRUE(report.has_value()) << error.toStdString();
    return report.value_or(KRCrashReport());
}

volatile bool keepRecursing = true;

__attribute__((noinline)) int overflowStack(int depth)
{
    volatile char filler[1024];
    filler[0] = static_cast<char>(depth);
    return keepRecursing ? overflowStack(depth + 1) + filler[0] : 0;
}

} // namespace

TEST(KRCrashReporter, FaultLeavesAReportAndDiesOfItsOwnSignal)
{
    const QString folder = KRTest::makeTempDir();
    KRCrashReporter reporter(folder);
    EXPECT_FALSE(reporter.hasPendingCrashReport());

    const int status = runCrashingChild(folder, [] {
        // A page without access: a real fault that no sanitizer intercepts first.
        void *page = ::mmap(nullptr, 4096, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        *static_cast<volatile int *>(page) = 1;
    });
    ASSERT_TRUE(WIFSIGNALED(status)) << status;
    EXPECT_EQ(WTERMSIG(status), SIGSEGV);
    ASSERT_TRUE(reporter.hasPendingCrashReport());

    const KRCrashReport report = pendingReport(reporter);
    EXPECT_EQ(report.signalNumber(), SIGSEGV);
    EXPECT_FALSE(report.backtrace().isEmpty());
    const QString text = report.textValue();
    EXPECT_TRUE(text.contains(QStringLiteral("SIGSEGV"))) << text.toStdString();
    EXPECT_TRUE(text.contains(QStringLiteral("tst_KRCrashReporter"))) << "frames name their module";

    EXPECT_TRUE(reporter.purgePendingCrashReport());
    EXPECT_FALSE(reporter.hasPendingCrashReport());
}

TEST(KRCrashReporter, AbortUncaughtExceptionAndStackOverflowAreCaptured)
{
    const QString folder = KRTest::makeTempDir();
    KRCrashReporter reporter(folder);

    int status = runCrashingChild(folder, [] { std::abort(); });
    ASSERT_TRUE(WIFSIGNALED(status));
    EXPECT_EQ(WTERMSIG(status), SIGABRT);
    EXPECT_EQ(pendingReport(reporter).signalName(), QStringLiteral("SIGABRT"));
    reporter.purgePendingCrashReport();

    status = runCrashingChild(folder, [] { throw std::runtime_error("the disk is on fire"); });
    ASSERT_TRUE(WIFSIGNALED(status));
    EXPECT_EQ(WTERMSIG(status), SIGABRT);
    const QString exception = pendingReport(reporter).exceptionText();
    EXPECT_TRUE(exception.contains(QStringLiteral("std::runtime_error"))) << exception.toStdString();
    EXPECT_TRUE(exception.contains(QStringLiteral("the disk is on fire")));
    reporter.purgePendingCrashReport();

    // The handler runs on its own stack, so an exhausted stack is still reported.
    status = runCrashingChild(folder, [] { overflowStack(0); });
    ASSERT_TRUE(WIFSIGNALED(status));
    EXPECT_EQ(WTERMSIG(status), SIGSEGV);
    EXPECT_TRUE(reporter.hasPendingCrashReport());
}

TEST(KRCrashReporter, NormalExitsAndBrokenPipesLeaveNoReport)
{
    const QString folder = KRTest::makeTempDir();
    KRCrashReporter reporter(folder);

    int status = runCrashingChild(folder, [] {});
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    EXPECT_FALSE(reporter.hasPendingCrashReport());

    status = runCrashingChild(folder, [] {
        std::signal(SIGPIPE, SIG_IGN);
        int fds[2];
        if (::pipe(fds) != 0)
            ::_exit(91);
        ::close(fds[0]);
        if (::write(fds[1], "x", 1) != -1)
            ::_exit(92);
    });
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    EXPECT_FALSE(reporter.hasPendingCrashReport());
}

TEST(KRCrashReporter, EnablingAgainKeepsAnEarlierPendingReport)
{
    const QString folder = KRTest::makeTempDir();
    KRCrashReporter reporter(folder);
    runCrashingChild(folder, [] { std::abort(); });
    ASSERT_TRUE(reporter.hasPendingCrashReport());

    // Capture for this run must not touch the report of the last one, however often it is
    // switched on.
    const int status = runCrashingChild(folder, [&folder] {
        KRCrashReporter again(folder);
        if (!again.enableCrashReporter() || !again.isEnabled())
            ::_exit(93);
        // A library that takes a signal over is noticed, and enabling again puts it back.
        std::signal(SIGSEGV, SIG_DFL);
        if (again.isEnabled() || !again.enableCrashReporter() || !again.isEnabled())
            ::_exit(94);
    });
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    EXPECT_EQ(pendingReport(reporter).signalNumber(), SIGABRT);
}

TEST(KRCrashReport, RefusesForeignAndTruncatedData)
{
    QString error;
    EXPECT_FALSE(KRCrashReport::fromData("garbage\n", &error));
    EXPECT_FALSE(error.isEmpty());
    EXPECT_FALSE(KRCrashReport::fromData({}));
    // Cut off before its end: the handler died half-way.
    EXPECT_FALSE(KRCrashReport::fromData("KRCRASH 1\nSignal: 11 SIGSEGV\nBacktrace:\n"));
    EXPECT_FALSE(KRCrashReport::fromData("KRCRASH 1\nVersion: 1\nBacktrace:\nMaps:\nEnd\n")) << "no signal";

    const auto report = KRCrashReport::fromData(
        "KRCRASH 1\nSignal: 7 SIGBUS\nThread: 42\nBacktrace:\n/opt/k/korvane(+0x10) [0x5010]\nMaps:\n"
        "5000-6000 r-xp 00001000 08:01 1 /opt/k/korvane\nEnd\n");
    ASSERT_TRUE(report);
    EXPECT_EQ(report->signalNumber(), 7);
    // Addresses move between runs; the offset inside the module does not.
    EXPECT_TRUE(report->textValue().contains(QStringLiteral("korvane + 0x1010"))) << report->textValue().toStdString();
}
