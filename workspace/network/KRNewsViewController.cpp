#include "KRNewsViewController.h"

#include "KRNetworkInterfaces.h"
#include "URLParser.h"

#include <core/GCDispatchQueue.h>
#include <core/KRJavaScript.h>
#include <core/KRRunLogger.h>
#include <core/KRString.h>
#include <platform/appkit/KROpenURL.h>
#include <platform/appkit/KRPopover.h>
#include <platform/dom/DOMCharacterData.h>
#include <platform/dom/DOMDocument.h>
#include <platform/dom/DOMElement.h>
#include <platform/dom/DOMHTMLParser.h>
#include <widgets/help/KRLinkPolicy.h>

#include <QFile>
#include <QLocale>
#include <QRegularExpression>
#include <QSet>
#include <QShortcut>
#include <QWebEnginePage>
#include <QWebEngineScript>
#include <QWebEngineSettings>

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

// Elements of a description that are written out, without any attribute but an <a>'s web
// address. Everything a feed could use to run code, load something or send a form is missing.
const QSet<QString> &newsViewControllerAllowedElements()
{
    static const QSet<QString> allowed{
        QStringLiteral("p"),  QStringLiteral("br"), QStringLiteral("b"),  QStringLiteral("i"),          QStringLiteral("em"),
        QStringLiteral("strong"), QStringLiteral("ul"), QStringLiteral("ol"), QStringLiteral("li"),     QStringLiteral("a"),
        QStringLiteral("h1"), QStringLiteral("h2"), QStringLiteral("h3"), QStringLiteral("h4"),         QStringLiteral("h5"),
        QStringLiteral("h6"), QStringLiteral("blockquote"), QStringLiteral("code"), QStringLiteral("pre"), QStringLiteral("span"),
    };
    return allowed;
}

// Elements left out together with everything inside them: their content is code, a resource,
// a form's field or the document's head, never text to read.
const QSet<QString> &newsViewControllerDroppedElements()
{
    static const QSet<QString> dropped{
        QStringLiteral("script"),   QStringLiteral("style"),  QStringLiteral("iframe"),   QStringLiteral("frame"),
        QStringLiteral("frameset"), QStringLiteral("object"), QStringLiteral("embed"),    QStringLiteral("applet"),
        QStringLiteral("noscript"), QStringLiteral("noembed"), QStringLiteral("noframes"), QStringLiteral("template"),
        QStringLiteral("title"),    QStringLiteral("head"),   QStringLiteral("meta"),     QStringLiteral("link"),
        QStringLiteral("base"),     QStringLiteral("svg"),    QStringLiteral("math"),     QStringLiteral("textarea"),
        QStringLiteral("select"),   QStringLiteral("input"),  QStringLiteral("button"),   QStringLiteral("xmp"),
        QStringLiteral("audio"),    QStringLiteral("video"),  QStringLiteral("canvas"),   QStringLiteral("img"),
        QStringLiteral("picture"),  QStringLiteral("source"), QStringLiteral("track"),    QStringLiteral("plaintext"),
    };
    return dropped;
}

// The page's own address holds the whole page (percent-encoded after "data:text/html..."),
// and the web engine loads no address longer than 2 MB: a larger page is loaded without its
// items, which are put in once it has loaded.
constexpr qsizetype MaximumPageAddressLength = 2 * 1024 * 1024 - 1024;

struct NewsPage
{
    QString html;
    QString pendingContent; // the items, when the page could not hold them
};

