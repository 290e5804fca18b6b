#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

// Crash capture for this process. Once enabled, a fatal signal (SIGSEGV, SIGBUS, SIGILL,
// SIGFPE, SIGABRT, SIGTRAP, SIGSYS) or an uncaught C++ exception makes a handler running on an
// alternate stack write a report into the report folder as "pending.krcrash" and then raise
// the signal again with its default action, so the exit status and any core dump are those of
// the crash itself. The handler uses async-signal-safe calls only; everything it needs (the
// open file, the report's header) is prepared when capture is enabled.
//
// The next start finds the pending report, offers it, and purges it.
class KRCrashReporter
{
public:
    // The application's reporter, writing into the "CrashReports" folder of the per-user data
    // folder.
    static KRCrashReporter &sharedReporter();

    explicit KRCrashReporter(const QString &reportDirectory);
    KRCrashReporter(const KRCrashReporter &) = delete;
    KRCrashReporter &operator=(const KRCrashReporter &) = delete;

    QString reportDirectory() const { return m_directory; }
    QString pendingReportPath() const;

    bool hasPendingCrashReport() const;
    // The raw pending report; nothing (and the reason) when there is none or it is unreadable.
    std::optional<QByteArray> loadPendingCrashReportData(QString *error = nullptr) const;
    // Deletes the pending report; true when none is left.
    bool purgePendingCrashReport();

    // Installs the handlers for this process (one reporter at a time; enabling again, or
    // another reporter, moves where reports go and puts back any handler another library
    // replaced). False with the reason on failure.
    bool enableCrashReporter(QString *error = nullptr);
    // This reporter receives the crashes: its handlers are the ones installed.
    bool isEnabled() const;

    // Gives the calling thread its own alternate signal stack, so that a stack overflow on it
    // is still reported. The main thread gets one when capture is enabled.
    static bool installAlternateStackForCurrentThread();

private:
    QString m_directory;
};
