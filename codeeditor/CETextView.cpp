#include "CETextView.h"

#include "CEDefaults.h"
#include "CEEditor.h"
#include "CELineNumbers.h"
#include "CESyntaxColouring.h"
#include "CETextMenuController.h"
#include "CETextPerformer.h"

#include <model/KRSpecialUndoManager.h>
#include <platform/foundation/KRUserDefaults.h>

#include <QAbstractItemView>
#include <QApplication>
#include <QCompleter>
#include <QContextMenuEvent>
#include <QMenu>
#include <QFontDatabase>
#include <QMimeData>
#include <QPainter>
#include <QScrollBar>
#include <QStringListModel>
#include <QStyleOptionSlider>
#include <QTextBlock>
#include <QTextLayout>

namespace {

const QString ceTextViewTyping = QStringLiteral("Typing");

bool ceTextViewIsBlank(QChar c)
{
    return c == u' ' || c == u'\t';
}

QFont ceTextViewFont(const KRUserDefaults &defaults)
{
    QFont font;
    const QString stored = defaults.stringValue(CEDefaults::textFont);
    if (stored.isEmpty() || !font.fromString(stored))
        font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    if (!QFontDatabase::families().contains(font.family())) {
        const int size = font.pixelSize() > 0 ? font.pixelSize() : 11;
        font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
        font.setPixelSize(size);
    }
    font.setStyleHint(QFont::Monospace);
    return font;
}

// The plain text layout, told of a change only by the span of text it now covers. The base
// layout takes the removed and the added characters together for that span, so a change that
// stays within one line (a character typed, the colours of one line pushed) reached into the
// lines after it and had the whole view laid out and drawn again.
//
// A block is laid out once per edit. One whose colours were pushed (its lines dropped with its
// old formats) is laid out here, where the base would lay it out to measure it and then again.
// While the view defers, an edit within one block only drops the block's lines, to be laid out
// with the colours the view pushes next (layOutDeferred lays out a block that got none); until
// then the block is laid out on demand, as Qt lays out any block without lines.
// Draws a scroll bar at rest in bands a few dozen lines high, each into a picture of its own,
// on the window's background. Drawn whole, the style's gradients over the bar's height are
// handed out to other threads line group by line group, and waking them costs more than the
// drawing. Under the pointer, held, or in a style whose bars come and go, the bar draws itself.
class CEScrollBarPainter : public QObject
{
public:
    explicit CEScrollBarPainter(QScrollBar *bar) : QObject(bar), m_bar(bar) { bar->installEventFilter(this); }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (watched != m_bar || event->type() != QEvent::Paint || m_bar->underMouse() || m_bar->isSliderDown()
            || QApplication::mouseButtons() != Qt::NoButton
            || m_bar->style()->styleHint(QStyle::SH_ScrollBar_Transient, nullptr, m_bar))
            return false;
        QStyleOptionSlider option;
        option.initFrom(m_bar);
        option.subControls = QStyle::SC_All;
        option.activeSubControls = QStyle::SC_None;
        option.orientation = m_bar->orientation();
        option.minimum = m_bar->minimum();
        option.maximum = m_bar->maximum();
        option.sliderPosition = m_bar->sliderPosition();
        option.sliderValue = m_bar->value();
        option.singleStep = m_bar->singleStep();
        option.pageStep = m_bar->pageStep();
        option.upsideDown = m_bar->invertedAppearance();
        if (option.orientation == Qt::Horizontal)
            option.state |= QStyle::State_Horizontal;
        const qreal ratio = m_bar->devicePixelRatioF();
        QPainter painter(m_bar);
        const int width = m_bar->width();
        for (int top = 0; top < m_bar->height(); top += Band) {
            QImage band((QSizeF(width, std::min(Band, m_bar->height() - top)) * ratio).toSize(),
                        QImage::Format_ARGB32_Premultiplied);
            band.setDevicePixelRatio(ratio);
            band.fill(m_bar->palette().color(QPalette::Window));
            QPainter bandPainter(&band);
            bandPainter.translate(0, -top);
            m_bar->style()->drawComplexControl(QStyle::CC_ScrollBar, &option, &bandPainter, m_bar);
            bandPainter.end();
            painter.drawImage(QPoint(0, top), band);
        }
        return true;
    }

private:
    static constexpr int Band = 48;
    QScrollBar *m_bar;
};

// A line longer than this (a minified script or style sheet) is laid out and coloured for
// speed, as its layout is made again on every key:
// - it is given its colours only where it is in view and a margin around it, in steps of the
//   margin, so that its layout runs through as many format changes as a short line's, not
//   through those of the whole line;
// - where lines wrap, it wraps where the view ends, at a word boundary or not. Wrapping at word
//   boundaries looks for one up to the end of the line for every line it makes, so that on a
//   line without spaces each key cost time with the square of the line's length.
constexpr qsizetype ceTextViewLongBlock = 20000;
constexpr qsizetype ceTextViewLongBlockMargin = 4096;

class CETextViewLayout : public QPlainTextDocumentLayout
{
public:
    explicit CETextViewLayout(QTextDocument *document)
        : QPlainTextDocumentLayout(document)
        , m_blocks(document->blockCount())
    {
    }

    void setDeferring(bool deferring) { m_deferring = deferring; }
    void layOutDeferred()
    {
        if (m_deferred.isValid())
            layOut(m_deferred, m_deferredLines);
        m_deferred = QTextBlock();
    }
    // The block whose layout the last edit deferred, and its lines before the edit.
    QTextBlock deferred() const { return m_deferred; }
    int deferredLines() const { return m_deferredLines; }

    // Every layout of a block the view asks for comes here (Qt's own ask the same way).
    QRectF blockBoundingRect(const QTextBlock &block) const override
    {
        if (!block.isValid() || block.layout()->lineCount() > 0)
            return QPlainTextDocumentLayout::blockBoundingRect(block);
        QRectF box;
        auto *self = const_cast<CETextViewLayout *>(this);
        self->wrappingFor(block, [&] { box = QPlainTextDocumentLayout::blockBoundingRect(block); });
        return box;
    }

protected:
    void documentChanged(int from, int, int charsAdded) override
    {
        if (m_settingWrap)
            return; // only the wrap mode of the layout under way changed
        QTextDocument *textDocument = document();
        const QTextBlock block = textDocument->findBlock(from);
        if (block.isValid() && block.isVisible() && textDocument->blockCount() == m_blocks
            && block == textDocument->findBlock(std::max(from, from + charsAdded - 1))) {
            if (m_deferring && !m_deferred.isValid()) {
                m_deferred = block;
                m_deferredLines = block.lineCount();
                block.layout()->clearLayout();
                return;
            }
            if (block.layout()->lineCount() == 0) {
                layOut(block, block == m_deferred ? m_deferredLines : block.lineCount());
                return;
            }
        }
        // The base lays out a change within one block at once.
        wrappingFor(textDocument->findBlock(from),
                    [&] { QPlainTextDocumentLayout::documentChanged(from, 0, std::max(1, charsAdded)); });
        m_blocks = textDocument->blockCount();
    }

private:
    // Runs `layOut`, which may lay `block` out, with the block's wrap mode: the document's, but
    // for a long block where the document wraps at word boundaries, the view's edge. The base
    // lays a block out with the document's text option, which is set for that while it runs.
    template <typename LayOut>
    void wrappingFor(const QTextBlock &block, LayOut layOut)
    {
        const QTextOption::WrapMode current = document()->defaultTextOption().wrapMode();
        const QTextOption::WrapMode own = m_wrapSwapped ? QTextOption::WrapAtWordBoundaryOrAnywhere : current;
        const QTextOption::WrapMode wanted =
            own == QTextOption::WrapAtWordBoundaryOrAnywhere && block.isValid() && block.length() - 1 > ceTextViewLongBlock
                ? QTextOption::WrapAnywhere
                : own;
        if (wanted == current) {
            layOut();
            return;
        }
        const bool swapped = std::exchange(m_wrapSwapped, wanted != own);
        setWrapMode(wanted);
        layOut();
        setWrapMode(current);
        m_wrapSwapped = swapped;
    }

