#include "KRNewsViewController.h"

#include "KRNetworkInterfaces.h"
#include "URLParser.h"

#include <builder/KRRuntimeServer.h>
#include <core/KRRunLogger.h>
#include <core/KRString.h>
#include <platform/appkit/KROpenURL.h>
#include <platform/appkit/KRPopover.h>
#include <widgets/help/KRLinkPolicy.h>

#include <QFile>
#include <QLocale>
#include <QRegularExpression>
#include <QWebEnginePage>

static void initNetworkUIResources()
{
    Q_INIT_RESOURCE(networkui);
}

namespace {

KRNewsController *newsViewControllerNextNews = nullptr;

QString newsViewControllerTemplate(const QString &name)
{
    initNetworkUIResources();
    QFile file(QStringLiteral(":/network-ui/") + name);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(file.readAll());
}

// "Tue Dec 01 10:30:00 +0000 2026" printed as "December 01, 2026" in the user's language;
// text of another form is shown as it is.
QString newsViewControllerPostDate(const QString &published)
{
    static const QRegularExpression pattern(
        QStringLiteral("^\\s*[A-Za-z]{3} ([A-Za-z]{3} \\d{2} \\d{2}:\\d{2}:\\d{2}) ([+-])(\\d{2})(\\d{2}) (\\d{4})\\s*$"));
    const QRegularExpressionMatch match = pattern.match(published);
    if (!match.hasMatch())
        return published;
    const QLocale english(QLocale::English, QLocale::UnitedStates);
    const QDateTime local = english.toDateTime(match.captured(1) + QLatin1Char(' ') + match.captured(5),
                                               QStringLiteral("MMM dd HH:mm:ss yyyy"));
    if (!local.isValid())
        return published;
    return QLocale().toString(local.date(), QStringLiteral("MMMM dd, yyyy"));
}

} // namespace

KRNewsViewController::KRNewsViewController()
    : m_news(newsViewControllerNextNews ? newsViewControllerNextNews : &KRNewsController::shared())
{
    KRNetworkInterfaces::registerInterfaces();
}

KRNewsViewController::~KRNewsViewController() = default;

void KRNewsViewController::setNewsControllerForNewViews(KRNewsController *news)
{
    newsViewControllerNextNews = news;
}

QVariantMap KRNewsViewController::templateValues(const KRNewsItem &item, qsizetype index)
{
    return {
        {QStringLiteral("link"), QString::fromLatin1(QUrl::toPercentEncoding(item.link))},
        {QStringLiteral("title"), item.title.toHtmlEscaped()},
        {QStringLiteral("postDate"), newsViewControllerPostDate(item.published).toHtmlEscaped()},
        {QStringLiteral("description"), item.description},
        {QStringLiteral("newsItemID"), QString::number(index)},
        {QStringLiteral("badgeDisplay"), item.unread ? QStringLiteral("inherit") : QStringLiteral("none")},
    };
}

QString KRNewsViewController::pageHTML(const QList<KRNewsItem> &items, qint64 runtimePort)
{
    const QString itemTemplate = newsViewControllerTemplate(QStringLiteral("news-item.html"));
    QString content;
    for (qsizetype index = 0; index < items.size(); ++index)
        content += KRString::stringBySubstitutingTemplateValues(itemTemplate, templateValues(items[index], index), false);
    const QVariantMap page{
        {QStringLiteral("content"), content},
        {QStringLiteral("jquerySrc"), QStringLiteral("http://127.0.0.1:%1/%2")
                                          .arg(runtimePort)
                                          .arg(QStringLiteral("/__kr_bundle/jquery-1.9.0/jquery.min.js"))},
    };
    return KRString::stringBySubstitutingTemplateValues(newsViewControllerTemplate(QStringLiteral("news.html")), page,
                                                        false);
}

bool KRNewsViewController::followLink(const QUrl &url, KRNewsController *news)
{
    if (url.scheme() != QLatin1String("kr") || (url.host() != QLatin1String("link") && url.host() != QLatin1String("mark")))
        return false;
    const URLParser parser(url.toString(QUrl::FullyEncoded));
    bool validIndex = false;
    const qsizetype index = parser.valueForVariable(QStringLiteral("newsItemID")).toLongLong(&validIndex);
    // Without a usable item number there is nothing to mark, and no address to trust.
    if (!validIndex || !news || index < 0 || index >= news->newsItems().size())
        return true;
    news->markIndexAsRead(index);
    if (url.host() == QLatin1String("link")) {
        const QUrl address(QUrl::fromPercentEncoding(parser.valueForVariable(QStringLiteral("url")).toLatin1()),
                           QUrl::StrictMode);
        if (address.isValid() && KRLinkPolicy::isWebAddress(address))
            KROpenURLService::current().openURL(address);
        else
            KR_LOG(QStringLiteral("news link not opened: %1").arg(address.toString()));
    }
    return true;
}

bool KRNewsViewController::handleLink(const QUrl &url)
{
    const bool followed = followLink(url, m_news);
    updateButton();
    return followed;
}

KRPopover *KRNewsViewController::showNewsPopover(QWidget *newsItemView, QWidget *window)
{
    KR_LOG(QString());
    std::unique_ptr<KRNewsViewController> controller = create<KRNewsViewController>();
    QWidget *view = controller->view();
    const QSize size(view->width(), int(window->frameGeometry().height() * 0.85));
    auto *popover = new KRPopover(window);
    popover->setBehavior(KRPopover::Behavior::Transient);
    popover->setContentWidget(view);
    popover->setContentSize(size);
    controller.release()->setParent(popover);
    connect(popover, &KRPopover::closed, popover, &QObject::deleteLater);
    popover->showRelativeToRect(newsItemView->rect(), newsItemView, KRPopover::BottomEdge);
    return popover;
}

void KRNewsViewController::updateButton()
{
    if (m_markAllReadButton)
        m_markAllReadButton->setEnabled(m_news && m_news->unreadCount() != 0);
}

void KRNewsViewController::markAllReadAction()
{
    KR_LOG(QString());
    if (m_news)
        m_news->markAllAsRead();
    if (m_webView)
        m_webView->page()->runJavaScript(QStringLiteral("__markAllAsRead();"));
    updateButton();
}

void KRNewsViewController::awakeFromNib()
{
    KR_LOG(QString());
    m_webView->page()->setBackgroundColor(Qt::transparent);
    connect(m_webView.data(), &QWebEngineView::loadFinished, this, [this] { m_webViewDidLoad = true; });
    const QList<KRNewsItem> items = m_news ? m_news->newsItems() : QList<KRNewsItem>();
    const QString baseURL = m_news ? m_news->baseURL() : QString();
    m_webView->setHtml(pageHTML(items, KRRuntimeServer::portNumber()), QUrl(baseURL));
    updateButton();
}

bool KRNewsViewController::acceptNavigation(const QUrl &url)
{
    // The page's own document arrives as data; what the feed's text asks for while the page
    // loads (a script, a refresh) is handled as a click on it would be.
    if (!m_webViewDidLoad && url.scheme() == QLatin1String("data"))
        return true;
    handleLink(url);
    return false;
}
