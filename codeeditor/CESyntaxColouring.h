#pragma once

#include "CERegex.h"
#include "CEScanner.h"
#include "CETemporaryAttributes.h"

#include <platform/foundation/KRObservationToken.h>

#include <QSet>
#include <QStringList>
#include <QVariantMap>

#include <array>
#include <memory>
#include <optional>
#include <vector>

class CESyntaxController;
class KRUserDefaults;

// Colours the text of one editor from a syntax definition. The engine owns its text model
// (the editor's LF-only text and its temporary attributes) and needs no widget: a view tells
// it which characters it shows (setVisibleRange) and pushes the attributes it reads back.
// Only the visible lines are recoloured after an edit; constructs opened earlier (block
// comments, instructions, multi-line strings) are found by looking back in the whole text.
class CESyntaxColouring
{
public:
    // The definition strings, readable by key (definitionValue).
    static const QStringList definitionStringKeys;

    explicit CESyntaxColouring(KRUserDefaults &defaults, CESyntaxController &controller);
    CESyntaxColouring(const CESyntaxColouring &) = delete;
    CESyntaxColouring &operator=(const CESyntaxColouring &) = delete;
    ~CESyntaxColouring();

    // The text model.
    const QString &string() const { return m_text; }
    void setString(const QString &text);
    // An edit: the attributes after it move with the text; the inserted text is uncoloured.
    void replaceCharacters(CERange range, const QString &replacement);
    // After a single edit within one line: recolours that line alone when every visible line
    // then has the colours a recolour of all of them (pageRecolour) would give, which holds
    // when the visible lines were last recoloured together, the edit neither holds, takes nor
    // touches a character of a delimiter (block comments, instructions, strings, comment and
    // command markers, the escape), so that the line's constructs stay as they were, and no
    // string or comment runs into the line from an earlier one or out of it into the next.
    // With `highlightLines`
    // (the lines of the selection; location -1 for no highlight) the current-line highlight
    // moves as highlightLineRange would move it. False, with nothing done, otherwise.
    bool recolourEditedLine(CERange highlightLines = {-1, 0});
    // The line of the last edit when it stayed within one line; location -1 otherwise.
    CERange editedLine() const { return m_edit.count == 1 && m_edit.withinLine ? m_edit.line : CERange{-1, 0}; }
    CETemporaryAttributes &temporaryAttributes() { return m_attributes; }
    const CETemporaryAttributes &temporaryAttributes() const { return m_attributes; }

    // Settings of the editor.
    QString syntaxDefinition() const { return m_syntaxDefinition; }
    // Applies the definition, removes all colours and recolours the visible lines.
    void setSyntaxDefinition(const QString &name);
    QString name() const { return m_name; }
    void setName(const QString &name) { m_name = name; }
    bool isSyntaxColoured() const { return m_syntaxColoured; }
    void setSyntaxColoured(bool coloured)
    {
        m_syntaxColoured = coloured;
        forgetColouredLines();
    }
    // The characters the view lays out; the whole text until a view says otherwise.
    CERange visibleRange() const;
    void setVisibleRange(CERange range) { m_visibleRange = range; }
    bool reactToChanges() const { return m_reactToChanges; }
    void setReactToChanges(bool react) { m_reactToChanges = react; }
    QStringList additionalKeywords() const { return m_additionalKeywords; }
    // Taken in the next time a definition is applied.
    void setAdditionalKeywords(const QStringList &words) { m_additionalKeywords = words; }

    void applySyntaxDefinition();
    QString assignSyntaxDefinition();
    void parseSyntaxDictionary(const std::optional<QVariantMap> &definition);
    static QString guessSyntaxDefinitionExtensionFromFirstLine(const QString &line);
    void prepareRegularExpressions();

    void removeAllColours();
    void removeColoursFromRange(CERange range);
    // The visible lines, or with colourAll the whole text.
    void pageRecolour(bool colourAll = false);
    void recolourRange(CERange range);
    void setColour(const QVariantMap &attributes, CERange range);
    void applyColourDefaults();
    void highlightLineRange(CERange range);
    CERange lastLineHighlightRange() const { return m_lastLineHighlightRange; }
    // Where the current-line highlight goes when the colours change.
    void setSelectedRange(CERange range) { m_selectedRange = range; }