    void setWrapMode(QTextOption::WrapMode mode)
    {
        QTextOption option = document()->defaultTextOption();
        option.setWrapMode(mode);
        m_settingWrap = true; // the document tells its layout of the change, to lay out all again
        document()->setDefaultTextOption(option);
        m_settingWrap = false;
    }

    // Lays out a block without lines and asks for its repaint: the whole view when it now
    // takes another number of lines than `linesBefore`.
    void layOut(const QTextBlock &block, int linesBefore)
    {
        if (block.layout()->lineCount() == 0)
            blockBoundingRect(block); // lays the block out, with the document's size kept in step
        if (block.lineCount() == linesBefore)
            emit updateBlock(block);
        else
            emit update(QRectF(0, -document()->documentMargin(), 1e9, 1e9));
        if (block == m_deferred)
            m_deferred = QTextBlock();
    }

    int m_blocks;
    bool m_settingWrap = false;
    bool m_wrapSwapped = false; // the document's wrap mode is a long block's, not its own
    bool m_deferring = false;
    QTextBlock m_deferred;
    int m_deferredLines = 0;
};

// A block's colour runs moved with an edit inside it, from `at` in the block: what follows the
// edit moves by its size, and the new text takes the colours of the character before it (at the
// block's start, of the first one after it) until the colouring has looked at it.
QList<QTextLayout::FormatRange> ceTextViewMovedFormats(const QList<QTextLayout::FormatRange> &formats, int at,
                                                       int removed, int added)
{
    const int delta = added - removed;
    const int owner = at > 0 ? at - 1 : at + removed;
    QList<QTextLayout::FormatRange> moved;
    moved.reserve(formats.size());
    for (QTextLayout::FormatRange format : formats) {
        const int start = format.start, end = format.start + format.length;
        int from = start < at ? start : start >= at + removed ? start + delta : at + added;
        int to = end <= at ? end : end >= at + removed ? end + delta : at;
        if (start <= owner && owner < end) {
            if (at > 0)
                to = std::max(to, at + added);
            else
                from = 0;
        }
        if (to > from) {
            format.start = from;
            format.length = to - from;
            moved.append(format);
        }
    }
    return moved;
}

// What a block's layout was last given: its colour runs as lengths and dictionary handles, and
// the formats the layout kept of them (shared with the layout's own while it keeps them).
struct CETextViewPushedFormats : QTextBlockUserData
{
    QList<QPair<qsizetype, quint32>> handles;
    QList<QTextLayout::FormatRange> formats;
    CERange part{0, -1}; // the characters of the block the formats cover (from its start); all
};

// The formats of a long block's layout cut to the part that gets colours.
QList<QTextLayout::FormatRange> ceTextViewFormatsIn(const QList<QTextLayout::FormatRange> &formats, CERange part)
{
    if (part.length < 0)
        return formats;
    QList<QTextLayout::FormatRange> cut;
    for (QTextLayout::FormatRange format : formats) {
        const qsizetype from = std::max<qsizetype>(format.start, part.location);
        const qsizetype to = std::min<qsizetype>(format.start + format.length, part.end());
        if (to <= from)
            continue;
        format.start = int(from);
        format.length = int(to - from);
        cut.append(format);
    }
    return cut;
}

} // namespace

CETextView::CETextView(CEEditor &editor, QWidget *parent)
    : QPlainTextEdit(parent)
    , m_editor(editor)
    , m_actionName(ceTextViewTyping)
{
    auto *textDocument = new QTextDocument(this);
    textDocument->setDocumentLayout(new CETextViewLayout(textDocument));
    setDocument(textDocument);
    document()->setUndoRedoEnabled(false);
    setFrameShape(QFrame::NoFrame);
    setCursorWidth(0); // the caret is drawn in the text colour by paintEvent
    setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    new CEScrollBarPainter(verticalScrollBar());
    connect(document(), &QTextDocument::contentsChange, this, [this](int position, int removed, int added) {
        if (m_reverting)
            return;
        if (m_pendingChanges++ == 0)
            m_pendingChange = {position, removed, added};
        if (!m_applying)
            onContentsChange();
    });
    connect(this, &QPlainTextEdit::cursorPositionChanged, this, [this] { onSelectionChanged(); });
    connect(this, &QPlainTextEdit::updateRequest, this, [this](const QRect &, int dy) {
        if (dy == 0)
            return;
        recolourVisible();
        if (auto *gutter = m_editor.gutterView())
            gutter->updateLineNumbers(false, false);
    });
    connect(verticalScrollBar(), &QScrollBar::rangeChanged, this, [this] {
        if (auto *gutter = m_editor.gutterView())
            gutter->updateLineNumbers(false, false);
    });
    m_flashTimer.setSingleShot(true);
    m_flashTimer.setInterval(600);
    connect(&m_flashTimer, &QTimer::timeout, this, [this] { flash({-1, 0}); });
    m_typingPause.setSingleShot(true);
    m_typingPause.setInterval(TypingPauseMilliseconds);
    connect(&m_typingPause, &QTimer::timeout, this, &CETextView::endTypingRun);
    m_completionTimer.setSingleShot(true);
    connect(&m_completionTimer, &QTimer::timeout, this, [this] {
        const QString t = text();
        const CERange selection = selectedRange();
        if (selection.length != 0 || t.isEmpty() || selection.location > t.size())
            return;
        const qsizetype i = selection.location;
        const QChar c = i < t.size() ? t.at(i) : QChar();
        if (i == t.size() || c.isSpace() || c.isPunct() || c.isSymbol())
            complete();
    });
    m_completionModel = new QStringListModel(this);
    m_completer = new QCompleter(m_completionModel, this);
    m_completer->setWidget(this);
    m_completer->setCompletionMode(QCompleter::UnfilteredPopupCompletion);
    m_completer->setCaseSensitivity(Qt::CaseInsensitive);
    connect(m_completer, qOverload<const QString &>(&QCompleter::activated), this,
            [this](const QString &word) { insertCompletion(word); });
    m_shadow = CETextPerformer::plainTextOf(*document());
    applyDefaults();
}

CETextView::~CETextView()
{
    endTypingRun();
}

// Characters typed one after another form one undo step: the first opens a group on the
// undo manager that stays open until typing pauses, the caret leaves the end of the run,
// another kind of edit comes, the view loses the focus or the history is about to be undone
// or redone.
void CETextView::continueTypingRun()
{
    const CERange selection = selectedRange();
    if (m_typingRun && (selection.length != 0 || selection.location != m_typingEnd))
        endTypingRun();
    if (m_typingRun)
        return;
    KRSpecialUndoManager *manager = m_editor.undoManager();
    if (!manager || manager->isUndoing() || manager->isRedoing())
        return;
    m_runManager = &manager->wrapped();
    connect(m_runManager, &KRUndoManager::willUndoOrRedo, this, &CETextView::endTypingRun, Qt::UniqueConnection);
    // The run is a group of its own, not part of the group of the event turn it starts in:
    // it closes the moment the run ends, so that a command after it is a step of its own.
    const bool byEvent = m_runManager->groupsByEvent();
    if (m_runManager->groupingLevel() == 0)
        m_runManager->setGroupsByEvent(false);
    manager->beginUndoGrouping();
    m_runManager->setGroupsByEvent(byEvent);
    m_typingRun = true;
}

