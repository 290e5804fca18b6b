#include "CETextCommands.h"

#include "CESyntaxColouring.h"
#include "CETextPerformer.h"

#include <QRegularExpression>
#include <QTextBoundaryFinder>

#include <algorithm>

namespace CETextCommands {

namespace {

bool ceCommandsIsBlank(QChar c)
{
    return c == u' ' || c == u'\t';
}

bool ceCommandsIsLineBreak(QChar c)
{
    return c == u'\n' || c == u'\r' || c == QChar(0x2028) || c == QChar(0x2029) || c == QChar(0x85);
}

qsizetype ceCommandsSkipBlanks(const QString &text, qsizetype position)
{
    while (position < text.size() && ceCommandsIsBlank(text.at(position)))
        ++position;
    return position;
}

// Clamps a selected range into the text.
CERange ceCommandsClamp(CERange range, qsizetype length)
{
    const qsizetype location = std::clamp<qsizetype>(range.location, 0, length);
    return {location, std::clamp<qsizetype>(range.length, 0, length - location)};
}

bool ceCommandsTokenAt(const QString &text, qsizetype position, const QString &token)
{
    return position >= 0 && position + token.size() <= text.size()
        && QStringView(text).mid(position, token.size()).compare(token, Qt::CaseInsensitive) == 0;
}

// Ends a range after a line-walking command removed `removed` characters there, `removedInside`
// of them inside the range: the shrunk range is kept for selecting (from one character earlier,
// never before its first line) and the later ranges move along.
void ceCommandsEndShrunkRange(CECommandResult &result, CERange range, qsizetype first, qsizetype removed,
                              qsizetype removedInside, qsizetype &offset)
{
    if (range.length > 0)
        result.ranges.append({std::max(range.location - 1, first), std::max<qsizetype>(0, range.length - removedInside)});
    offset += removed;
    result.changed = result.changed || removed > 0;
}

} // namespace

CERange lineRange(const QString &text, qsizetype position)
{
    const qsizetype start = CESyntaxColouring::lineStart(text, position);
    return {start, CESyntaxColouring::lineEnd(text, start) - start};
}

// Only the line around the position is handed to the boundary finder, so that a long text is
// not scanned for one step.
qsizetype previousCharacterBoundary(const QString &text, qsizetype position)
{
    position = std::clamp<qsizetype>(position, 0, text.size());
    if (position == 0)
        return 0;
    if (ceCommandsIsLineBreak(text.at(position - 1)))
        return position - 1;
    const qsizetype start = CESyntaxColouring::lineStart(text, position - 1);
    const qsizetype end = CESyntaxColouring::lineEnd(text, position - 1);
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, QStringView(text).mid(start, end - start));
    finder.setPosition(position - start);
    const qsizetype found = finder.toPreviousBoundary();
    return found < 0 ? position - 1 : start + found;
}

qsizetype nextCharacterBoundary(const QString &text, qsizetype position)
{
    position = std::clamp<qsizetype>(position, 0, text.size());
    if (position == text.size())
        return position;
    if (ceCommandsIsLineBreak(text.at(position)))
        return position + 1;
    const qsizetype start = CESyntaxColouring::lineStart(text, position);
    const qsizetype end = CESyntaxColouring::lineEnd(text, position);
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, QStringView(text).mid(start, end - start));
    finder.setPosition(position - start);
    const qsizetype found = finder.toNextBoundary();
    return found < 0 ? position + 1 : start + found;
}

int lineWalk(const QString &text, CERange range, qsizetype *walkEnd)
{
    int lines = 1;
    qsizetype p = CESyntaxColouring::lineEnd(text, range.location);
    while (p < range.end()) {
        const qsizetype next = CESyntaxColouring::lineEnd(text, p);
        if (next <= p)
            break;
        p = next;
        ++lines;
    }
    if (walkEnd)
        *walkEnd = p;
    return lines;
}

