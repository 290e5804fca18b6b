#include "support/KRTestHTTPServer.h"

#include <network/KRNewsController.h>
#include <core/KRPropertyList.h>
#include <core/KRRunLogger.h>
#include <platform/foundation/KRUserDefaults.h>
#include <KRTestSupport.h>
#include <KRXMLAllocationGuard.h>

#include <QJsonDocument>
#include <QJsonObject>
#include <QThread>

#include <gtest/gtest.h>

namespace {

class KRNewsControllerTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(server.start());
        server.installHostingAPI();
        KRUserDefaults &defaults = KRUserDefaults::sharedInstance();
        defaults.setValue(QStringLiteral("apiURL"), server.url("/api.php").toString());
        defaults.setValue(QStringLiteral("insecureSiteURL"), server.url("/").toString());
        readState = KRTest::makeTempDir(QStringLiteral("news")) + QStringLiteral("/read-news-items.plist");
    }
    void TearDown() override { server.stop(); }

    // Loads the feed into a new controller keeping its read state in readState.
    std::unique_ptr<KRNewsController> loadedController()
    {
        auto news = std::make_unique<KRNewsController>(readState);
        news->loadRSS();
        EXPECT_TRUE(KRTest::processEventsUntil([&] { return !news->newsItems().isEmpty(); }));
        return news;
    }
    int requestsTo(const QByteArray &path) const
    {
        int count = 0;
        for (const KRTestRequest &request : server.requests())
            count += request.path() == path ? 1 : 0;
        return count;
    }
    // Answers the "feedURL" call with `reply`.
    void answerFeedURL(const QJsonObject &reply)
    {
        server.route("/api.php", [reply](const KRTestRequest &) {
            return KRTestResponse::text(QJsonDocument(reply).toJson(), 200, "application/json");
        });
    }
    static QString runLogText()
    {
        KRRunLogger::sharedInstance().flush();
        return QString::fromUtf8(KRTest::readFile(KRRunLogger::sharedInstance().logURL()));
    }

    KRTestHTTPServer server;
    QString readState;
};

TEST_F(KRNewsControllerTest, ListsTheHostedFeedsItemsAsUnread)
{
    auto news = std::make_unique<KRNewsController>(readState);
    int changes = 0;
    QObject::connect(news.get(), &KRNewsController::newsItemsChanged, [&] { ++changes; });
    news->loadRSS();
    ASSERT_TRUE(KRTest::processEventsUntil([&] { return !news->newsItems().isEmpty(); }));

    // The relative address is joined to the site's address as it stands.
    EXPECT_EQ(news->feedURL(), server.url("/news/feed.rss").toString());
    EXPECT_EQ(news->baseURL(), QStringLiteral("https://news.example.com/"));
    const QList<KRNewsItem> items = news->newsItems();
    ASSERT_EQ(items.size(), 3);
    EXPECT_EQ(items[1].title, QStringLiteral("Tips & tricks: grids"));
    EXPECT_EQ(items[1].description, QStringLiteral("<p>Item 1 of the news.</p>"));
    EXPECT_EQ(items[1].published, QStringLiteral("Wed Dec 02 10:30:00 +0000 2026"));
    EXPECT_EQ(items[1].link, QStringLiteral("https://news.example.com/post?id=1&ref=app%20feed"));
    EXPECT_EQ(items[2].title, QStringLiteral("Café meet-up"));
    EXPECT_EQ(news->unreadCount(), 3);
    EXPECT_EQ(changes, 1);

    // The address, once known, is not asked for again.
    news->loadRSS();
    ASSERT_TRUE(KRTest::processEventsUntil([&] { return changes == 2; }));
    EXPECT_EQ(requestsTo("/api.php"), 1);
    EXPECT_EQ(requestsTo("/news/feed.rss"), 2);
}

TEST_F(KRNewsControllerTest, ReadStateIsWrittenAndSurvivesARestart)
{
    {
        auto news = loadedController();
        int changes = 0;
        QObject::connect(news.get(), &KRNewsController::newsItemsChanged, [&] { ++changes; });
        news->markIndexAsRead(-1);
        news->markIndexAsRead(3);
        EXPECT_EQ(changes, 0);
        EXPECT_FALSE(QFileInfo::exists(readState));

        news->markIndexAsRead(1);
        EXPECT_EQ(changes, 1);
        EXPECT_FALSE(news->newsItems()[1].unread);
        EXPECT_EQ(news->unreadCount(), 2);
        news->markIndexAsRead(1); // already read: nothing changes
        EXPECT_EQ(changes, 1);
    }
    const KRResult<QVariant> stored = KRPropertyList::propertyListFromFile(readState);
    ASSERT_TRUE(stored.ok());
    EXPECT_EQ(stored.value().toMap().keys(),
              QStringList{QStringLiteral("https://news.example.com/post?id=1&ref=app%20feed")});
    EXPECT_TRUE(QDir(QFileInfo(readState).path()).entryList(QDir::Files | QDir::Hidden).size() == 1)
        << "the state is written through a temporary file renamed over it";

    {
        auto news = loadedController();
        EXPECT_EQ(news->unreadCount(), 2);
        EXPECT_FALSE(news->newsItems()[1].unread);
        news->markAllAsRead();
        EXPECT_EQ(news->unreadCount(), 0);
    }
    EXPECT_EQ(loadedController()->unreadCount(), 0);

    // A damaged file is an empty read state.
    KRTest::writeFile(readState, "<plist><dict><key>x");
    EXPECT_EQ(loadedController()->unreadCount(), 3);
}