void CETextView::endTypingRun()
{
    m_typingPause.stop();
    if (!std::exchange(m_typingRun, false))
        return;
    if (m_runManager && m_runManager->groupingLevel() > 0)
        m_runManager->endUndoGrouping();
}

QString CETextView::text() const
{
    return m_shadow;
}

// The change the document reported, made as small as the texts allow; the whole texts are
// compared only when the report does not add up (several reports in one edit, or one that
// counts the document's final block separator).
bool CETextView::takeChange(CERange *removedRange, QString *inserted)
{
    const int reports = std::exchange(m_pendingChanges, 0);
    const qsizetype documentLength = document()->characterCount() - 1;
    if (reports == 1) {
        qsizetype position = m_pendingChange[0], removed = m_pendingChange[1], added = m_pendingChange[2];
        const qsizetype excess = position + removed - m_shadow.size();
        if (excess > 0) {
            removed -= excess;
            added -= excess;
        }
        if (position >= 0 && removed >= 0 && added >= 0 && position + added <= documentLength
            && m_shadow.size() - removed + added == documentLength) {
            // Within one block the block's own text has it, without a cursor (which would lay the
            // block out to place itself).
            const QTextBlock block = document()->findBlock(int(position));
            QString segment;
            if (position + added < block.position() + block.length()) {
                segment = block.text().mid(position - block.position(), added);
            } else {
                QTextCursor cursor(document());
                cursor.setPosition(int(position));
                cursor.setPosition(int(position + added), QTextCursor::KeepAnchor);
                segment = cursor.selectedText();
                segment.replace(QChar::ParagraphSeparator, u'\n');
            }
            const QStringView old = QStringView(m_shadow).mid(position, removed);
            qsizetype prefix = 0;
            while (prefix < std::min(old.size(), segment.size()) && old.at(prefix) == segment.at(prefix))
                ++prefix;
            qsizetype suffix = 0;
            while (suffix < std::min(old.size(), segment.size()) - prefix
                   && old.at(old.size() - 1 - suffix) == segment.at(segment.size() - 1 - suffix))
                ++suffix;
            *removedRange = {position + prefix, removed - prefix - suffix};
            *inserted = segment.mid(prefix, segment.size() - prefix - suffix);
            return removedRange->length > 0 || !inserted->isEmpty();
        }
    }
    const QString now = CETextPerformer::plainTextOf(*document());
    if (now == m_shadow)
        return false;
    const qsizetype common = std::min(now.size(), m_shadow.size());
    const qsizetype prefix = std::mismatch(now.begin(), now.begin() + common, m_shadow.begin()).first - now.begin();
    qsizetype suffix = 0;
    while (suffix < common - prefix && now.at(now.size() - 1 - suffix) == m_shadow.at(m_shadow.size() - 1 - suffix))
        ++suffix;
    *removedRange = {prefix, m_shadow.size() - prefix - suffix};
    *inserted = now.mid(prefix, now.size() - prefix - suffix);
    return true;
}

CERange CETextView::selectedRange() const
{
    const QTextCursor cursor = textCursor();
    return {cursor.selectionStart(), cursor.selectionEnd() - cursor.selectionStart()};
}

void CETextView::setSelectedRange(CERange range)
{
    const qsizetype length = document()->characterCount() - 1;
    const qsizetype start = std::clamp<qsizetype>(range.location, 0, length);
    const qsizetype end = std::clamp<qsizetype>(range.end(), start, length);
    m_ranges.clear();
    // Typing moves the caret along with the text: the selection is often there already.
    const QTextCursor current = textCursor();
    if (current.anchor() == start && current.position() == end) {
        ensureCursorVisible();
        return;
    }
    QTextCursor cursor(document());
    cursor.setPosition(int(start));
    cursor.setPosition(int(end), QTextCursor::KeepAnchor);
    setTextCursor(cursor);
}

QList<CERange> CETextView::selectedRanges() const
{
    if (!m_ranges.isEmpty() && m_ranges.first() == selectedRange())
        return m_ranges;
    return {selectedRange()};
}

void CETextView::setSelectedRanges(const QList<CERange> &ranges)
{
    if (ranges.isEmpty())
        return;
    setSelectedRange(ranges.first());
    if (ranges.size() > 1)
        m_ranges = ranges;
}

// The first change of an editing session asks whether editing may begin at all.
bool CETextView::hostAllows(CERange range, const QString &replacement)
{
    CEEditorDelegate *delegate = m_editor.delegate();
    if (!delegate)
        return true;
    if (!m_editing) {
        if (!delegate->textShouldBeginEditing(this))
            return false;
        m_editing = true;
        delegate->textDidBeginEditing(this);
    }
    return delegate->shouldChangeText(this, range, replacement);
}

bool CETextView::guardedReplace(CERange range, const QString &replacement)
{
    if (!hostAllows(range, replacement))
        return false;
    replaceUnguarded(range, replacement);
    return true;
}

void CETextView::replaceUnguarded(CERange range, const QString &replacement)
{
    const qsizetype length = document()->characterCount() - 1;
    const qsizetype start = std::clamp<qsizetype>(range.location, 0, length);
    const qsizetype end = std::clamp<qsizetype>(range.end(), start, length);
    QTextCursor cursor(document());
    cursor.setPosition(int(start));
    cursor.setPosition(int(end), QTextCursor::KeepAnchor);
    // The block of an edit within one block is laid out once, with the colours of its new text.
    auto *layout = dynamic_cast<CETextViewLayout *>(document()->documentLayout());
    m_applying = true;
    if (layout)
        layout->setDeferring(true);
    // In an edit block the cursor leaves its horizontal place to be found when next needed,
    // instead of laying the block out at once.
    cursor.beginEditBlock();
    cursor.insertText(replacement);
    cursor.endEditBlock();
    if (layout) {
        layout->setDeferring(false);
        const QTextBlock block = layout->deferred();
        if (block.isValid() && !m_loading)
            drawEditFirst(block, layout->deferredLines(), int(start - block.position()), int(end - start),
                          int(replacement.size()));
    }
    m_applying = false;
    onContentsChange(true);
    if (layout)
        layout->layOutDeferred();
    if (std::exchange(m_selectionPending, false))
        onSelectionChanged();
}

// An edit within one block is put on screen before anything else looks at it: the block is laid
// out with its colour runs moved along with the edit, and drawn. The colouring and the rest
// follow, and draw the line again only where its colours changed. A block that now takes another
// number of lines moves the ones below, so it waits for the view to be drawn whole.
void CETextView::drawEditFirst(const QTextBlock &block, int linesBefore, int at, int removed, int added)
{
    if (!viewport()->isVisible())
        return;
    QList<QTextLayout::FormatRange> formats = ceTextViewMovedFormats(block.layout()->formats(), at, removed, added);
    if (auto *pushed = dynamic_cast<CETextViewPushedFormats *>(block.userData()); pushed && pushed->part.length >= 0)
        formats = ceTextViewFormatsIn(formats, pushed->part);
    layOutWithFormats(block, formats);
    if (block.lineCount() != linesBefore)
        return;
    const QRectF box = blockBoundingGeometry(block).translated(contentOffset());
    const QRect line = QRect(0, int(std::floor(box.top())), viewport()->width(), int(std::ceil(box.height())) + 1)
                           .intersected(viewport()->rect());
    if (!line.isEmpty())
        viewport()->repaint(line);
}

