#include "CESyntaxColouring.h"

#include "CEDefaults.h"
#include "CESyntaxController.h"

#include <platform/foundation/KRUserDefaults.h>

#include <QFileInfo>
#include <QStringView>

#include <stdexcept>

namespace {

// The colour keys and the switch that enables each construct.
const QString ceColouringCommands = CEDefaults::commandsColourWell;
const QString ceColouringComments = CEDefaults::commentsColourWell;
const QString ceColouringInstructions = CEDefaults::instructionsColourWell;
const QString ceColouringKeywords = CEDefaults::keywordsColourWell;
const QString ceColouringAutocomplete = CEDefaults::autocompleteColourWell;
const QString ceColouringVariables = CEDefaults::variablesColourWell;
const QString ceColouringStrings = CEDefaults::stringsColourWell;
const QString ceColouringAttributes = CEDefaults::attributesColourWell;

bool ceColouringIsLineTerminator(QChar c)
{
    return c == u'\n' || c == u'\r' || c == QChar(0x2028) || c == QChar(0x2029) || c == QChar(0x85);
}

// The start of the last occurrence of `what` that lies entirely before `before`; -1 for none.
qsizetype ceColouringFindBefore(const QString &text, const QString &what, qsizetype before)
{
    if (what.isEmpty() || before - what.size() < 0)
        return -1;
    return text.lastIndexOf(what, before - what.size());
}

// The first occurrence of `what` entirely inside [from, from + length); -1 for none.
qsizetype ceColouringFindIn(const QString &text, const QString &what, qsizetype from, qsizetype length)
{
    if (from < 0 || length <= 0 || from >= text.size())
        return -1;
    const qsizetype found = QStringView(text).mid(from, std::min(length, text.size() - from)).indexOf(what);
    return found < 0 ? -1 : from + found;
}

QStringList ceColouringStringList(const QVariant &value)
{
    QStringList words;
    if (value.typeId() != QMetaType::QVariantList)
        return words;
    for (const QVariant &word : value.toList()) {
        if (word.typeId() == QMetaType::QString && !word.toString().isEmpty())
            words.append(word.toString());
    }
    return words;
}

QString ceColouringString(const QVariantMap &definition, const QString &key)
{
    const QVariant value = definition.value(key);
    return value.typeId() == QMetaType::QString ? value.toString() : QString();
}

} // namespace

const QStringList CESyntaxColouring::definitionStringKeys{
    "beginCommand", "endCommand", "beginInstruction", "endInstruction", "firstString", "secondString",
    "firstSingleLineComment", "secondSingleLineComment", "beginFirstMultiLineComment",
    "endFirstMultiLineComment", "beginSecondMultiLineComment", "endSecondMultiLineComment",
    "functionDefinition", "removeFromFunction"};

CESyntaxColouring::CESyntaxColouring(KRUserDefaults &defaults, CESyntaxController &controller)
    : m_defaults(defaults), m_controller(controller)
{
    CEDefaults::registerInitialValues(m_defaults);
    applyColourDefaults();
    m_letters = CECharacterSet::letters();
    m_attributesSet = CECharacterSet::alphanumerics();
    m_attributesSet.addCharacters(QStringLiteral(" -"));
    applySyntaxDefinition();

    const QStringList colourKeys{
        CEDefaults::commandsColourWell, CEDefaults::commentsColourWell, CEDefaults::instructionsColourWell,
        CEDefaults::keywordsColourWell, CEDefaults::autocompleteColourWell, CEDefaults::variablesColourWell,
        CEDefaults::stringsColourWell, CEDefaults::attributesColourWell, CEDefaults::colourCommands,
        CEDefaults::colourComments, CEDefaults::colourInstructions, CEDefaults::colourKeywords,
        CEDefaults::colourAutocomplete, CEDefaults::colourVariables, CEDefaults::colourStrings,
        CEDefaults::colourAttributes, CEDefaults::onlyColourTillTheEndOfLine, CEDefaults::highlightCurrentLine,
        CEDefaults::highlightLineColourWell};
    for (const QString &key : colourKeys)
        m_observations.push_back(m_defaults.observe(key, [this](const QString &, const QVariant &) { onColoursChanged(); }));
    m_observations.push_back(m_defaults.observe(CEDefaults::colourMultiLineStrings, [this](const QString &, const QVariant &) {
        prepareRegularExpressions();
        onColoursChanged();
    }));
}

CESyntaxColouring::~CESyntaxColouring() = default;

