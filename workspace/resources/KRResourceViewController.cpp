#include "KRResourceViewController.h"

#include <codeeditor/CEEditor.h>
#include <codeeditor/CESyntaxController.h>
#include <codeeditor/CETextPerformer.h>
#include <codeeditor/CETextView.h>
#include <core/KRFileManagerAdditions.h>
#include <ui/KRUIColors.h>
#include <model/KRDocument.h>
#include <model/KREditableResourceTypes.h>
#include <model/KRProject.h>
#include <model/KRProjectResource.h>
#include <model/KRProjectResourceCache.h>
#include <model/KRSpecialUndoManager.h>
#include <model/KRWebFolder.h>
#include <platform/appkit/KRInterfaceRegistry.h>
#include <platform/foundation/KRAlertService.h>
#include <platform/foundation/KRNotificationCenter.h>
#include <platform/foundation/KRUndoManager.h>

#include <QFile>
#include <QHBoxLayout>
#include <QMenu>
#include <QPainter>
#include <QStringConverter>
#include <QPushButton>
#include <QVBoxLayout>

#include <unicode/ucnv.h>
#include <unicode/ucsdet.h>

namespace {

// The bar under the text: the light gradient of the pane headers, a line along its top.
class KRResourceBarView : public QWidget
{
public:
    using QWidget::QWidget;

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter painter(this);
        const QRectF bounds = rect();
        painter.fillRect(bounds, KRUIColors::lightGrayGradient().linearGradient(bounds, 90.0));
        painter.setPen(KRUIColors::grayLineColor());
        painter.drawLine(0, 0, width(), 0);
    }
};

QPushButton *krResourceBarButton(QWidget *bar, const QString &name, const QString &tip)
{
    auto *button = new QPushButton(bar);
    button->setObjectName(name);
    button->setToolTip(tip);
    button->setFlat(true);
    button->setFocusPolicy(Qt::NoFocus);
    button->setMenu(new QMenu(button));
    bar->layout()->addWidget(button);
    return button;
}

// UTF-16 and UTF-32 text is written after a byte-order mark (without one the bytes would be
// read back as some other encoding); UTF-8 only when the file had one.
bool krResourceWritesByteOrderMark(const QString &encoding, bool fileHadOne)
{
    if (encoding.startsWith(QLatin1String("UTF-16"), Qt::CaseInsensitive)
        || encoding.startsWith(QLatin1String("UTF-32"), Qt::CaseInsensitive))
        return true;
    return fileHadOne && encoding.compare(QLatin1String("UTF-8"), Qt::CaseInsensitive) == 0;
}

// A Unicode encoding Qt writes itself.
std::optional<QStringConverter::Encoding> krResourceUnicodeEncoding(const QString &encoding)
{
    const auto known = QStringConverter::encodingForName(encoding.toLatin1().constData());
    if (known && (*known == QStringConverter::Utf8 || *known == QStringConverter::Utf16 || *known == QStringConverter::Utf16LE
                  || *known == QStringConverter::Utf16BE || *known == QStringConverter::Utf32
                  || *known == QStringConverter::Utf32LE || *known == QStringConverter::Utf32BE))
        return known;
    return std::nullopt;
}

} // namespace

KRResourceViewController::KRResourceViewController()
{
    if (!KRInterfaceRegistry::hasInterface(QStringLiteral("KRResourceView")))
        KRInterfaceRegistry::registerInterface(QStringLiteral("KRResourceView"), [](QObject *owner) -> QWidget * {
            auto *controller = dynamic_cast<KRResourceViewController *>(owner);
            auto *view = new QWidget;
            auto *layout = new QVBoxLayout(view);
            layout->setContentsMargins(0, 0, 0, 0);
            layout->setSpacing(0);
            auto *editorView = new QWidget(view);
            editorView->setObjectName(QStringLiteral("editorView"));
            layout->addWidget(editorView, 1);
            auto *bar = new KRResourceBarView(view);
            bar->setObjectName(QStringLiteral("resourceBar"));
            auto *barLayout = new QHBoxLayout(bar);
            barLayout->setContentsMargins(6, 1, 6, 1);
            barLayout->setSpacing(2);
            barLayout->addStretch(1);
            layout->addWidget(bar);
            if (controller) {
                controller->m_editorView = editorView;
                controller->m_syntaxButton = krResourceBarButton(bar, QStringLiteral("syntaxButton"), tr("Syntax colouring"));
                controller->m_encodingButton =
                    krResourceBarButton(bar, QStringLiteral("encodingButton"), tr("The encoding the file is written in"));
                controller->m_lineEndingsButton =
                    krResourceBarButton(bar, QStringLiteral("lineEndingsButton"), tr("The file's line endings"));
            }
            view->resize(600, 480);
            return view;
        });
}

