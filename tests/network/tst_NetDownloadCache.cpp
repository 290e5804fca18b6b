#include "support/KRTestHTTPServer.h"

#include <network/NetDownloadCache.h>
#include <network/NetHTTPRequest.h>
#include <platform/foundation/KRException.h>
#include <KRTestSupport.h>

#include <QDir>
#include <QFile>

#include <gtest/gtest.h>

namespace {

class NetDownloadCacheTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(server.start());
        cache = std::make_shared<NetDownloadCache>();
        cache->setStoragePath(KRTest::makeTempDir() + "/cache");
    }
    void TearDown() override { server.stop(); }

    std::shared_ptr<NetHTTPRequest> get(const QString &path, int storagePolicy = 0)
    {
        auto r = NetHTTPRequest::requestWithURL(server.url(path), cache);
        r->setCacheStoragePolicy(storagePolicy);
        r->startSynchronous();
        return r;
    }

    KRTestHTTPServer server;
    std::shared_ptr<NetDownloadCache> cache;
};

TEST_F(NetDownloadCacheTest, KeysAndFileNames)
{
    const QUrl a(QStringLiteral("http://example.com/images/x.png"));
    EXPECT_EQ(NetDownloadCache::keyForURL(QUrl(QStringLiteral("http://example.com/dir/"))),
              NetDownloadCache::keyForURL(QUrl(QStringLiteral("http://example.com/dir"))));
    const QString key = NetDownloadCache::keyForURL(a);
    EXPECT_EQ(key.size(), 32);
    EXPECT_EQ(key, key.toUpper());
}

TEST_F(NetDownloadCacheTest, FreshCopyIsServedWithoutTheNetwork)
{
    server.route("/thumb.png", [](const KRTestRequest &r) {
        return KRTestHTTPServer::cacheable(r, "PNGDATA", "\"v1\"", "max-age=600");
    });
    auto first = get("/thumb.png", 1);
    ASSERT_FALSE(first->error());
    EXPECT_FALSE(first->didUseCachedResponse());
    const QString data = cache->pathToCachedResponseDataForURL(server.url("/thumb.png"));
    EXPECT_TRUE(data.endsWith(QStringLiteral(".png")));
    EXPECT_TRUE(data.contains(QStringLiteral("PermanentStore")));
    const QVariantMap headers = cache->cachedResponseHeadersForURL(server.url("/thumb.png"));
    EXPECT_EQ(headers.value(QStringLiteral("X-NetHTTPRequest-Response-Status-Code")).toInt(), 200);
    EXPECT_TRUE(headers.contains(QStringLiteral("X-NetHTTPRequest-Expires")));

    auto second = get("/thumb.png", 1);
    EXPECT_TRUE(second->didUseCachedResponse());
    EXPECT_EQ(second->responseData(), QByteArray("PNGDATA"));
    EXPECT_EQ(second->responseStatusCode(), 200);
    EXPECT_EQ(server.requestCount(), 1);
}

TEST_F(NetDownloadCacheTest, StaleCopyIsRevalidatedWith304)
{
    server.route("/img.png", [](const KRTestRequest &r) {
        // No max-age: stored without expiry, so never current without asking.
        return KRTestHTTPServer::cacheable(r, "IMAGE", "\"tag7\"", "");
    });
    auto first = get("/img.png");
    ASSERT_FALSE(first->error());
    auto second = get("/img.png");
    ASSERT_FALSE(second->error()) << second->error().toString().toStdString();
    ASSERT_EQ(server.requestCount(), 2);
    EXPECT_EQ(server.requests()[1].header("If-None-Match"), QByteArray("\"tag7\""));
    EXPECT_TRUE(second->didUseCachedResponse());
    EXPECT_EQ(second->responseData(), QByteArray("IMAGE"));
}

TEST_F(NetDownloadCacheTest, NoStoreInADirectiveListIsHonoured)
{
    for (const QByteArray &cc : {QByteArray("no-store"), QByteArray("private, no-store"), QByteArray("no-cache, max-age=60")}) {
        const QByteArray path = "/p" + QByteArray::number(qHash(cc));
        server.route(path, [cc](const KRTestRequest &r) { return KRTestHTTPServer::cacheable(r, "x", "\"e\"", cc); });
        auto r = get(QString::fromLatin1(path));
        ASSERT_FALSE(r->error());
        EXPECT_TRUE(cache->pathToCachedResponseDataForURL(server.url(QString::fromLatin1(path))).isEmpty()) << cc.constData();
    }
}

TEST_F(NetDownloadCacheTest, ErrorStatusIsNotStored)
{
    server.route("/missing", [](const KRTestRequest &) { return KRTestResponse::text("no", 404); });
    get("/missing");
    EXPECT_TRUE(cache->pathToCachedResponseDataForURL(server.url("/missing")).isEmpty());
}

