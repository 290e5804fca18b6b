#include "CEEditor.h"

#include "CEDefaults.h"
#include "CEFindBar.h"
#include "CELineNumbers.h"
#include "CESyntaxColouring.h"
#include "CESyntaxController.h"
#include "CETextView.h"

#include <model/KRSpecialUndoManager.h>
#include <platform/foundation/KRUndoManager.h>
#include <platform/foundation/KRUserDefaults.h>

#include <QActionGroup>
#include <QApplication>
#include <QDialog>
#include <QDialogButtonBox>
#include <QEvent>
#include <QFontDatabase>
#include <QFormLayout>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QScrollBar>
#include <QSet>
#include <QSpinBox>
#include <QTextCursor>

namespace {

QPointer<CEEditor> &ceEditorCurrent()
{
    static QPointer<CEEditor> current;
    return current;
}

const QSet<QString> &ceEditorSettableKeys()
{
    static const QSet<QString> keys{CEKeys::isSyntaxColoured, CEKeys::showLineNumberGutter, CEKeys::isEdited,
                                    CEKeys::syntaxDefinition, CEKeys::delegate, CEKeys::lineWrapNewDocuments};
    return keys;
}

QString ceEditorGrey(double white)
{
    return QColor::fromRgbF(float(white), float(white), float(white)).name(QColor::HexArgb);
}

QVariantMap ceEditorInitialValues()
{
    QFont font(QStringLiteral("Menlo"));
    font.setPixelSize(11);
    QVariantMap values = CEDefaults::initialValues();
    const QVariantMap more{
        {CEDefaults::backgroundColourWell, QStringLiteral("#ffffffff")},
        {CEDefaults::textColourWell, QStringLiteral("#ff000000")},
        {CEDefaults::gutterTextColourWell, ceEditorGrey(0.42)},
        {CEDefaults::invisibleCharactersColourWell, QStringLiteral("#ff000000")},
        {CEDefaults::liveUpdatePreview, false},
        {CEDefaults::showFullPathInWindowTitle, true},
        {CEDefaults::showLineNumberGutter, true},
        {CEDefaults::syntaxColourNewDocuments, true},
        {CEDefaults::lineWrapNewDocuments, true},
        {CEDefaults::indentNewLinesAutomatically, true},
        {CEDefaults::showMatchingBraces, true},
        {CEDefaults::showInvisibleCharacters, false},
        {CEDefaults::indentWithSpaces, false},
        {CEDefaults::autocompleteSuggestAutomatically, false},
        {CEDefaults::autocompleteIncludeStandardWords, false},
        {CEDefaults::autoSpellCheck, false},
        {CEDefaults::autoGrammarCheck, false},
        {CEDefaults::smartInsertDelete, false},
        {CEDefaults::automaticLinkDetection, false},
        {CEDefaults::automaticQuoteSubstitution, false},
        {CEDefaults::useTabStops, true},
        {CEDefaults::automaticallyIndentBraces, true},
        {CEDefaults::autoInsertAClosingParenthesis, false},
        {CEDefaults::autoInsertAClosingBrace, false},
        {CEDefaults::gutterWidth, 40},
        {CEDefaults::tabWidth, 4},
        {CEDefaults::indentWidth, 4},
        {CEDefaults::showPageGuideAtColumn, 80},
        {CEDefaults::autocompleteAfterDelay, 1.0},
        {CEDefaults::liveUpdatePreviewDelay, 1.0},
        {CEDefaults::textFont, font.toString()},
        {CEDefaults::spacesPerTabEntabDetab, 4},
    };
    values.insert(more);
    return values;
}

// Edits of a command: through the view's guarded path, so the host may refuse any one.
class CEEditorCommandTarget : public CETextEditTarget
{
public:
    explicit CEEditorCommandTarget(CETextView &view) : m_view(view) {}
    QString text() const override { return m_view.text(); }
    bool guardedReplace(CERange range, const QString &replacement) override
    {
        return m_view.guardedReplace(range, replacement);
    }

private:
    CETextView &m_view;
};

} // namespace

CEEditor::CEEditor(KRUserDefaults *defaults, CESyntaxController *controller, QObject *parent)
    : QObject(parent)
    , m_defaults(defaults ? defaults : &KRUserDefaults::sharedInstance())
    , m_controller(controller ? controller : &CESyntaxController::sharedInstance())
{
    initializeValues(*m_defaults);
    m_settings.insert(CEKeys::isSyntaxColoured, true);
    m_settings.insert(CEKeys::syntaxDefinition, CESyntaxController::standardSyntaxDefinitionName());
    setCurrentInstance(this);
}

