#include "NetDownloadCache.h"

#include <network/NetHTTPRequest.h>
#include <core/KRDataExtensions.h>
#include <core/KRPropertyList.h>
#include <core/KRRunLogger.h>
#include <platform/foundation/KRException.h>
#include <platform/foundation/KRPaths.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSaveFile>

namespace {
const QString sessionStoreName = QStringLiteral("SessionStore");
const QString permanentStoreName = QStringLiteral("PermanentStore");
const QString expiresKey = QStringLiteral("X-NetHTTPRequest-Expires");
const QString statusKey = QStringLiteral("X-NetHTTPRequest-Response-Status-Code");
}

NetDownloadCache::NetDownloadCache() = default;

std::shared_ptr<NetDownloadCache> NetDownloadCache::sharedCache()
{
    static std::mutex mutex;
    static std::shared_ptr<NetDownloadCache> shared;
    static bool tried = false;
    std::lock_guard<std::mutex> g(mutex);
    if (!tried) {
        tried = true;
        auto cache = std::make_shared<NetDownloadCache>();
        try {
            const QString caches = KRPaths::cachesDirectory();
            if (caches.isEmpty())
                krRaise(QStringLiteral("FailedToCreateCacheDirectory"), QStringLiteral("No caches folder"));
            cache->setStoragePath(QDir(caches).filePath(QStringLiteral("NetHTTPRequestCache")));
            shared = cache;
        } catch (const KRException &e) {
            KR_LOG(QStringLiteral("Running without a response cache: %1 %2").arg(e.name(), e.reason()));
        }
    }
    return shared;
}

QString NetDownloadCache::storagePath() const
{
    std::lock_guard<std::recursive_mutex> g(m_accessLock);
    return m_storagePath;
}

void NetDownloadCache::setStoragePath(const QString &path)
{
    std::lock_guard<std::recursive_mutex> g(m_accessLock);
    if (!m_storagePath.isEmpty())
        clearCachedResponsesForStoragePolicy(NetCacheStoragePolicy::ForSessionDuration);
    m_storagePath = path;
    for (const QString &dir : {path, QDir(path).filePath(sessionStoreName), QDir(path).filePath(permanentStoreName)}) {
        QFileInfo info(dir);
        if (info.exists() && !info.isDir())
            krRaise(QStringLiteral("FileExistsAtCachePath"),
                    QStringLiteral("Cannot create a directory for the cache at '%1', because a file already exists").arg(dir));
        if (!info.exists()) {
            QDir().mkdir(dir);
            if (!QFileInfo(dir).isDir())
                krRaise(QStringLiteral("FailedToCreateCacheDirectory"),
                        QStringLiteral("Failed to create a directory for the cache at '%1'").arg(dir));
        }
    }
    clearCachedResponsesForStoragePolicy(NetCacheStoragePolicy::ForSessionDuration);
}

int NetDownloadCache::defaultCachePolicy() const
{
    std::lock_guard<std::recursive_mutex> g(m_accessLock);
    return m_defaultCachePolicy;
}

void NetDownloadCache::setDefaultCachePolicy(int policy)
{
    std::lock_guard<std::recursive_mutex> g(m_accessLock);
    m_defaultCachePolicy = policy == 0 ? NetCachePolicy::AskServerIfModifiedWhenStale : policy;
}

bool NetDownloadCache::shouldRespectCacheControlHeaders() const
{
    std::lock_guard<std::recursive_mutex> g(m_accessLock);
    return m_shouldRespectCacheControlHeaders;
}

void NetDownloadCache::setShouldRespectCacheControlHeaders(bool on)
{
    std::lock_guard<std::recursive_mutex> g(m_accessLock);
    m_shouldRespectCacheControlHeaders = on;
}

QString NetDownloadCache::keyForURL(const QUrl &url)
{
    QString text = url.toString(QUrl::FullyEncoded);
    if (text.endsWith(u'/'))
        text.chop(1);
    return KRData::MD5String(text.toUtf8()).toUpper();
}