qsizetype CETextView::guardedReplaceEach(const QList<CERange> &ranges, const QString &replacement)
{
    QList<CERange> allowed;
    for (const CERange &range : ranges)
        if (hostAllows(range, replacement))
            allowed.append(range);
    if (allowed.isEmpty())
        return 0;
    // The new text between the first and the last replaced range, built in one pass; the
    // selection moves along with the text before it, and one ending in a replaced range ends
    // after the replacement.
    const QStringView text(m_shadow);
    const CERange selection = selectedRange();
    const qsizetype start = allowed.first().location, end = allowed.last().end();
    QString span;
    span.reserve(end - start + allowed.size() * std::max<qsizetype>(0, replacement.size() - allowed.first().length));
    qsizetype at = start, delta = 0, newStart = -1, newEnd = -1;
    for (const CERange &range : allowed) {
        span += text.mid(at, range.location - at);
        span += replacement;
        at = range.end();
        if (newStart < 0 && selection.location < range.end())
            newStart = std::min(selection.location, range.location) + delta;
        if (newEnd < 0 && selection.end() <= range.location)
            newEnd = selection.end() + delta;
        else if (newEnd < 0 && selection.end() < range.end())
            newEnd = range.location + delta + replacement.size();
        delta += replacement.size() - range.length;
    }
    if (newStart < 0)
        newStart = selection.location + delta;
    if (newEnd < 0)
        newEnd = selection.end() + delta;
    replaceAsOneStep({start, end - start}, span, selection, {newStart, newEnd - newStart});
    return allowed.size();
}

// The edit records its own undo, which puts back the text and the selection before it (and
// records the redo the same way).
void CETextView::replaceAsOneStep(CERange range, const QString &replacement, CERange selectionBefore,
                                  CERange selectionAfter)
{
    const QString removed = m_shadow.mid(range.location, range.length);
    m_recordsItself = true;
    replaceUnguarded(range, replacement);
    m_recordsItself = false;
    setSelectedRange(selectionAfter);
    KRSpecialUndoManager *manager = m_editor.undoManager();
    if (!manager || !manager->isUndoRegistrationEnabled())
        return;
    QPointer<CETextView> self(this);
    const CERange inserted{range.location, replacement.size()};
    manager->registerUndo(this, [self, inserted, removed, selectionBefore, selectionAfter] {
        if (self)
            self->replaceAsOneStep(inserted, removed, selectionAfter, selectionBefore);
    });
    if (!manager->isUndoing() && !manager->isRedoing())
        manager->setActionName(m_actionName);
}

void CETextView::load(const QString &text)
{
    m_loading = true;
    replaceUnguarded({0, m_shadow.size()}, text);
    m_loading = false;
}

// Every change of the document arrives here, from whatever path. The change is found by
// comparing with the text before it; a change the host refuses (one no guarded path asked
// about, such as a drag moving text) is put back before anything else sees it.
void CETextView::onContentsChange(bool trusted)
{
    if (m_reverting || m_applying)
        return;
    CERange removedRange;
    QString inserted;
    if (!takeChange(&removedRange, &inserted))
        return;
    const qsizetype prefix = removedRange.location;
    const QString removed = m_shadow.mid(removedRange.location, removedRange.length);
    KRSpecialUndoManager *manager = m_editor.undoManager();
    const bool fromHistory = manager && (manager->isUndoing() || manager->isRedoing());
    if (!trusted && !fromHistory && !hostAllows(removedRange, inserted)) {
        QTextCursor cursor(document());
        cursor.setPosition(int(prefix));
        cursor.setPosition(int(prefix + inserted.size()), QTextCursor::KeepAnchor);
        m_reverting = true;
        cursor.insertText(removed);
        m_reverting = false;
        return;
    }
    CESyntaxColouring *colouring = m_editor.colouring();
    if (colouring && colouring->string().isSharedWith(m_shadow)) {
        // One text for both: the view lets go of it, so that the colouring edits it in place.
        m_shadow = QString();
        colouring->replaceCharacters(removedRange, inserted);
        m_shadow = colouring->string();
    } else {
        m_shadow.replace(removedRange.location, removedRange.length, inserted);
        if (colouring)
            colouring->replaceCharacters(removedRange, inserted);
    }
    // Within one block only that block's lines may change, which the line count shows; an
    // edit over several blocks may move lines between them.
    const bool oneBlock = !removed.contains(u'\n') && !inserted.contains(u'\n');
    if (!oneBlock)
        forgetVisibleBlocks();
    recordUndo({prefix, inserted.size()}, removed);
    if (!m_loading && !oneBlock) {
        // The text before the change is as it was: the block at its start is counted from the
        // same line breaks. Line breaks put at the end of a line come after its own break (a
        // Return there starts a new line below it); anywhere else before it.
        const qsizetype removedBreaks = removed.count(u'\n');
        const qsizetype after = prefix + inserted.size();
        const bool atLineEnd = removedBreaks == 0 && (after >= m_shadow.size() || m_shadow.at(after) == u'\n');
        m_editor.lineBreaksReplaced(document()->findBlock(int(prefix)).blockNumber() + (atLineEnd ? 1 : 0),
                                    removedBreaks, inserted.count(u'\n'));
    }
    if (!m_loading) {
        if (CEEditorDelegate *delegate = m_editor.delegate())
            delegate->textDidChange(this);
        m_editor.setEdited(true);
    }
    if (!recolourEditedLine())
        recolourVisible();
    if (m_completionTimer.isActive()
        || CEDefaults::boolValue(m_editor.defaults(), CEDefaults::autocompleteSuggestAutomatically)) {
        m_completionTimer.start(int(m_editor.defaults().doubleValue(CEDefaults::autocompleteAfterDelay) * 1000));
    }
    if (auto *gutter = m_editor.gutterView())
        gutter->setNeedsNumbering(true, oneBlock ? document()->findBlock(int(prefix)).blockNumber() : -1);
    if (m_completer->popup()->isVisible())
        complete(); // the list follows the word being typed
    emit linesChanged();
}

void CETextView::recordUndo(CERange inserted, const QString &removed)
{
    KRSpecialUndoManager *manager = m_editor.undoManager();
    if (m_recordsItself || !manager || !manager->isUndoRegistrationEnabled())
        return;
    QPointer<CETextView> self(this);
    manager->registerUndo(this, [self, inserted, removed] {
        if (!self)
            return;
        self->replaceUnguarded(inserted, removed);
        self->setSelectedRange({inserted.location, removed.size()});
    });
    if (!manager->isUndoing() && !manager->isRedoing())
        manager->setActionName(m_actionName);
}

void CETextView::insertText(const QString &typed, bool typingBehaviours)
{
    KRUserDefaults &defaults = m_editor.defaults();
    const QString &t = m_shadow; // read before the edit only
    const CERange selection = selectedRange();
    if (typingBehaviours && typed == QStringLiteral("}") && CEDefaults::boolValue(defaults, CEDefaults::indentNewLinesAutomatically)
        && CEDefaults::boolValue(defaults, CEDefaults::automaticallyIndentBraces)) {
        const qsizetype lineStart = CESyntaxColouring::lineStart(t, selection.location);
        bool onlyBlanks = true;
        for (qsizetype i = lineStart; i < selection.location; ++i)
            onlyBlanks = onlyBlanks && ceTextViewIsBlank(t.at(i));
        qsizetype match = -1;
        int depth = 0;
        for (qsizetype i = selection.location - 1; onlyBlanks && i >= 0; --i) {
            if (t.at(i) == u'}') {
                ++depth;
            } else if (t.at(i) == u'{') {
                if (depth == 0) {
                    match = i;
                    break;
                }
                --depth;
            }
        }
        if (match >= 0) {
            const qsizetype openStart = CESyntaxColouring::lineStart(t, match);
            qsizetype w = openStart;
            while (w < t.size() && ceTextViewIsBlank(t.at(w)))
                ++w;
            const QString whitespace = t.mid(openStart, w - openStart);
            const qsizetype lineEnd = CESyntaxColouring::lineEnd(t, selection.location);
            const QString rest = t.mid(selection.end(), lineEnd - selection.end());
            if (!whitespace.isEmpty() || !rest.isEmpty()) {
                const QString replacement = whitespace + u'}' + rest;
                if (guardedReplace({lineStart, lineEnd - lineStart}, replacement))
                    setSelectedRange({lineStart + whitespace.size() + 1, 0});
                return;
            }
            if (guardedReplace({lineStart, selection.end() - lineStart}, QStringLiteral("}")))
                setSelectedRange({lineStart + 1, 0});
            return;
        }
    }
    if (!guardedReplace(selection, typed))
        return;
    setSelectedRange({selection.location + typed.size(), 0});
    if (!typingBehaviours)
        return;
    const bool pairParen = typed == QStringLiteral("(") && CEDefaults::boolValue(defaults, CEDefaults::autoInsertAClosingParenthesis);
    const bool pairBrace = typed == QStringLiteral("{") && CEDefaults::boolValue(defaults, CEDefaults::autoInsertAClosingBrace);
    if (pairParen || pairBrace) {
        const qsizetype at = selection.location + 1;
        if (guardedReplace({at, 0}, pairParen ? QStringLiteral(")") : QStringLiteral("}")))
            setSelectedRange({at, 0});
    }
}

