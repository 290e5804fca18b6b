#include "CETextPerformer.h"

#include "CEDefaults.h"

#include <platform/foundation/KRUserDefaults.h>

#include <QTextDocument>

#include <unicode/ucnv.h>

namespace CETextPerformer {

namespace {

// The IANA name of an encoding ICU knows by the given name; empty for an unknown name.
QString ceTextPerformerIanaName(const QString &name)
{
    const QByteArray latin1 = name.trimmed().toLatin1();
    if (latin1.isEmpty())
        return {};
    // The preferred MIME name where the encoding has one, else its IANA name.
    for (const char *standard : {"MIME", "IANA"}) {
        UErrorCode status = U_ZERO_ERROR;
        const char *found = ucnv_getStandardName(latin1.constData(), standard, &status);
        if (U_SUCCESS(status) && found)
            return QString::fromLatin1(found);
    }
    return {};
}

} // namespace

QString convertLineEndings(const QString &text, int style, const KRUserDefaults *defaults)
{
    if (style == NotSet)
        style = int(defaults ? defaults->integerValue(CEDefaults::lineEndingsPopUp) : 0) + 1;
    if (style == Unchanged)
        return text;
    QString result = text;
    switch (style) {
    case CarriageReturnLineFeed:
        result.replace(darkSideLineEnding, unixLineEnding);
        result.replace(macLineEnding, unixLineEnding);
        result.replace(unixLineEnding, darkSideLineEnding);
        break;
    case CarriageReturn:
        result.replace(darkSideLineEnding, macLineEnding);
        result.replace(unixLineEnding, macLineEnding);
        break;
    default:
        result.replace(darkSideLineEnding, unixLineEnding);
        result.replace(macLineEnding, unixLineEnding);
        break;
    }
    return result;
}

QString removeAllLineEndings(const QString &text)
{
    QString result = text;
    result.remove(darkSideLineEnding);
    result.remove(macLineEnding);
    result.remove(unixLineEnding);
    return result;
}

QString replaceAllNewLineCharactersWithSymbol(const QString &text)
{
    QString result = text;
    result.replace(darkSideLineEnding, newLineSymbolString);
    result.replace(macLineEnding, newLineSymbolString);
    result.replace(unixLineEnding, newLineSymbolString);
    return result;
}

LineEndingStyle lineEndingStyleOf(const QString &text)
{
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text.at(i) == u'\n')
            return LineFeed;
        if (text.at(i) == u'\r')
            return i + 1 < text.size() && text.at(i + 1) == u'\n' ? CarriageReturnLineFeed : CarriageReturn;
    }
    return LineFeed;
}

QString textForEditor(const QString &fileText, LineEndingStyle *style)
{
    if (style)
        *style = lineEndingStyleOf(fileText);
    return convertLineEndings(fileText, LineFeed);
}

QString textFromEditor(const QString &editorText, LineEndingStyle style)
{
    return convertLineEndings(editorText, style == NotSet ? LineFeed : style);
}

QByteArray lineEndingsOf(const QString &fileText)
{
    QByteArray endings;
    for (qsizetype i = 0; i < fileText.size(); ++i) {
        if (fileText.at(i) == u'\n') {
            endings.append(char(LineFeed));
        } else if (fileText.at(i) == u'\r') {
            const bool pair = i + 1 < fileText.size() && fileText.at(i + 1) == u'\n';
            endings.append(char(pair ? CarriageReturnLineFeed : CarriageReturn));
            i += pair ? 1 : 0;
        }
    }
    return endings;
}

LineEndingStyle dominantLineEnding(const QByteArray &endings)
{
    const LineEndingStyle styles[] = {LineFeed, CarriageReturn, CarriageReturnLineFeed};
    LineEndingStyle best = endings.isEmpty() ? LineFeed : LineEndingStyle(endings.front());
    qsizetype bestCount = endings.count(char(best));
    for (LineEndingStyle style : styles) {
        const qsizetype count = endings.count(char(style));
        if (count > bestCount) {
            best = style;
            bestCount = count;
        }
    }
    return best;
}

bool areMixed(const QByteArray &endings)
{
    return !endings.isEmpty() && endings.count(endings.front()) != endings.size();
}

QString textFromEditor(const QString &editorText, const QByteArray &endings, LineEndingStyle otherwise)
{
    QString result;
    result.reserve(editorText.size() + endings.size());
    qsizetype line = 0, from = 0;
    for (qsizetype i = editorText.indexOf(u'\n'); i >= 0; i = editorText.indexOf(u'\n', from)) {
        result.append(QStringView(editorText).mid(from, i - from));
        const int style = line < endings.size() ? endings.at(line) : otherwise;
        result.append(style == CarriageReturnLineFeed ? darkSideLineEnding
                      : style == CarriageReturn       ? macLineEnding
                                                      : unixLineEnding);
        ++line;
        from = i + 1;
    }
    result.append(QStringView(editorText).mid(from));
    return result;
}

QString plainTextOf(const QTextDocument &document)
{
    QString text = document.toRawText();
    text.replace(QChar::ParagraphSeparator, QLatin1Char('\n'));
    text.replace(QChar::LineSeparator, QLatin1Char('\n'));
    return text;
}

QString guessEncodingFromData(const QByteArray &data)
{
    const QString text = QString::fromLatin1(data);
    if (text.size() >= 10) {
        const qsizetype charset = text.indexOf(QLatin1String("charset="));
        if (charset >= 0 && charset < text.size() - 8) {
            qsizetype start = charset + 8;
            if (text.at(start) == u'"' && start + 1 < text.size())
                ++start;
            qsizetype end = start;
            while (end < text.size() && !QStringLiteral("\"' />").contains(text.at(end)))
                ++end;
            return ceTextPerformerIanaName(text.mid(start, end - start));
        }
        const qsizetype encoding = text.indexOf(QLatin1String("encoding="));
        if (encoding >= 0 && encoding < text.size() - 9) {
            // The name runs from after the opening quote up to its closing quote, which must
            // come before the end of the declaration.
            const qsizetype quoteAt = encoding + 9;
            const QChar quote = text.at(quoteAt);
            if (quote != u'"' && quote != u'\'')
                return {};
            const qsizetype start = quoteAt + 1;
            qsizetype declarationEnd = text.indexOf(QLatin1String("?>"), start);
            if (declarationEnd < 0)
                declarationEnd = text.size();
            const qsizetype end = text.indexOf(quote, start);
            if (end < 0 || end > declarationEnd || end == start)
                return {};
            return ceTextPerformerIanaName(text.mid(start, end - start));
        }
    }
    if (data.size() >= 3) {
        if (data.startsWith("\xEF\xBB\xBF"))
            return QStringLiteral("UTF-8");
        if (data.startsWith("\xFE\xFF"))
            return QStringLiteral("UTF-16BE");
        if (data.startsWith("\xFF\xFE"))
            return QStringLiteral("UTF-16LE");
    }
    return {};
}

} // namespace CETextPerformer