QString NetDownloadCache::dataFileName(const QUrl &url)
{
    // Only plain extensions reach file names.
    static const QRegularExpression plain(QStringLiteral("^[A-Za-z0-9]{1,16}$"));
    QString extension = QFileInfo(url.path()).suffix();
    if (!plain.match(extension).hasMatch())
        extension = QStringLiteral("html");
    return keyForURL(url) + u'.' + extension;
}

QString NetDownloadCache::pathToFile(const QString &fileName)
{
    std::lock_guard<std::recursive_mutex> g(m_accessLock);
    if (m_storagePath.isEmpty())
        return {};
    for (const QString &store : {sessionStoreName, permanentStoreName}) {
        const QString path = QDir(QDir(m_storagePath).filePath(store)).filePath(fileName);
        if (QFileInfo::exists(path))
            return path;
    }
    return {};
}

QString NetDownloadCache::pathToCachedResponseDataForURL(const QUrl &url)
{
    return pathToFile(dataFileName(url));
}

QString NetDownloadCache::pathToCachedResponseHeadersForURL(const QUrl &url)
{
    return pathToFile(keyForURL(url) + QStringLiteral(".cachedheaders"));
}

QString NetDownloadCache::pathToStoreCachedResponseHeadersForRequest(const NetHTTPRequest &request)
{
    std::lock_guard<std::recursive_mutex> g(m_accessLock);
    if (m_storagePath.isEmpty())
        return {};
    const QString store = request.cacheStoragePolicy() ? permanentStoreName : sessionStoreName;
    return QDir(QDir(m_storagePath).filePath(store)).filePath(keyForURL(request.url()) + QStringLiteral(".cachedheaders"));
}

QString NetDownloadCache::pathToStoreCachedResponseDataForRequest(const NetHTTPRequest &request)
{
    std::lock_guard<std::recursive_mutex> g(m_accessLock);
    if (m_storagePath.isEmpty())
        return {};
    const QString store = request.cacheStoragePolicy() ? permanentStoreName : sessionStoreName;
    return QDir(QDir(m_storagePath).filePath(store)).filePath(dataFileName(request.url()));
}

QVariantMap NetDownloadCache::cachedResponseHeadersForURL(const QUrl &url)
{
    std::lock_guard<std::recursive_mutex> g(m_accessLock);
    const QString path = pathToCachedResponseHeadersForURL(url);
    return path.isEmpty() ? QVariantMap() : readPropertyList(path);
}