void CESyntaxColouring::setString(const QString &text)
{
    m_text = text;
    m_lookBacks.clear();
    m_attributes.reset(text.size());
    forgetColouredLines();
}

qsizetype CESyntaxColouring::findBefore(const QString &what, qsizetype before)
{
    LookBack &remembered = m_lookBacks[what];
    if (remembered.before != before) {
        remembered.before = before;
        remembered.found = ceColouringFindBefore(m_text, what, before);
    }
    return remembered.found;
}

void CESyntaxColouring::forgetColouredLines()
{
    m_colouredLines = {-1, 0};
    m_edit = {};
}

namespace {

bool ceColouringHasLineTerminator(QStringView text)
{
    return std::any_of(text.begin(), text.end(), ceColouringIsLineTerminator);
}

bool ceColouringHasAny(QStringView text, const CECharacterSet &set)
{
    return std::any_of(text.begin(), text.end(), [&set](QChar c) { return set.contains(c); });
}

} // namespace

void CESyntaxColouring::replaceCharacters(CERange range, const QString &replacement)
{
    const qsizetype start = std::clamp<qsizetype>(range.location, 0, m_text.size());
    const qsizetype length = std::clamp<qsizetype>(range.length, 0, m_text.size() - start);
    const QStringView removed = QStringView(m_text).mid(start, length);
    // The delimiters of the line stay as they were when the edit neither holds nor takes a
    // character of one, nor touches one on either side.
    bool withinLine = ++m_edit.count == 1 && !ceColouringHasLineTerminator(removed)
                      && !ceColouringHasLineTerminator(replacement) && !ceColouringHasAny(removed, m_crossLineCharacters)
                      && !ceColouringHasAny(replacement, m_crossLineCharacters);
    if (withinLine) {
        const qsizetype first = lineStart(m_text, start);
        m_edit.lineBefore = {first, lineEnd(m_text, start) - first};
    }
    m_text.replace(start, length, replacement);
    m_attributes.replace(start, length, replacement.size());
    // What lies wholly before the edit is still where it was.
    for (LookBack &remembered : m_lookBacks) {
        if (remembered.before > start)
            remembered.before = -1;
    }
    const qsizetype after = start + replacement.size();
    withinLine = withinLine && (start == 0 || !m_crossLineCharacters.contains(m_text.at(start - 1)))
                 && (after >= m_text.size() || !m_crossLineCharacters.contains(m_text.at(after)));
    m_edit.withinLine = withinLine;
    if (withinLine) {
        const qsizetype first = lineStart(m_text, start);
        m_edit.line = {first, lineEnd(m_text, start) - first};
    }
    // The coloured lines move with an edit before them and stretch with one inside them.
    const qsizetype delta = replacement.size() - length;
    CERange &coloured = m_colouredLines;
    if (coloured.location < 0 || start >= coloured.end())
        return;
    if (start + length <= coloured.location)
        coloured.location += delta;
    else if (start >= coloured.location && start + length <= coloured.end())
        coloured.length += delta;
    else
        forgetColouredLines();
}

bool CESyntaxColouring::recolourEditedLine(CERange highlightLines)
{
    const PendingEdit edit = std::exchange(m_edit, {});
    if (edit.count != 1 || !edit.withinLine || !m_syntaxColoured || !m_reactToChanges || !m_wordsStayInLines
        || m_colouredLines.location < 0 || enabled(CEDefaults::colourMultiLineStrings))
        return false;
    const CERange visible = visibleRange();
    const qsizetype first = lineStart(m_text, visible.location);
    const CERange lines{first, lineEnd(m_text, visible.end()) - first};
    const CERange line = edit.line;
    if (!(lines == m_colouredLines) || line.location < lines.location || line.end() > lines.end())
        return false;
    const bool highlight = highlightLines.location >= 0;
    if (highlight && (!(highlightLines == line) || !(m_lastLineHighlightRange == edit.lineBefore)))
        return false;
    // A construct that reaches over the line end before the line and colours any of it may run
    // on through it: only a recolour from where it starts shows how far. One that starts in the
    // line and runs on into the next (a string with an escaped line end) is only found by a
    // recolour that reaches its end. The colours of the line ends, which the edit left alone,
    // tell.
    const auto foregroundAt = [this](qsizetype position) {
        return m_attributes.attributeAt(CETemporaryAttributes::foregroundColour, position);
    };
    if (line.location > 0) {
        const QVariant before = foregroundAt(line.location - 1);
        if (before.isValid()) {
            for (qsizetype i = line.location; i < line.end(); ++i) {
                if (foregroundAt(i) == before)
                    return false;
            }
        }
    }
    if (line.end() < m_text.size()) {
        const QVariant end = foregroundAt(line.end() - 1);
        if (end.isValid() && foregroundAt(line.end()) == end)
            return false;
    }
    // The passes over the lines in view see the line end before the line (a string can open
    // right after it), unless the line is the first in view.
    const qsizetype searchFrom = line.location > lines.location ? line.location - 1 : line.location;
    if (highlight && !(highlightLines == m_lastLineHighlightRange)) {
        // As highlightLineRange does: the old highlight goes before the line is recoloured.
        m_attributes.removeAttribute(CETemporaryAttributes::backgroundColour, m_lastLineHighlightRange);
        recolourRange(line, searchFrom);
        m_attributes.addAttributes(m_colours.value(CEDefaults::highlightLineColourWell), line);
        m_lastLineHighlightRange = line;
    } else {
        recolourRange(line, searchFrom);
    }
    return true;
}

