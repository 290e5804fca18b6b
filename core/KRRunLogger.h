#pragma once

#include <QString>

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>

class QFile;

// The process-wide run log: one line per user action or notable event, appended by a
// low-priority background thread so that callers only pay for formatting. The file moves
// aside to "<id>.old.log" once it grows past 250,000 bytes, so at most two files exist.
//
// Line format: timestamp ("yyyyMMddzzzHHmmss.SS", local zone), a blank, the calling
// function, a colon, the source line, a blank, the message, a line feed.
class KRRunLogger
{
public:
    static constexpr std::uint64_t rotationThreshold = 250000;

    static KRRunLogger &sharedInstance();

    // A logger writing into the given folder (created when missing); the shared instance
    // uses the per-user logs folder.
    explicit KRRunLogger(const QString &logsFolder);
    ~KRRunLogger(); // drains the queue
    KRRunLogger(const KRRunLogger &) = delete;
    KRRunLogger &operator=(const KRRunLogger &) = delete;

    // Formats one line on the calling thread and queues it. Use KR_LOG instead.
    void log(const QString &message, const char *function, int line);

    QString logURL() const { return m_logPath; }
    QString oldLogURL() const { return m_oldLogPath; }

    // Blocks until every line queued so far is written (tests, shutdown).
    void flush();

    // The timestamp text for a moment (milliseconds since the epoch) in a time zone
    // (IANA id; empty: the process's zone).
    static QString formatTimestamp(double millisecondsSinceEpoch, const QString &timeZoneId = {});
    // "void KRPage::select(int)" -> "KRPage::select".
    static QString shortFunctionName(const char *prettyFunction);

private:
    void run();
    void appendLogMessage(const QString &message);
    QFile *logFileHandle();

    QString m_logPath;
    QString m_oldLogPath;

    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::condition_variable m_idle;
    std::deque<QString> m_pending;
    bool m_busy = false;
    bool m_stopping = false;

    // Used on the worker thread only.
    std::unique_ptr<QFile> m_file;
    std::uint64_t m_currentLogFileSize = 0;

    std::thread m_worker; // last member: starts after everything above is ready
};

#define KR_LOG(message) \
    KRRunLogger::sharedInstance().log((message), static_cast<const char *>(Q_FUNC_INFO), __LINE__)
