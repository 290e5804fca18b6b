#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

// A crash report as the crash handler writes it: a "KRCRASH 1" line, "Key: value" header
// lines, then the "Backtrace:" and "Maps:" sections, closed by "End". fromData refuses
// anything else (a report cut short by a second fault, a foreign file).
class KRCrashReport
{
public:
    static std::optional<KRCrashReport> fromData(const QByteArray &data, QString *error = nullptr);

    int signalNumber() const { return m_signal; }
    QString signalName() const { return m_signalName; }
    QString value(const QString &key) const; // a header line's value ("Version", "PID", …)
    // The uncaught exception's type and message, when an exception ended the process.
    QString exceptionText() const { return value(QStringLiteral("Exception")); }
    QStringList backtrace() const { return m_frames; }

    // The report as readable text (format 0, the only one): the header, then one line per
    // frame, each naming its module and the offset inside it.
    QString textValue(int format = 0) const;

private:
    int m_signal = 0;
    QString m_signalName;
    QList<std::pair<QString, QString>> m_header;
    QStringList m_frames;
    // Mapped executable regions: start, end, file offset, path.
    struct Region { quint64 start, end, offset; QString path; };
    QList<Region> m_regions;
};