KRResourceViewController::~KRResourceViewController()
{
    m_observations.clear();
    if (m_codeEditor)
        m_codeEditor->setDelegate(nullptr);
}

void KRResourceViewController::awakeFromNib()
{
    m_isDirty = false;
    m_codeEditor = std::make_unique<CEEditor>();
    m_codeEditor->setObject(true, CEKeys::isSyntaxColoured);
    m_codeEditor->setObject(true, CEKeys::showLineNumberGutter);
    m_codeEditor->setObject(true, CEKeys::lineWrapNewDocuments);
    m_codeEditor->setDelegate(this);
    m_codeEditor->setUndoManagerProvider([this]() -> KRSpecialUndoManager * {
        const std::shared_ptr<KRProject> project = krProject();
        const std::shared_ptr<KRDocument> document = project ? project->krDocument() : nullptr;
        return document ? &document->specialUndoManager() : nullptr;
    });
    m_codeEditor->embedInView(m_editorView ? m_editorView : view());

    // The bar's menus are filled as they open, so that they show the settings of the moment.
    CEEditor *editor = m_codeEditor.get();
    if (m_syntaxButton) {
        QMenu *syntaxMenu = m_syntaxButton->menu();
        connect(syntaxMenu, &QMenu::aboutToShow, editor, [editor, syntaxMenu] { editor->fillSyntaxDefinitionMenu(syntaxMenu); });
        QMenu *encodingMenu = m_encodingButton->menu();
        auto *reloadMenu = new QMenu(tr("Reload with Encoding"), encodingMenu);
        connect(encodingMenu, &QMenu::aboutToShow, editor, [editor, encodingMenu, reloadMenu] {
            editor->fillEncodingMenu(encodingMenu);
            encodingMenu->addSeparator();
            encodingMenu->addMenu(reloadMenu);
        });
        connect(reloadMenu, &QMenu::aboutToShow, editor, [editor, reloadMenu] { editor->fillReloadEncodingMenu(reloadMenu); });
        QMenu *lineEndingsMenu = m_lineEndingsButton->menu();
        connect(lineEndingsMenu, &QMenu::aboutToShow, editor, [editor, lineEndingsMenu] { editor->fillLineEndingsMenu(lineEndingsMenu); });
    }
    connect(editor, &CEEditor::textEncodingChanged, this, &KRResourceViewController::encodingChanged);
    connect(editor, &CEEditor::lineEndingsChanged, this, &KRResourceViewController::lineEndingsChanged);
    connect(editor, &CEEditor::settingChanged, this, &KRResourceViewController::updateBar);
    connect(editor, &CEEditor::reloadTextRequested, this, [this](const QString &encoding) { reloadText(encoding); });
    updateBar();
}

CETextView *KRResourceViewController::textView() const
{
    return m_codeEditor ? m_codeEditor->textView() : nullptr;
}

std::shared_ptr<KRProject> KRResourceViewController::krProject()
{
    return std::dynamic_pointer_cast<KRProject>(project());
}