// Each command walks the touched lines of a range. After editing a line it continues from
// the end of that same line (found again from the line's start, which the edit never moves),
// so a line is never skipped when the edit removed characters before the range's start.
CECommandResult shiftLeft(CETextEditTarget &target, const QList<CERange> &ranges, const CECommandSettings &settings)
{
    CECommandResult result;
    if (target.text().isEmpty())
        return result;
    const int width = std::max(0, settings.indentWidth);
    const bool tabStops = settings.useTabStops && settings.indentWithSpaces;
    qsizetype offset = 0;
    for (const CERange &selected : ranges) {
        QString text = target.text();
        const CERange range = ceCommandsClamp({selected.location - offset, selected.length}, text.size());
        const int lines = lineWalk(text, range);
        // The selection's ends follow each removal: an end inside the removed blanks goes to
        // where they were.
        qsizetype removed = 0, start = range.location, end = range.end(), p = range.location;
        for (int line = 0; line < lines; ++line) {
            const qsizetype s = CESyntaxColouring::lineStart(text, p);
            qsizetype count = 0;
            if (tabStops) {
                const qsizetype spaces = ceCommandsSkipBlanks(text, s) - s;
                qsizetype leadingSpaces = 0;
                while (leadingSpaces < spaces && text.at(s + leadingSpaces) == u' ')
                    ++leadingSpaces;
                qsizetype wanted = width == 0 ? 0 : (leadingSpaces % width ? leadingSpaces % width : width);
                while (wanted > 0 && s + count < text.size() && ceCommandsIsBlank(text.at(s + count))) {
                    --wanted;
                    if (text.at(s + count++) == u'\t')
                        break;
                }
            } else if (s < text.size() && ceCommandsIsBlank(text.at(s))) {
                count = 1;
            }
            if (count > 0 && target.guardedReplace({s, count}, QString())) {
                removed += count;
                const auto follow = [&](qsizetype position) {
                    return position <= s ? position : position >= s + count ? position - count : s;
                };
                start = follow(start);
                end = follow(end);
                text = target.text();
            }
            if (p < text.size())
                p = CESyntaxColouring::lineEnd(text, s);
        }
        if (range.length > 0)
            result.ranges.append({start, end - start});
        offset += removed;
        result.changed = result.changed || removed > 0;
    }
    result.beep = !result.changed;
    result.selectRanges = !result.ranges.isEmpty();
    return result;
}

CECommandResult shiftRight(CETextEditTarget &target, const QList<CERange> &ranges, CERange primary,
                           const CECommandSettings &settings)
{
    CECommandResult result;
    QString text = target.text();
    if (text.isEmpty())
        return result;
    const int width = std::max(0, settings.indentWidth);
    QString indent;
    if (!settings.indentWithSpaces) {
        indent = QStringLiteral("\t");
    } else if (settings.useTabStops) {
        const qsizetype location = std::clamp<qsizetype>(primary.location, 0, text.size());
        const qsizetype column = location - CESyntaxColouring::lineStart(text, location);
        indent = width == 0 ? QString() : QString(width - column % width, u' ');
    } else {
        indent = QString(width, u' ');
    }
    const qsizetype i = indent.size();
    if (i == 0)
        return result;
    qsizetype added = 0;
    for (const CERange &selected : ranges) {
        text = target.text();
        const CERange range = ceCommandsClamp({selected.location + added, selected.length}, text.size());
        const int lines = lineWalk(text, range);
        // The selection's ends follow each indent: one put where the selection starts (at the
        // start of its first line) is taken into it.
        qsizetype start = range.location, end = range.end(), p = range.location;
        for (int line = 0; line < lines; ++line) {
            const qsizetype s = CESyntaxColouring::lineStart(text, p);
            if (target.guardedReplace({s, 0}, indent)) {
                if (start > s)
                    start += i;
                if (end > s)
                    end += i;
                added += i;
                result.changed = true;
                text = target.text();
            }
            if (p < text.size())
                p = CESyntaxColouring::lineEnd(text, s);
        }
        if (range.length > 0)
            result.ranges.append({start, end - start});
    }
    result.selectRanges = !result.ranges.isEmpty();
    return result;
}