CERange CESyntaxColouring::visibleRange() const
{
    const qsizetype start = std::clamp<qsizetype>(m_visibleRange.location, 0, m_text.size());
    const qsizetype length = m_visibleRange.length < 0 ? m_text.size() - start
                                                       : std::min(m_visibleRange.length, m_text.size() - start);
    return {start, length};
}

void CESyntaxColouring::setSyntaxDefinition(const QString &name)
{
    forgetColouredLines();
    m_syntaxDefinition = name;
    applySyntaxDefinition();
    removeAllColours();
    pageRecolour();
}

bool CESyntaxColouring::enabled(const QString &switchKey) const
{
    return CEDefaults::boolValue(m_defaults, switchKey);
}

void CESyntaxColouring::applyColourDefaults()
{
    forgetColouredLines();
    const QStringList keys{ceColouringCommands, ceColouringComments, ceColouringInstructions, ceColouringKeywords,
                           ceColouringAutocomplete, ceColouringVariables, ceColouringStrings, ceColouringAttributes};
    for (const QString &key : keys)
        m_colours.insert(key, {{CETemporaryAttributes::foregroundColour, CEDefaults::colourValue(m_defaults, key)}});
    m_colours.insert(CEDefaults::highlightLineColourWell,
                     {{CETemporaryAttributes::backgroundColour,
                       CEDefaults::colourValue(m_defaults, CEDefaults::highlightLineColourWell)}});
    for (auto it = m_colours.cbegin(); it != m_colours.cend(); ++it)
        m_colourHandles.insert(it.key(), m_attributes.dictionaryHandle(it.value()));
}

void CESyntaxColouring::onColoursChanged()
{
    applyColourDefaults();
    // The highlight is laid again in the new colour even when the line stays the same;
    // highlightLineRange recolours the visible lines.
    const CERange previous = m_lastLineHighlightRange;
    m_attributes.removeAttribute(CETemporaryAttributes::backgroundColour, previous);
    m_lastLineHighlightRange = {-1, 0};
    if (enabled(CEDefaults::highlightCurrentLine)) {
        const qsizetype start = lineStart(m_text, m_selectedRange.location);
        const qsizetype end = lineEnd(m_text, std::max(m_selectedRange.location, m_selectedRange.end()));
        highlightLineRange({start, end - start});
    } else {
        highlightLineRange({0, 0});
    }
}

QString CESyntaxColouring::guessSyntaxDefinitionExtensionFromFirstLine(const QString &line)
{
    static const QList<QPair<QString, QString>> table{
        {"perl", "pl"}, {"wish", "tcl"}, {"sh", "sh"},   {"php", "php"},  {"python", "py"},
        {"awk", "awk"}, {"xml", "xml"},  {"ruby", "rb"}, {"%!ps", "ps"}, {"%pdf", "pdf"}};
    for (const auto &[word, extension] : table) {
        if (line.contains(word, Qt::CaseInsensitive))
            return extension;
    }
    return {};
}

QString CESyntaxColouring::assignSyntaxDefinition()
{
    QString name;
    if (CEDefaults::integerValue(m_defaults, CEDefaults::syntaxColouringMatrix) == 1) {
        name = m_defaults.stringValue(CEDefaults::syntaxColouringPopUpString);
    } else {
        QString extension = QFileInfo(m_name).suffix();
        if (extension.isEmpty()) {
            const QString firstLine = m_text.left(lineEnd(m_text, 0)).trimmed();
            if (firstLine.startsWith(QLatin1String("#!")) || firstLine.startsWith(QLatin1Char('%'))
                || firstLine.startsWith(QLatin1String("<?")))
                extension = guessSyntaxDefinitionExtensionFromFirstLine(firstLine);
        }
        if (!extension.isEmpty())
            name = m_controller.syntaxDefinitionNameWithExtension(extension.toLower());
    }
    if (name.isEmpty())
        name = CESyntaxController::standardSyntaxDefinitionName();
    m_syntaxDefinition = name;
    return name;
}