KRResult<KRResourceViewController::DecodedText> KRResourceViewController::readText(const QString &path)
{
    const KRResult<QByteArray> read = KRFileManager::readPackageFile(path);
    if (!read)
        return KRError(QStringLiteral("KRError"), 2,
                       QStringLiteral("The file \u201C%1\u201D couldn\u2019t be opened.").arg(QFileInfo(path).fileName()),
                       {{QStringLiteral("reason"), read.error().message()}});
    const QByteArray &bytes = read.value();
    // A byte-order mark names the encoding; then valid UTF-8 is taken as UTF-8.
    if (const auto byBom = QStringConverter::encodingForData(bytes)) {
        if (*byBom != QStringConverter::Utf8) {
            QStringDecoder decoder(*byBom);
            return DecodedText{decoder.decode(bytes), QString::fromLatin1(QStringConverter::nameForEncoding(*byBom)), true};
        }
    }
    if (const auto text = KRProjectResourceCache::decode(bytes, QStringLiteral("UTF-8")))
        return DecodedText{*text, QStringLiteral("UTF-8"), bytes.startsWith("\xEF\xBB\xBF")};

    UErrorCode status = U_ZERO_ERROR;
    std::unique_ptr<UCharsetDetector, decltype(&ucsdet_close)> detector(ucsdet_open(&status), &ucsdet_close);
    if (U_SUCCESS(status)) {
        ucsdet_setText(detector.get(), bytes.constData(), int32_t(bytes.size()), &status);
        const UCharsetMatch *match = ucsdet_detect(detector.get(), &status);
        const char *name = U_SUCCESS(status) && match ? ucsdet_getName(match, &status) : nullptr;
        if (U_SUCCESS(status) && name) {
            const QString encoding = QString::fromLatin1(name);
            if (const auto text = KRProjectResourceCache::decode(bytes, encoding))
                return DecodedText{*text, encoding};
        }
    }
    // Every byte sequence is valid Latin-1.
    return DecodedText{QString::fromLatin1(bytes), QStringLiteral("ISO-8859-1")};
}

bool KRResourceViewController::startsWithByteOrderMark(const QByteArray &bytes, const QString &encoding)
{
    const auto unicode = krResourceUnicodeEncoding(encoding);
    if (!unicode)
        return false;
    QStringEncoder encoder(*unicode, QStringConverter::Flag::Stateless);
    const QByteArray mark = encoder.encode(QString(QChar(QChar::ByteOrderMark)));
    return !mark.isEmpty() && bytes.startsWith(mark);
}

std::optional<QByteArray> KRResourceViewController::encode(const QString &text, const QString &encoding, bool byteOrderMark)
{
    const QString name = encoding.isEmpty() ? QStringLiteral("UTF-8") : encoding;
    if (const auto known = krResourceUnicodeEncoding(name)) {
        // The Unicode encodings hold every character; only broken surrogates fail.
        QStringEncoder encoder(*known, QStringConverter::Flag::Stateless);
        QByteArray bytes = encoder.encode(byteOrderMark ? QChar(QChar::ByteOrderMark) + text : text);
        if (encoder.hasError())
            return std::nullopt;
        return bytes;
    }
    UErrorCode status = U_ZERO_ERROR;
    std::unique_ptr<UConverter, decltype(&ucnv_close)> converter(ucnv_open(name.toLatin1().constData(), &status), &ucnv_close);
    if (U_FAILURE(status) || !converter)
        return std::nullopt;
    ucnv_setFromUCallBack(converter.get(), UCNV_FROM_U_CALLBACK_STOP, nullptr, nullptr, nullptr, &status);
    if (U_FAILURE(status))
        return std::nullopt;
    const auto *source = reinterpret_cast<const UChar *>(text.constData());
    QByteArray bytes(int(text.size()) * ucnv_getMaxCharSize(converter.get()) + 1, Qt::Uninitialized);
    const int32_t length = ucnv_fromUChars(converter.get(), bytes.data(), int32_t(bytes.size()), source,
                                           int32_t(text.size()), &status);
    if (U_FAILURE(status))
        return std::nullopt;
    bytes.resize(length);
    return bytes;
}