CEEditor::~CEEditor()
{
    if (m_textView)
        m_textView->disconnect(this);
    delete m_textView.data();
    delete m_gutter.data();
    delete m_findBar.data();
}

CEEditor *CEEditor::currentInstance()
{
    return ceEditorCurrent().data();
}

void CEEditor::setCurrentInstance(CEEditor *editor)
{
    ceEditorCurrent() = editor;
}

void CEEditor::initializeValues(KRUserDefaults &defaults)
{
    // Never destroyed: the shared defaults may outlive any static of this file at exit, and
    // their destruction still reaches the set.
    static auto *registered = new QSet<const KRUserDefaults *>;
    if (registered->contains(&defaults))
        return;
    registered->insert(&defaults);
    QObject::connect(&defaults, &QObject::destroyed, [ptr = &defaults] { registered->remove(ptr); });
    defaults.registerInitialValues(ceEditorInitialValues());
}

void CEEditor::setObject(const QVariant &value, const QString &key)
{
    if (!ceEditorSettableKeys().contains(key) || key == CEKeys::delegate)
        return;
    setSetting(key, value);
}

QVariant CEEditor::objectForKey(const QString &key) const
{
    if (key == CEKeys::firstTextView || key == CEKeys::firstTextScrollView)
        return QVariant::fromValue<QObject *>(m_textView.data());
    if (key == CEKeys::firstGutterScrollView || key == CEKeys::lineNumbers)
        return QVariant::fromValue<QObject *>(m_gutter.data());
    if (key == CEKeys::syntaxColouring || key == CEKeys::delegate || !ceEditorSettableKeys().contains(key))
        return {};
    return m_settings.value(key);
}

void CEEditor::setSetting(const QString &key, const QVariant &value)
{
    const QVariant old = m_settings.value(key);
    if (value.isValid())
        m_settings.insert(key, value);
    else
        m_settings.remove(key);
    if (old == value)
        return;
    if (key == CEKeys::syntaxDefinition && m_colouring) {
        m_colouring->setSyntaxDefinition(value.toString());
        if (m_textView)
            m_textView->recolourVisible();
    } else if (key == CEKeys::isSyntaxColoured && m_colouring) {
        m_colouring->setSyntaxColoured(value.toBool());
        recolor();
    } else if (key == CEKeys::showLineNumberGutter) {
        relayout();
    }
    emit settingChanged(key);
}

void CEEditor::setUndoManagerProvider(std::function<KRSpecialUndoManager *()> provider)
{
    m_undoProvider = std::move(provider);
}

// Without a host's manager the editor keeps a history of its own.
KRSpecialUndoManager *CEEditor::undoManager()
{
    KRSpecialUndoManager *manager = m_undoProvider ? m_undoProvider() : nullptr;
    if (!manager) {
        if (!m_ownUndo) {
            m_ownUndo = std::make_unique<KRUndoManager>();
            m_ownSpecial = std::make_unique<KRSpecialUndoManager>(*m_ownUndo);
        }
        manager = m_ownSpecial.get();
    }
    if (manager && m_observedUndo != &manager->wrapped())
        observeUndoManager(manager);
    return manager;
}

void CEEditor::observeUndoManager(KRSpecialUndoManager *manager)
{
    m_observedUndo = &manager->wrapped();
    connect(&manager->wrapped(), &KRUndoManager::didUndo, this, [this, wrapped = &manager->wrapped()] {
        if (!wrapped->canUndo())
            setEdited(false);
    });
}

void CEEditor::setEdited(bool edited)
{
    if (m_settings.value(CEKeys::isEdited).toBool() != edited)
        setSetting(CEKeys::isEdited, edited);
}

