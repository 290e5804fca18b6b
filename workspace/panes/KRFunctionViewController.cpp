#include "KRFunctionViewController.h"

#include <builder/KRProjectBuilder.h>
#include <builder/KRProjectSyntaxCheck.h>
#include <codeeditor/CEEditor.h>
#include <codeeditor/CESyntaxColouring.h>
#include <codeeditor/CETemporaryAttributes.h>
#include <codeeditor/CETextView.h>
#include <core/KRString.h>
#include <ui/KRUIColors.h>
#include <model/KRDocument.h>
#include <model/KRFunction.h>
#include <model/KRObjectInfo.h>
#include <model/KRPageBase.h>
#include <model/KRProject.h>
#include <model/KRProjectBase.h>
#include <model/KRSpecialUndoManager.h>
#include <platform/appkit/KRInterfaceRegistry.h>
#include <platform/appkit/KRPopover.h>
#include <platform/foundation/KRNotificationCenter.h>
#include <platform/foundation/KRResources.h>
#include <network/NetHTTPRequest.h>
#include <widgets/help/KRHelpViewController.h>

#include <QTextBlock>
#include <QVBoxLayout>

namespace KRFunctionText {

QString head(const KRFunction &function)
{
    const QString format = function.kr_serverFunction() == QStringLiteral("Yes")
                               ? QStringLiteral("// Server function: %1\nfunction %2(%3) {\n")
                               : QStringLiteral("// Client function: %1\nfunction %2(%3) {\n");
    const QString id = function.kr_id();
    return format.arg(id, id, function.kr_arguments());
}

QString body(const QString &text, qsizetype headLength)
{
    const qsizetype length = text.size() - 2 - headLength;
    return length > 0 ? text.mid(headLength, length) : QString();
}

bool allowsChange(CERange range, qsizetype headLength, qsizetype textLength)
{
    return range.location >= headLength && range.end() <= textLength - 2;
}

CERange clipSelection(CERange proposed, qsizetype headLength, qsizetype textLength)
{
    const qsizetype bodyEnd = textLength - 2;
    if (bodyEnd < headLength)
        return proposed;
    qsizetype start = proposed.location;
    qsizetype end = proposed.end();
    if (end < headLength)
        return {headLength, 0};
    if (start >= bodyEnd)
        return {bodyEnd, 0};
    start = std::max(start, headLength);
    end = std::min(end, bodyEnd);
    return {start, end - start};
}

qsizetype offsetForRowColumn(const QString &text, int row, int column)
{
    if (text.isEmpty() || row <= 0)
        return -1;
    qsizetype lineStart = 0;
    for (int line = 1; line < row; ++line) {
        const qsizetype next = text.indexOf(QLatin1Char('\n'), lineStart);
        if (next < 0)
            break;
        lineStart = next + 1;
    }
    if (lineStart == 0)
        return -1;
    qsizetype lineEnd = text.indexOf(QLatin1Char('\n'), lineStart);
    if (lineEnd < 0)
        lineEnd = text.size();
    const qsizetype lineLength = lineEnd - lineStart;
    return lineStart + std::max<qsizetype>(0, std::min<qsizetype>(lineLength, column) - 1);
}

QString errorHTML(const QString &templ, const QVariantMap &record)
{
    QVariantMap escaped;
    for (auto it = record.cbegin(); it != record.cend(); ++it)
        escaped.insert(it.key(), it.value().toString().toHtmlEscaped());
    // Each placeholder is filled once: braces in the quoted source are shown as they are.
    return KRString::stringBySubstitutingTemplateValues(templ, escaped, true);
}

} // namespace KRFunctionText

namespace {

// The application's content: the help web view.
class KRFunctionViewWebHelpContent : public KRSyntaxErrorHelpContent
{
public:
    QWidget *takeView() override { return m_help.webView(); }
    void loadHTML(const QString &html, const QUrl &baseURL) override
    {
        if (m_help.webView())
            m_help.webView()->setHtml(html, baseURL);
    }

private:
    KRHelpViewController m_help;
};

KRFunctionViewController::HelpContentFactory &krFunctionViewHelpFactory()
{
    static KRFunctionViewController::HelpContentFactory factory = [] {
        return std::make_unique<KRFunctionViewWebHelpContent>();
    };
    return factory;
}

} // namespace

KRFunctionViewController::HelpContentFactory KRFunctionViewController::setHelpContentFactory(HelpContentFactory factory)
{
    return std::exchange(krFunctionViewHelpFactory(), std::move(factory));
}

