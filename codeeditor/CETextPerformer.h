#pragma once

#include <QByteArray>
#include <QString>

class KRUserDefaults;
class QTextDocument;

// Whole-text conversions of the editor: line endings and the encoding a file declares.
//
// The editor holds its text with line feeds only (a QTextDocument keeps no carriage return);
// the style of the file's line endings is taken when the text comes in (textForEditor) and
// put back when it goes out (textFromEditor), so editing a file never changes its endings.
namespace CETextPerformer {

enum LineEndingStyle {
    NotSet = 0,
    LineFeed = 1,             // LF
    CarriageReturn = 2,       // CR
    CarriageReturnLineFeed = 3, // CR LF
    Unchanged = 6,
};

inline const QString darkSideLineEnding = QStringLiteral("\r\n");
inline const QString macLineEnding = QStringLiteral("\r");
inline const QString unixLineEnding = QStringLiteral("\n");
inline const QString newLineSymbolString = QStringLiteral("\u23CE");

// The text with every line ending in the style; NotSet takes the user default
// "LineEndingsPopUp" + 1, Unchanged returns the text as it is, any other code gives LF.
QString convertLineEndings(const QString &text, int style, const KRUserDefaults *defaults = nullptr);
QString removeAllLineEndings(const QString &text);
QString replaceAllNewLineCharactersWithSymbol(const QString &text);

// The style of a text's first line ending (LF for a text without one).
LineEndingStyle lineEndingStyleOf(const QString &text);
// The text as the editor holds it (LF only) and, in *style, the style to restore.
QString textForEditor(const QString &fileText, LineEndingStyle *style);
// The editor's text with the remembered style applied.
QString textFromEditor(const QString &editorText, LineEndingStyle style);

// A file whose lines end in different ways keeps each line's own ending: the style of every
// line break of the text, in order (one LineEndingStyle code per break).
QByteArray lineEndingsOf(const QString &fileText);
// The style most line breaks have (the first met among equals); LF for none.
LineEndingStyle dominantLineEnding(const QByteArray &endings);
// Whether the breaks are not all in one style.
bool areMixed(const QByteArray &endings);
// The editor's text with its n-th line break written in the style endings[n]; breaks past
// the list are written in `otherwise`.
QString textFromEditor(const QString &editorText, const QByteArray &endings, LineEndingStyle otherwise);
// The whole text of a document exactly as typed: no-break spaces stay, paragraph separators
// become line feeds. (QTextDocument::toPlainText turns U+00A0 into a space.)
QString plainTextOf(const QTextDocument &document);

// The IANA name of the encoding that raw file data declares (an HTML "charset=", an XML
// "encoding=") or that its byte-order mark shows; empty when nothing is recognised or the
// declared name is not a known encoding.
QString guessEncodingFromData(const QByteArray &data);

} // namespace CETextPerformer