void CEEditor::embedInView(QWidget *host)
{
    if (m_textView)
        return;
    m_host = host;
    m_textView = new CETextView(*this, host);
    m_gutter = new CEGutterView(*this, host);
    const QVariant wrapSetting = m_settings.value(CEKeys::lineWrapNewDocuments);
    const bool wrap = wrapSetting.isValid() ? wrapSetting.toBool() : m_defaults->boolValue(CEDefaults::lineWrapNewDocuments);
    m_textView->setLineWrapMode(wrap ? QPlainTextEdit::WidgetWidth : QPlainTextEdit::NoWrap);
    m_textView->setHorizontalScrollBarPolicy(wrap ? Qt::ScrollBarAlwaysOff : Qt::ScrollBarAsNeeded);
    m_colouring = std::make_unique<CESyntaxColouring>(*m_defaults, *m_controller);
    m_colouring->setString(m_textView->text());
    m_colouring->setName(m_settings.value(CEKeys::name).toString());
    m_colouring->setSyntaxColoured(m_settings.value(CEKeys::isSyntaxColoured, true).toBool());
    m_colouring->setSyntaxDefinition(m_settings.value(CEKeys::syntaxDefinition).toString());
    // Every preference shows at once: the engine takes its colours in first (it observes them
    // itself), then the view reads its own and pushes the colours in view.
    QStringList observed = ceEditorInitialValues().keys();
    observed << CEDefaults::showPageGuide;
    for (const QString &key : std::as_const(observed)) {
        m_observations.push_back(m_defaults->observe(key, [this](const QString &, const QVariant &) {
            if (!m_textView)
                return;
            m_textView->applyDefaults();
            relayout();
            if (auto *gutter = gutterView())
                gutter->updateLineNumbers(false, false);
            m_textView->recolourVisible();
        }));
    }
    if (host)
        host->installEventFilter(this);
    relayout();
    m_textView->show();
    m_gutter->updateLineNumbers(false, true);
}

bool CEEditor::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_host && event->type() == QEvent::Resize)
        relayout();
    return QObject::eventFilter(watched, event);
}

void CEEditor::relayout()
{
    if (!m_textView)
        return;
    const int g = m_settings.value(CEKeys::gutterWidth, int(m_defaults->integerValue(CEDefaults::gutterWidth))).toInt();
    const QSize size = m_host ? m_host->size() : QSize();
    // The find bar takes the bottom of the host while it is shown.
    const int barHeight = m_findBar && m_findBarShown ? m_findBar->sizeHint().height() : 0;
    const int textHeight = std::max(0, size.height() - barHeight);
    m_textView->setGeometry(g, 0, std::max(0, size.width() - g), textHeight);
    m_gutter->setGeometry(0, 0, g, textHeight);
    if (m_findBar)
        m_findBar->setGeometry(0, textHeight, size.width(), barHeight);
    m_gutter->setVisible(m_settings.value(CEKeys::showLineNumberGutter).toBool());
}

CETextView *CEEditor::textView() const
{
    return m_textView.data();
}

CEGutterView *CEEditor::gutterView() const
{
    return m_gutter && m_gutter->isVisibleTo(m_host) ? m_gutter.data() : nullptr;
}

QString CEEditor::string() const
{
    return m_textView ? m_textView->text() : QString();
}

void CEEditor::setString(const QString &text, bool undoable)
{
    if (!m_textView)
        return;
    CETextPerformer::LineEndingStyle style = CETextPerformer::LineFeed;
    const QString editorText = CETextPerformer::textForEditor(text, &style);
    if (undoable) {
        m_textView->breakUndoCoalescing();
        const CERange all{0, m_textView->text().size()};
        m_textView->setPendingActionName(QStringLiteral("Content Change"));
        m_textView->guardedReplace(all, editorText);
        m_textView->setPendingActionName(QStringLiteral("Typing"));
        return;
    }
    m_textView->breakUndoCoalescing();
    // Records of the old text no longer fit the new one.
    if (KRSpecialUndoManager *manager = undoManager())
        manager->removeAllActionsWithTarget(m_textView.data());
    if (KRSpecialUndoManager *manager = undoManager())
        manager->disableUndoRegistration();
    m_textView->load(editorText);
    if (KRSpecialUndoManager *manager = undoManager())
        manager->enableUndoRegistration();
    m_lineEndings = CETextPerformer::lineEndingsOf(text);
    if (CETextPerformer::areMixed(m_lineEndings))
        style = CETextPerformer::dominantLineEnding(m_lineEndings);
    else
        m_lineEndings.clear();
    m_settings.insert(CEKeys::lineEndings, int(style));
    m_textView->setSelectedRange({0, 0});
    recolor();
}

QString CEEditor::stringWithLineEndings() const
{
    const auto style = CETextPerformer::LineEndingStyle(m_settings.value(CEKeys::lineEndings, 1).toInt());
    if (!m_lineEndings.isEmpty())
        return CETextPerformer::textFromEditor(string(), m_lineEndings, style);
    return CETextPerformer::textFromEditor(string(), style);
}

