#include "KRHTMLWindowController.h"

#include "KRActionSchemeHandler.h"
#include "KRLinkPolicy.h"
#include "KRPolicyWebPage.h"

#include <core/KRString.h>
#include <platform/appkit/KROpenURL.h>

#include <QEvent>
#include <QFile>
#include <QGuiApplication>
#include <QScreen>
#include <QStringDecoder>
#include <QVBoxLayout>
#include <QWebEngineProfile>
#include <QWebEngineView>
#include <QWidget>

namespace {

constexpr QSize kWindowSize(640, 520);

// BOM first, then a charset the page declares, then UTF-8; bytes that are not valid UTF-8
// are read as Latin-1 rather than shown as replacement marks.
QString decodePageText(const QByteArray &bytes)
{
    std::optional<QStringConverter::Encoding> encoding = QStringConverter::encodingForData(bytes);
    if (!encoding)
        encoding = QStringConverter::encodingForHtml(bytes);
    if (encoding && *encoding != QStringConverter::Utf8) {
        QStringDecoder decoder(*encoding);
        return decoder.decode(bytes);
    }
    QStringDecoder utf8(QStringConverter::Utf8, QStringConverter::Flag::Stateless);
    const QString text = utf8.decode(bytes);
    if (!utf8.hasError())
        return text;
    return QString::fromLatin1(bytes);
}

} // namespace

KRHTMLWindowController::KRHTMLWindowController(QObject *parent)
    : QObject(parent)
{
    m_window = new QWidget(nullptr, Qt::Window);
    m_window->setObjectName(QStringLiteral("KRHTMLWindow"));
    m_window->resize(kWindowSize);
    m_webView = new QWebEngineView(m_window);
    auto *layout = new QVBoxLayout(m_window);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_webView);

    QPointer<KRHTMLWindowController> self(this);
    auto *page = new KRPolicyWebPage([self](const QUrl &url, QWebEnginePage::NavigationType, bool) {
        return self && self->acceptNavigation(url);
    }, m_webView);
    KRActionSchemeHandler::installIn(page->profile());
    m_webView->setPage(page);
    m_window->installEventFilter(this);

    if (QScreen *screen = QGuiApplication::primaryScreen()) {
        QRect frame(QPoint(), kWindowSize);
        frame.moveCenter(screen->availableGeometry().center());
        m_window->move(frame.topLeft());
    }
}

KRHTMLWindowController::~KRHTMLWindowController()
{
    delete m_window.data();
}

void KRHTMLWindowController::showWindow()
{
    m_window->show();
    m_window->raise();
    m_window->activateWindow();
}

QString KRHTMLWindowController::readTemplate(const QString &path, const QVariantMap &dictionary, bool *ok)
{
    QFile file(path);
    const bool opened = file.open(QIODevice::ReadOnly);
    if (ok)
        *ok = opened;
    if (!opened)
        return {};
    return KRString::stringBySubstitutingTemplateValues(decodePageText(file.readAll()), dictionary, false);
}

void KRHTMLWindowController::setURL(const QUrl &url)
{
    m_url = url;
    if (m_templateDictionary && url.isLocalFile()) {
        bool ok = false;
        const QString html = readTemplate(url.toLocalFile(), *m_templateDictionary, &ok);
        if (ok) {
            m_webView->setHtml(html, url);
            return;
        }
    }
    // Also an unreadable template: the view then tells what is missing.
    m_webView->load(url);
}

void KRHTMLWindowController::setDelegate(KRHTMLWindowControllerDelegate *delegate)
{
    m_delegate = delegate;
    m_delegateAlive = delegate ? std::weak_ptr<int>(delegate->m_alive) : std::weak_ptr<int>();
}

KRHTMLWindowControllerDelegate *KRHTMLWindowController::delegate() const
{
    return m_delegateAlive.expired() ? nullptr : m_delegate;
}

bool KRHTMLWindowController::acceptNavigation(const QUrl &url)
{
    KRHTMLWindowControllerDelegate *target = delegate();
    switch (KRLinkPolicy::forHTMLWindow(url, target != nullptr)) {
    case KRLinkPolicy::Decision::Proceed:
        return true;
    case KRLinkPolicy::Decision::SendToDelegate:
        target->htmlWindowControllerSelectAction(this, url.host());
        return false;
    case KRLinkPolicy::Decision::OpenOutside:
        KROpenURLService::current().openURL(url);
        return false;
    case KRLinkPolicy::Decision::Ignore:
        return false;
    }
    return false;
}

bool KRHTMLWindowController::eventFilter(QObject *watched, QEvent *event)
{
    // Closing ends any editing in the page: the window takes the focus from the web view.
    if (watched == m_window && event->type() == QEvent::Close)
        m_window->setFocus();
    return false;
}
