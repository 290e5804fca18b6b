#pragma once

#include "CERegex.h"
#include "CETextCommands.h"

#include <QFont>
#include <QPlainTextEdit>
#include <QPointer>
#include <QTextLayout>
#include <QTimer>

#include <array>
#include <functional>

class CEEditor;
class KRUndoManager;
class QCompleter;
class QStringListModel;

// The editing surface of one editor. Its document keeps no undo of its own: every change is
// recorded on the editor's undo manager, so typing and other edits of the project share one
// history. Every change, whatever its source, is first put to the host's delegate. The
// colouring lives in the engine's temporary attributes and is pushed into the visible blocks.
class CETextView : public QPlainTextEdit, public CETextEditTarget
{
    Q_OBJECT

public:
    explicit CETextView(CEEditor &editor, QWidget *parent = nullptr);
    ~CETextView() override;

    CEEditor &editor() const { return m_editor; }
    // Layout reads for the gutter.
    using QPlainTextEdit::blockBoundingGeometry;
    using QPlainTextEdit::contentOffset;
    using QPlainTextEdit::firstVisibleBlock;
    // The blocks from the first in view on, each with its box in view coordinates (what
    // blockBoundingGeometry gives translated by the content offset, found block by block rather
    // than by walking from the first block for each), until `visit` answers false.
    void visitBlocksInView(const std::function<bool(const QTextBlock &, const QRectF &)> &visit) const;

    // The text as typed (line feeds only, no-break spaces kept).
    QString text() const override;
    bool guardedReplace(CERange range, const QString &replacement) override;
    // Replaces without asking the host (undo, redo, loading).
    void replaceUnguarded(CERange range, const QString &replacement);
    // Replaces each of the ranges (in order, apart) that the host allows with the replacement,
    // as one edit from the first to the last: one undo step, in time linear in the text, whose
    // undo restores the text and the selection before it. The number replaced.
    qsizetype guardedReplaceEach(const QList<CERange> &ranges, const QString &replacement);
    // Loads a text: unguarded, unrecorded, not reported to the host as an edit.
    void load(const QString &text);

    CERange selectedRange() const;
    void setSelectedRange(CERange range);
    // The ranges of a multiple selection that a command left; the single selection otherwise.
    QList<CERange> selectedRanges() const;
    void setSelectedRanges(const QList<CERange> &ranges);

    // The typing path: replaces the selection after asking the host. With typing behaviours
    // a closing brace is re-indented and opening brackets may be paired.
    void insertText(const QString &text, bool typingBehaviours = true);
    void insertTab();
    void insertNewline();

    // Completion: the range completed, the words offered for it, and showing them.
    CERange rangeForUserCompletion() const;
    QStringList completions(const QString &partialWord) const;
    void complete();
    QCompleter *completer() const { return m_completer; }
    bool isCompletionTimerActive() const { return m_completionTimer.isActive(); }

    // The character range of the blocks in view.
    CERange visibleRange() const;
    // Recolours the visible lines and pushes the colours into their layouts.
    void recolourVisible();
    // After an edit within one line: recolours and pushes that line alone when the colouring
    // can tell that no other line changes; false (nothing done) otherwise.
    bool recolourEditedLine();
    void pushFormats(CERange visible = {-1, 0});
    void highlightCurrentLine();
    qreal pageGuideX() const;
    QColor textColour() const { return m_textColour; }
    // The opener the last brace match flashed (location -1 when none shows).
    CERange flashedRange() const { return m_flashed; }
    int lineHeight() const;
    // Reads fonts, colours, tabs and the page guide from the user defaults.
    void applyDefaults();
    static QCursor ibeamCursor(const QColor &textColour);
    // Typed characters form one undo step until typing pauses this long, the caret moves, a
    // command runs or the view loses the focus.
    static constexpr int TypingPauseMilliseconds = 1000;
    // Ends the current run of typed characters, so that the next one starts a new undo step.
    void breakUndoCoalescing() { endTypingRun(); }
    // The name the next recorded change gets in the undo history.
    void setPendingActionName(const QString &name) { m_actionName = name; }

signals:
    void linesChanged();

protected:
    void keyPressEvent(QKeyEvent *event) override;
    void inputMethodEvent(QInputMethodEvent *event) override;
    void insertFromMimeData(const QMimeData *source) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;
    void contextMenuEvent(QContextMenuEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void paintEvent(QPaintEvent *event) override;
    void focusInEvent(QFocusEvent *event) override;
    void changeEvent(QEvent *event) override;
    void focusOutEvent(QFocusEvent *event) override;

private:
    void onContentsChange(bool trusted = false);
    void drawEditFirst(const QTextBlock &block, int linesBefore, int at, int removed, int added);
    void layOutWithFormats(const QTextBlock &block, const QList<QTextLayout::FormatRange> &formats);
    CERange colouredPart(const QTextBlock &block) const;
    void continueTypingRun();
    void endTypingRun();
    bool takeChange(CERange *removedRange, QString *inserted);
    void onSelectionChanged();
    void selectNamePart(qsizetype clicked);
    void recordUndo(CERange inserted, const QString &removed);
    void replaceAsOneStep(CERange range, const QString &replacement, CERange selectionBefore, CERange selectionAfter);
    void matchBraces();
    void flash(CERange range);
    bool hostAllows(CERange range, const QString &replacement);
    void insertCompletion(const QString &word);

    CEEditor &m_editor;
    QString m_shadow; // the document's text, kept in step by onContentsChange
    int m_pendingChanges = 0;
    std::array<int, 3> m_pendingChange{}; // position, removed, added of the first report
    bool m_applying = false;
    bool m_reverting = false;
    bool m_selectionPending = false;
    bool m_loading = false;
    bool m_recordsItself = false; // the edit under way registers its own undo
    bool m_dragScrolling = false;
    QPoint m_dragScroll;
    bool m_typingRun = false;
    QTimer m_typingPause; // a pause in typing ends the run
    qsizetype m_typingEnd = 0;
    QPointer<KRUndoManager> m_runManager;
    bool m_editing = false; // between the first change and leaving the view
    QString m_actionName;
    QList<CERange> m_ranges;
    qsizetype m_lastCursor = 0;
    CERange m_flashed{-1, 0};
    QTimer m_flashTimer;
    QTimer m_completionTimer;
    QCompleter *m_completer = nullptr;
    QStringListModel *m_completionModel = nullptr;
    CERange m_completionRange{-1, 0};
    QColor m_textColour;
    QColor m_invisiblesColour;
    qreal m_pageGuideX = -1;
    bool m_showPageGuide = false;
    bool m_showInvisibles = false;
    // The blocks in view when visibleRange last looked, and what they depend on: the same
    // first block at the same offset, in the same font and view, with as many blocks and lines,
    // ends with the same block.
    struct VisibleBlocks
    {
        int first = -1;
        int last = -1;
        int blocks = 0;
        int lines = 0;
        qreal offset = 0;
        QSize viewport;
        QFont font;
        bool operator==(const VisibleBlocks &other) const
        {
            return first == other.first && blocks == other.blocks && lines == other.lines && offset == other.offset
                && viewport == other.viewport && font == other.font;
        }
    };
    mutable VisibleBlocks m_visibleBlocks;
    void forgetVisibleBlocks() { m_visibleBlocks.first = -1; }
};
