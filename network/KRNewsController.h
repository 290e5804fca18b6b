#pragma once

#include <QList>
#include <QObject>
#include <QString>
#include <QVariantMap>

#include <memory>

class KRJSONRPC;
class NetHTTPRequest;

// One item of the news feed.
struct KRNewsItem
{
    QString title;
    QString description;
    QString published; // "EEE MMM dd HH:mm:ss ZZZ yyyy", en_US
    QString link;
    bool unread = true;

    bool operator==(const KRNewsItem &) const = default;
};

// The maker's news: asks the hosting service for the feed's address ("feedURL"), downloads
// the feed (RSS whose dates are in "published"), keeps its items with an unread flag each and
// remembers which links were read in "read-news-items.plist" in the application's support
// folder. newsItemsChanged() follows every change of the items or of their unread flags.
//
// Main thread only.
class KRNewsController : public QObject
{
    Q_OBJECT

public:
    // Where getting the feed stands: nothing asked yet (or no service to ask), on its way, read,
    // or failed (the service gave no address, the download failed or the feed did not parse).
    enum class LoadState { NotLoaded, Loading, Loaded, Failed };

    // The process's controller, made on first use with the default read-state file.
    static KRNewsController &shared();

    // A controller keeping its read state in `dataFilePath` (empty: no file, nothing is
    // remembered between runs). The shared one is the application's; tests make their own.
    explicit KRNewsController(const QString &dataFilePath, QObject *parent = nullptr);
    ~KRNewsController() override;

    // "<application support>/read-news-items.plist"; empty when there is no such folder.
    static QString defaultDataFilePath();
    QString dataFilePath() const { return m_dataFilePath; }

    QList<KRNewsItem> newsItems() const { return m_newsItems; }
    void setNewsItems(const QList<KRNewsItem> &items);
    QString baseURL() const { return m_baseURL; }
    QString feedURL() const { return m_feedURL; }
    int unreadCount() const;
    LoadState loadState() const { return m_loadState; }

    // Downloads the feed, first asking for its address while it is unknown.
    void loadRSS();
    void getFeedURL();
    // Parses a downloaded feed into the items; a document that does not parse changes nothing.
    void rssReceived(const QByteArray &data);

    // Records the item's link as read and writes the read state; an index outside the list
    // is ignored.
    void markIndexAsRead(qsizetype index);
    void markAllAsRead();

signals:
    void newsItemsChanged();
    void loadStateChanged();

private:
    void setLoadState(LoadState state);
    void readReadState();
    bool recordRead(qsizetype index);
    void writeReadState();

    QString m_dataFilePath;
    QList<KRNewsItem> m_newsItems;
    QString m_baseURL;
    QString m_feedURL;
    QVariantMap m_readURLs;
    LoadState m_loadState = LoadState::NotLoaded;
    std::shared_ptr<KRJSONRPC> m_feedURLRPC;
    std::shared_ptr<NetHTTPRequest> m_request;
};
