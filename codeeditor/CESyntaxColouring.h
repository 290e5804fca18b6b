#pragma once

#include "CERegex.h"
#include "CEScanner.h"
#include "CETemporaryAttributes.h"

#include <platform/foundation/KRObservationToken.h>

#include <QSet>
#include <QStringList>
#include <QVariantMap>

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
    CETemporaryAttributes &temporaryAttributes() { return m_attributes; }
    const CETemporaryAttributes &temporaryAttributes() const { return m_attributes; }

    // Settings of the editor.
    QString syntaxDefinition() const { return m_syntaxDefinition; }
    // Applies the definition, removes all colours and recolours the visible lines.
    void setSyntaxDefinition(const QString &name);
    QString name() const { return m_name; }
    void setName(const QString &name) { m_name = name; }
    bool isSyntaxColoured() const { return m_syntaxColoured; }
    void setSyntaxColoured(bool coloured) { m_syntaxColoured = coloured; }
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
    void onColoursChanged();
    bool enabled(const QString &switchKey) const;
    void runPasses(CERange requested);

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

    QHash<QString, QVariantMap> m_colours;     // colour key → attribute dictionary
    QHash<QString, quint32> m_colourHandles;   // colour key → handle in m_attributes

    QSet<QString> m_keywords;
    QSet<QString> m_autocompleteWords;
    QStringList m_keywordsAndAutocompleteWords;
    bool m_keywordsCaseSensitive = false;
    bool m_recolourKeywordIfAlreadyColoured = false;
    QHash<QString, QString> m_definitionStrings;
    CECharacterSet m_beginVariable;
    CECharacterSet m_endVariable;
    CECharacterSet m_letters;
    CECharacterSet m_keywordStart;
    CECharacterSet m_keywordEnd;
    CECharacterSet m_attributesSet;
    std::shared_ptr<RegexPattern> m_firstStringPattern;
    std::shared_ptr<RegexPattern> m_secondStringPattern;
};
