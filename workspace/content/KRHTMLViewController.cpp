#include "KRHTMLViewController.h"

#include <codeeditor/CEEditor.h>
#include <codeeditor/CETextView.h>
#include <ui/KRUIColors.h>
#include <model/KRDocument.h>
#include <model/KRObject.h>
#include <model/KRProjectBase.h>
#include <model/KRSpecialUndoManager.h>
#include <platform/appkit/KRInterfaceRegistry.h>
#include <platform/foundation/KRAlertService.h>
#include <platform/foundation/KRNotificationCenter.h>
#include <platform/foundation/KRUndoManager.h>
#include <platform/foundation/KRUserDefaults.h>

#include <QComboBox>
#include <QHBoxLayout>
#include <QPainter>
#include <QVBoxLayout>

namespace {

const QString krHTMLViewMarkdownPrefix = QStringLiteral("markdown:");
const QString krHTMLViewHTMLPrefix = QStringLiteral("html:");

// The header (pop-up on the left) over the editor's container.
QWidget *krHTMLViewBuild(QObject *owner)
{
    Q_UNUSED(owner);
    auto *root = new QWidget;
    auto *layout = new QVBoxLayout(root);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);

    auto *header = new KRHTMLViewHeaderView(root);
    header->setObjectName(QStringLiteral("headerView"));
    header->setFixedHeight(28);
    auto *headerLayout = new QHBoxLayout(header);
    headerLayout->setContentsMargins(8, 2, 8, 3);
    auto *popUp = new QComboBox(header);
    popUp->setObjectName(QStringLiteral("modePopUp"));
    QFont font = popUp->font();
    font.setPixelSize(12);
    popUp->setFont(font);
    popUp->setMinimumWidth(110);
    headerLayout->addWidget(popUp);
    headerLayout->addStretch(1);
    layout->addWidget(header);

    auto *editorView = new QWidget(root);
    editorView->setObjectName(QStringLiteral("editorView"));
    layout->addWidget(editorView, 1);
    root->resize(600, 400);
    return root;
}

} // namespace

void KRHTMLViewHeaderView::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    const QRectF bounds = rect();
    painter.fillRect(bounds, KRUIColors::lightGrayGradient().linearGradient(bounds, 90.0));
    painter.setPen(KRUIColors::grayLineColor());
    const int bottom = height() - 1;
    painter.drawLine(0, bottom, width(), bottom);
}

KRHTMLViewController::KRHTMLViewController()
{
    if (!KRInterfaceRegistry::hasInterface(QStringLiteral("KRHTMLView")))
        KRInterfaceRegistry::registerInterface(QStringLiteral("KRHTMLView"), krHTMLViewBuild);
}

KRHTMLViewController::~KRHTMLViewController()
{
    stopObserving();
    if (m_codeEditor)
        m_codeEditor->setDelegate(nullptr);
}

void KRHTMLViewController::awakeFromNib()
{
    m_modePopUp = view()->findChild<QComboBox *>(QStringLiteral("modePopUp"));
    m_editorView = view()->findChild<QWidget *>(QStringLiteral("editorView"));

    m_codeEditor = std::make_unique<CEEditor>();
    m_codeEditor->setObject(true, CEKeys::isSyntaxColoured);
    m_codeEditor->setObject(true, CEKeys::showLineNumberGutter);
    m_codeEditor->setDelegate(this);
    // Typing is recorded with the document's other edits once an object is bound.
    m_codeEditor->setUndoManagerProvider([this]() -> KRSpecialUndoManager * {
        const auto doc = document();
        return doc ? &doc->specialUndoManager() : nullptr;
    });
    m_codeEditor->embedInView(m_editorView);
    m_codeEditor->setObject(QStringLiteral("HTML"), CEKeys::syntaxDefinition);

    m_modePopUp->clear();
    m_modePopUp->addItems({MarkdownMode, HTMLMode});
    connect(m_modePopUp, &QComboBox::activated, this, [this] { modePopUpAction(); });
}

std::shared_ptr<KRDocument> KRHTMLViewController::document() const
{
    return m_document.lock();
}

QWidget *KRHTMLViewController::textView() const
{
    return m_codeEditor ? m_codeEditor->textView() : nullptr;
}

QString KRHTMLViewController::editMode() const
{
    return m_modePopUp ? m_modePopUp->currentText() : QString();
}