void CESyntaxColouring::applySyntaxDefinition()
{
    const QString name = m_syntaxDefinition.isNull() ? assignSyntaxDefinition() : m_syntaxDefinition;
    parseSyntaxDictionary(m_controller.syntaxDictionaryWithName(name));
}

void CESyntaxColouring::parseSyntaxDictionary(const std::optional<QVariantMap> &optionalDefinition)
{
    const QVariantMap definition = optionalDefinition.value_or(QVariantMap());

    // Every definition starts from the same base, so nothing of the previous one stays.
    m_keywords.clear();
    m_autocompleteWords.clear();
    m_keywordsCaseSensitive = false;
    m_recolourKeywordIfAlreadyColoured = false;
    m_beginVariable = CECharacterSet();
    m_keywordStart = CECharacterSet::letters();
    m_keywordStart.addCharacters(QStringLiteral("_:@#"));
    m_keywordEnd = CECharacterSet::whitespaceAndNewlines();
    m_keywordEnd.unite(CECharacterSet::symbols());
    m_keywordEnd.unite(CECharacterSet::punctuation());
    m_keywordEnd.removeCharacters(QStringLiteral("_"));

    QStringList list = m_additionalKeywords;
    const QStringList keywords = ceColouringStringList(definition.value("keywords"));
    m_keywords = QSet<QString>(keywords.cbegin(), keywords.cend());
    list += keywords;
    const QStringList autocomplete = ceColouringStringList(definition.value("autocompleteWords"));
    m_autocompleteWords = QSet<QString>(autocomplete.cbegin(), autocomplete.cend());
    list += autocomplete;
    if (CEDefaults::boolValue(m_defaults, CEDefaults::colourAutocompleteWordsAsKeywords))
        m_keywords = QSet<QString>(list.cbegin(), list.cend());
    list.sort(Qt::CaseSensitive);
    m_keywordsAndAutocompleteWords = list;

    if (definition.value("recolourKeywordIfAlreadyColoured").typeId() == QMetaType::Bool)
        m_recolourKeywordIfAlreadyColoured = definition.value("recolourKeywordIfAlreadyColoured").toBool();
    if (definition.value("keywordsCaseSensitive").typeId() == QMetaType::Bool)
        m_keywordsCaseSensitive = definition.value("keywordsCaseSensitive").toBool();
    if (!m_keywordsCaseSensitive) {
        QSet<QString> lower;
        for (const QString &word : std::as_const(m_keywords))
            lower.insert(word.toLower());
        m_keywords = lower;
    }

    m_definitionStrings.clear();
    for (const QString &key : definitionStringKeys)
        m_definitionStrings.insert(key, ceColouringString(definition, key));
    for (int i = 0; i < DefinitionStringCount; ++i)
        m_definitionValues[size_t(i)] = m_definitionStrings.value(definitionStringKeys.at(i));

    m_beginVariable = CECharacterSet::fromCharacters(ceColouringString(definition, "beginVariable"));
    m_endVariable = CECharacterSet::fromCharacters(ceColouringString(definition, "endVariable"));

    m_keywordStart.removeCharacters(ceColouringString(definition, "excludeFromKeywordStartCharacterSet"));
    m_keywordEnd.removeCharacters(ceColouringString(definition, "excludeFromKeywordEndCharacterSet"));
    m_keywordStart.addCharacters(ceColouringString(definition, "includeInKeywordStartCharacterSet"));
    m_keywordEnd.addCharacters(ceColouringString(definition, "includeInKeywordEndCharacterSet"));

    // What decides whether an edit can change the colours of other lines than its own.
    forgetColouredLines();
    QString delimiters = QStringLiteral("\\");
    for (const QString &key : definitionStringKeys) {
        if (key != QLatin1String("functionDefinition") && key != QLatin1String("removeFromFunction"))
            delimiters += m_definitionStrings.value(key);
    }
    m_crossLineCharacters = CECharacterSet::fromCharacters(delimiters);
    m_wordsStayInLines = true;
    for (const QChar terminator : {QChar(u'\n'), QChar(u'\r'), QChar(0x2028), QChar(0x2029), QChar(0x85)})
        m_wordsStayInLines = m_wordsStayInLines && m_keywordEnd.contains(terminator) && !m_keywordStart.contains(terminator);

    prepareRegularExpressions();
}