CECommandResult removeNeedlessWhitespace(CETextEditTarget &target, const QList<CERange> &ranges)
{
    CECommandResult result;
    QString text = target.text();
    if (text.isEmpty())
        return result;
    qsizetype offset = 0;
    for (const CERange &selected : ranges) {
        text = target.text();
        const CERange range = ceCommandsClamp({selected.location - offset, selected.length}, text.size());
        const qsizetype first = CESyntaxColouring::lineStart(text, range.location);
        const int lines = lineWalk(text, range);
        qsizetype removed = 0, p = range.location;
        for (int line = 0; line < lines; ++line) {
            const qsizetype s = CESyntaxColouring::lineStart(text, p);
            qsizetype e = CESyntaxColouring::lineEnd(text, s);
            while (e > s && ceCommandsIsLineBreak(text.at(e - 1)))
                --e;
            qsizetype b = e;
            while (b > s && ceCommandsIsBlank(text.at(b - 1)))
                --b;
            if (b < e && target.guardedReplace({b, e - b}, QString())) {
                removed += e - b;
                text = target.text();
            }
            p = CESyntaxColouring::lineEnd(text, s);
        }
        ceCommandsEndShrunkRange(result, range, first, removed, removed, offset);
    }
    result.beep = !result.changed;
    result.selectRanges = !result.ranges.isEmpty();
    return result;
}

// The mode of a range comes from its first line: the token at the selection's start, at the
// line's start or after the line's indentation means uncomment. Each place is probed when the
// token fits there, so a commented last line with the caret at its end is uncommented.
CECommandResult commentOrUncomment(CETextEditTarget &target, const QList<CERange> &ranges, const QString &token)
{
    CECommandResult result;
    QString text = target.text();
    const qsizetype m = token.size();
    if (m == 0 || text.size() < m) {
        result.beep = true;
        return result;
    }
    qsizetype offset = 0;
    for (const CERange &selected : ranges) {
        text = target.text();
        const CERange range = ceCommandsClamp({selected.location + offset, selected.length}, text.size());
        const qsizetype first = CESyntaxColouring::lineStart(text, range.location);
        const bool uncomment = ceCommandsTokenAt(text, range.location, token) || ceCommandsTokenAt(text, first, token)
            || ceCommandsTokenAt(text, ceCommandsSkipBlanks(text, first), token);
        qsizetype walkEnd = 0;
        const int lines = lineWalk(text, range, &walkEnd);
        qsizetype delta = 0, p = range.location;
        for (int line = 0; line < lines; ++line) {
            const qsizetype s = CESyntaxColouring::lineStart(text, p);
            if (uncomment) {
                const qsizetype q = ceCommandsSkipBlanks(text, s);
                if (ceCommandsTokenAt(text, q, token) && target.guardedReplace({q, m}, QString()))
                    delta -= m;
            } else if (target.guardedReplace({s, 0}, token)) {
                delta += m;
            }
            text = target.text();
            p = CESyntaxColouring::lineEnd(text, s);
        }
        offset += delta;
        result.changed = result.changed || delta != 0;
        result.ranges.append({first, std::max<qsizetype>(0, walkEnd - first + delta)});
    }
    result.selectRanges = !ranges.isEmpty() && ranges.last().length > 0;
    return result;
}

// Each range's own span is replaced, so a host that protects part of the text refuses only
// the ranges that touch it.
CECommandResult entabOrDetab(CETextEditTarget &target, const QList<CERange> &ranges, CERange primary,
                             int spacesPerTab, bool entab)
{
    CECommandResult result;
    const QString spaces(std::max(0, spacesPerTab), u' ');
    qsizetype offset = 0;
    for (const CERange &selected : ranges) {
        const QString text = target.text();
        const CERange range = ceCommandsClamp({selected.location + offset, selected.length}, text.size());
        QString span = text.mid(range.location, range.length);
        const QString original = span;
        if (entab) {
            if (spaces.isEmpty())
                continue;
            span.replace(spaces, QStringLiteral("\t"));
        } else {
            span.replace(u'\t', spaces);
        }
        if (span != original && target.guardedReplace(range, span)) {
            offset += span.size() - range.length;
            result.changed = true;
        }
    }
    result.selectRanges = true;
    result.ranges = {{std::clamp<qsizetype>(primary.location, 0, target.text().size()), 0}};
    return result;
}

