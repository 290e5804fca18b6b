#pragma once

#include "CERegex.h"

#include <QList>
#include <QString>

// What the text commands edit: the live text and a guarded replacement. A refused edit is
// skipped; the command goes on and its offsets advance as if the edit had been made.
class CETextEditTarget
{
public:
    virtual ~CETextEditTarget() = default;
    virtual QString text() const = 0;
    // Asks the host, then replaces. False when the host refused.
    virtual bool guardedReplace(CERange range, const QString &replacement) = 0;
};

struct CECommandSettings
{
    int indentWidth = 4;
    bool indentWithSpaces = false;
    bool useTabStops = true;
    int spacesPerTab = 4;
};

struct CECommandResult
{
    bool changed = false;      // at least one edit was made
    bool beep = false;
    bool selectRanges = false; // `ranges` is the new selection
    QList<CERange> ranges;
};

// The editing commands on lists of selected ranges. Every command edits through
// CETextEditTarget::guardedReplace, one edit per line or per range.
namespace CETextCommands {

// The line holding `position`, with its terminator.
CERange lineRange(const QString &text, qsizetype position);
// The character boundaries around `position`: a character is a whole grapheme cluster (an
// emoji with its modifiers, a letter with its combining marks, a flag), as the caret moves.
// The start of the text and its end are boundaries; a line break is a character of its own.
qsizetype previousCharacterBoundary(const QString &text, qsizetype position);
qsizetype nextCharacterBoundary(const QString &text, qsizetype position);
// The number of lines a range touches (at least 1), and the position the walk ends at.
int lineWalk(const QString &text, CERange range, qsizetype *walkEnd = nullptr);

CECommandResult shiftLeft(CETextEditTarget &target, const QList<CERange> &ranges, const CECommandSettings &settings);
// `primary` gives the column for a tab-stop indent.
CECommandResult shiftRight(CETextEditTarget &target, const QList<CERange> &ranges, CERange primary,
                           const CECommandSettings &settings);
CECommandResult removeNeedlessWhitespace(CETextEditTarget &target, const QList<CERange> &ranges);
CECommandResult commentOrUncomment(CETextEditTarget &target, const QList<CERange> &ranges, const QString &token);
// Runs of `spacesPerTab` spaces become tabs (entab) or tabs become spaces, inside each range.
CECommandResult entabOrDetab(CETextEditTarget &target, const QList<CERange> &ranges, CERange primary,
                             int spacesPerTab, bool entab);
CECommandResult removeLineEndings(CETextEditTarget &target, const QList<CERange> &ranges);

enum class CaseChange { Lower, Upper, Capitalise };
QString convertCase(const QString &text, CaseChange change);
// Words are delimited by spaces, tabs and line breaks; the first letter goes upper case,
// the rest lower case.
QString capitalised(const QString &text);
QString preparedForXML(const QString &text);
// The whole line numbered `number` (1-based, terminator included), or location -1 when the
// text has fewer lines.
CERange goToLine(const QString &text, qint64 number);
// The closing tag of the nearest element open before `caret`, or "" when there is none.
QString closingTag(const QString &text, qsizetype caret);
// The leading integer of a field's text ("12abc" gives 12, text gives 0).
qint64 leadingInteger(const QString &text);

} // namespace CETextCommands