QString newsViewControllerContent(const QList<KRNewsItem> &items, KRNewsController::LoadState state,
                                  const QString &itemTemplate)
{
    QString content;
    for (qsizetype index = 0; index < items.size(); ++index)
        content += KRString::stringBySubstitutingTemplateValues(itemTemplate, KRNewsViewController::templateValues(items[index], index),
                                                                false);
    if (!items.isEmpty())
        return content;
    // An empty pop-over would look broken: it says why there is nothing, and where news comes
    // from while none was ever asked for.
    switch (state) {
    case KRNewsController::LoadState::Loading:
        return QStringLiteral("<div class=\"news-empty\">Loading the news\u2026</div>");
    case KRNewsController::LoadState::Failed:
        return QStringLiteral("<div class=\"news-empty\">The news could not be loaded from the hosting service."
                              "<br>It is asked for again at the next start.</div>");
    case KRNewsController::LoadState::Loaded:
        return QStringLiteral("<div class=\"news-empty\">No news yet.</div>");
    case KRNewsController::LoadState::NotLoaded:
        break;
    }
    return QStringLiteral("<div class=\"news-empty\">No news yet.<br>News comes from the hosting service "
                          "set in <span style=\"white-space: nowrap\">Edit \u25B8 Preferences \u25B8 Hosting</span>.</div>");
}

QString newsViewControllerFill(const QString &pageTemplate, const QString &content)
{
    return KRString::stringBySubstitutingTemplateValues(pageTemplate, QVariantMap{{QStringLiteral("content"), content}}, false);
}

// Runs on any thread: the templates are read before.
NewsPage newsViewControllerPage(const QList<KRNewsItem> &items, KRNewsController::LoadState state,
                                const QString &pageTemplate, const QString &itemTemplate)
{
    const QString content = newsViewControllerContent(items, state, itemTemplate);
    NewsPage page{newsViewControllerFill(pageTemplate, content), QString()};
    static const qsizetype prefix = QByteArrayLiteral("data:text/html;charset=UTF-8,").size();
    if (prefix + page.html.toUtf8().toPercentEncoding().size() > MaximumPageAddressLength) {
        page.html = newsViewControllerFill(pageTemplate, QString());
        page.pendingContent = content;
    }
    return page;
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
        {QStringLiteral("description"), safeHTML(item.description)},
        {QStringLiteral("newsItemID"), QString::number(index)},
        {QStringLiteral("badgeDisplay"), item.unread ? QStringLiteral("inherit") : QStringLiteral("none")},
    };
}

QString KRNewsViewController::safeHTML(const QString &html)
{
    const std::shared_ptr<DOMDocument> document = DOMDocument::createHTMLDocument();
    const DOMNode::NodeList nodes = DOMHTMLParser::parseFragment(html, QStringLiteral("div"), document.get());
    QString out;
    // Walked with a stack of its own: a feed's markup may be nested as deep as it likes.
    struct Step
    {
        const DOMNode::NodeList *nodes;
        std::size_t next;
        QString closing;
    };
    std::vector<Step> steps{{&nodes, 0, QString()}};
    while (!steps.empty()) {
        Step &step = steps.back();
        if (step.next == step.nodes->size()) {
            out += step.closing;
            steps.pop_back();
            continue;
        }
        const std::shared_ptr<DOMNode> &node = (*step.nodes)[step.next++];
        if (node->isText()) {
            out += static_cast<const DOMCharacterData &>(*node).data().toHtmlEscaped();
            continue;
        }
        if (!node->isElement())
            continue;
        const auto &element = static_cast<const DOMElement &>(*node);
        const QString name = element.localName().toLower();
        if (newsViewControllerDroppedElements().contains(name))
            continue;
        if (!newsViewControllerAllowedElements().contains(name)) {
            // An unknown element's text is kept, the element itself is not.
            steps.push_back({&element.childNodes(), 0, QString()});
            continue;
        }
        if (name == QLatin1String("br")) {
            out += QStringLiteral("<br>");
            continue;
        }
        out += QLatin1Char('<') + name;
        if (name == QLatin1String("a")) {
            const QUrl address(element.getAttribute(QStringLiteral("href")).trimmed(), QUrl::StrictMode);
            if (address.isValid() && KRLinkPolicy::isWebAddress(address))
                out += QStringLiteral(" href=\"") + address.toString(QUrl::FullyEncoded).toHtmlEscaped() + QLatin1Char('"');
        }
        out += QLatin1Char('>');
        steps.push_back({&element.childNodes(), 0, QStringLiteral("</") + name + QLatin1Char('>')});
    }
    return out;
}