QByteArray NetDownloadCache::cachedResponseDataForURL(const QUrl &url)
{
    std::lock_guard<std::recursive_mutex> g(m_accessLock);
    const QString path = pathToCachedResponseDataForURL(url);
    if (path.isEmpty())
        return {};
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

bool NetDownloadCache::serverAllowsResponseCachingForRequest(const NetHTTPRequest &request)
{
    // Directives are matched as tokens: "private, no-store" forbids storing too.
    const QString cacheControl = request.responseHeader(QStringLiteral("Cache-Control")).toLower();
    for (const QString &directive : cacheControl.split(u',')) {
        const QString d = directive.trimmed().section(u'=', 0, 0).trimmed();
        if (d == QLatin1String("no-cache") || d == QLatin1String("no-store"))
            return false;
    }
    if (request.responseHeader(QStringLiteral("Pragma")).toLower().trimmed() == QLatin1String("no-cache"))
        return false;
    return true;
}

QDateTime NetDownloadCache::expiryDateForRequest(const NetHTTPRequest &request, double maxAge)
{
    const QString cacheControl = request.responseHeader(QStringLiteral("Cache-Control")).toLower();
    if (maxAge == 0 && !cacheControl.isEmpty()) {
        const int at = cacheControl.indexOf(QLatin1String("max-age"));
        if (at >= 0) {
            int i = at + 7;
            while (i < cacheControl.size() && (cacheControl[i] == u'=' || cacheControl[i] == u' '))
                ++i;
            int j = i;
            while (j < cacheControl.size() && cacheControl[j].isDigit())
                ++j;
            maxAge = cacheControl.mid(i, j - i).toDouble();
        }
    }
    if (maxAge == 0) {
        const QString expires = request.responseHeader(QStringLiteral("Expires"));
        return expires.isEmpty() ? QDateTime() : NetHTTPRequest::dateFromRFC1123String(expires);
    }
    return QDateTime::currentDateTimeUtc().addMSecs(qint64(maxAge * 1000));
}

void NetDownloadCache::storeResponseForRequest(const NetHTTPRequest &request, double maxAge)
{
    std::lock_guard<std::recursive_mutex> g(m_accessLock);
    const int status = request.responseStatusCode();
    if (request.error() || request.responseHeaders().isEmpty() || (request.cachePolicy() & NetCachePolicy::DoNotWriteToCache)
        || !(status == 200 || status == 301 || status == 302 || status == 303 || status == 307))
        return;
    if (m_shouldRespectCacheControlHeaders && !serverAllowsResponseCachingForRequest(request))
        return;
    const QString headersPath = pathToStoreCachedResponseHeadersForRequest(request);
    const QString dataPath = pathToStoreCachedResponseDataForRequest(request);
    if (headersPath.isEmpty())
        return;
    QVariantMap headers;
    const auto responseHeaders = request.responseHeaders();
    for (auto it = responseHeaders.begin(); it != responseHeaders.end(); ++it)
        headers.insert(it.key(), it.value());
    if (request.isResponseCompressed()) {
        headers.remove(QStringLiteral("Content-Encoding"));
        headers.remove(QStringLiteral("Content-Length")); // the body is stored inflated
    }
    const QDateTime expiry = expiryDateForRequest(request, maxAge);
    if (expiry.isValid())
        headers.insert(expiresKey, double(expiry.toMSecsSinceEpoch()) / 1000.0);
    headers.insert(statusKey, status);
    const QString download = request.downloadDestinationPath();
    QByteArray body;
    if (download.isEmpty()) {
        body = request.responseData();
        if (!headers.contains(QStringLiteral("Content-Length")))
            headers.insert(QStringLiteral("Content-Length"), QString::number(body.size()));
    }
    if (!writePropertyList(headersPath, headers))
        return;
    if (download.isEmpty()) {
        QSaveFile f(dataPath);
        if (f.open(QIODevice::WriteOnly)) {
            f.write(body);
            f.commit();
        }
    } else if (QFileInfo(download).absoluteFilePath() != QFileInfo(dataPath).absoluteFilePath()) {
        QFile::remove(dataPath);
        QFile::copy(download, dataPath);
    }
}

void NetDownloadCache::updateExpiryForRequest(const NetHTTPRequest &request, double maxAge)
{
    std::lock_guard<std::recursive_mutex> g(m_accessLock);
    const QString path = pathToStoreCachedResponseHeadersForRequest(request);
    if (path.isEmpty() || !QFileInfo::exists(path))
        return;
    QVariantMap headers = readPropertyList(path);
    const QDateTime expiry = expiryDateForRequest(request, maxAge);
    if (expiry.isValid()) {
        headers.insert(expiresKey, double(expiry.toMSecsSinceEpoch()) / 1000.0);
        writePropertyList(path, headers);
    }
}

bool NetDownloadCache::isCachedDataCurrentForRequest(const NetHTTPRequest &request)
{
    std::lock_guard<std::recursive_mutex> g(m_accessLock);
    if (m_storagePath.isEmpty())
        return false;
    const QVariantMap cached = cachedResponseHeadersForURL(request.url());
    if (cached.isEmpty() || pathToCachedResponseDataForURL(request.url()).isEmpty())
        return false;
    if (request.responseStatusCode() == 304)
        return true;
    if (!request.responseHeaders().isEmpty() && request.complete()) {
        for (const QString &name : {QStringLiteral("Etag"), QStringLiteral("Last-Modified")}) {
            const QString fresh = request.responseHeader(name);
            if (fresh.isEmpty() || fresh != cached.value(name).toString())
                return false;
        }
    }
    if (m_shouldRespectCacheControlHeaders) {
        if (!cached.contains(expiresKey))
            return false;
        const double expires = cached.value(expiresKey).toDouble();
        if (expires * 1000.0 < double(QDateTime::currentMSecsSinceEpoch()))
            return false;
    }
    return true;
}

bool NetDownloadCache::canUseCachedDataForRequest(const NetHTTPRequest &request)
{
    std::lock_guard<std::recursive_mutex> g(m_accessLock);
    const int policy = request.cachePolicy() ? request.cachePolicy() : m_defaultCachePolicy;
    if (policy & NetCachePolicy::DoNotReadFromCache)
        return false;
    if (policy & NetCachePolicy::DontLoad)
        return true;
    if (cachedResponseHeadersForURL(request.url()).isEmpty() || pathToCachedResponseDataForURL(request.url()).isEmpty())
        return false;
    if (policy & NetCachePolicy::OnlyLoadIfNotCached)
        return true;
    if (request.complete() && (policy & NetCachePolicy::FallbackToCacheIfLoadFails))
        return true;
    if (!(policy & (NetCachePolicy::AskServerIfModifiedWhenStale | NetCachePolicy::AskServerIfModified)))
        return false;
    if ((policy & NetCachePolicy::AskServerIfModified) && !(policy & NetCachePolicy::AskServerIfModifiedWhenStale)
        && request.responseHeaders().isEmpty())
        return false;
    return isCachedDataCurrentForRequest(request);
}

void NetDownloadCache::removeCachedDataForURL(const QUrl &url)
{
    std::lock_guard<std::recursive_mutex> g(m_accessLock);
    const QString headers = pathToCachedResponseHeadersForURL(url);
    if (!headers.isEmpty())
        QFile::remove(headers);
    const QString data = pathToCachedResponseDataForURL(url);
    if (!data.isEmpty())
        QFile::remove(data);
}

void NetDownloadCache::removeCachedDataForRequest(const NetHTTPRequest &request)
{
    removeCachedDataForURL(request.url());
}

void NetDownloadCache::clearCachedResponsesForStoragePolicy(int storagePolicy)
{
    std::lock_guard<std::recursive_mutex> g(m_accessLock);
    if (m_storagePath.isEmpty())
        return;
    const QString store = QDir(m_storagePath).filePath(storagePolicy ? permanentStoreName : sessionStoreName);
    QFileInfo info(store);
    if (!info.isDir())
        return;
    QDir dir(store);
    if (!dir.isReadable())
        krRaise(QStringLiteral("FailedToTraverseCacheDirectory"), QStringLiteral("Listing cache directory failed at path '%1'").arg(store));
    for (const QFileInfo &entry : dir.entryInfoList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System)) {
        const bool removed = entry.isDir() && !entry.isSymLink() ? QDir(entry.absoluteFilePath()).removeRecursively()
                                                                 : QFile::remove(entry.absoluteFilePath());
        if (!removed)
            krRaise(QStringLiteral("FailedToRemoveCacheFile"), QStringLiteral("Failed to remove cached data at path '%1'").arg(store));
    }
}

bool NetDownloadCache::writePropertyList(const QString &path, const QVariantMap &map)
{
    const KRResult<void> written = KRPropertyList::writePropertyList(map, path);
    if (!written)
        KR_LOG(QStringLiteral("Could not write cached headers %1: %2").arg(path, written.error().message()));
    return written.ok();
}

QVariantMap NetDownloadCache::readPropertyList(const QString &path)
{
    if (!QFileInfo::exists(path))
        return {};
    const KRResult<QVariant> list = KRPropertyList::propertyListFromFile(path);
    if (!list || list->typeId() != QMetaType::QVariantMap) {
        KR_LOG(QStringLiteral("Skipping cached headers %1 due to %2")
                   .arg(path, list ? QStringLiteral("a top level that is not a dictionary") : list.error().message()));
        return {};
    }
    return list->toMap();
}