void CETextView::insertTab()
{
    KRUserDefaults &defaults = m_editor.defaults();
    const QString &t = m_shadow; // read before the edit only
    const CERange selection = selectedRange();
    if (selection.length > 0) {
        qsizetype first = CESyntaxColouring::lineStart(t, selection.location);
        while (first < t.size() && ceTextViewIsBlank(t.at(first)))
            ++first;
        if (selection.location <= first) {
            m_editor.shiftRight();
            return;
        }
    }
    if (!CEDefaults::boolValue(defaults, CEDefaults::indentWithSpaces)) {
        if (selection.length > 0)
            setSelectedRange({selection.end(), 0});
        else
            insertText(QStringLiteral("\t"), false);
        return;
    }
    qint64 n = CEDefaults::integerValue(defaults, CEDefaults::tabWidth);
    if (CEDefaults::boolValue(defaults, CEDefaults::useTabStops) && n > 0)
        n -= (selection.location - CESyntaxColouring::lineStart(t, selection.location)) % n;
    insertText(QString(std::max<qint64>(0, n), u' '), false);
}

void CETextView::insertNewline()
{
    KRUserDefaults &defaults = m_editor.defaults();
    // What the new line takes from the line it breaks, read before the break (a copy of the
    // whole text kept over the edit would be copied again by it).
    const QString &before = m_shadow;
    const CERange selection = selectedRange();
    const qsizetype lineStart = CESyntaxColouring::lineStart(before, selection.location);
    qsizetype w = lineStart;
    while (w < selection.location && ceTextViewIsBlank(before.at(w)))
        ++w;
    const QString indentation = before.mid(lineStart, w - lineStart);
    qsizetype last = selection.location - 1;
    while (last >= lineStart && before.at(last).isSpace())
        --last;
    const bool afterBrace = last >= lineStart && before.at(last) == u'{';
    if (!guardedReplace(selection, QStringLiteral("\n")))
        return;
    setSelectedRange({selection.location + 1, 0});
    if (!CEDefaults::boolValue(defaults, CEDefaults::indentNewLinesAutomatically))
        return;
    if (!indentation.isEmpty())
        insertText(indentation, false);
    if (CEDefaults::boolValue(defaults, CEDefaults::automaticallyIndentBraces) && afterBrace)
        insertTab();
}

void CETextView::keyPressEvent(QKeyEvent *event)
{
    if (m_completer->popup()->isVisible()) {
        switch (event->key()) {
        case Qt::Key_Enter:
        case Qt::Key_Return:
        case Qt::Key_Escape:
        case Qt::Key_Tab:
        case Qt::Key_Backtab:
            event->ignore();
            return;
        default:
            break;
        }
    }
    const CERange selection = selectedRange();
    // Find keys for an editor outside a window whose menus carry them.
    const Qt::KeyboardModifiers findModifiers = event->modifiers() & ~Qt::KeypadModifier;
    if (event == QKeySequence::Find) {
        m_editor.showFindBar();
        return;
    }
    if (event->key() == Qt::Key_F3 && (findModifiers == Qt::NoModifier || findModifiers == Qt::ShiftModifier)) {
        m_editor.findNext(findModifiers == Qt::ShiftModifier);
        return;
    }
    if (event == QKeySequence::Cut || event == QKeySequence::Undo || event == QKeySequence::Redo)
        endTypingRun();
    if (event == QKeySequence::Cut) {
        if (selection.length > 0 && hostAllows(selection, QString()))
            cut();
        return;
    }
    if (event == QKeySequence::Undo) {
        if (auto *manager = m_editor.undoManager(); manager && manager->canUndo())
            manager->undo();
        return;
    }
    if (event == QKeySequence::Redo) {
        if (auto *manager = m_editor.undoManager(); manager && manager->canRedo())
            manager->redo();
        return;
    }
    if (isReadOnly())
        return QPlainTextEdit::keyPressEvent(event);
    if (event->key() == Qt::Key_Tab || event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter
        || event->key() == Qt::Key_Backspace || event->key() == Qt::Key_Delete)
        endTypingRun();
    const Qt::KeyboardModifiers mods = event->modifiers() & ~(Qt::KeypadModifier | Qt::ShiftModifier);
    // Tab, Return, Backspace and Delete have their own handling only without modifiers.
    if (mods == Qt::NoModifier) {
        switch (event->key()) {
        case Qt::Key_Tab:
            insertTab();
            return;
        case Qt::Key_Return:
        case Qt::Key_Enter:
            insertNewline();
            return;
        case Qt::Key_Backspace:
        case Qt::Key_Delete: {
            // Without a selection a whole character goes: an emoji or a letter with its marks,
            // never half of it.
            CERange range = selection;
            if (range.length == 0) {
                const qsizetype at = range.location;
                if (event->key() == Qt::Key_Backspace) {
                    const qsizetype from = CETextCommands::previousCharacterBoundary(m_shadow, at);
                    range = {from, at - from};
                } else {
                    range = {at, CETextCommands::nextCharacterBoundary(m_shadow, at) - at};
                }
            }
            if (range.length > 0 && guardedReplace(range, QString()))
                setSelectedRange({range.location, 0});
            return;
        }
        default:
            break;
        }
    }
    const QString typed = event->text();
    if (!typed.isEmpty() && (mods == Qt::NoModifier || mods == Qt::GroupSwitchModifier) && typed.at(0).isPrint()) {
        continueTypingRun();
        m_typingEnd = selection.location + typed.size();
        insertText(typed);
        if (m_typingRun)
            m_typingPause.start();
        return;
    }
    endTypingRun();
    QPlainTextEdit::keyPressEvent(event);
}

void CETextView::inputMethodEvent(QInputMethodEvent *event)
{
    if (!event->commitString().isEmpty() || event->replacementLength() > 0) {
        CERange range = selectedRange();
        if (event->replacementLength() > 0 || event->replacementStart() != 0)
            range = {range.location + event->replacementStart(), event->replacementLength()};
        if (!hostAllows(range, event->commitString())) {
            QInputMethodEvent cleared;
            QPlainTextEdit::inputMethodEvent(&cleared);
            return;
        }
    }
    QPlainTextEdit::inputMethodEvent(event);
}

void CETextView::insertFromMimeData(const QMimeData *source)
{
    if (!source || !source->hasText())
        return;
    const QString pasted = CETextPerformer::textForEditor(source->text(), nullptr);
    if (guardedReplace(selectedRange(), pasted))
        setSelectedRange({selectedRange().location + pasted.size(), 0});
}