QString KRNewsViewController::pageHTML(const QList<KRNewsItem> &items, KRNewsController::LoadState state)
{
    return newsViewControllerFill(newsViewControllerTemplate(QStringLiteral("news.html")),
                                  newsViewControllerContent(items, state,
                                                            newsViewControllerTemplate(QStringLiteral("news-item.html"))));
}

QString KRNewsViewController::linkAddress(const QUrl &link)
{
    QUrl address;
    if (link.scheme() == QLatin1String("kr")) {
        if (link.host() != QLatin1String("link"))
            return {};
        const URLParser parser(link.toString(QUrl::FullyEncoded));
        address = QUrl(QUrl::fromPercentEncoding(parser.valueForVariable(QStringLiteral("url")).toLatin1()), QUrl::StrictMode);
    } else {
        address = link;
    }
    if (!address.isValid() || !KRLinkPolicy::isWebAddress(address))
        return {};
    return address.toString(QUrl::FullyEncoded);
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
    const QSize size = popoverContentSize(view, window);
    auto *popover = new KRPopover(window);
    popover->setBehavior(KRPopover::Behavior::Transient);
    popover->setContentWidget(view);
    popover->setContentSize(size);
    controller.release()->setParent(popover);
    connect(popover, &KRPopover::closed, popover, &QObject::deleteLater);
    popover->showRelativeToRect(newsItemView->rect(), newsItemView, KRPopover::BottomEdge);
    return popover;
}

QSize KRNewsViewController::popoverContentSize(QWidget *view, QWidget *window)
{
    const int height = window ? int(window->frameGeometry().height() * 0.85) : 0;
    return QSize(std::max(view ? view->width() : 0, 300), std::max(height, 250));
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
    hideUnreadMarks(QStringLiteral(".news-unread"));
    updateButton();
}

void KRNewsViewController::hideUnreadMarks(const QString &selector)
{
    // The page's own scripts do not run; this one runs apart from the page, in the
    // application's world, and only reaches the shared document.
    if (m_webView)
        m_webView->page()->runJavaScript(
            QStringLiteral("document.querySelectorAll('%1').forEach(function (mark) { mark.style.display = 'none'; });")
                .arg(selector),
            QWebEngineScript::ApplicationWorld);
}

void KRNewsViewController::awakeFromNib()
{
    KR_LOG(QString());
    // The descriptions are the feed's: they are shown as text with a few harmless elements,
    // scripts in the page do not run, and the page gets an origin of its own (no base address
    // of the feed's choosing) that reaches neither files nor other sites.
    QWebEngineSettings *settings = m_webView->page()->settings();
    settings->setAttribute(QWebEngineSettings::JavascriptEnabled, false);
    settings->setAttribute(QWebEngineSettings::JavascriptCanOpenWindows, false);
    settings->setAttribute(QWebEngineSettings::LocalContentCanAccessRemoteUrls, false);
    settings->setAttribute(QWebEngineSettings::LocalContentCanAccessFileUrls, false);
    settings->setAttribute(QWebEngineSettings::AutoLoadImages, false);
    settings->setAttribute(QWebEngineSettings::PluginsEnabled, false);
    m_webView->page()->setBackgroundColor(Qt::transparent);
    connect(m_webView.data(), &QWebEngineView::loadFinished, this, [this](bool ok) {
        // A page given up for a newer one ends too: only the newest one's end counts.
        if (m_pageLoaded || !ok)
            return;
        m_pageLoaded = true;
        if (m_pendingContent.isEmpty()) {
            m_webViewDidLoad = true;
            return;
        }
        // Put in apart from the page, as the unread marks are hidden: the page runs no script.
        const QString script = QStringLiteral("document.getElementById('news').innerHTML = %1; true;")
                                   .arg(KRJavaScript::quotedString(std::exchange(m_pendingContent, QString())));
        QPointer<KRNewsViewController> self(this);
        m_webView->page()->runJavaScript(script, QWebEngineScript::ApplicationWorld, [self](const QVariant &) {
            if (self)
                self->m_webViewDidLoad = true;
        });
    });
    // Once clicked, the page has the keyboard and keeps every key it is given, Escape too: taken
    // before the page sees it, Escape closes the pop-over the news is shown in.
    auto *escape = new QShortcut(QKeySequence(QKeySequence::Cancel), m_webView);
    escape->setContext(Qt::WidgetWithChildrenShortcut);
    connect(escape, &QShortcut::activated, this, [this] {
        if (auto *popover = qobject_cast<KRPopover *>(m_webView->window()))
            popover->close();
    });
    connect(m_webView->page(), &QWebEnginePage::linkHovered, this, &KRNewsViewController::showLinkAddress);
    if (m_news) {
        // While it says why there is no news, the pop-over follows the feed: the news shows once
        // it arrives, the failure once it failed.
        const auto follow = [this] {
            if (m_showsNoItems && m_news)
                showItems(m_news->newsItems());
        };
        connect(m_news.data(), &KRNewsController::loadStateChanged, this, follow);
        connect(m_news.data(), &KRNewsController::newsItemsChanged, this, follow);
    }
    showItems(m_news ? m_news->newsItems() : QList<KRNewsItem>());
    updateButton();
}