CECommandResult removeLineEndings(CETextEditTarget &target, const QList<CERange> &ranges)
{
    CECommandResult result;
    qsizetype offset = 0;
    for (const CERange &selected : ranges) {
        const QString text = target.text();
        const CERange range = ceCommandsClamp({selected.location + offset, selected.length}, text.size());
        const QString span = text.mid(range.location, range.length);
        const QString joined = CETextPerformer::removeAllLineEndings(span);
        qsizetype length = range.length;
        if (joined != span && target.guardedReplace(range, joined)) {
            offset += joined.size() - span.size();
            length = joined.size();
            result.changed = true;
        }
        result.ranges.append({range.location, length});
    }
    result.selectRanges = !result.ranges.isEmpty();
    return result;
}

QString capitalised(const QString &text)
{
    QString out = text;
    bool wordStart = true;
    for (QChar &c : out) {
        if (ceCommandsIsBlank(c) || ceCommandsIsLineBreak(c)) {
            wordStart = true;
            continue;
        }
        c = wordStart ? c.toUpper() : c.toLower();
        wordStart = false;
    }
    return out;
}

QString convertCase(const QString &text, CaseChange change)
{
    switch (change) {
    case CaseChange::Lower: return text.toLower();
    case CaseChange::Upper: return text.toUpper();
    case CaseChange::Capitalise: return capitalised(text);
    }
    return text;
}

QString preparedForXML(const QString &text)
{
    QString out = text;
    out.replace(QStringLiteral("&amp;"), QStringLiteral("&"));
    out.replace(QStringLiteral("&"), QStringLiteral("&amp;"));
    out.replace(QStringLiteral("<"), QStringLiteral("&lt;"));
    out.replace(QStringLiteral(">"), QStringLiteral("&gt;"));
    return out;
}

CERange goToLine(const QString &text, qint64 number)
{
    qint64 count = 1;
    for (qsizetype p = 0; p < text.size(); p = CESyntaxColouring::lineEnd(text, p))
        ++count;
    if (number > count)
        return {-1, 0};
    qsizetype p = 0;
    for (qint64 n = 1; n < number; ++n)
        p = CESyntaxColouring::lineEnd(text, p);
    return lineRange(text, p);
}

QString closingTag(const QString &text, qsizetype caret)
{
    caret = std::clamp<qsizetype>(caret, 0, text.size());
    const qsizetype g = caret > 0 ? text.lastIndexOf(u'>', caret - 1) : -1;
    if (g <= 0)
        return {};
    static const QStringList skipped{"<br>", "<hr>", "<!--", "<?", "<%", "<img ", "<br/>", "<br />", "<hr />",
                                     "<area ", "<base ", "<link ", "<meta "};
    static const QStringList skippedLong{"<frame ", "<input ", "<param "};
    int depth = 0;
    qsizetype q = g - 1;
    for (; q >= 0; --q) {
        if (text.at(q) != u'<')
            continue;
        const auto startsWith = [&](const QString &s) { return ceCommandsTokenAt(text, q, s); };
        if (std::any_of(skipped.begin(), skipped.end(), startsWith))
            continue;
        if (q + 7 < text.size() && std::any_of(skippedLong.begin(), skippedLong.end(), startsWith))
            continue;
        qsizetype close = text.indexOf(u'>', q);
        if (close < 0 || close > g)
            close = g;
        const QStringView tag = QStringView(text).mid(q, close - q);
        if (!tag.isEmpty() && tag.endsWith(u'/'))
            continue;
        if (q + 1 < text.size() && text.at(q + 1) == u'/') {
            ++depth;
        } else if (depth > 0) {
            --depth;
        } else {
            break;
        }
    }
    if (q < 0)
        return {};
    QString name = text.mid(q, g - q);
    const qsizetype cut = name.indexOf(QRegularExpression(QStringLiteral("[ >/]")), 1);
    if (cut >= 0)
        name.truncate(cut);
    if (name.size() < 2)
        return {};
    return name.insert(1, u'/') + u'>';
}

qint64 leadingInteger(const QString &text)
{
    const QString trimmed = text.trimmed();
    qsizetype end = 0;
    if (end < trimmed.size() && (trimmed.at(end) == u'-' || trimmed.at(end) == u'+'))
        ++end;
    while (end < trimmed.size() && trimmed.at(end).isDigit())
        ++end;
    bool ok = false;
    const qint64 value = trimmed.left(end).toLongLong(&ok);
    return ok ? value : 0;
}

} // namespace CETextCommands