void CESyntaxColouring::prepareRegularExpressions()
{
    QString firstFormat;
    QString secondFormat;
    if (CEDefaults::boolValue(m_defaults, CEDefaults::colourMultiLineStrings)) {
        firstFormat = QStringLiteral(R"(\W%@[^%@\\]*+(?:\\(?:.|$)[^%@\\]*+)*+%@)");
        secondFormat = firstFormat;
    } else {
        firstFormat = QStringLiteral(R"(\W%@[^%@\\\r\n]*+(?:\\(?:.|$)[^%@\\\r\n]*+)*+%@)");
        secondFormat = QStringLiteral(R"(\W%@[^%@\\\r\n]*+(?:\\(?:.|$)[^%@\\]*+)*+%@)");
    }
    // The delimiters go into the patterns as they stand; a user's delimiter that makes the
    // pattern invalid leaves that kind of string uncoloured instead of failing the editor.
    const auto compile = [](QString format, const QString &delimiter) -> std::shared_ptr<RegexPattern> {
        if (delimiter.isEmpty())
            return nullptr;
        try {
            return std::make_shared<RegexPattern>(format.replace(QStringLiteral("%@"), delimiter));
        } catch (const CERegexException &error) {
            qWarning("Syntax definition string delimiter \"%s\" ignored: %s", qPrintable(delimiter),
                     qPrintable(error.reason()));
            return nullptr;
        }
    };
    m_firstStringPattern = compile(firstFormat, m_definitionStrings.value("firstString"));
    m_secondStringPattern = compile(secondFormat, m_definitionStrings.value("secondString"));
}

void CESyntaxColouring::removeAllColours()
{
    forgetColouredLines();
    m_attributes.removeAttribute(CETemporaryAttributes::foregroundColour, {0, m_text.size()});
}

void CESyntaxColouring::removeColoursFromRange(CERange range)
{
    forgetColouredLines();
    m_attributes.removeAttribute(CETemporaryAttributes::foregroundColour, range);
}

void CESyntaxColouring::setColour(const QVariantMap &attributes, CERange range)
{
    m_attributes.addAttributes(attributes, range);
}

qsizetype CESyntaxColouring::lineStart(const QString &text, qsizetype position)
{
    qsizetype i = std::clamp<qsizetype>(position, 0, text.size());
    while (i > 0 && !ceColouringIsLineTerminator(text.at(i - 1)))
        --i;
    return i;
}

qsizetype CESyntaxColouring::lineEnd(const QString &text, qsizetype position)
{
    qsizetype i = std::clamp<qsizetype>(position, 0, text.size());
    while (i < text.size() && !ceColouringIsLineTerminator(text.at(i)))
        ++i;
    if (i < text.size()) {
        if (text.at(i) == u'\r' && i + 1 < text.size() && text.at(i + 1) == u'\n')
            ++i;
        ++i;
    }
    return i;
}

void CESyntaxColouring::pageRecolour(bool colourAll)
{
    if (!m_syntaxColoured)
        return;
    if (colourAll) {
        recolourRange({0, m_text.size()});
        return;
    }
    const CERange visible = visibleRange();
    const qsizetype start = lineStart(m_text, visible.location);
    const qsizetype end = lineEnd(m_text, visible.end());
    recolourRange({start, end - start});
    if (m_reactToChanges) {
        m_colouredLines = {start, end - start};
        m_edit = {};
    }
}

void CESyntaxColouring::highlightLineRange(CERange range)
{
    if (range == m_lastLineHighlightRange)
        return;
    m_attributes.removeAttribute(CETemporaryAttributes::backgroundColour, m_lastLineHighlightRange);
    pageRecolour();
    m_attributes.addAttributes(m_colours.value(CEDefaults::highlightLineColourWell), range);
    m_lastLineHighlightRange = range;
}

void CESyntaxColouring::recolourRange(CERange range)
{
    recolourRange(range, -1);
}

void CESyntaxColouring::recolourRange(CERange range, qsizetype searchFrom)
{
    if (!m_reactToChanges)
        return;
    const qsizetype start = std::clamp<qsizetype>(range.location, 0, m_text.size());
    range = {start, std::clamp<qsizetype>(range.length, 0, m_text.size() - start)};
    try {
        runPasses(range, searchFrom);
    } catch (const std::exception &error) {
        qWarning("Syntax colouring exception: %s", error.what());
    }
}