KRFunctionViewController::KRFunctionViewController()
{
    if (!KRInterfaceRegistry::hasInterface(QStringLiteral("KRFunctionView")))
        KRInterfaceRegistry::registerInterface(QStringLiteral("KRFunctionView"), [](QObject *owner) -> QWidget * {
            auto *controller = dynamic_cast<KRFunctionViewController *>(owner);
            auto *view = new QWidget;
            auto *layout = new QVBoxLayout(view);
            layout->setContentsMargins(0, 0, 0, 0);
            controller->m_editorView = new QWidget(view);
            layout->addWidget(controller->m_editorView);
            view->resize(600, 400);
            return view;
        });
}

KRFunctionViewController::~KRFunctionViewController()
{
    if (m_recheck)
        m_recheck->clearDelegatesAndCancel();
    m_observers.clear();
    closePopover();
    if (m_codeEditor)
        m_codeEditor->setDelegate(nullptr);
}

void KRFunctionViewController::awakeFromNib()
{
    m_codeEditor = std::make_unique<CEEditor>();
    m_codeEditor->setObject(true, CEKeys::isSyntaxColoured);
    m_codeEditor->setObject(true, CEKeys::showLineNumberGutter);
    m_codeEditor->setDelegate(this);
    m_codeEditor->embedInView(m_editorView);
    if (CESyntaxColouring *colouring = m_codeEditor->colouring())
        colouring->setAdditionalKeywords(KRObjectInfo::sharedInstance().keywords());
    m_codeEditor->setObject(QStringLiteral("JavaScript"), CEKeys::syntaxDefinition);
    m_textView = m_codeEditor->textView();
    m_textView->installEventFilter(this);
    m_recheckPause.setSingleShot(true);
    m_recheckPause.setInterval(RecheckPauseMilliseconds);
    connect(&m_recheckPause, &QTimer::timeout, this, &KRFunctionViewController::recheck);
    m_watchedTextView = m_textView.data();
    // Select All moves the selection without moving the caret's report; it is kept in the
    // body here as well.
    connect(m_textView, &QPlainTextEdit::selectionChanged, this, [this] {
        if (!m_textView)
            return;
        const CERange current = m_textView->selectedRange();
        const CERange kept = KRFunctionText::clipSelection(current, m_headerLength, m_textView->text().size());
        if (!(kept == current))
            m_textView->setSelectedRange(kept);
    });
}

void KRFunctionViewController::setFunction(const std::shared_ptr<KRFunction> &function)
{
    m_function = function;
    m_observers.clear();
    if (!function || !m_codeEditor)
        return;
    std::shared_ptr<KRDocument> document;
    if (auto page = function->owningPage())
        if (auto project = page->pageProject())
            document = project->krDocument();
    if (document) {
        std::weak_ptr<KRDocument> weakDocument = document;
        m_codeEditor->setUndoManagerProvider([weakDocument]() -> KRSpecialUndoManager * {
            auto kept = weakDocument.lock();
            return kept ? &kept->specialUndoManager() : nullptr;
        });
        KRNotificationCenter &center = KRNotificationCenter::defaultCenter();
        for (const QString &name : {KRWillSaveDocumentNotification, KRWillCloseDocumentNotification, KRWillBuildDocumentNotification})
            m_observers.push_back(center.addObserver(name, document->identity(), [this](const KRNotification &) { saveContents(); }));
        m_observers.push_back(center.addObserver(KRWillSaveDocumentNotification, document->identity(), [this](const KRNotification &) {
            if (m_recheckPause.isActive()) {
                m_recheckPause.stop();
                recheck();
            }
        }));
        m_observers.push_back(center.addObserver(KRDidPerformSyntaxCheckDocumentNotification, document->identity(),
                                                 [this](const KRNotification &) { didSyntaxCheck(); }));
    }
    for (const QString &key : {QStringLiteral("kr_id"), QStringLiteral("kr_arguments")})
        m_observers.push_back(function->observable().observe(key, [this](const void *, const QString &, const QVariant &, const QVariant &) {
            setupFunctionBody();
        }));
    setupFunctionBody();
}

void KRFunctionViewController::setupFunctionBody()
{
    const auto function = m_function.lock();
    if (!function || !m_codeEditor)
        return;
    const QString head = KRFunctionText::head(*function);
    m_headerLength = head.size();
    m_codeEditor->setString(head + function->kr_source() + QStringLiteral("\n}"));
    const qsizetype placeholder = m_codeEditor->string().indexOf(QStringLiteral("// Your code here"), m_headerLength);
    if (placeholder >= 0)
        m_textView->setSelectedRange({placeholder, qsizetype(QStringLiteral("// Your code here").size())});
    else
        m_textView->setSelectedRange({0, 0});
}

