#include "KRNewsController.h"

#include "KRJSONRPC.h"
#include "NetHTTPRequest.h"

KRNewsController &KRNewsController::shared()
{
    static KRNewsController *controller = new KRNewsController(defaultDataFilePath());
    return *controller;
}

KRNewsController::KRNewsController(const QString &dataFilePath, QObject *parent)
    : QObject(parent)
    , m_dataFilePath(dataFilePath)
{
}

KRNewsController::~KRNewsController() = default;

QString KRNewsController::defaultDataFilePath()
{
    return {};
}

void KRNewsController::setNewsItems(const QList<KRNewsItem> &items)
{
    m_newsItems = items;
    emit newsItemsChanged();
}

int KRNewsController::unreadCount() const
{
    return static_cast<int>(std::count_if(m_newsItems.cbegin(), m_newsItems.cend(),
                                          [](const KRNewsItem &item) { return item.unread; }));
}

void KRNewsController::loadRSS() {}
void KRNewsController::getFeedURL() {}
void KRNewsController::rssReceived(const QByteArray &) {}
void KRNewsController::markIndexAsRead(qsizetype) {}
void KRNewsController::markAllAsRead() {}
void KRNewsController::readReadState() {}
bool KRNewsController::recordRead(qsizetype) { return false; }
void KRNewsController::writeReadState() {}