TEST_F(NetDownloadCacheTest, FallbackToCacheWhenTheLoadFails)
{
    server.route("/f.png", [](const KRTestRequest &r) { return KRTestHTTPServer::cacheable(r, "KEEP", "\"a\"", "max-age=1"); });
    get("/f.png");
    const QUrl url = server.url("/f.png");
    server.stop();
    auto r = NetHTTPRequest::requestWithURL(url, cache, 64); // only when the load fails
    r->startSynchronous();
    EXPECT_FALSE(r->error());
    EXPECT_TRUE(r->didUseCachedResponse());
    EXPECT_EQ(r->responseData(), QByteArray("KEEP"));
}

TEST_F(NetDownloadCacheTest, SessionStoreIsEmptiedWhenThePathIsSet)
{
    server.route("/s.png", [](const KRTestRequest &r) { return KRTestHTTPServer::cacheable(r, "S", "\"s\"", "max-age=600"); });
    get("/s.png", 0);
    EXPECT_FALSE(cache->pathToCachedResponseDataForURL(server.url("/s.png")).isEmpty());
    cache->setStoragePath(cache->storagePath());
    EXPECT_TRUE(cache->pathToCachedResponseDataForURL(server.url("/s.png")).isEmpty());
}

TEST_F(NetDownloadCacheTest, AFileInTheWayRaisesAndTheSharedCacheSurvives)
{
    const QString blocked = KRTest::makeTempDir() + "/blocked";
    KRTest::writeFile(blocked, "a file");
    NetDownloadCache c;
    try {
        c.setStoragePath(blocked);
        FAIL() << "no exception";
    } catch (const KRException &e) {
        EXPECT_EQ(e.name(), QStringLiteral("FileExistsAtCachePath"));
    }
    // A file where the shared cache's folder belongs: the application runs without a cache.
    KRTest::writeFile(KRTest::sandboxDir() + "/cache/Korvane/NetHTTPRequestCache", "in the way");
    EXPECT_EQ(NetDownloadCache::sharedCache(), nullptr);
}

TEST(NetRFC1123Date, ParsesTheUsualForms)
{
    const QDateTime expected(QDate(1994, 11, 6), QTime(8, 49, 37), Qt::UTC);
    EXPECT_EQ(NetHTTPRequest::dateFromRFC1123String(QStringLiteral("Sun, 06 Nov 1994 08:49:37 GMT")), expected);
    EXPECT_EQ(NetHTTPRequest::dateFromRFC1123String(QStringLiteral("06 Nov 1994 08:49:37 GMT")), expected);
    EXPECT_FALSE(NetHTTPRequest::dateFromRFC1123String(QStringLiteral("yesterday")).isValid());
}

} // namespace

TEST(NetPropertyList, RoundTripsStringsAndNumbers)
{
    const QString path = KRTest::makeTempDir() + "/h.cachedheaders";
    QVariantMap map;
    map.insert(QStringLiteral("Etag"), QStringLiteral("\"v1\" <&>"));
    map.insert(QStringLiteral("X-NetHTTPRequest-Response-Status-Code"), 200);
    map.insert(QStringLiteral("X-NetHTTPRequest-Expires"), 1700000000.5);
    ASSERT_TRUE(NetDownloadCache::writePropertyList(path, map));
    const QVariantMap back = NetDownloadCache::readPropertyList(path);
    EXPECT_EQ(back.value(QStringLiteral("Etag")).toString(), QStringLiteral("\"v1\" <&>"));
    EXPECT_EQ(back.value(QStringLiteral("X-NetHTTPRequest-Response-Status-Code")).toInt(), 200);
    EXPECT_DOUBLE_EQ(back.value(QStringLiteral("X-NetHTTPRequest-Expires")).toDouble(), 1700000000.5);
    if (back.isEmpty())
        ADD_FAILURE() << KRTest::readFile(path).constData();
}

TEST(NetPropertyList, ReadsHeadersWrittenByEarlierVersions)
{
    const QString path = KRTest::makeTempDir() + "/old.cachedheaders";
    KRTest::writeFile(path, R"(<?xml version="1.0" encoding="UTF-8"?>
<!DOCTYPE plist PUBLIC "-//Apple//DTD PLIST 1.0//EN" "http://www.apple.com/DTDs/PropertyList-1.0.dtd">
<plist version="1.0">
    <dict>
        <key>Content-Type</key>
        <string>text/html; charset=utf-8</string>
        <key>X-NetHTTPRequest-Expires</key>
        <real>1700000000.500</real>
        <key>X-NetHTTPRequest-Response-Status-Code</key>
        <integer>200</integer>
    </dict>
</plist>
)");
    const QVariantMap back = NetDownloadCache::readPropertyList(path);
    EXPECT_EQ(back.value(QStringLiteral("Content-Type")).toString(), QStringLiteral("text/html; charset=utf-8"));
    EXPECT_DOUBLE_EQ(back.value(QStringLiteral("X-NetHTTPRequest-Expires")).toDouble(), 1700000000.5);
    EXPECT_EQ(back.value(QStringLiteral("X-NetHTTPRequest-Response-Status-Code")).toInt(), 200);

    KRTest::writeFile(path, "<plist><dict><key>a</key><string>cut");
    EXPECT_TRUE(NetDownloadCache::readPropertyList(path).isEmpty());
    EXPECT_TRUE(NetDownloadCache::readPropertyList(path + ".missing").isEmpty());
}
