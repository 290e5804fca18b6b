#include "KRNewsController.h"

#include "KRJSONRPC.h"
#include "NetHTTPRequest.h"

#include <core/KRFileManagerAdditions.h>
#include <core/KRPropertyList.h>
#include <core/KRRunLogger.h>
#include <core/KRXMLDocument.h>
#include <core/KRXMLNode.h>
#include <platform/foundation/KRUserDefaults.h>

#include <QJsonObject>
#include <QPointer>

namespace {
// A feed is a few dozen short items: anything far larger, or slower, is not a feed.
constexpr std::uint64_t MaximumFeedSize = std::uint64_t(2) << 20;
constexpr int FeedDeadlineSeconds = 60;
}

KRNewsController &KRNewsController::shared()
{
    static KRNewsController *controller = new KRNewsController(defaultDataFilePath());
    return *controller;
}

KRNewsController::KRNewsController(const QString &dataFilePath, QObject *parent)
    : QObject(parent)
    , m_dataFilePath(dataFilePath)
{
    readReadState();
}

KRNewsController::~KRNewsController()
{
    if (m_request)
        m_request->clearDelegatesAndCancel();
}

QString KRNewsController::defaultDataFilePath()
{
    const QString folder = KRFileManager::applicationSupportDirectory();
    return folder.isEmpty() ? QString() : folder + QStringLiteral("/read-news-items.plist");
}

void KRNewsController::setNewsItems(const QList<KRNewsItem> &items)
{
    m_newsItems = items;
    emit newsItemsChanged();
}

void KRNewsController::setLoadState(LoadState state)
{
    if (m_loadState == state)
        return;
    m_loadState = state;
    emit loadStateChanged();
}

int KRNewsController::unreadCount() const
{
    return static_cast<int>(std::count_if(m_newsItems.cbegin(), m_newsItems.cend(),
                                          [](const KRNewsItem &item) { return item.unread; }));
}

void KRNewsController::loadRSS()
{
    if (m_feedURL.isEmpty()) {
        getFeedURL();
        return;
    }
    if (m_request && !m_request->downloadComplete() && !m_request->error())
        return; // the feed is on its way
    m_request = NetHTTPRequest::requestWithURL(QUrl(m_feedURL));
    m_request->setMaximumResponseSize(MaximumFeedSize);
    m_request->setTotalDeadlineSeconds(FeedDeadlineSeconds);
    QPointer<KRNewsController> self(this);
    std::weak_ptr<NetHTTPRequest> weakRequest = m_request;
    m_request->setCompletionBlock([self, weakRequest] {
        std::shared_ptr<NetHTTPRequest> request = weakRequest.lock();
        if (!self || !request || request != self->m_request)
            return;
        const int status = request->responseStatusCode();
        if (status < 200 || status > 299) {
            KR_LOG(QStringLiteral("feed download failed: HTTP status %1").arg(status));
            self->setLoadState(LoadState::Failed);
            return;
        }
        self->rssReceived(request->responseData());
    });
    m_request->setFailedBlock([self, weakRequest] {
        std::shared_ptr<NetHTTPRequest> request = weakRequest.lock();
        if (request)
            KR_LOG(QStringLiteral("feed download failed: %1").arg(request->error().toString()));
        if (self && request && request == self->m_request)
            self->setLoadState(LoadState::Failed);
    });
    setLoadState(LoadState::Loading);
    m_request->startAsynchronous();
}

