#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QUrl>
#include <QVariantMap>

class NetHTTPRequest;

// Cache policy bits carried by a request (0: the cache's default policy).
namespace NetCachePolicy {
enum : int {
    DoNotReadFromCache = 1,
    DoNotWriteToCache = 2,
    AskServerIfModifiedWhenStale = 4,
    AskServerIfModified = 8,
    OnlyLoadIfNotCached = 16,
    DontLoad = 32,
    FallbackToCacheIfLoadFails = 64,
};
}
namespace NetCacheStoragePolicy {
enum : int { ForSessionDuration = 0, Permanently = 1 };
}

// What a request asks of its response cache. Called on the request's thread.
class NetCacheDelegate
{
public:
    virtual ~NetCacheDelegate() = default;
    virtual int defaultCachePolicy() const = 0;
    virtual QDateTime expiryDateForRequest(const NetHTTPRequest &request, double maxAge) = 0;
    virtual void updateExpiryForRequest(const NetHTTPRequest &request, double maxAge) = 0;
    virtual bool canUseCachedDataForRequest(const NetHTTPRequest &request) = 0;
    virtual void removeCachedDataForRequest(const NetHTTPRequest &request) = 0;
    virtual bool isCachedDataCurrentForRequest(const NetHTTPRequest &request) = 0;
    virtual void storeResponseForRequest(const NetHTTPRequest &request, double maxAge) = 0;
    virtual void removeCachedDataForURL(const QUrl &url) = 0;
    virtual QVariantMap cachedResponseHeadersForURL(const QUrl &url) = 0; // empty when none
    virtual QByteArray cachedResponseDataForURL(const QUrl &url) = 0;
    virtual QString pathToCachedResponseDataForURL(const QUrl &url) = 0;
    virtual QString pathToCachedResponseHeadersForURL(const QUrl &url) = 0;
    virtual QString pathToStoreCachedResponseHeadersForRequest(const NetHTTPRequest &request) = 0;
    virtual QString pathToStoreCachedResponseDataForRequest(const NetHTTPRequest &request) = 0;
    virtual void clearCachedResponsesForStoragePolicy(int storagePolicy) = 0;
};