// The breaks an edit removed take their styles with them; the ones it made get the style
// most lines had. Once every break has one style the text is no longer mixed.
void CEEditor::lineBreaksReplaced(qsizetype line, qsizetype removed, qsizetype inserted)
{
    if (m_lineEndings.isEmpty() || (removed == 0 && inserted == 0))
        return;
    const int style = m_settings.value(CEKeys::lineEndings, int(CETextPerformer::LineFeed)).toInt();
    line = std::clamp<qsizetype>(line, 0, m_lineEndings.size());
    m_lineEndings.remove(line, std::min(removed, m_lineEndings.size() - line));
    m_lineEndings.insert(line, QByteArray(inserted, char(style)));
    if (CETextPerformer::areMixed(m_lineEndings))
        return;
    if (!m_lineEndings.isEmpty())
        m_settings.insert(CEKeys::lineEndings, int(m_lineEndings.front()));
    m_lineEndings.clear();
    emit settingChanged(CEKeys::lineEndings);
}

void CEEditor::recolor()
{
    if (!m_colouring || !m_textView)
        return;
    m_colouring->temporaryAttributes().removeAll();
    m_colouring->removeAllColours();
    if (auto *gutter = gutterView())
        gutter->updateLineNumbers(false, false);
    m_colouring->setVisibleRange(m_textView->visibleRange());
    if (m_colouring->isSyntaxColoured())
        m_colouring->pageRecolour(true);
    m_textView->recolourVisible();
}

CECommandResult CEEditor::runCommand(const QString &actionName,
                                     const std::function<CECommandResult(CETextEditTarget &)> &command, bool refreshGutter)
{
    if (!m_textView)
        return {};
    m_textView->breakUndoCoalescing();
    KRSpecialUndoManager *manager = undoManager();
    if (manager)
        manager->beginUndoGrouping();
    m_textView->setPendingActionName(actionName);
    m_colouring->setReactToChanges(false);
    CEEditorCommandTarget target(*m_textView);
    CECommandResult result = command(target);
    m_colouring->setReactToChanges(true);
    m_textView->setPendingActionName(QStringLiteral("Typing"));
    if (manager) {
        if (result.changed)
            manager->setActionName(actionName);
        manager->endUndoGrouping();
    }
    m_textView->recolourVisible();
    if (result.changed)
        setEdited(true);
    if (result.changed && refreshGutter && gutterView())
        gutterView()->updateLineNumbers(false, false);
    if (result.selectRanges)
        m_textView->setSelectedRanges(result.ranges);
    if (result.beep)
        QApplication::beep();
    return result;
}

namespace {

CECommandSettings ceEditorCommandSettings(const KRUserDefaults &defaults)
{
    CECommandSettings settings;
    settings.indentWidth = int(defaults.integerValue(CEDefaults::indentWidth));
    settings.indentWithSpaces = defaults.boolValue(CEDefaults::indentWithSpaces);
    settings.useTabStops = defaults.boolValue(CEDefaults::useTabStops);
    settings.spacesPerTab = int(defaults.integerValue(CEDefaults::spacesPerTabEntabDetab));
    return settings;
}

} // namespace

bool CEEditor::shiftLeft()
{
    const auto settings = ceEditorCommandSettings(*m_defaults);
    const QList<CERange> ranges = m_textView ? m_textView->selectedRanges() : QList<CERange>();
    return !runCommand(tr("Shift Left"), [&](CETextEditTarget &t) { return CETextCommands::shiftLeft(t, ranges, settings); }, true).beep;
}

bool CEEditor::shiftRight()
{
    const auto settings = ceEditorCommandSettings(*m_defaults);
    const QList<CERange> ranges = m_textView ? m_textView->selectedRanges() : QList<CERange>();
    const CERange primary = m_textView ? m_textView->selectedRange() : CERange{0, 0};
    return !runCommand(tr("Shift Right"), [&](CETextEditTarget &t) { return CETextCommands::shiftRight(t, ranges, primary, settings); }, true).beep;
}

bool CEEditor::removeNeedlessWhitespace()
{
    const QList<CERange> ranges = m_textView ? m_textView->selectedRanges() : QList<CERange>();
    return !runCommand(tr("Remove Needless Whitespace"), [&](CETextEditTarget &t) { return CETextCommands::removeNeedlessWhitespace(t, ranges); }, true).beep;
}

bool CEEditor::commentOrUncomment()
{
    const QString token = m_colouring ? m_colouring->definitionValue(QStringLiteral("firstSingleLineComment")) : QString();
    const QList<CERange> ranges = m_textView ? m_textView->selectedRanges() : QList<CERange>();
    return !runCommand(tr("Comment or Uncomment"), [&](CETextEditTarget &t) { return CETextCommands::commentOrUncomment(t, ranges, token); }, true).beep;
}