void KRResourceViewController::setResource(const std::shared_ptr<KRProjectResource> &resource)
{
    m_resource = resource;
    const std::shared_ptr<KRProject> project = krProject();
    const std::shared_ptr<KRWebFolder> folder = project ? project->webFolder() : nullptr;

    QString text;
    std::optional<QByteArray> cached = folder ? folder->modifiedResourceCache().contents(resource->relativePath())
                                              : std::nullopt;
    std::optional<QString> decoded;
    if (cached) {
        m_encoding = folder->modifiedResourceCache().encoding(resource->relativePath());
        if (m_encoding.isEmpty())
            m_encoding = QStringLiteral("UTF-8");
        decoded = KRProjectResourceCache::decode(*cached, m_encoding);
    }
    if (decoded) {
        // Earlier unsaved edits come back.
        text = *decoded;
        m_byteOrderMark = startsWithByteOrderMark(*cached, m_encoding);
    } else {
        KRResult<DecodedText> read = readText(resource->fullPath());
        if (!read) {
            KRAlert alert;
            alert.style = KRAlert::Style::Critical;
            alert.messageText = read.error().message();
            alert.informativeText = read.error().userInfo().value(QStringLiteral("reason")).toString();
            KRAlertService::current().runModal(alert);
            return;
        }
        text = read.value().text;
        m_encoding = read.value().encoding;
        m_byteOrderMark = read.value().byteOrderMark;
    }

    const KREditableResourceType *type = resource->resourceTypeInfo();
    const QString syntax = type ? type->syntaxName() : QStringLiteral("none");

    m_observations.clear();
    if (project) {
        if (const std::shared_ptr<KRDocument> document = project->krDocument())
            m_observations.push_back(KRNotificationCenter::defaultCenter().addObserver(
                KRWillSaveDocumentNotification, document->identity(), [this](const KRNotification &) { willSaveDocument(); }));
    }
    m_loading = true;
    m_codeEditor->setObject(syntax, CEKeys::syntaxDefinition);
    m_codeEditor->setString(text);
    m_codeEditor->setEncoding(m_encoding);
    m_loading = false;
    updateBar();
}

void KRResourceViewController::textDidChange()
{
    if (!m_loading)
        m_isDirty = true;
}

void KRResourceViewController::textDidEndEditing()
{
    saveContents();
}

void KRResourceViewController::willSaveDocument()
{
    textDidEndEditing();
    // Text the encoding cannot hold did not reach the cache: the tab stays edited so that
    // closing it still asks.
    if (m_isDirty && !m_toldUnencodable)
        m_isDirty = false;
}

bool KRResourceViewController::saveContents()
{
    const std::shared_ptr<KRProject> project = krProject();
    if (!m_resource || !project || !project->webFolder() || !m_isDirty)
        return !m_toldUnencodable;
    // The file's own line endings and byte-order mark go back with the text.
    const std::optional<QByteArray> bytes = encode(m_codeEditor->stringWithLineEndings(), m_encoding,
                                                   krResourceWritesByteOrderMark(m_encoding, m_byteOrderMark));
    if (!bytes) {
        if (!m_toldUnencodable) {
            m_toldUnencodable = true;
            KRAlert alert;
            alert.style = KRAlert::Style::Warning;
            alert.messageText = QStringLiteral("The text of \u201C%1\u201D can\u2019t be stored in its encoding (%2).")
                                    .arg(m_resource->name(), m_encoding);
            alert.informativeText = QStringLiteral("Some characters you typed don\u2019t exist in %1. Your changes stay in "
                                                   "the editor, but the file keeps its last text that the encoding can "
                                                   "hold until those characters are removed.")
                                        .arg(m_encoding);
            KRAlertService::current().runModal(alert);
        }
        return false;
    }
    m_toldUnencodable = false;
    project->webFolder()->modifiedResourceCache().setContents(m_resource->relativePath(), *bytes, m_encoding);
    if (m_resource->isSelectedTheme())
        project->themeDidChange();
    return true;
}

void KRResourceViewController::discardChanges()
{
    const std::shared_ptr<KRProject> project = krProject();
    if (m_resource && project && project->webFolder())
        project->webFolder()->modifiedResourceCache().remove(m_resource->relativePath());
    m_isDirty = false;
    m_toldUnencodable = false;
}

void KRResourceViewController::didClose()
{
    // Only this editor's typing leaves the document's history; other editors keep theirs.
    const std::shared_ptr<KRProject> project = krProject();
    const std::shared_ptr<KRDocument> document = project ? project->krDocument() : nullptr;
    if (document && m_codeEditor) {
        document->undoManager().removeAllActionsWithTarget(m_codeEditor.get());
        if (CETextView *text = m_codeEditor->textView())
            document->undoManager().removeAllActionsWithTarget(text);
    }
}

void KRResourceViewController::encodingChanged()
{
    const QString chosen = m_codeEditor ? m_codeEditor->settings().value(CEKeys::encodingName).toString() : QString();
    if (!chosen.isEmpty() && chosen != m_encoding) {
        m_encoding = chosen;
        m_toldUnencodable = false; // a text the new encoding cannot hold is told again
        m_isDirty = true;
        saveContents();
    }
    updateBar();
}

void KRResourceViewController::lineEndingsChanged()
{
    m_isDirty = true;
    saveContents();
    updateBar();
}