// Dragging with Ctrl and Alt held moves the text with the pointer.
void CETextView::mousePressEvent(QMouseEvent *event)
{
    if ((event->modifiers() & (Qt::ControlModifier | Qt::AltModifier)) == (Qt::ControlModifier | Qt::AltModifier)) {
        m_dragScroll = event->position().toPoint();
        m_dragScrolling = true;
        return;
    }
    QPlainTextEdit::mousePressEvent(event);
}

void CETextView::mouseMoveEvent(QMouseEvent *event)
{
    if (m_dragScrolling) {
        const QPoint delta = event->position().toPoint() - m_dragScroll;
        m_dragScroll = event->position().toPoint();
        // The vertical bar counts lines.
        const int lines = -delta.y() / std::max(1, lineHeight());
        if (lines != 0)
            verticalScrollBar()->setValue(verticalScrollBar()->value() + lines);
        else
            m_dragScroll.ry() -= delta.y();
        horizontalScrollBar()->setValue(horizontalScrollBar()->value() - delta.x());
        return;
    }
    QPlainTextEdit::mouseMoveEvent(event);
}

void CETextView::mouseReleaseEvent(QMouseEvent *event)
{
    if (std::exchange(m_dragScrolling, false))
        return;
    QPlainTextEdit::mouseReleaseEvent(event);
}

void CETextView::mouseDoubleClickEvent(QMouseEvent *event)
{
    QPlainTextEdit::mouseDoubleClickEvent(event);
    if (event->button() != Qt::LeftButton)
        return;
    const QString t = text();
    // The character under the pointer (the nearest boundary may lie after it).
    const QPoint point = event->position().toPoint();
    QTextCursor hit = cursorForPosition(point);
    qsizetype clicked = hit.position();
    if (clicked > 0 && cursorRect(hit).left() > point.x())
        --clicked;
    if (clicked >= t.size())
        return;
    static const QString openers = QStringLiteral("([{<"), closers = QStringLiteral(")]}>");
    const QChar c = t.at(clicked);
    const qsizetype open = openers.indexOf(c), close = closers.indexOf(c);
    if (open < 0 && close < 0) {
        selectNamePart(clicked);
        return;
    }
    const QChar same = c, other = open >= 0 ? closers.at(open) : openers.at(close);
    const int step = open >= 0 ? 1 : -1;
    int depth = 0;
    for (qsizetype i = clicked + step; i >= 0 && i < t.size(); i += step) {
        if (t.at(i) == same) {
            ++depth;
        } else if (t.at(i) == other) {
            if (depth == 0) {
                setSelectedRange({std::min(clicked, i), std::abs(i - clicked) + 1});
                return;
            }
            --depth;
        }
    }
    QApplication::beep();
    setSelectedRange({clicked, 1});
}

namespace {

bool ceTextViewIsNameCharacter(QChar c)
{
    return c.isLetterOrNumber() || c.isMark() || c == u'_' || c == u'$';
}

bool ceTextViewIsNameSeparator(QChar c)
{
    return c == u'.' || c == u':';
}

} // namespace

// The word under a double click is the name around the clicked character, dots and colons
// included; of a dotted or colon-joined name only the part around the click is selected.
// Other characters keep the selection the click made.
void CETextView::selectNamePart(qsizetype clicked)
{
    const QString t = text();
    auto inWord = [&](qsizetype i) { return ceTextViewIsNameCharacter(t.at(i)) || ceTextViewIsNameSeparator(t.at(i)); };
    if (!inWord(clicked))
        return;
    qsizetype wordStart = clicked, wordEnd = clicked + 1;
    while (wordStart > 0 && inWord(wordStart - 1))
        --wordStart;
    while (wordEnd < t.size() && inWord(wordEnd))
        ++wordEnd;
    qsizetype start = clicked;
    while (start > wordStart && !ceTextViewIsNameSeparator(t.at(start)))
        --start;
    if (ceTextViewIsNameSeparator(t.at(start)))
        ++start;
    qsizetype end = clicked + 1;
    while (end < wordEnd && !ceTextViewIsNameSeparator(t.at(end)))
        ++end;
    // A lone separator at the end of a name selects itself.
    setSelectedRange(end > start ? CERange{start, end - start} : CERange{clicked, 1});
}

// The standard edit commands, with undo and redo on the editor's history (the document keeps
// none), then find and the text commands.
void CETextView::contextMenuEvent(QContextMenuEvent *event)
{
    QMenu *menu = createStandardContextMenu(event->pos());
    menu->setAttribute(Qt::WA_DeleteOnClose);
    KRSpecialUndoManager *manager = m_editor.undoManager();
    for (QAction *action : menu->actions()) {
        const bool undo = action->objectName() == QLatin1String("edit-undo");
        if (!undo && action->objectName() != QLatin1String("edit-redo"))
            continue;
        QObject::disconnect(action, &QAction::triggered, nullptr, nullptr);
        action->setEnabled(manager && (undo ? manager->canUndo() : manager->canRedo()));
        connect(action, &QAction::triggered, this, [this, undo] {
            endTypingRun();
            KRSpecialUndoManager *history = m_editor.undoManager();
            if (history && undo && history->canUndo())
                history->undo();
            else if (history && !undo && history->canRedo())
                history->redo();
        });
    }
    CETextMenuController::addToContextMenu(menu, m_editor);
    menu->popup(event->globalPos());
}

void CETextView::onSelectionChanged()
{
    CEEditorDelegate *delegate = m_editor.delegate();
    if (delegate && !m_applying && !m_reverting) {
        const CERange current = selectedRange();
        const CERange wanted = delegate->willChangeSelection(this, current, current);
        if (!(wanted == current))
            return setSelectedRange(wanted);
        delegate->selectionDidChange(this);
    }
    if (m_applying) {
        m_selectionPending = true; // handled once the change is taken in
        return;
    }
    if (m_typingRun && !(selectedRange() == CERange{m_typingEnd, 0}))
        endTypingRun();
    CESyntaxColouring *colouring = m_editor.colouring();
    if (!colouring || !colouring->reactToChanges() || text().isEmpty())
        return;
    if (CEDefaults::boolValue(m_editor.defaults(), CEDefaults::highlightCurrentLine)) {
        highlightCurrentLine();
        pushFormats();
    }
    if (CEDefaults::boolValue(m_editor.defaults(), CEDefaults::showMatchingBraces))
        matchBraces();
    else
        m_lastCursor = selectedRange().location;
}

void CETextView::matchBraces()
{
    const qsizetype location = selectedRange().location;
    const qsizetype d = location - m_lastCursor;
    m_lastCursor = location;
    const qsizetype index = d == 1 ? location - 1 : d == -1 ? location : -1;
    const QString t = text();
    if (index < 0 || index >= t.size())
        return;
    static const QString closers = QStringLiteral(")]}>"), openers = QStringLiteral("([{<");
    const qsizetype kind = closers.indexOf(t.at(index));
    if (kind < 0)
        return;
    int depth = 0;
    for (qsizetype i = index - 1; i >= 0; --i) {
        if (t.at(i) == closers.at(kind)) {
            ++depth;
        } else if (t.at(i) == openers.at(kind)) {
            if (depth == 0)
                return flash({i, 1});
            --depth;
        }
    }
    if (kind < 3)
        QApplication::beep();
}

void CETextView::flash(CERange range)
{
    m_flashed = range;
    QList<QTextEdit::ExtraSelection> selections;
    if (range.location >= 0) {
        QTextEdit::ExtraSelection indicator;
        indicator.cursor = QTextCursor(document());
        indicator.cursor.setPosition(int(range.location));
        indicator.cursor.setPosition(int(range.end()), QTextCursor::KeepAnchor);
        indicator.format.setBackground(QColor(255, 230, 0));
        selections.append(indicator);
        m_flashTimer.start();
    }
    setExtraSelections(selections);
}