bool CEEditor::entab()
{
    const QList<CERange> ranges = m_textView ? m_textView->selectedRanges() : QList<CERange>();
    const CERange primary = m_textView ? m_textView->selectedRange() : CERange{0, 0};
    const int n = int(m_defaults->integerValue(CEDefaults::spacesPerTabEntabDetab));
    return !runCommand(tr("Entab"), [&](CETextEditTarget &t) { return CETextCommands::entabOrDetab(t, ranges, primary, n, true); }, false).beep;
}

bool CEEditor::detab()
{
    const QList<CERange> ranges = m_textView ? m_textView->selectedRanges() : QList<CERange>();
    const CERange primary = m_textView ? m_textView->selectedRange() : CERange{0, 0};
    const int n = int(m_defaults->integerValue(CEDefaults::spacesPerTabEntabDetab));
    return !runCommand(tr("Detab"), [&](CETextEditTarget &t) { return CETextCommands::entabOrDetab(t, ranges, primary, n, false); }, false).beep;
}

bool CEEditor::removeLineEndings()
{
    const QList<CERange> ranges = m_textView ? m_textView->selectedRanges() : QList<CERange>();
    return !runCommand(tr("Remove Line Endings"), [&](CETextEditTarget &t) { return CETextCommands::removeLineEndings(t, ranges); }, true).beep;
}

// The converted text goes through the typing path (the host's veto, the undo) but is not
// typing: no bracket is paired and no brace re-indented.
bool CEEditor::changeCase(CETextCommands::CaseChange change)
{
    if (!m_textView)
        return false;
    m_textView->breakUndoCoalescing();
    const QList<CERange> ranges = m_textView->selectedRanges();
    const QString text = m_textView->text();
    for (const CERange &range : ranges) {
        if (range.length <= 0 || range.end() > text.size())
            continue;
        m_textView->setSelectedRange(range);
        m_textView->insertText(CETextCommands::convertCase(text.mid(range.location, range.length), change), false);
    }
    return true;
}

bool CEEditor::goToLine(qint64 number)
{
    if (!m_textView)
        return false;
    const CERange line = CETextCommands::goToLine(m_textView->text(), number);
    if (line.location < 0) {
        QApplication::beep();
        return false;
    }
    m_textView->setSelectedRange(line);
    m_textView->ensureCursorVisible();
    return true;
}

bool CEEditor::closeTag()
{
    if (!m_textView)
        return false;
    const CERange selection = m_textView->selectedRange();
    const QString tag = selection.length == 0 ? CETextCommands::closingTag(m_textView->text(), selection.location) : QString();
    if (tag.isEmpty()) {
        QApplication::beep();
        return false;
    }
    runCommand(tr("Close Tag"), [&](CETextEditTarget &t) {
        CECommandResult r;
        r.changed = t.guardedReplace(selection, tag);
        return r;
    }, false);
    return true;
}

bool CEEditor::prepareForXML()
{
    if (!m_textView)
        return false;
    const CERange selection = m_textView->selectedRange();
    const QString escaped = CETextCommands::preparedForXML(m_textView->text().mid(selection.location, selection.length));
    runCommand(tr("Prepare for XML"), [&](CETextEditTarget &t) {
        CECommandResult r;
        r.changed = t.guardedReplace(selection, escaped);
        return r;
    }, false);
    return true;
}

bool CEEditor::transpose()
{
    if (!m_textView)
        return false;
    // The characters on either side of the caret swap (at the end of the text, the last two),
    // each a whole grapheme cluster.
    const QString text = m_textView->text();
    const CERange selection = m_textView->selectedRange();
    qsizetype at = selection.location;
    if (at >= text.size())
        at = CETextCommands::previousCharacterBoundary(text, text.size());
    const qsizetype before = CETextCommands::previousCharacterBoundary(text, at);
    const qsizetype after = CETextCommands::nextCharacterBoundary(text, at);
    if (selection.length != 0 || before == at || after == at) {
        QApplication::beep();
        return false;
    }
    const QString swapped = text.mid(at, after - at) + text.mid(before, at - before);
    runCommand(tr("Transpose"), [&](CETextEditTarget &t) {
        CECommandResult r;
        r.changed = t.guardedReplace({before, after - before}, swapped);
        r.selectRanges = true;
        r.ranges = {{after, 0}};
        return r;
    }, false);
    return true;
}