void KRNewsController::getFeedURL()
{
    KR_LOG(QString());
    if (m_feedURLRPC)
        return; // one question at a time
    // Without a service address there is no one to ask: no news, and nothing is sent.
    if (KRUserDefaults::sharedInstance().stringValue(QStringLiteral("apiURL")).trimmed().isEmpty()) {
        KR_LOG(QStringLiteral("No news: no service address is set"));
        return;
    }
    m_feedURLRPC = KRJSONRPC::create();
    setLoadState(LoadState::Loading);
    QPointer<KRNewsController> self(this);
    m_feedURLRPC->callMethod(QStringLiteral("feedURL"), KRJSONRPC::credentialedArgumentsDictionary(),
                             [self](const QJsonDocument &reply, const KRError &error) {
                                 if (!self)
                                     return;
                                 self->m_feedURLRPC.reset();
                                 if (error) {
                                     KR_LOG(QStringLiteral("feed URL error: %1").arg(error.toString()));
                                     self->setLoadState(LoadState::Failed);
                                     return;
                                 }
                                 const QJsonObject object = reply.object();
                                 if (object.value(QStringLiteral("result")).toString() != QLatin1String("OK")) {
                                     KR_LOG(QStringLiteral("feed URL error: the service refused"));
                                     self->setLoadState(LoadState::Failed);
                                     return;
                                 }
                                 const QJsonValue address = object.value(QStringLiteral("feedURL"));
                                 // Without an address there is nothing to load, and asking again
                                 // would only get the same answer.
                                 if (!address.isString() || address.toString().isEmpty()) {
                                     KR_LOG(QStringLiteral("feed URL error: the reply names no feed"));
                                     self->setLoadState(LoadState::Failed);
                                     return;
                                 }
                                 QString feedURL = address.toString();
                                 if (!feedURL.startsWith(QLatin1String("http://"))
                                     && !feedURL.startsWith(QLatin1String("https://"))) {
                                     // A relative address lies on the service's site, joined
                                     // to it with exactly one slash.
                                     QString site = KRUserDefaults::sharedInstance().stringValue(
                                         QStringLiteral("insecureSiteURL"));
                                     if (site.isEmpty()) {
                                         KR_LOG(QStringLiteral("feed URL error: no site to find %1 on").arg(feedURL));
                                         self->setLoadState(LoadState::Failed);
                                         return;
                                     }
                                     while (site.endsWith(QLatin1Char('/')))
                                         site.chop(1);
                                     while (feedURL.startsWith(QLatin1Char('/')))
                                         feedURL.remove(0, 1);
                                     feedURL = site + QLatin1Char('/') + feedURL;
                                 }
                                 self->m_feedURL = feedURL;
                                 self->loadRSS();
                             });
}

void KRNewsController::rssReceived(const QByteArray &data)
{
    KR_LOG(QString());
    const KRResult<KRXMLDocument> parsed = KRXMLDocument::fromData(data);
    if (!parsed) {
        KR_LOG(QStringLiteral("feed not read: %1").arg(parsed.error().toString()));
        setLoadState(LoadState::Failed);
        return;
    }
    const KRXMLDocument &document = parsed.value();
    const QList<KRXMLNode> links = document.nodesForXPath(QStringLiteral("//channel/link"));
    m_baseURL = links.isEmpty() ? QString() : links.first().stringValue();

    QList<KRNewsItem> items;
    for (const KRXMLNode &node : document.nodesForXPath(QStringLiteral("//channel/item"))) {
        KRNewsItem item;
        item.title = node.stringValueOfFirstElementForName(QStringLiteral("title"));
        item.description = node.stringValueOfFirstElementForName(QStringLiteral("description"));
        item.published = node.stringValueOfFirstElementForName(QStringLiteral("published"));
        item.link = node.stringValueOfFirstElementForName(QStringLiteral("link"));
        item.unread = !m_readURLs.contains(item.link);
        items.append(item);
    }
    m_loadState = LoadState::Loaded; // told with the items
    setNewsItems(items);
    emit loadStateChanged();
}

void KRNewsController::markIndexAsRead(qsizetype index)
{
    if (!recordRead(index))
        return;
    writeReadState();
    emit newsItemsChanged();
}

void KRNewsController::markAllAsRead()
{
    bool changed = false;
    for (qsizetype index = 0; index < m_newsItems.size(); ++index)
        changed = recordRead(index) || changed;
    if (!changed)
        return;
    writeReadState();
    emit newsItemsChanged();
}

void KRNewsController::readReadState()
{
    m_readURLs.clear();
    if (m_dataFilePath.isEmpty() || !QFileInfo::exists(m_dataFilePath))
        return;
    const KRResult<QVariant> stored = KRPropertyList::propertyListFromFile(m_dataFilePath);
    if (stored && stored.value().typeId() == QMetaType::QVariantMap)
        m_readURLs = stored.value().toMap();
    else
        KR_LOG(QStringLiteral("read news items not read from %1").arg(m_dataFilePath));
}

bool KRNewsController::recordRead(qsizetype index)
{
    if (index < 0 || index >= m_newsItems.size() || !m_newsItems[index].unread)
        return false;
    KRNewsItem &item = m_newsItems[index];
    item.unread = false;
    if (!item.link.isEmpty())
        m_readURLs.insert(item.link, true);
    return true;
}

void KRNewsController::writeReadState()
{
    if (m_dataFilePath.isEmpty())
        return;
    const KRResult<void> written = KRPropertyList::writePropertyList(m_readURLs, m_dataFilePath);
    if (!written)
        KR_LOG(QStringLiteral("read news items not written: %1").arg(written.error().toString()));
}