void KRFunctionViewController::saveContents()
{
    const auto function = m_function.lock();
    if (!function || !m_codeEditor || m_saving)
        return;
    const QString body = KRFunctionText::body(m_codeEditor->string(), m_headerLength);
    m_saving = true;
    if (body != function->kr_source())
        function->setValue(QStringLiteral("kr_source"), body);
    m_saving = false;
}

void KRFunctionViewController::close()
{
    if (!m_codeEditor)
        return;
    saveContents();
    discard();
}

void KRFunctionViewController::discard()
{
    if (!m_codeEditor)
        return;
    m_recheckPause.stop();
    if (m_recheck)
        m_recheck->clearDelegatesAndCancel();
    m_recheck.reset();
    m_observers.clear();
    closePopover();
    m_codeEditor->setDelegate(nullptr);
    m_codeEditor.reset();
    m_textView = nullptr;
    m_delegate = nullptr;
}

bool KRFunctionViewController::shouldChangeText(CETextView *view, CERange range, const QString &)
{
    return KRFunctionText::allowsChange(range, m_headerLength, view->text().size());
}

CERange KRFunctionViewController::willChangeSelection(CETextView *view, CERange, CERange proposed)
{
    const CERange clipped = KRFunctionText::clipSelection(proposed, m_headerLength, view->text().size());
    const auto function = m_function.lock();
    const QTextBlock block = view->document()->findBlock(int(clipped.location));
    const int line = block.isValid() ? block.blockNumber() + 1 : 0;
    if (!function || line == 0 || m_errorsOutdated || function->syntaxErrorForLineNumber(line).isEmpty()) {
        closePopover();
        return clipped;
    }
    showPopoverForLine(line, clipped);
    return clipped;
}

void KRFunctionViewController::showPopoverForLine(int line, CERange selection)
{
    CETextView *view = m_textView;
    const auto function = m_function.lock();
    if (!view || !function)
        return;
    QWidget *canvas = view->viewport();
    const int width = std::max(PopoverMinimumWidth, view->width() / 3);
    QTextCursor cursor(view->document());
    cursor.setPosition(int(selection.location));
    QRect selectionRect = view->cursorRect(cursor);
    if (selection.length > 0) {
        cursor.setPosition(int(selection.end()));
        selectionRect = selectionRect.united(view->cursorRect(cursor));
    }
    const QTextBlock block = view->document()->findBlock(int(selection.location));
    const QRect lineRect = view->blockBoundingGeometry(block).translated(view->contentOffset()).toAlignedRect();
    QRect anchor = lineRect;
    anchor.setWidth(canvas->width() - 25 - width);
    // No room to the right of the caret: the line colour alone tells of the error.
    if (selectionRect.right() + 25 > anchor.right()) {
        if (m_popover && m_popover->isShown())
            closePopover();
        return;
    }
    if ((!m_popover || m_popover->isShown()) && m_lastSyntaxErrorLineNumber == line)
        return;
    if (!m_helpContent || !m_popover) {
        m_helpContent = krFunctionViewHelpFactory()();
        if (!m_helpContent)
            return;
        m_popover = new KRPopover(view);
        m_popover->setBehavior(KRPopover::Behavior::ApplicationDefined);
        // It only explains: appearing, it must not take the keyboard from the code.
        m_popover->setAttribute(Qt::WA_ShowWithoutActivating);
        m_popover->setWindowFlag(Qt::WindowDoesNotAcceptFocus);
        m_popover->setContentWidget(m_helpContent->takeView());
        m_popover->setContentSize(QSize(width, PopoverHeight));
    }
    const QString html = KRFunctionText::errorHTML(KRObjectInfo::sharedInstance().syntaxErrorTemplate(),
                                                   function->syntaxErrorForLineNumber(line));
    m_helpContent->loadHTML(html, QUrl::fromLocalFile(KRResources::resourcesDirectory() + QLatin1Char('/')));
    m_popover->showRelativeToRect(anchor, canvas, KRPopover::RightEdge);
    view->activateWindow();
    view->setFocus();
    m_lastSyntaxErrorLineNumber = line;
}

