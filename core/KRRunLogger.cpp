#include "KRRunLogger.h"

#include <platform/foundation/KRLogSink.h>
#include <platform/foundation/KRPaths.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <unicode/calendar.h>
#include <unicode/locid.h>
#include <unicode/smpdtfmt.h>
#include <unicode/timezone.h>
#include <unicode/unistr.h>

#include <memory>

#include <pthread.h>
#include <sys/resource.h>

static constexpr const char *timestampPattern = "yyyyMMddzzzHHmmss.SS";

// The platform layer's lines join the run log whenever the run log is part of the program:
// installed while static objects are made, before any platform code runs.
static void writePlatformLine(const QString &message, const char *function, int line)
{
    KRRunLogger::sharedInstance().log(message, function, line);
}
static const bool platformLogInstalled = (KRLogSink::install(&writePlatformLine), true);

KRRunLogger &KRRunLogger::sharedInstance()
{
    // Function-local static: creation is serialised, and the destructor drains the queue
    // when the process exits normally.
    static KRRunLogger instance(KRPaths::logsDirectory());
    Q_UNUSED(platformLogInstalled);
    return instance;
}

KRRunLogger::KRRunLogger(const QString &logsFolder)
{
    QDir().mkpath(logsFolder);
    const QString base = logsFolder + QLatin1Char('/') + QLatin1String(KRPaths::applicationIdentifier);
    m_logPath = base + QStringLiteral(".log");
    m_oldLogPath = base + QStringLiteral(".old.log");
    m_worker = std::thread([this] { run(); });
}

KRRunLogger::~KRRunLogger()
{
    {
        std::lock_guard lock(m_mutex);
        m_stopping = true;
    }
    m_wake.notify_all();
    if (m_worker.joinable())
        m_worker.join();
}

QString KRRunLogger::formatTimestamp(double millisecondsSinceEpoch, const QString &timeZoneId)
{
    const auto makeFormat = [] {
        UErrorCode status = U_ZERO_ERROR;
        auto format = std::make_unique<icu::SimpleDateFormat>(icu::UnicodeString(timestampPattern),
                                                              icu::Locale::getDefault(), status);
        return U_FAILURE(status) ? nullptr : std::move(format);
    };
    const auto formatted = [&](const icu::SimpleDateFormat &format) {
        icu::UnicodeString text;
        format.format(millisecondsSinceEpoch, text);
        return QString(reinterpret_cast<const QChar *>(text.getBuffer()), text.length());
    };
    if (timeZoneId.isEmpty()) {
        // Every logged line asks for one in the default zone, which ICU settles once per
        // process: each thread keeps its formatter rather than making one per line. A line
        // logged after the thread's own objects are gone (a document released by a static
        // list as the process exits) gets a formatter of its own.
        struct ThreadFormat {
            std::unique_ptr<icu::SimpleDateFormat> format;
            bool *gone;
            ~ThreadFormat() { *gone = true; }
        };
        thread_local bool threadFormatGone = false;
        if (threadFormatGone) {
            const auto format = makeFormat();
            return format ? formatted(*format) : QString();
        }
        thread_local const ThreadFormat defaultZoneFormat{makeFormat(), &threadFormatGone};
        return defaultZoneFormat.format ? formatted(*defaultZoneFormat.format) : QString();
    }
    const auto format = makeFormat();
    if (!format)
        return {};
    const std::u16string id = timeZoneId.toStdU16String();
    format->adoptTimeZone(icu::TimeZone::createTimeZone(icu::UnicodeString(id.data(), int32_t(id.size()))));
    return formatted(*format);
}

QString KRRunLogger::shortFunctionName(const char *prettyFunction)
{
    QString name = QString::fromUtf8(prettyFunction ? prettyFunction : "");
    const qsizetype paren = name.indexOf(QLatin1Char('('));
    if (paren > 0)
        name.truncate(paren);
    // The return type, if any, ends at the last blank outside template brackets.
    int depth = 0;
    for (qsizetype i = name.size() - 1; i >= 0; --i) {
        const QChar c = name.at(i);
        if (c == QLatin1Char('>'))
            ++depth;
        else if (c == QLatin1Char('<'))
            --depth;
        else if (c == QLatin1Char(' ') && depth == 0)
            return name.mid(i + 1);
    }
    return name;
}

void KRRunLogger::log(const QString &message, const char *function, int line)
{
    const double now = icu::Calendar::getNow();
    // The prefix is put in front of the finished message, so a '%' in either is only text.
    QString text = formatTimestamp(now) + QLatin1Char(' ') + shortFunctionName(function)
        + QLatin1Char(':') + QString::number(line) + QLatin1Char(' ') + message;
    {
        std::lock_guard lock(m_mutex);
        m_pending.push_back(std::move(text));
    }
    m_wake.notify_one();
}

void KRRunLogger::flush()
{
    std::unique_lock lock(m_mutex);
    m_idle.wait(lock, [this] { return m_pending.empty() && !m_busy; });
}

void KRRunLogger::run()
{
    // The file work runs at low priority: it must never compete with the interface.
    setpriority(PRIO_PROCESS, 0, 10);
    std::unique_lock lock(m_mutex);
    for (;;) {
        m_wake.wait(lock, [this] { return m_stopping || !m_pending.empty(); });
        while (!m_pending.empty()) {
            QString message = std::move(m_pending.front());
            m_pending.pop_front();
            m_busy = true;
            lock.unlock();
            appendLogMessage(message);
            lock.lock();
            m_busy = false;
        }
        m_idle.notify_all();
        if (m_stopping)
            break;
    }
    m_file.reset();
}

void KRRunLogger::appendLogMessage(const QString &message)
{
    const QByteArray bytes = (message + QLatin1Char('\n')).toUtf8();
    m_currentLogFileSize += std::uint64_t(bytes.size());
    QFile *file = logFileHandle();
    if (!file)
        return; // dropped; the next line tries to open the file again
    if (file->write(bytes) != bytes.size())
        return;
    file->flush();
}

QFile *KRRunLogger::logFileHandle()
{
    if (m_currentLogFileSize > rotationThreshold && m_file) {
        m_file.reset();
        m_currentLogFileSize = 0;
        QFile::remove(m_oldLogPath);
        QFile::rename(m_logPath, m_oldLogPath);
    }
    if (!m_file) {
        auto file = std::make_unique<QFile>(m_logPath);
        if (!file->open(QIODevice::ReadWrite | QIODevice::Append))
            return nullptr;
        m_currentLogFileSize = std::uint64_t(file->size());
        m_file = std::move(file);
    }
    return m_file.get();
}