bool CEEditor::validateCommand(const QString &command, bool requireFocus) const
{
    if (!m_textView || (requireFocus && !m_textView->hasFocus()))
        return false;
    static const QSet<QString> needSelection{"removeNeedlessWhitespace", "removeLineEndings", "entab", "detab",
                                             "capitalise", "toUppercase", "toLowercase"};
    if (needSelection.contains(command))
        return m_textView->selectedRange().length > 0;
    if (command == QStringLiteral("commentOrUncomment"))
        return m_colouring && !m_colouring->definitionValue(QStringLiteral("firstSingleLineComment")).isEmpty();
    return true;
}

void CEEditor::showFindBar()
{
    if (!m_textView || !m_host)
        return;
    if (!m_findBar)
        m_findBar = new CEFindBar(*this, m_host);
    // A selection within one line is what is looked for.
    const CERange selection = m_textView->selectedRange();
    QString search = m_textView->text().mid(selection.location, selection.length);
    if (search.contains(QLatin1Char('\n')))
        search.clear();
    m_findBarShown = true;
    m_findBar->show();
    relayout();
    m_findBar->activate(search);
}

CEFindBar *CEEditor::findBar() const
{
    return m_findBar.data();
}

void CEEditor::hideFindBar()
{
    if (!m_findBar || !m_findBarShown)
        return;
    m_findBarShown = false;
    m_findBar->hide();
    relayout();
    if (m_textView)
        m_textView->setFocus(Qt::OtherFocusReason);
}

namespace {

// Where the search string occurs in the text, without overlaps.
QList<qsizetype> ceEditorMatches(const QString &text, const QString &search, Qt::CaseSensitivity cs)
{
    QList<qsizetype> matches;
    if (search.isEmpty())
        return matches;
    for (qsizetype at = text.indexOf(search, 0, cs); at >= 0; at = text.indexOf(search, at + search.size(), cs))
        matches.append(at);
    return matches;
}

} // namespace

// The matches are tried in order from the selection on, round the end of the text; a match
// the host does not let the selection reach (a protected part of the text) is passed over.
bool CEEditor::findNext(bool backwards)
{
    if (!m_textView)
        return false;
    if (!m_findBar || m_findBar->searchString().isEmpty()) {
        showFindBar();
        return false;
    }
    const QString search = m_findBar->searchString();
    const QList<qsizetype> matches = ceEditorMatches(m_textView->text(), search, m_findBar->caseSensitivity());
    const CERange selection = m_textView->selectedRange();
    const qsizetype count = matches.size();
    qsizetype first = 0;
    if (backwards) {
        first = count - 1;
        while (first >= 0 && matches.at(first) >= selection.location)
            --first;
        if (first < 0)
            first = count - 1;
    } else {
        while (first < count && matches.at(first) < selection.end())
            ++first;
        if (first == count)
            first = 0;
    }
    for (qsizetype tried = 0; tried < count; ++tried) {
        const qsizetype index = backwards ? (first - tried + count) % count : (first + tried) % count;
        const CERange match{matches.at(index), search.size()};
        m_textView->setSelectedRange(match);
        if (m_textView->selectedRange() == match) {
            m_textView->ensureCursorVisible();
            m_findBar->setNotFound(false);
            return true;
        }
    }
    m_findBar->setNotFound(true);
    QApplication::beep();
    return false;
}

bool CEEditor::replaceSelection()
{
    if (!m_textView || !m_findBar)
        return false;
    const QString search = m_findBar->searchString();
    const CERange selection = m_textView->selectedRange();
    const QString selected = m_textView->text().mid(selection.location, selection.length);
    if (!search.isEmpty() && selected.compare(search, m_findBar->caseSensitivity()) == 0) {
        const QString replacement = m_findBar->replacement();
        const CECommandResult result = runCommand(tr("Replace"), [&](CETextEditTarget &t) {
            CECommandResult r;
            r.changed = t.guardedReplace(selection, replacement);
            r.selectRanges = r.changed;
            r.ranges = {{selection.location, replacement.size()}};
            return r;
        }, true);
        if (!result.changed) {
            QApplication::beep();
            return false;
        }
    }
    findNext(false);
    return true;
}