TEST_F(KRNewsControllerTest, AReplyWithoutAFeedAddressIsLoggedAndNotAskedAgain)
{
    auto news = std::make_unique<KRNewsController>(readState);
    for (const QJsonObject &reply :
         {QJsonObject{{QStringLiteral("result"), QStringLiteral("OK")}},
          QJsonObject{{QStringLiteral("result"), QStringLiteral("OK")}, {QStringLiteral("feedURL"), 42}},
          QJsonObject{{QStringLiteral("result"), QStringLiteral("ERR")}, {QStringLiteral("feedURL"), QStringLiteral("x.rss")}}}) {
        server.clearLog();
        answerFeedURL(reply);
        news->loadRSS();
        ASSERT_TRUE(KRTest::processEventsUntil([&] { return server.requestCount() >= 1; }));
        KRTest::processEventsUntil([] { return false; }, std::chrono::milliseconds(300));
        EXPECT_EQ(server.requestCount(), 1) << QJsonDocument(reply).toJson().toStdString();
        EXPECT_TRUE(news->feedURL().isEmpty());
        EXPECT_TRUE(news->newsItems().isEmpty());
    }
    EXPECT_TRUE(runLogText().contains(QStringLiteral("feed URL error: the reply names no feed")));
}

TEST_F(KRNewsControllerTest, AnAbsoluteFeedAddressIsUsedAsItIsAndABadFeedChangesNothing)
{
    const QString feed = server.url("/other/feed.rss").toString();
    answerFeedURL({{QStringLiteral("result"), QStringLiteral("OK")}, {QStringLiteral("feedURL"), feed}});
    QByteArray body = KRTestHTTPServer::newsFeed(2);
    server.route("/other/feed.rss", [&body](const KRTestRequest &) { return KRTestResponse::text(body); });
    auto news = loadedController();
    EXPECT_EQ(news->feedURL(), feed);
    EXPECT_EQ(news->newsItems().size(), 2);

    body = "<rss><channel><item>"; // cut off
    news->loadRSS();
    ASSERT_TRUE(KRTest::processEventsUntil([&] { return requestsTo("/other/feed.rss") == 2; }));
    KRTest::processEventsUntil([] { return false; }, std::chrono::milliseconds(200));
    EXPECT_EQ(news->newsItems().size(), 2);
}

// A feed whose DOCTYPE declares entities nested nine levels deep, used in an item's title
// and in an attribute, stands for gigabytes of text: it is refused at the first declaration
// (the run log says why) and the items shown stay as they were.
TEST_F(KRNewsControllerTest, AFeedThatDeclaresEntitiesIsRefusedAtOnce)
{
    QByteArray body = KRTestHTTPServer::newsFeed(2);
    server.route("/news/feed.rss", [&body](const KRTestRequest &) { return KRTestResponse::text(body, 200, "application/rss+xml"); });
    auto news = loadedController();
    ASSERT_EQ(news->newsItems().size(), 2);

    QByteArray declarations = "<!ENTITY n0 \"lol\">";
    for (int level = 1; level <= 9; ++level)
        declarations += "<!ENTITY n" + QByteArray::number(level) + " \""
            + QByteArray("&n" + QByteArray::number(level - 1) + ';').repeated(10) + "\">";
    body = "<?xml version=\"1.0\"?>\n<!DOCTYPE rss [" + declarations + "]>\n<rss version=\"&n9;\"><channel>"
           "<link>https://news.example.com/</link><item><title>&n9;</title>"
           "<link>https://news.example.com/bomb</link></item></channel></rss>\n";
    const int before = requestsTo("/news/feed.rss");
    KRTest::XMLAllocationGuard guard(64 << 20);
    news->loadRSS();
    ASSERT_TRUE(KRTest::processEventsUntil([&] { return runLogText().contains(QStringLiteral("declares the entity")); }));
    EXPECT_EQ(requestsTo("/news/feed.rss"), before + 1);
    EXPECT_LT(guard.requested(), std::size_t(4) << 20);
    ASSERT_EQ(news->newsItems().size(), 2);
    EXPECT_EQ(news->newsItems().first().title, QStringLiteral("Version 2 is out"));
}

} // namespace