void CESyntaxColouring::runPasses(CERange requested, qsizetype searchFrom)
{
    const QString &text = m_text;
    const qsizetype textLength = text.size();
    const bool toLineEnd = enabled(CEDefaults::onlyColourTillTheEndOfLine);
    const bool multiLineStrings = enabled(CEDefaults::colourMultiLineStrings);
    const QString &firstString = m_definitionValues[FirstString];
    const quint32 commandsHandle = m_colourHandles.value(ceColouringCommands);
    const quint32 stringsHandle = m_colourHandles.value(ceColouringStrings);
    const quint32 commentsHandle = m_colourHandles.value(ceColouringComments);

    // The working range starts earlier when the requested one begins inside a string that
    // an earlier line opened.
    qsizetype w = searchFrom >= 0 ? std::min(searchFrom, requested.location) : requested.location;
    if (multiLineStrings && !firstString.isEmpty()) {
        const qsizetype p = findBefore(firstString, requested.location);
        if (p >= 0 && m_attributes.hasDictionary(p, stringsHandle))
            w = std::min(w, lineStart(text, p));
    }
    const qsizetype S = requested.end() - w;
    const QString search = text.mid(w, S);
    if (S == 0)
        return;
    CEStringScanner rangeScanner(search);
    CEStringScanner textScanner(text);
    m_attributes.removeAttribute(CETemporaryAttributes::foregroundColour, requested);

    const auto colour = [this](const QString &key, qsizetype from, qsizetype to) {
        if (to > from)
            m_attributes.addAttributes(m_colours.value(key), {from, to - from});
    };
    const auto value = [this](DefinitionString key) -> const QString & { return m_definitionValues[size_t(key)]; };
    // Where a delimited run (instruction, block comment) is looked for: at its begin token when the
    // last one before the working range is still open there, else at the working range.
    const auto runSearchStart = [&](const QString &begin, const QString &end) {
        const qsizetype pb = findBefore(begin, w);
        const qsizetype pe = findBefore(end, w);
        return (pb >= 0 && (pe < 0 || pb >= pe)) ? pb : w;
    };
    // Colours a run from f to the scan location; true once that passes the working range, else
    // the next search starts at q, the scan location.
    const auto colourRunFrom = [&](const QString &key, qsizetype f, qsizetype &q) {
        colour(key, f, textScanner.scanLocation());
        if (textScanner.scanLocation() > w + S)
            return true;
        q = textScanner.scanLocation();
        return false;
    };

    // Commands (markup tags), nesting by their first characters.
    if (!value(BeginCommand).isEmpty() && enabled(CEDefaults::colourCommands)) {
        const QString &beginCommand = value(BeginCommand);
        const QString &endCommand = value(EndCommand);
        const QChar b = beginCommand.at(0);
        const QChar e = endCommand.isEmpty() ? QChar() : endCommand.at(0);
        const qsizetype k = endCommand.size();
        rangeScanner.setScanLocation(0);
        while (!rangeScanner.isAtEnd()) {
            rangeScanner.scanUpToString(beginCommand);
            const qsizetype s = rangeScanner.scanLocation();
            const qsizetype L = lineEnd(search, s);
            if (!rangeScanner.scanUpToString(endCommand) || rangeScanner.scanLocation() >= L) {
                rangeScanner.setScanLocation(L);
                continue;
            }
            int depth = 0;
            qsizetype i = s + 1;
            bool endedOnClose = false;
            for (; i < L; ++i) {
                const QChar c = search.at(i);
                if (c == e) {
                    if (depth == 0) {
                        endedOnClose = true;
                        break;
                    }
                    --depth;
                }
                if (c == b)
                    ++depth;
            }
            rangeScanner.setScanLocation(endedOnClose ? std::min(i + k, S) : L);
            colour(ceColouringCommands, w + s, w + rangeScanner.scanLocation());
        }
    }

    // Instructions, which may have opened before the working range.
    if (!value(BeginInstruction).isEmpty() && enabled(CEDefaults::colourInstructions)) {
        const QString &begin = value(BeginInstruction);
        const QString &end = value(EndInstruction);
        qsizetype q = runSearchStart(begin, end);
        const qsizetype k = end.size();
        textScanner.setScanLocation(q);
        while (!textScanner.isAtEnd()) {
            const qsizetype f = ceColouringFindIn(text, begin, q, std::min(requested.length, textLength - q));
            if (f < 0)
                break;
            textScanner.setScanLocation(f);
            const bool took = textScanner.scanUpToString(end);
            const qsizetype x = textScanner.scanLocation();
            if (took && x < textLength) {
                if (x + k <= textLength)
                    textScanner.setScanLocation(x + k);
            } else {
                textScanner.setScanLocation(toLineEnd ? lineEnd(text, f) : textLength);
            }
            if (colourRunFrom(ceColouringInstructions, f, q))
                break;
        }
    }

    // Keywords and autocomplete words.
    const auto colourWords = [&](const QSet<QString> &words, const QString &colourKey) {
        rangeScanner.setScanLocation(0);
        while (!rangeScanner.isAtEnd()) {
            rangeScanner.scanUpToCharactersFromSet(m_keywordStart);
            const qsizetype s = rangeScanner.scanLocation();
            if (s + 1 < S)
                rangeScanner.setScanLocation(s + 1);
            rangeScanner.scanUpToCharactersFromSet(m_keywordEnd);
            const qsizetype t = rangeScanner.scanLocation();
            if (t == s || t > S)
                break;
            QString word = text.mid(w + s, t - s);
            if (!m_keywordsCaseSensitive)
                word = word.toLower();
            if (!words.contains(word))
                continue;
            if (!m_recolourKeywordIfAlreadyColoured && m_attributes.hasDictionary(w + s, commandsHandle))
                continue;
            colour(colourKey, w + s, w + t);
        }
    };
    if (!m_keywords.isEmpty() && enabled(CEDefaults::colourKeywords))
        colourWords(m_keywords, ceColouringKeywords);
    if (!m_autocompleteWords.isEmpty() && enabled(CEDefaults::colourAutocomplete))
        colourWords(m_autocompleteWords, ceColouringAutocomplete);

    // Variables.
    if (!m_beginVariable.isEmpty() && enabled(CEDefaults::colourVariables)) {
        const bool percentComments = value(FirstSingleLineComment) == QLatin1String("%");
        rangeScanner.setScanLocation(0);
        while (!rangeScanner.isAtEnd()) {
            rangeScanner.scanUpToCharactersFromSet(m_beginVariable);
            const qsizetype s = rangeScanner.scanLocation();
            if (s + 1 < S && percentComments && search.at(s + 1) == u'%') {
                rangeScanner.setScanLocation(s + 1);
                continue;
            }
            const qsizetype L = lineEnd(search, s);
            qsizetype length;
            const bool took = rangeScanner.scanUpToCharactersFromSet(m_endVariable);
            const qsizetype x = rangeScanner.scanLocation();
            if (took && x < L) {
                length = x - s;
                if (x < S)
                    rangeScanner.setScanLocation(x + 1);
            } else {
                rangeScanner.setScanLocation(L);
                length = L - s;
            }
            colour(ceColouringVariables, w + s, w + s + length);
        }
    }

    const bool colourStrings = enabled(CEDefaults::colourStrings);
    std::unique_ptr<RegexMatcher> secondMatcher;
    if (m_secondStringPattern && colourStrings) {
        secondMatcher = std::make_unique<RegexMatcher>(m_secondStringPattern, search);
        while (secondMatcher->findNext()) {
            const CERange m = secondMatcher->rangeOfMatch();
            colour(ceColouringStrings, w + m.location + 1, w + m.end());
        }
    }
    if (m_firstStringPattern && colourStrings) {
        RegexMatcher firstMatcher(m_firstStringPattern, search);
        while (firstMatcher.findNext()) {
            const CERange m = firstMatcher.rangeOfMatch();
            if (m_attributes.hasDictionary(w + m.location, stringsHandle))
                continue;
            colour(ceColouringStrings, w + m.location + 1, w + m.end());
        }
    }

    // Attribute names inside commands: a space, the name, then "=".
    if (enabled(CEDefaults::colourAttributes)) {
        rangeScanner.setScanLocation(0);
        while (!rangeScanner.isAtEnd()) {
            rangeScanner.scanUpToString(QStringLiteral(" "));
            const qsizetype p = rangeScanner.scanLocation();
            if (p + 1 >= S)
                break;
            rangeScanner.setScanLocation(p + 1);
            if (!m_attributes.hasDictionary(w + p, commandsHandle))
                continue;
            rangeScanner.scanCharactersFromSet(m_attributesSet);
            const qsizetype x = rangeScanner.scanLocation();
            if (x + 1 < S)
                rangeScanner.setScanLocation(x + 1);
            // An unfinished tag at the end of the text has no character after its name.
            if (w + x < textLength && text.at(w + x) == u'=')
                colour(ceColouringAttributes, w + p, w + x);
        }
    }

    // Single-line comments.
    const bool colourComments = enabled(CEDefaults::colourComments);
    const auto singleLineComments = [&](const QString &marker, bool first) {
        const qsizetype k = marker.size();
        rangeScanner.setScanLocation(0);
        while (!rangeScanner.isAtEnd()) {
            rangeScanner.scanUpToString(marker);
            const qsizetype p = rangeScanner.scanLocation();
            // No further marker: the rest of the range holds no comment.
            if (p >= S)
                break;
            const QChar before = p > 0 ? search.at(p - 1) : QChar();
            if (marker == QLatin1String("//") && p > 0 && before == u':') {
                rangeScanner.setScanLocation(p + 1);
                continue;
            }
            if (marker == QLatin1String("#") && S >= 2) {
                const qsizetype start = lineStart(search, p);
                const qsizetype end = lineEnd(search, p);
                if (QStringView(search).mid(start, end - start).contains(QLatin1String("#!"))) {
                    rangeScanner.setScanLocation(end);
                    continue;
                }
                if (p > 0 && (before == u'$' || before == u'&')) {
                    rangeScanner.setScanLocation(p + 1);
                    continue;
                }
            }
            if (first && marker == QLatin1String("%") && S >= 2 && p > 0 && before == u'\\') {
                rangeScanner.setScanLocation(p + 1);
                continue;
            }
            if (w + p + k < textLength && m_attributes.hasDictionary(w + p, stringsHandle)) {
                rangeScanner.setScanLocation(p + 1);
                continue;
            }
            const qsizetype end = lineEnd(search, p);
            rangeScanner.setScanLocation(end);
            colour(ceColouringComments, w + p, w + end);
        }
    };
    if (!value(FirstSingleLineComment).isEmpty() && colourComments)
        singleLineComments(value(FirstSingleLineComment), true);
    if (!value(SecondSingleLineComment).isEmpty() && colourComments)
        singleLineComments(value(SecondSingleLineComment), false);

    // Block comments, which may have opened before the working range.
    const auto multiLineComments = [&](const QString &begin, const QString &end, bool lookBack) {
        qsizetype q = lookBack ? runSearchStart(begin, end) : w;
        const qsizetype k = end.size();
        const bool markupEnd = end == QLatin1String("-->");
        textScanner.setScanLocation(q);
        while (!textScanner.isAtEnd()) {
            const qsizetype f = ceColouringFindIn(text, begin, q, std::min(requested.length, textLength - q));
            if (f < 0)
                break;
            textScanner.setScanLocation(f);
            if (f + 1 < textLength && m_attributes.hasDictionary(f, stringsHandle)) {
                textScanner.setScanLocation(f + 1);
                q = f + 1;
                continue;
            }
            const bool took = textScanner.scanUpToString(end);
            const qsizetype x = textScanner.scanLocation();
            if (took && x < textLength) {
                textScanner.setScanLocation(x + k);
                if (markupEnd) {
                    textScanner.scanUpToCharactersFromSet(m_letters);
                    const qsizetype y = textScanner.scanLocation();
                    const QStringView next = QStringView(text).mid(y - 2);
                    if (y + 6 < textLength
                        && (next.startsWith(QLatin1String("</script>"), Qt::CaseInsensitive)
                            || next.startsWith(QLatin1String("</style>"), Qt::CaseInsensitive))) {
                        q = y;
                        continue;
                    }
                    textScanner.setScanLocation(x + k);
                }
            } else {
                textScanner.setScanLocation(toLineEnd ? lineEnd(text, f) : textLength);
            }
            if (colourRunFrom(ceColouringComments, f, q))
                break;
        }
    };
    if (!value(BeginFirstMultiLineComment).isEmpty() && colourComments)
        multiLineComments(value(BeginFirstMultiLineComment), value(EndFirstMultiLineComment), true);
    if (!value(BeginSecondMultiLineComment).isEmpty() && colourComments)
        multiLineComments(value(BeginSecondMultiLineComment), value(EndSecondMultiLineComment), false);

    // Second strings again, where a comment pass painted over a string's opening.
    if (secondMatcher) {
        secondMatcher->reset();
        while (secondMatcher->findNext()) {
            const CERange m = secondMatcher->rangeOfMatch();
            if (m_attributes.hasDictionary(w + m.location, stringsHandle)
                || m_attributes.hasDictionary(w + m.location, commentsHandle))
                continue;
            colour(ceColouringStrings, w + m.location + 1, w + m.end());
        }
    }
}