void KRHTMLViewController::setObject(const std::shared_ptr<KRObject> &object, const QString &propertyKey)
{
    m_object = object;
    m_propertyKey = propertyKey;
    m_document.reset();
    m_willSaveObservation.reset();
    if (object) {
        if (const auto project = object->project())
            m_document = project->krDocument();
    }
    if (const auto doc = document())
        m_willSaveObservation = KRNotificationCenter::defaultCenter().addObserver(
            KRWillSaveDocumentNotification, doc->identity(), [this](const KRNotification &) { saveContents(); });

    QString text = object ? object->value(propertyKey) : QString();
    if (text.isEmpty()) {
        const QString preferred = KRUserDefaults::sharedInstance().stringValue(QStringLiteral("defaultDIVEditMode"));
        setEditMode(preferred == HTMLMode ? HTMLMode : MarkdownMode);
    } else if (text.startsWith(krHTMLViewMarkdownPrefix)) {
        setEditMode(MarkdownMode);
        text.remove(0, krHTMLViewMarkdownPrefix.size());
    } else if (text.startsWith(krHTMLViewHTMLPrefix)) {
        setEditMode(HTMLMode);
        text.remove(0, krHTMLViewHTMLPrefix.size());
    } else {
        // Content from before the modes is rendered as HTML; editing it must not change that.
        setEditMode(HTMLMode);
    }
    if (m_codeEditor)
        m_codeEditor->setString(text);
}

void KRHTMLViewController::saveContents()
{
    const auto target = object();
    if (!target || !m_codeEditor || m_saving)
        return;
    // Undo and redo put the stored value back through the model's own records; writing the
    // restored text here would store it under the mode of the moment, not of that step.
    if (const auto doc = document(); doc && (doc->undoManager().isUndoing() || doc->undoManager().isRedoing()))
        return;
    const QString text = m_codeEditor->string();
    QString value;
    if (!text.isEmpty())
        value = (editMode() == MarkdownMode ? krHTMLViewMarkdownPrefix : krHTMLViewHTMLPrefix) + text;
    // Writing what is stored already (leaving the editor after each change) records nothing: a
    // nameless step of no change would stand before the user's last edit in the Edit menu.
    if (target->value(m_propertyKey) == value)
        return;
    m_saving = true;
    // The model edit joins the editor's undo step (a run of typing is one step).
    target->setValue(m_propertyKey, value);
    m_saving = false;
}

void KRHTMLViewController::modePopUpAction()
{
    const QString mode = editMode();
    // Choosing the mode already in effect changes nothing (and asks nothing).
    if (mode == m_editMode)
        return;
    const QString oldMode = m_editMode;
    if (!m_codeEditor || m_codeEditor->string().isEmpty()) {
        // Nothing to discard, so no question; the switch is still a step of its own, which the
        // Edit menu offers before the typing that emptied the text, so that undoing brings that
        // text back in its own mode.
        if (document())
            changeMode(mode);
        else
            m_editMode = mode;
        return;
    }
    m_modePopUp->setCurrentText(oldMode);
    KRAlert alert;
    alert.style = KRAlert::Style::Warning;
    alert.messageText = QStringLiteral("Delete this object's content and change editing mode?");
    alert.informativeText =
        QStringLiteral("The existing content of this object will be discarded when changing to %1 editing mode.").arg(mode);
    alert.buttonTitles = {QStringLiteral("Delete Content"), QStringLiteral("Cancel")};
    alert.destructive = true;
    if (KRAlertService::current().runModal(alert) == KRAlertService::FirstButtonReturn)
        changeMode(mode);
}

void KRHTMLViewController::changeMode(const QString &mode)
{
    const auto doc = document();
    if (!doc || !m_codeEditor)
        return;
    CETextView *view = m_codeEditor->textView();
    // A run of typing still open is its own step; it ends before this group begins, as ending
    // it inside would close this group's level instead.
    if (view)
        view->breakUndoCoalescing();
    KRUndoManager &undo = doc->undoManager();
    undo.beginUndoGrouping();
    undo.setActionName(QStringLiteral("Edit Mode Change"));
    const QString previous = m_editMode;
    QPointer<KRHTMLViewController> self(this);
    undo.registerUndo(this, [self, previous] {
        if (self)
            self->setEditMode(previous);
    });
    setEditMode(mode);
    // The text view records the emptied text and reports it, which stores the empty value
    // within this group.
    if (view && !view->text().isEmpty()) {
        view->guardedReplace({0, view->text().size()}, QString());
        view->setPendingActionName(QStringLiteral("Typing"));
    }
    // The text view names what it records; the step is the mode change.
    undo.setActionName(QStringLiteral("Edit Mode Change"));
    undo.endUndoGrouping();
}

void KRHTMLViewController::setEditMode(const QString &mode)
{
    if (const auto doc = document()) {
        KRUndoManager &undo = doc->undoManager();
        if (undo.isUndoing() || undo.isRedoing()) {
            QPointer<KRHTMLViewController> self(this);
            undo.registerUndo(this, [self, current = m_editMode] {
                if (self)
                    self->setEditMode(current);
            });
        }
    }
    m_editMode = mode;
    if (m_modePopUp)
        m_modePopUp->setCurrentText(mode);
}

void KRHTMLViewController::textDidChange(CETextView *)
{
    saveContents();
}

void KRHTMLViewController::textDidEndEditing(CETextView *)
{
    saveContents();
}

void KRHTMLViewController::stopObserving()
{
    m_willSaveObservation.reset();
}

void KRHTMLViewController::close()
{
    saveContents();
    stopObserving();
    if (m_codeEditor) {
        m_codeEditor->setDelegate(nullptr);
        m_codeEditor.reset();
    }
    m_delegate = nullptr;
}
