#pragma once

#include <network/NetCacheDelegate.h>

#include <memory>
#include <mutex>

// The on-disk response cache: "SessionStore" (emptied whenever a storage path is set) and
// "PermanentStore" under the storage path. Per URL a data file "<KEY>.<ext>" and a headers
// file "<KEY>.cachedheaders" (an XML property list), KEY being the upper-case MD5 of the URL.
// Setting the storage path and clearing a store throw KRException ("FileExistsAtCachePath",
// "FailedToCreateCacheDirectory", "FailedToTraverseCacheDirectory", "FailedToRemoveCacheFile").
class NetDownloadCache : public NetCacheDelegate
{
public:
    NetDownloadCache();

    // The process's cache in the caches folder + "NetHTTPRequestCache"; null (and a run-log
    // line) when that folder cannot be used: requests then run without a cache.
    static std::shared_ptr<NetDownloadCache> sharedCache();

    QString storagePath() const;
    void setStoragePath(const QString &path);
    void setDefaultCachePolicy(int policy);
    bool shouldRespectCacheControlHeaders() const;
    void setShouldRespectCacheControlHeaders(bool on);

    static bool serverAllowsResponseCachingForRequest(const NetHTTPRequest &request);
    static QString keyForURL(const QUrl &url);
    QString pathToFile(const QString &fileName);

    // NetCacheDelegate
    int defaultCachePolicy() const override;
    QDateTime expiryDateForRequest(const NetHTTPRequest &request, double maxAge) override;
    void updateExpiryForRequest(const NetHTTPRequest &request, double maxAge) override;
    bool canUseCachedDataForRequest(const NetHTTPRequest &request) override;
    void removeCachedDataForRequest(const NetHTTPRequest &request) override;
    bool isCachedDataCurrentForRequest(const NetHTTPRequest &request) override;
    void storeResponseForRequest(const NetHTTPRequest &request, double maxAge) override;
    void removeCachedDataForURL(const QUrl &url) override;
    QVariantMap cachedResponseHeadersForURL(const QUrl &url) override;
    QByteArray cachedResponseDataForURL(const QUrl &url) override;
    QString pathToCachedResponseDataForURL(const QUrl &url) override;
    QString pathToCachedResponseHeadersForURL(const QUrl &url) override;
    QString pathToStoreCachedResponseHeadersForRequest(const NetHTTPRequest &request) override;
    QString pathToStoreCachedResponseDataForRequest(const NetHTTPRequest &request) override;
    void clearCachedResponsesForStoragePolicy(int storagePolicy) override;

    // The headers file format (an XML property list of strings and numbers).
    static bool writePropertyList(const QString &path, const QVariantMap &map);
    static QVariantMap readPropertyList(const QString &path);

private:
    static QString dataFileName(const QUrl &url);
    mutable std::recursive_mutex m_accessLock;
    QString m_storagePath;
    int m_defaultCachePolicy = 4;
    bool m_shouldRespectCacheControlHeaders = true;
};
