#include "KRResourceViewController.h"

#include <codeeditor/CEEditor.h>
#include <codeeditor/CETextView.h>
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
#include <QStringConverter>
#include <QVBoxLayout>

#include <unicode/ucnv.h>
#include <unicode/ucsdet.h>

KRResourceViewController::KRResourceViewController()
{
    if (!KRInterfaceRegistry::hasInterface(QStringLiteral("KRResourceView")))
        KRInterfaceRegistry::registerInterface(QStringLiteral("KRResourceView"), [](QObject *) -> QWidget * {
            auto *view = new QWidget;
            auto *layout = new QVBoxLayout(view);
            layout->setContentsMargins(0, 0, 0, 0);
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
    m_codeEditor->embedInView(view());
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
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return KRError(QStringLiteral("KRError"), 2,
                       QStringLiteral("The file \u201C%1\u201D couldn\u2019t be opened.").arg(QFileInfo(path).fileName()),
                       {{QStringLiteral("reason"), file.errorString()}});
    const QByteArray bytes = file.readAll();
    // A byte-order mark names the encoding; then valid UTF-8 is taken as UTF-8.
    if (const auto byBom = QStringConverter::encodingForData(bytes)) {
        if (*byBom != QStringConverter::Utf8) {
            QStringDecoder decoder(*byBom);
            return DecodedText{decoder.decode(bytes), QString::fromLatin1(QStringConverter::nameForEncoding(*byBom))};
        }
    }
    if (const auto text = KRProjectResourceCache::decode(bytes, QStringLiteral("UTF-8")))
        return DecodedText{*text, QStringLiteral("UTF-8")};

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

std::optional<QByteArray> KRResourceViewController::encode(const QString &text, const QString &encoding)
{
    const QString name = encoding.isEmpty() ? QStringLiteral("UTF-8") : encoding;
    const auto known = QStringConverter::encodingForName(name.toLatin1().constData());
    if (known && (*known == QStringConverter::Utf8 || *known == QStringConverter::Utf16 || *known == QStringConverter::Utf16LE
                  || *known == QStringConverter::Utf16BE || *known == QStringConverter::Utf32
                  || *known == QStringConverter::Utf32LE || *known == QStringConverter::Utf32BE)) {
        // The Unicode encodings hold every character; only broken surrogates fail.
        QStringEncoder encoder(*known, QStringConverter::Flag::Stateless);
        QByteArray bytes = encoder.encode(text);
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
    const auto *source = reinterpret_cast<const UChar *>(text.utf16());
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
    m_loading = false;
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
    const std::optional<QByteArray> bytes = encode(m_codeEditor->string(), m_encoding);
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