void KRNewsViewController::showItems(const QList<KRNewsItem> &items)
{
    m_showsNoItems = items.isEmpty();
    const KRNewsController::LoadState state = m_news ? m_news->loadState() : KRNewsController::LoadState::NotLoaded;
    // A feed's descriptions are parsed and made safe on another thread: however large or deep
    // their markup, the window keeps answering meanwhile.
    const quint64 generation = ++m_pageGeneration;
    const QString pageTemplate = newsViewControllerTemplate(QStringLiteral("news.html"));
    const QString itemTemplate = newsViewControllerTemplate(QStringLiteral("news-item.html"));
    auto page = std::make_shared<NewsPage>();
    QPointer<KRNewsViewController> self(this);
    GCDispatchQueue::backgroundQueue().performBlock(
        [page, items, state, pageTemplate, itemTemplate] {
            *page = newsViewControllerPage(items, state, pageTemplate, itemTemplate);
        },
        [self, page, generation] {
            if (self && self->m_pageGeneration == generation)
                self->showPage(page->html, page->pendingContent);
        });
}

void KRNewsViewController::showPage(const QString &page, const QString &content)
{
    if (!m_webView)
        return;
    m_pendingContent = content;
    m_pageLoaded = false;
    m_webView->setHtml(page, QUrl());
}

void KRNewsViewController::showLinkAddress(const QString &link)
{
    if (m_linkAddressLabel)
        m_linkAddressLabel->setText(link.isEmpty() ? QString() : linkAddress(QUrl(link)));
}

bool KRNewsViewController::acceptNavigation(const QUrl &url, QWebEnginePage::NavigationType type, bool isMainFrame)
{
    // The page's own document arrives as data, once.
    if (!m_pageLoaded && isMainFrame && type != QWebEnginePage::NavigationTypeLinkClicked
        && url.scheme() == QLatin1String("data"))
        return true;
    // Only a click on a link is followed: the item's own links (kr://) mark it read and open its
    // address, a web address in a description opens outside, anything else goes nowhere.
    if (type != QWebEnginePage::NavigationTypeLinkClicked || !isMainFrame) {
        KR_LOG(QStringLiteral("news navigation refused: %1").arg(url.toString()));
        return false;
    }
    if (url.scheme() == QLatin1String("kr")) {
        if (handleLink(url)) {
            const QString index = URLParser(url.toString(QUrl::FullyEncoded)).valueForVariable(QStringLiteral("newsItemID"));
            bool validIndex = false;
            const qsizetype number = index.toLongLong(&validIndex);
            if (validIndex && number >= 0)
                hideUnreadMarks(QStringLiteral("#news-item-%1 .news-unread").arg(number));
        }
        return false;
    }
    if (KRLinkPolicy::isWebAddress(url))
        KROpenURLService::current().openURL(url);
    else
        KR_LOG(QStringLiteral("news link not opened: %1").arg(url.toString()));
    return false;
}