int CEEditor::replaceAll()
{
    if (!m_textView || !m_findBar || m_findBar->searchString().isEmpty())
        return 0;
    const QString search = m_findBar->searchString();
    const QString replacement = m_findBar->replacement();
    const QList<qsizetype> matches = ceEditorMatches(m_textView->text(), search, m_findBar->caseSensitivity());
    QList<CERange> ranges;
    ranges.reserve(matches.size());
    for (const qsizetype at : matches)
        ranges.append({at, search.size()});
    int replaced = 0;
    // One edit of the text from the first match to the last, however many matches there are.
    runCommand(tr("Replace All"), [&](CETextEditTarget &) {
        CECommandResult r;
        replaced = int(m_textView->guardedReplaceEach(ranges, replacement));
        r.changed = replaced > 0;
        return r;
    }, true);
    m_findBar->setNotFound(replaced == 0);
    if (replaced == 0)
        QApplication::beep();
    return replaced;
}

void CEEditor::changeEncoding(const QString &ianaName)
{
    const QVariant old = m_settings.value(CEKeys::encodingName);
    if (old.toString() == ianaName)
        return;
    if (KRSpecialUndoManager *manager = undoManager()) {
        QPointer<CEEditor> self(this);
        manager->registerUndo(this, [self, old] {
            if (self)
                self->changeEncoding(old.toString());
        });
        manager->setActionName(tr("Change Encoding"));
    }
    setSetting(CEKeys::encodingName, ianaName.isEmpty() ? QVariant() : QVariant(ianaName));
    setSetting(CEKeys::encoding, ianaName.isEmpty() ? QVariant() : QVariant(ianaName.toUpper()));
    emit textEncodingChanged();
}

// The text is held with line feeds only, so a new style changes what the editor gives out,
// never the characters it holds: undoing restores the previous style and with it the exact
// previous text.
void CEEditor::changeLineEndings(int style)
{
    if (style < CETextPerformer::LineFeed || style > CETextPerformer::CarriageReturnLineFeed)
        return;
    const int old = m_settings.value(CEKeys::lineEndings, int(CETextPerformer::LineFeed)).toInt();
    // A style chosen for a mixed text is given to every line, even the style most lines had.
    if (old == style && m_lineEndings.isEmpty())
        return;
    applyLineEndings(style, {});
}

void CEEditor::applyLineEndings(int style, const QByteArray &endings)
{
    const int old = m_settings.value(CEKeys::lineEndings, int(CETextPerformer::LineFeed)).toInt();
    if (KRSpecialUndoManager *manager = undoManager()) {
        QPointer<CEEditor> self(this);
        manager->registerUndo(this, [self, old, oldEndings = m_lineEndings] {
            if (self)
                self->applyLineEndings(old, oldEndings);
        });
        manager->setActionName(tr("Change Line Endings"));
    }
    m_lineEndings = endings;
    m_settings.insert(CEKeys::lineEndings, style);
    setEdited(true);
    emit settingChanged(CEKeys::lineEndings);
    emit lineEndingsChanged();
}

void CEEditor::changeSyntaxDefinition(const QString &name)
{
    m_settings.insert(CEKeys::hasManuallyChangedSyntaxDefinition, true);
    setSetting(CEKeys::syntaxDefinition, name);
    if (m_colouring)
        m_colouring->applySyntaxDefinition();
    recolor();
    emit syntaxDefinitionChanged();
}

QStringList CEEditor::offeredEncodings()
{
    return {QStringLiteral("UTF-8"), QStringLiteral("UTF-16"), QStringLiteral("UTF-16BE"), QStringLiteral("UTF-16LE"),
            QStringLiteral("ISO-8859-1"), QStringLiteral("ISO-8859-15"), QStringLiteral("windows-1252"),
            QStringLiteral("US-ASCII")};
}

namespace {

// Menus are filled again each time they open: the items and their group go.
void clearMenu(QMenu *menu)
{
    menu->clear();
    qDeleteAll(menu->findChildren<QActionGroup *>(QString(), Qt::FindDirectChildrenOnly));
}

} // namespace

void CEEditor::fillSyntaxDefinitionMenu(QMenu *menu)
{
    clearMenu(menu);
    auto *group = new QActionGroup(menu);
    const QString current = m_settings.value(CEKeys::syntaxDefinition).toString();
    for (const QString &name : m_controller->syntaxDefinitionNames()) {
        QAction *action = menu->addAction(name);
        action->setCheckable(true);
        action->setChecked(name.compare(current, Qt::CaseInsensitive) == 0);
        group->addAction(action);
        connect(action, &QAction::triggered, this, [this, name] { changeSyntaxDefinition(name); });
    }
}