bool KRResourceViewController::reloadText(const QString &encoding)
{
    const std::shared_ptr<KRProject> project = krProject();
    if (!m_resource || !m_codeEditor || encoding.isEmpty())
        return false;
    const bool cachedEdits = project && project->webFolder()
                             && project->webFolder()->modifiedResourceCache().contains(m_resource->relativePath());
    if (m_isDirty || cachedEdits) {
        KRAlert alert;
        alert.style = KRAlert::Style::Warning;
        alert.messageText = QStringLiteral("Do you want to read \u201C%1\u201D again as %2?").arg(m_resource->name(), encoding);
        alert.informativeText = QStringLiteral("Your changes to this resource will be lost.");
        alert.buttonTitles = {QStringLiteral("Reload"), QStringLiteral("Cancel")};
        if (KRAlertService::current().runModal(alert) != KRAlertService::FirstButtonReturn)
            return false;
    }
    const KRResult<QByteArray> read = KRFileManager::readPackageFile(m_resource->fullPath());
    if (!read) {
        KRAlert alert;
        alert.style = KRAlert::Style::Critical;
        alert.messageText = QStringLiteral("The file \u201C%1\u201D couldn\u2019t be opened.").arg(m_resource->name());
        alert.informativeText = read.error().message();
        KRAlertService::current().runModal(alert);
        return false;
    }
    const QByteArray &bytes = read.value();
    const std::optional<QString> text = KRProjectResourceCache::decode(bytes, encoding);
    if (!text) {
        KRAlert alert;
        alert.style = KRAlert::Style::Warning;
        alert.messageText = QStringLiteral("The file \u201C%1\u201D can\u2019t be read as %2.").arg(m_resource->name(), encoding);
        alert.informativeText = QStringLiteral("Its bytes are not text in that encoding. The editor keeps the text it shows.");
        KRAlertService::current().runModal(alert);
        return false;
    }
    discardChanges();
    // The editor's earlier steps belong to the text it showed before.
    if (const std::shared_ptr<KRDocument> document = project ? project->krDocument() : nullptr)
        document->undoManager().removeAllActionsWithTarget(m_codeEditor.get());
    m_encoding = encoding;
    m_byteOrderMark = startsWithByteOrderMark(bytes, encoding);
    m_loading = true;
    m_codeEditor->setString(*text);
    m_codeEditor->setEncoding(encoding);
    m_loading = false;
    updateBar();
    return true;
}

void KRResourceViewController::updateBar()
{
    if (!m_syntaxButton || !m_codeEditor)
        return;
    QString syntax = m_codeEditor->settings().value(CEKeys::syntaxDefinition).toString();
    for (const QString &name : m_codeEditor->syntaxController().syntaxDefinitionNames()) {
        if (name.compare(syntax, Qt::CaseInsensitive) == 0) {
            syntax = name;
            break;
        }
    }
    m_syntaxButton->setText(syntax);
    m_encodingButton->setText(m_encoding);
    QString style;
    switch (m_codeEditor->settings().value(CEKeys::lineEndings, int(CETextPerformer::LineFeed)).toInt()) {
    case CETextPerformer::CarriageReturn:
        style = QStringLiteral("CR");
        break;
    case CETextPerformer::CarriageReturnLineFeed:
        style = QStringLiteral("CRLF");
        break;
    default:
        style = QStringLiteral("LF");
        break;
    }
    // A file whose lines end in different ways keeps them; the user may choose one style.
    if (m_codeEditor->hasMixedLineEndings()) {
        m_lineEndingsButton->setText(QStringLiteral("Mixed line endings"));
        m_lineEndingsButton->setToolTip(
            tr("The file's lines end in different ways: each keeps its own ending and new lines end in %1").arg(style));
    } else {
        m_lineEndingsButton->setText(style);
        m_lineEndingsButton->setToolTip(tr("The file's line endings"));
    }
    // A screen reader says what each button sets, not only its value.
    m_syntaxButton->setAccessibleName(tr("Syntax Colouring: %1").arg(syntax));
    m_encodingButton->setAccessibleName(tr("Encoding: %1").arg(m_encoding));
    m_lineEndingsButton->setAccessibleName(tr("Line Endings: %1").arg(m_lineEndingsButton->text()));
}