    QString definitionValue(const QString &key) const { return m_definitionStrings.value(key); }
    QSet<QString> keywords() const { return m_keywords; }
    QSet<QString> autocompleteWords() const { return m_autocompleteWords; }
    QStringList keywordsAndAutocompleteWords() const { return m_keywordsAndAutocompleteWords; }
    bool keywordsCaseSensitive() const { return m_keywordsCaseSensitive; }
    bool hasFirstStringPattern() const { return bool(m_firstStringPattern); }
    bool hasSecondStringPattern() const { return bool(m_secondStringPattern); }
    // The colour attribute of a colour key ("KeywordsColourWell", ...).
    QVariantMap colourAttributes(const QString &colourKey) const { return m_colours.value(colourKey); }

    // Line helpers over UTF-16 text: the start of the line holding `position`, and the end of
    // that line including its terminator.
    static qsizetype lineStart(const QString &text, qsizetype position);
    static qsizetype lineEnd(const QString &text, qsizetype position);

private:
    struct Pass;
    // The edits since the visible lines were last recoloured.
    struct PendingEdit
    {
        int count = 0;
        bool withinLine = false; // the only edit, within one line, clear of every delimiter character
        CERange line{-1, 0};     // the edited line now, its terminator included
        CERange lineBefore{-1, 0};
    };
    void forgetColouredLines();
    // The start of the last occurrence of `what` that lies entirely before `before` (-1 for
    // none), remembered until the text before `before` changes: typing on a line looks back
    // from the same place again and again.
    qsizetype findBefore(const QString &what, qsizetype before);
    void onColoursChanged();
    bool enabled(const QString &switchKey) const;
    // Colours the requested range; the passes read the text from `searchFrom` on when it lies
    // before the range (the character a construct at the range's start is told apart by).
    void runPasses(CERange requested, qsizetype searchFrom = -1);
    void recolourRange(CERange range, qsizetype searchFrom);

    KRUserDefaults &m_defaults;
    CESyntaxController &m_controller;
    std::vector<KRObservationToken> m_observations;

    QString m_text;
    CETemporaryAttributes m_attributes;
    QString m_syntaxDefinition = QStringLiteral("Standard");
    QString m_name;
    bool m_syntaxColoured = true;
    CERange m_visibleRange{0, -1};
    bool m_reactToChanges = true;
    QStringList m_additionalKeywords;
    CERange m_lastLineHighlightRange{0, 0};
    CERange m_selectedRange{0, 0};
    // The lines pageRecolour last coloured together, kept in step with the edits since.
    CERange m_colouredLines{-1, 0};
    PendingEdit m_edit;
    struct LookBack
    {
        qsizetype before = -1;
        qsizetype found = -1;
    };
    QHash<QString, LookBack> m_lookBacks;
    CECharacterSet m_crossLineCharacters; // the characters of every delimiter, and the escape
    bool m_wordsStayInLines = false;      // no keyword reaches over a line end

    QHash<QString, QVariantMap> m_colours;     // colour key → attribute dictionary
    QHash<QString, quint32> m_colourHandles;   // colour key → handle in m_attributes

    QSet<QString> m_keywords;
    QSet<QString> m_autocompleteWords;
    QStringList m_keywordsAndAutocompleteWords;
    bool m_keywordsCaseSensitive = false;
    bool m_recolourKeywordIfAlreadyColoured = false;
    QHash<QString, QString> m_definitionStrings;
    // The same strings by their place in definitionStringKeys, for the passes.
    enum DefinitionString {
        BeginCommand, EndCommand, BeginInstruction, EndInstruction, FirstString, SecondString,
        FirstSingleLineComment, SecondSingleLineComment, BeginFirstMultiLineComment, EndFirstMultiLineComment,
        BeginSecondMultiLineComment, EndSecondMultiLineComment, DefinitionStringCount = 14
    };
    std::array<QString, DefinitionStringCount> m_definitionValues;
    CECharacterSet m_beginVariable;
    CECharacterSet m_endVariable;
    CECharacterSet m_letters;
    CECharacterSet m_keywordStart;
    CECharacterSet m_keywordEnd;
    CECharacterSet m_attributesSet;
    std::shared_ptr<RegexPattern> m_firstStringPattern;
    std::shared_ptr<RegexPattern> m_secondStringPattern;
};