void CEEditor::setEncoding(const QString &ianaName)
{
    setSetting(CEKeys::encodingName, ianaName.isEmpty() ? QVariant() : QVariant(ianaName));
    setSetting(CEKeys::encoding, ianaName.isEmpty() ? QVariant() : QVariant(ianaName.toUpper()));
}

void CEEditor::reloadText(const QString &ianaName)
{
    emit reloadTextRequested(ianaName);
}

void CEEditor::fillEncodingMenu(QMenu *menu)
{
    fillEncodings(menu, false);
}

void CEEditor::fillReloadEncodingMenu(QMenu *menu)
{
    fillEncodings(menu, true);
}

// The offered encodings, and the text's own when it is another.
void CEEditor::fillEncodings(QMenu *menu, bool reload)
{
    clearMenu(menu);
    auto *group = new QActionGroup(menu);
    const QString current = m_settings.value(CEKeys::encodingName).toString();
    QStringList names = offeredEncodings();
    if (!current.isEmpty() && !names.contains(current, Qt::CaseInsensitive))
        names.append(current);
    for (const QString &name : std::as_const(names)) {
        QAction *action = menu->addAction(name);
        if (reload) {
            connect(action, &QAction::triggered, this, [this, name] { reloadText(name); });
            continue;
        }
        action->setCheckable(true);
        action->setChecked(name.compare(current, Qt::CaseInsensitive) == 0);
        group->addAction(action);
        connect(action, &QAction::triggered, this, [this, name] { changeEncoding(name); });
    }
}

void CEEditor::fillLineEndingsMenu(QMenu *menu)
{
    clearMenu(menu);
    auto *group = new QActionGroup(menu);
    const int current = m_settings.value(CEKeys::lineEndings, 1).toInt();
    const QList<QPair<QString, int>> styles{{tr("Unix (LF)"), 1}, {tr("Mac (CR)"), 2}, {tr("Windows (CR LF)"), 3}};
    for (const auto &[title, style] : styles) {
        QAction *action = menu->addAction(title);
        action->setCheckable(true);
        action->setChecked(style == current);
        action->setData(150 + style);
        group->addAction(action);
        connect(action, &QAction::triggered, this, [this, style = style] { changeLineEndings(style); });
    }
}

QDialog *CEEditor::makeSpacesSheet(bool entab)
{
    auto *dialog = new QDialog(m_textView ? m_textView->window() : nullptr);
    dialog->setObjectName(entab ? QStringLiteral("CEEntab") : QStringLiteral("CEDetab"));
    dialog->setWindowModality(Qt::WindowModal);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    auto *form = new QFormLayout(dialog);
    auto *spaces = new QSpinBox(dialog);
    spaces->setObjectName(QStringLiteral("spaces"));
    spaces->setRange(0, 32);
    spaces->setValue(int(m_defaults->integerValue(CEDefaults::spacesPerTabEntabDetab)));
    form->addRow(tr("Number of spaces in a tab:"), spaces);
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, dialog);
    buttons->button(QDialogButtonBox::Ok)->setText(entab ? tr("Entab") : tr("Detab"));
    form->addRow(buttons);
    connect(buttons, &QDialogButtonBox::rejected, dialog, &QDialog::reject);
    connect(buttons, &QDialogButtonBox::accepted, dialog, [this, dialog, spaces, entab] {
        m_defaults->setValue(CEDefaults::spacesPerTabEntabDetab, spaces->value());
        dialog->accept();
        entab ? this->entab() : detab();
    });
    return dialog;
}

void CEEditor::showEntabSheet()
{
    makeSpacesSheet(true)->open();
}

void CEEditor::showDetabSheet()
{
    makeSpacesSheet(false)->open();
}

void CEEditor::showGoToLineSheet()
{
    auto *dialog = new QDialog(m_textView ? m_textView->window() : nullptr);
    dialog->setObjectName(QStringLiteral("CEGoToLine"));
    dialog->setWindowModality(Qt::WindowModal);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    auto *form = new QFormLayout(dialog);
    auto *field = new QLineEdit(dialog);
    field->setObjectName(QStringLiteral("line"));
    form->addRow(tr("Go to line:"), field);
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, dialog);
    buttons->button(QDialogButtonBox::Ok)->setText(tr("Go"));
    form->addRow(buttons);
    connect(buttons, &QDialogButtonBox::rejected, dialog, &QDialog::reject);
    connect(buttons, &QDialogButtonBox::accepted, dialog, [this, dialog, field] {
        dialog->accept();
        goToLine(CETextCommands::leadingInteger(field->text()));
    });
    dialog->open();
}
