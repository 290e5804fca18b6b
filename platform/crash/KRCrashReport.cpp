#include "KRCrashReport.h"

#include <QRegularExpression>

std::optional<KRCrashReport> KRCrashReport::fromData(const QByteArray &data, QString *error)
{
    auto fail = [error](const QString &why) -> std::optional<KRCrashReport> {
        if (error)
            *error = why;
        return std::nullopt;
    };
    const QList<QByteArray> lines = data.split('\n');
    if (lines.isEmpty() || lines.first().trimmed() != "KRCRASH 1")
        return fail(QStringLiteral("Not a crash report"));

    KRCrashReport report;
    enum { Header, Frames, Maps } section = Header;
    bool ended = false;
    for (qsizetype i = 1; i < lines.size() && !ended; ++i) {
        const QString line = QString::fromUtf8(lines.at(i));
        if (line == QLatin1String("Backtrace:")) {
            section = Frames;
        } else if (line == QLatin1String("Maps:")) {
            section = Maps;
        } else if (line == QLatin1String("End")) {
            ended = true;
        } else if (section == Header) {
            const qsizetype colon = line.indexOf(QLatin1String(": "));
            if (colon <= 0)
                return fail(QStringLiteral("Malformed header line %1").arg(i + 1));
            report.m_header.append({line.left(colon), line.mid(colon + 2)});
        } else if (section == Frames) {
            if (!line.isEmpty())
                report.m_frames.append(line);
        } else {
            // "start-end perms offset dev inode path"
            const QStringList fields = line.split(QLatin1Char(' '), Qt::SkipEmptyParts);
            if (fields.size() < 6 || !fields.at(1).contains(QLatin1Char('x')))
                continue;
            const QStringList range = fields.at(0).split(QLatin1Char('-'));
            if (range.size() != 2)
                continue;
            report.m_regions.append({range.at(0).toULongLong(nullptr, 16), range.at(1).toULongLong(nullptr, 16),
                                     fields.at(2).toULongLong(nullptr, 16), fields.mid(5).join(QLatin1Char(' '))});
        }
    }
    if (!ended)
        return fail(QStringLiteral("The crash report is incomplete"));
    const QStringList signal = report.value(QStringLiteral("Signal")).split(QLatin1Char(' '));
    bool ok = false;
    report.m_signal = signal.value(0).toInt(&ok);
    if (!ok || report.m_signal <= 0)
        return fail(QStringLiteral("The crash report names no signal"));
    report.m_signalName = signal.value(1);
    return report;
}

QString KRCrashReport::value(const QString &key) const
{
    for (const auto &[k, v] : m_header) {
        if (k == key)
            return v;
    }
    return {};
}

QString KRCrashReport::textValue(int format) const
{
    Q_UNUSED(format)
    QString text;
    for (const auto &[key, value] : m_header)
        text += key + QStringLiteral(": ") + value + QLatin1Char('\n');
    text += QStringLiteral("\nThread %1 crashed with %2:\n").arg(value(QStringLiteral("Thread")), m_signalName);
    // Frames read "module(symbol+0x…) [0x…]"; addresses move between runs, so each frame also
    // gets its module-relative offset from the captured memory map.
    static const QRegularExpression addressPattern(QStringLiteral("\\[(0x[0-9a-fA-F]+)\\]\\s*$"));
    int index = 0;
    for (const QString &frame : m_frames) {
        QString line = QStringLiteral("%1  %2").arg(index++, 3).arg(frame);
        const QRegularExpressionMatch match = addressPattern.match(frame);
        if (match.hasMatch()) {
            const quint64 address = match.captured(1).toULongLong(nullptr, 16);
            for (const Region &region : m_regions) {
                if (address >= region.start && address < region.end) {
                    line += QStringLiteral("  %1 + 0x%2").arg(region.path.section(QLatin1Char('/'), -1))
                                .arg(address - region.start + region.offset, 0, 16);
                    break;
                }
            }
        }
        text += line + QLatin1Char('\n');
    }
    return text;
}