void KRFunctionViewController::closePopover()
{
    if (m_popover) {
        m_popover->close();
        delete m_popover.data();
    }
    m_helpContent.reset();
    m_lastSyntaxErrorLineNumber = 0;
}

void KRFunctionViewController::textDidChange(CETextView *)
{
    saveContents();
    // The user is working on the code: an explanation of the old text no longer applies.
    m_errorsOutdated = true;
    closePopover();
    const auto function = m_function.lock();
    if (function && !function->syntaxErrors().isEmpty())
        m_recheckPause.start();
}

// Only the edited function is sent, and without waiting for the answer: typing goes on.
void KRFunctionViewController::recheck()
{
    const auto function = m_function.lock();
    if (!function || !m_codeEditor || function->syntaxErrors().isEmpty())
        return;
    if (m_recheck)
        m_recheck->clearDelegatesAndCancel();
    const QString source = function->functionSource();
    QPointer<KRFunctionViewController> self(this);
    KRSyntaxChecker checker;
    m_recheck = checker.checkFunctionSyntaxAsynchronously(
        KRSyntaxChecker::checkedText(source), [self, source](const std::optional<QVariantList> &errors) {
            if (self)
                self->takeRecheck(source, errors);
        });
}

// The findings replace the function's marks while they still describe its text; a check that
// could not run leaves the marks as they were.
void KRFunctionViewController::takeRecheck(const QString &checkedSource, const std::optional<QVariantList> &errors)
{
    m_recheck.reset();
    const auto function = m_function.lock();
    if (!errors || !function || !m_codeEditor || function->functionSource() != checkedSource)
        return;
    QList<QVariantMap> records;
    for (const QVariant &record : *errors)
        records.append(record.toMap());
    if (records == function->syntaxErrors())
        return;
    const auto page = function->owningPage();
    const auto project = page ? std::dynamic_pointer_cast<KRProject>(page->pageProject()) : nullptr;
    if (project)
        project->observable().willChange(QStringLiteral("syntaxErrors"), QVariant::fromValue(project->syntaxErrors()));
    function->setSyntaxErrors(records);
    if (project)
        project->observable().didChange(QStringLiteral("syntaxErrors"), QVariant::fromValue(project->syntaxErrors()));
    m_codeEditor->recolor();
    if (records.isEmpty())
        closePopover();
}

bool KRFunctionViewController::eventFilter(QObject *watched, QEvent *event)
{
    // Compared as a plain object: the text view also reports while it is being destroyed, when
    // it is no longer a text view.
    if (event->type() == QEvent::Hide && watched == m_watchedTextView)
        closePopover();
    return KRCachingViewController::eventFilter(watched, event);
}

void KRFunctionViewController::textDidEndEditing(CETextView *)
{
    saveContents();
}

QVariantMap KRFunctionViewController::attributesForLineNumber(int line)
{
    const auto function = m_function.lock();
    if (!function)
        return {};
    const QVariantMap record = function->syntaxErrorForLineNumber(line);
    if (record.isEmpty())
        return {};
    return {{CETemporaryAttributes::backgroundColour, KRUIColors::syntaxErrorBackgroundColor()},
            {SyntaxErrorLineNumberAttribute, record.value(QStringLiteral("line"))}};
}

void KRFunctionViewController::didSyntaxCheck()
{
    if (!m_codeEditor)
        return;
    m_codeEditor->recolor();
    m_errorsOutdated = false;
    const auto function = m_function.lock();
    if (!function || function->syntaxErrors().isEmpty()) {
        closePopover();
    } else if (m_textView && m_textView->isVisible()) {
        // The caret may already stand on a line the check found wrong.
        const CERange current = m_textView->selectedRange();
        willChangeSelection(m_textView, current, current);
    }
}

void KRFunctionViewController::showFirstSyntaxError()
{
    const auto function = m_function.lock();
    if (!function || function->syntaxErrors().isEmpty())
        return;
    const QVariantMap first = function->syntaxErrors().first();
    if (first.contains(QStringLiteral("line")) && first.contains(QStringLiteral("character")))
        selectRow(first.value(QStringLiteral("line")).toInt(), first.value(QStringLiteral("character")).toInt());
}

void KRFunctionViewController::selectRow(int row, int column)
{
    if (!m_textView)
        return;
    const qsizetype offset = KRFunctionText::offsetForRowColumn(m_textView->text(), row, column);
    if (offset < 0)
        return;
    m_textView->setSelectedRange({offset, 0});
    m_textView->ensureCursorVisible();
}
