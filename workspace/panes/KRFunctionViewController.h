#pragma once

#include <codeeditor/CEEditorDelegate.h>
#include <codeeditor/CETextView.h>
#include <ui/KRCachingViewController.h>
#include <platform/appkit/KRPopover.h>
#include <platform/foundation/KRObservationToken.h>

#include <QPointer>
#include <QTimer>
#include <QUrl>
#include <QVariantMap>

#include <functional>
#include <memory>
#include <optional>
#include <vector>

class NetHTTPRequest;

class CEEditor;
class CETextView;
class KRFunction;
class KRPopover;

// The text of a function editor: a generated head (a comment line and the function line), the
// body the user edits and the closing "\n}". Only the body may change.
namespace KRFunctionText {

// "// Client function: <id>\nfunction <id>(<arguments>) {\n", "Server" for a server handler.
QString head(const KRFunction &function);
// The body of the whole text: from the end of the head up to the closing "\n}"; empty when
// the text is shorter than head and tail.
QString body(const QString &text, qsizetype headLength);
// Whether a change of `range` may happen: it must lie within the body (from the end of the head
// up to the "\n}"); an insertion exactly at either end is allowed.
bool allowsChange(CERange range, qsizetype headLength, qsizetype textLength);
// The selection kept inside the body.
CERange clipSelection(CERange proposed, qsizetype headLength, qsizetype textLength);
// Where the caret goes for an error at 1-based row and column: the row (or the last line when
// there are fewer), at min(line length, column) - 1 but never before the line's start. -1 for
// nothing: an empty text, row 0, or the first line (the read-only comment).
qsizetype offsetForRowColumn(const QString &text, int row, int column);
// The catalogue's error template with every "{{key}}" of the record replaced by its value,
// HTML-escaped (the values quote the user's source and the checker's messages); placeholders
// of fields the record lacks are left empty.
QString errorHTML(const QString &templ, const QVariantMap &record);

} // namespace KRFunctionText

// What the error pop-over of a function editor shows: the help web view in the application,
// a recorder in the tests (which run without a renderer).
class KRSyntaxErrorHelpContent
{
public:
    virtual ~KRSyntaxErrorHelpContent() = default;
    // The pop-over's content widget; the pop-over takes it over.
    virtual QWidget *takeView() = 0;
    virtual void loadHTML(const QString &html, const QUrl &baseURL) = 0;
};

// Implemented by the host of a function editor (the page tab pane); nothing is asked of it.
class KRFunctionViewDelegate
{
public:
    virtual ~KRFunctionViewDelegate() = default;
};

// The editor tab of one function: the code editor shows the whole function as the build
// writes it, with a read-only head and tail; every change of the body goes into the model at
// once, within the editor's undo step (a run of typing is one step). Lines the last syntax check flagged are coloured, and an error
// pop-over beside the text explains the error of the line the caret stands on. While lines are
// marked, the function is checked again after a pause in typing and when the project is saved,
// so that the marks follow the mended text.
class KRFunctionViewController : public KRCachingViewController, public CEEditorDelegate
{
    Q_OBJECT

public:
    static inline const QString SyntaxErrorLineNumberAttribute = QStringLiteral("KRSyntaxErrorLineNumber");
    static constexpr int PopoverMinimumWidth = 250;
    static constexpr int PopoverHeight = 150;

    using HelpContentFactory = std::function<std::unique_ptr<KRSyntaxErrorHelpContent>()>;
    // Replaces the maker of the pop-over's content; returns the previous one.
    static HelpContentFactory setHelpContentFactory(HelpContentFactory factory);

    KRFunctionViewController();
    ~KRFunctionViewController() override;
    QString nibName() const override { return QStringLiteral("KRFunctionView"); }

    std::shared_ptr<KRFunction> function() const { return m_function.lock(); }
    void setFunction(const std::shared_ptr<KRFunction> &function);
    KRFunctionViewDelegate *delegate() const { return m_delegate; }
    void setDelegate(KRFunctionViewDelegate *delegate) { m_delegate = delegate; }

    // The editor's text view; null once closed.
    CETextView *textView() const { return m_textView; }
    CEEditor *codeEditor() const { return m_codeEditor.get(); }
    qsizetype headerLength() const { return m_headerLength; }

    void setupFunctionBody();
    void saveContents();
    // Saves and lets go of the editor; nothing more happens afterwards.
    void close();
    // Lets go of the editor without writing: its function has left the page.
    void discard();
    bool isClosed() const { return !m_codeEditor; }

    void showFirstSyntaxError();
    void selectRow(int row, int column);
    void closePopover();
    KRPopover *popover() const { return m_popover; }
    int lastSyntaxErrorLineNumber() const { return m_lastSyntaxErrorLineNumber; }

    // CEEditorDelegate
    bool shouldChangeText(CETextView *view, CERange range, const QString &replacement) override;
    CERange willChangeSelection(CETextView *view, CERange oldRange, CERange proposed) override;
    void textDidChange(CETextView *view) override;
    void textDidEndEditing(CETextView *view) override;
    QVariantMap attributesForLineNumber(int line) override;

protected:
    void awakeFromNib() override;
    // The error pop-over goes when the text view is hidden (another tab is shown).
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void didSyntaxCheck();
    // Checks the function again, in the background, when the last check marked some of its lines.
    void recheck();
    void takeRecheck(const QString &checkedSource, const std::optional<QVariantList> &errors);
    void showPopoverForLine(int line, CERange selection);

    QWidget *m_editorView = nullptr; // part of view()
    std::unique_ptr<CEEditor> m_codeEditor;
    QPointer<CETextView> m_textView;
    const QObject *m_watchedTextView = nullptr; // the text view whose hiding closes the pop-over
    qsizetype m_headerLength = 0;
    std::unique_ptr<KRSyntaxErrorHelpContent> m_helpContent;
    QPointer<KRPopover> m_popover;
    int m_lastSyntaxErrorLineNumber = 0;
    // The text was edited since the last check: the marked lines may no longer be wrong, so
    // no error pop-over opens until the next check.
    bool m_errorsOutdated = false;
    QTimer m_recheckPause; // a pause in typing checks the function again
    std::shared_ptr<NetHTTPRequest> m_recheck; // the check under way
    static constexpr int RecheckPauseMilliseconds = 800;
    std::weak_ptr<KRFunction> m_function;
    KRFunctionViewDelegate *m_delegate = nullptr;
    std::vector<KRObservationToken> m_observers;
    bool m_saving = false;
};