CERange CETextView::rangeForUserCompletion() const
{
    const QString t = text();
    const CERange selection = selectedRange();
    qsizetype start = selection.location;
    while (start > 0) {
        const QChar c = t.at(start - 1);
        if (c.isSpace() || c.isPunct())
            break;
        --start;
    }
    return {start, selection.end() - start};
}

QStringList CETextView::completions(const QString &partialWord) const
{
    CESyntaxColouring *colouring = m_editor.colouring();
    const QStringList words = colouring ? colouring->keywordsAndAutocompleteWords() : QStringList();
    QStringList result;
    for (const QString &word : words) {
        if (word.startsWith(partialWord, Qt::CaseInsensitive))
            result.append(word);
    }
    if (CEDefaults::boolValue(m_editor.defaults(), CEDefaults::autocompleteIncludeStandardWords))
        result.sort();
    return result;
}

void CETextView::complete()
{
    const CERange range = rangeForUserCompletion();
    const QStringList words = completions(text().mid(range.location, range.length));
    if (words.isEmpty() || range.length == 0) {
        m_completer->popup()->hide();
        return;
    }
    m_completionRange = range;
    m_completionModel->setStringList(words);
    QRect box = cursorRect();
    box.setWidth(std::max(160, m_completer->popup()->sizeHintForColumn(0) + 24));
    m_completer->complete(box);
}

void CETextView::insertCompletion(const QString &word)
{
    if (m_completionRange.location < 0)
        return;
    const CERange range = m_completionRange;
    m_completionRange = {-1, 0};
    if (guardedReplace(range, word))
        setSelectedRange({range.location + word.size(), 0});
}

void CETextView::visitBlocksInView(const std::function<bool(const QTextBlock &, const QRectF &)> &visit) const
{
    QTextBlock block = firstVisibleBlock();
    if (!block.isValid())
        return;
    // As the text control places a block: the first block's box, then each next one below the
    // boxes before it.
    const qreal shift = blockBoundingGeometry(block).top() - blockBoundingRect(block).top();
    const QPointF origin = contentOffset();
    qreal offset = 0;
    for (; block.isValid(); block = block.next()) {
        const QRectF box = blockBoundingRect(block);
        if (!visit(block, box.translated(0, shift + offset).translated(origin)))
            return;
        offset += box.height();
    }
}

CERange CETextView::visibleRange() const
{
    QTextBlock block = firstVisibleBlock();
    if (!block.isValid())
        return {0, 0};
    const qsizetype start = block.position();
    const qsizetype length = document()->characterCount() - 1;
    VisibleBlocks now;
    now.first = block.blockNumber();
    now.blocks = document()->blockCount();
    now.lines = document()->lineCount();
    now.offset = contentOffset().y();
    now.viewport = viewport()->size();
    now.font = font();
    now.last = m_visibleBlocks.last;
    if (now == m_visibleBlocks) {
        const QTextBlock last = document()->findBlockByNumber(now.last);
        return {start, std::min<qsizetype>(last.position() + last.length(), length) - start};
    }
    qsizetype end = start;
    const qreal bottom = viewport()->height();
    visitBlocksInView([&](const QTextBlock &visited, const QRectF &box) {
        end = visited.position() + visited.length();
        now.last = visited.blockNumber();
        return box.bottom() <= bottom;
    });
    m_visibleBlocks = now;
    return {start, std::min<qsizetype>(end, length) - start};
}

void CETextView::recolourVisible()
{
    CESyntaxColouring *colouring = m_editor.colouring();
    if (!colouring)
        return;
    const CERange visible = visibleRange();
    colouring->setVisibleRange(visible);
    if (colouring->reactToChanges() && colouring->isSyntaxColoured())
        colouring->pageRecolour();
    if (CEDefaults::boolValue(m_editor.defaults(), CEDefaults::highlightCurrentLine))
        highlightCurrentLine();
    pushFormats(visible);
}

bool CETextView::recolourEditedLine()
{
    CESyntaxColouring *colouring = m_editor.colouring();
    if (!colouring || colouring->editedLine().location < 0)
        return false;
    const CERange visible = visibleRange();
    colouring->setVisibleRange(visible);
    const bool highlight = CEDefaults::boolValue(m_editor.defaults(), CEDefaults::highlightCurrentLine);
    CERange lines{-1, 0};
    if (highlight) {
        const QString &t = colouring->string();
        const CERange selection = selectedRange();
        const qsizetype start = CESyntaxColouring::lineStart(t, selection.location);
        lines = {start, CESyntaxColouring::lineEnd(t, std::max(selection.location, selection.end())) - start};
    }
    const CERange line = colouring->editedLine();
    if (!colouring->recolourEditedLine(lines))
        return false;
    if (highlight)
        highlightCurrentLine();
    pushFormats({line.location, std::max<qsizetype>(0, line.length - 1)});
    return true;
}

// The lines of the selection get the highlight; after the colours were cleared the same
// lines get it again.
void CETextView::highlightCurrentLine()
{
    CESyntaxColouring *colouring = m_editor.colouring();
    const QString &t = colouring->string();
    const CERange selection = selectedRange();
    const qsizetype start = CESyntaxColouring::lineStart(t, selection.location);
    const CERange lines{start, CESyntaxColouring::lineEnd(t, std::max(selection.location, selection.end())) - start};
    colouring->setSelectedRange(selection);
    if (lines == colouring->lastLineHighlightRange()) {
        const QVariantMap highlight = colouring->colourAttributes(CEDefaults::highlightLineColourWell);
        if (lines.length > 0 && !colouring->temporaryAttributes().attributeAt(CETemporaryAttributes::backgroundColour, start).isValid())
            colouring->temporaryAttributes().addAttributes(highlight, lines);
        return;
    }
    colouring->highlightLineRange(lines);
}

void CETextView::pushFormats(CERange visible)
{
    CESyntaxColouring *colouring = m_editor.colouring();
    if (!colouring)
        return;
    const CETemporaryAttributes &store = colouring->temporaryAttributes();
    if (visible.location < 0)
        visible = visibleRange();
    for (QTextBlock block = document()->findBlock(int(visible.location)); block.isValid() && block.position() <= visible.end();
         block = block.next()) {
        const CERange part = colouredPart(block);
        const CERange span = part.length < 0 ? CERange{block.position(), block.length() - 1}
                                             : CERange{block.position() + part.location, part.length};
        // A block whose layout still has the formats pushed from the same runs is as it should be.
        const QList<QPair<qsizetype, quint32>> handles = store.runHandles(span);
        auto *pushed = dynamic_cast<CETextViewPushedFormats *>(block.userData());
        QTextLayout *layout = block.layout();
        if (pushed && pushed->part == part && pushed->handles == handles && layout->formats().isSharedWith(pushed->formats))
            continue;
        QList<QTextLayout::FormatRange> formats;
        for (const auto &[range, attributes] : store.runs(span)) {
            if (attributes.isEmpty())
                continue;
            QTextLayout::FormatRange format;
            format.start = int(range.location - block.position());
            format.length = int(range.length);
            const QColor fore = attributes.value(CETemporaryAttributes::foregroundColour).value<QColor>();
            const QColor back = attributes.value(CETemporaryAttributes::backgroundColour).value<QColor>();
            if (fore.isValid())
                format.format.setForeground(fore);
            if (back.isValid())
                format.format.setBackground(back);
            formats.append(format);
        }
        if (!pushed) {
            pushed = new CETextViewPushedFormats;
            block.setUserData(pushed); // the block owns it
        }
        pushed->handles = handles;
        pushed->part = part;
        if (layout->formats() == formats) {
            pushed->formats = layout->formats();
            continue;
        }
        layOutWithFormats(block, formats);
        pushed->formats = layout->formats();
    }
}

// The whole block ({0, -1}), but of a long one what is in view and a margin either side, in
// steps of the margin (empty when it is out of view). A long block not laid out yet gets its
// colours whole, once.
CERange CETextView::colouredPart(const QTextBlock &block) const
{
    const qsizetype length = block.length() - 1;
    QTextLayout *layout = block.layout();
    if (length <= ceTextViewLongBlock || !layout || layout->lineCount() == 0)
        return {0, -1};
    qreal top = 0;
    bool inView = false;
    visitBlocksInView([&](const QTextBlock &visited, const QRectF &box) {
        if (visited == block) {
            top = box.top();
            inView = true;
            return false;
        }
        return box.bottom() <= viewport()->height();
    });
    if (!inView)
        return {0, 0};
    const qreal height = viewport()->height();
    // The first line reaching into the view and the last starting in it.
    int first = 0, last = layout->lineCount() - 1;
    for (int lo = 0, hi = layout->lineCount(); lo < hi;) {
        const int mid = (lo + hi) / 2;
        const QTextLine line = layout->lineAt(mid);
        if (top + line.y() + line.height() <= 0)
            lo = first = mid + 1;
        else
            hi = mid;
    }
    for (int lo = first, hi = layout->lineCount(); lo < hi;) {
        const int mid = (lo + hi) / 2;
        if (top + layout->lineAt(mid).y() < height) {
            last = mid;
            lo = mid + 1;
        } else {
            hi = mid;
        }
    }
    first = std::min(first, layout->lineCount() - 1);
    last = std::max(last, first);
    const QTextLine firstLine = layout->lineAt(first), lastLine = layout->lineAt(last);
    const qsizetype step = ceTextViewLongBlockMargin;
    const qsizetype from = std::max<qsizetype>(0, (firstLine.textStart() / step - 1) * step);
    const qsizetype to = std::min(length, ((lastLine.textStart() + lastLine.textLength()) / step + 2) * step);
    return {from, std::max<qsizetype>(0, to - from)};
}

// The block is laid out again with `formats`, and the layout asks for its own repaint. Its
// glyphs are kept from that layout for the paint that follows, as a paint keeps the glyphs it
// shaped.
void CETextView::layOutWithFormats(const QTextBlock &block, const QList<QTextLayout::FormatRange> &formats)
{
    QTextLayout *layout = block.layout();
    layout->setCacheEnabled(true);
    layout->setFormats(formats);
    const int pending = m_pendingChanges;
    const bool applying = std::exchange(m_applying, true);
    document()->markContentsDirty(block.position(), block.length());
    m_applying = applying;
    m_pendingChanges = pending; // a relayout, not a change of the text
}

qreal CETextView::pageGuideX() const
{
    const qint64 column = CEDefaults::integerValue(m_editor.defaults(), CEDefaults::showPageGuideAtColumn);
    const qreal space = QFontMetricsF(font()).horizontalAdvance(u' ');
    return contentOffset().x() + document()->documentMargin() + column * space + 0.5;
}

int CETextView::lineHeight() const
{
    return QFontMetrics(font()).lineSpacing();
}

void CETextView::applyDefaults()
{
    forgetVisibleBlocks();
    KRUserDefaults &defaults = m_editor.defaults();
    setFont(ceTextViewFont(defaults));
    m_textColour = CEDefaults::colourValue(defaults, CEDefaults::textColourWell);
    if (!m_textColour.isValid())
        m_textColour = Qt::black;
    QColor background = CEDefaults::colourValue(defaults, CEDefaults::backgroundColourWell);
    if (!background.isValid())
        background = Qt::white;
    m_invisiblesColour = CEDefaults::colourValue(defaults, CEDefaults::invisibleCharactersColourWell);
    QPalette p = palette();
    p.setColor(QPalette::Text, m_textColour);
    p.setColor(QPalette::Base, background);
    setPalette(p);
    const qint64 tabWidth = std::max<qint64>(0, CEDefaults::integerValue(defaults, CEDefaults::tabWidth));
    setTabStopDistance(QFontMetricsF(font()).horizontalAdvance(QString(int(tabWidth), u' ')));
    m_showPageGuide = CEDefaults::boolValue(defaults, CEDefaults::showPageGuide);
    m_showInvisibles = CEDefaults::boolValue(defaults, CEDefaults::showInvisibleCharacters);
    viewport()->setCursor(ibeamCursor(m_textColour));
    viewport()->update();
}

// Black text keeps the system I-beam; any other text colour gets an I-beam drawn in it, with
// the hot spot in its middle.
QCursor CETextView::ibeamCursor(const QColor &colour)
{
    if (colour.rgb() == QColor(Qt::black).rgb())
        return QCursor(Qt::IBeamCursor);
    QPixmap beam(9, 18);
    beam.fill(Qt::transparent);
    QPainter painter(&beam);
    painter.setPen(QPen(colour, 1));
    painter.drawLine(QPointF(4.5, 2), QPointF(4.5, 16));
    painter.drawLine(QPointF(1, 0.5), QPointF(4, 0.5));
    painter.drawLine(QPointF(5, 0.5), QPointF(8, 0.5));
    painter.drawLine(QPointF(1, 17.5), QPointF(4, 17.5));
    painter.drawLine(QPointF(5, 17.5), QPointF(8, 17.5));
    painter.end();
    return QCursor(beam, 4, 9);
}

void CETextView::changeEvent(QEvent *event)
{
    if (event->type() == QEvent::ActivationChange && isActiveWindow())
        CEEditor::setCurrentInstance(&m_editor);
    QPlainTextEdit::changeEvent(event);
}

void CETextView::paintEvent(QPaintEvent *event)
{
    QPlainTextEdit::paintEvent(event);
    QPainter painter(viewport());
    if (m_showInvisibles) {
        painter.setPen(m_invisiblesColour.isValid() ? m_invisiblesColour : m_textColour);
        visitBlocksInView([&](const QTextBlock &block, const QRectF &box) {
            if (box.top() > viewport()->height())
                return false;
            const QTextLayout *layout = block.layout();
            const QString t = block.text();
            for (int i = 0; i <= t.size(); ++i) {
                if (i < t.size() && t.at(i) != u'\t')
                    continue;
                if (i == t.size() && !block.next().isValid())
                    break;
                const QTextLine line = layout->lineForTextPosition(i);
                if (!line.isValid())
                    continue;
                const QPointF at(box.left() + line.cursorToX(i), box.top() + line.y() + line.ascent());
                painter.drawText(at, i < t.size() ? QStringLiteral("\u00AC") : QStringLiteral("\u00B6"));
            }
            return true;
        });
    }
    if (m_showPageGuide) {
        QColor guide = m_textColour;
        guide.setAlphaF(guide.alphaF() * 0.25f);
        painter.setPen(guide);
        const qreal x = pageGuideX();
        painter.drawLine(QPointF(x, 0), QPointF(x, viewport()->height()));
    }
    if (hasFocus() && textCursor().selectionStart() == textCursor().selectionEnd()) {
        const QRect caret = cursorRect();
        painter.fillRect(QRect(caret.left(), caret.top(), 2, caret.height()), m_textColour);
    }
}

void CETextView::focusInEvent(QFocusEvent *event)
{
    CEEditor::setCurrentInstance(&m_editor);
    QPlainTextEdit::focusInEvent(event);
}

// Leaving the view ends an editing session (a completion list taking the focus does not).
void CETextView::focusOutEvent(QFocusEvent *event)
{
    CEEditorDelegate *delegate = m_editor.delegate();
    if (event->reason() != Qt::PopupFocusReason)
        endTypingRun();
    if (m_editing && delegate && event->reason() != Qt::PopupFocusReason) {
        if (delegate->textShouldEndEditing(this)) {
            m_editing = false;
            delegate->textDidEndEditing(this);
        }
    }
    QPlainTextEdit::focusOutEvent(event);
}
