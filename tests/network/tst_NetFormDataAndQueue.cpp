#include "support/KRTestHTTPServer.h"

#include <network/NetFormDataRequest.h>
#include <network/NetRequestQueue.h>
#include <KRTestSupport.h>

#include <gtest/gtest.h>

namespace {

class FormAndQueueTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(server.start());
        server.setFallback([](const KRTestRequest &r) { return KRTestResponse::text(r.body); });
    }
    void TearDown() override { server.stop(); }
    KRTestHTTPServer server;
};

TEST_F(FormAndQueueTest, URLEncodedBody)
{
    auto r = NetFormDataRequest::requestWithURL(server.url("/form"));
    r->addPostValue(1, QStringLiteral("a"));
    r->addPostValue(QStringLiteral("two words~&="), QStringLiteral("b"));
    r->startSynchronous();
    ASSERT_FALSE(r->error());
    EXPECT_EQ(r->responseData(), QByteArray("a=1&b=two%20words%7E%26%3D"));
    EXPECT_EQ(server.requests()[0].header("Content-Type"), QByteArray("application/x-www-form-urlencoded; charset=utf-8"));
    EXPECT_EQ(server.requests()[0].method, QByteArray("POST"));
}

TEST_F(FormAndQueueTest, MultipartWithAValueAndAFile)
{
    const QString file = KRTest::makeTempDir() + "/notes.txt";
    KRTest::writeFile(file, "file body");
    auto r = NetFormDataRequest::requestWithURL(server.url("/form"));
    r->addPostValue(QStringLiteral("v"), QStringLiteral("na\"me\r\nX-Injected: 1"));
    r->addFile(file, QStringLiteral("upload"));
    r->startSynchronous();
    ASSERT_FALSE(r->error()) << r->error().toString().toStdString();
    const QByteArray b = r->boundary().toLatin1();
    EXPECT_NE(b, QByteArray("0xKhTmLbOuNdArY"));
    const QByteArray expected = "--" + b + "\r\n"
        "Content-Disposition: form-data; name=\"na\\\"meX-Injected: 1\"\r\n\r\nv"
        "\r\n--" + b + "\r\n"
        "Content-Disposition: form-data; name=\"upload\"; filename=\"notes.txt\"\r\n"
        "Content-Type: text/plain\r\n\r\nfile body"
        "\r\n--" + b + "--\r\n";
    EXPECT_EQ(r->responseData(), expected);
    EXPECT_EQ(server.requests()[0].header("Content-Type"), "multipart/form-data; charset=utf-8; boundary=" + b);

    auto other = NetFormDataRequest::requestWithURL(server.url("/form"));
    EXPECT_NE(other->boundary(), r->boundary());
}

TEST_F(FormAndQueueTest, AFolderInsteadOfAFileFailsWithCode6)
{
    auto r = NetFormDataRequest::requestWithURL(server.url("/form"));
    r->addFile(KRTest::makeTempDir(), QStringLiteral("f"));
    r->startSynchronous();
    EXPECT_EQ(r->error().code(), 6);
    EXPECT_TRUE(r->error().message().startsWith(QStringLiteral("No file exists at ")));
}

TEST_F(FormAndQueueTest, QueueWaitsForGoAndCountsEachRequestOnce)
{
    auto queue = NetRequestQueue::queue();
    int finished = 0, queueDone = 0;
    queue->onRequestFinished = [&](const NetHTTPRequestPtr &) { ++finished; };
    queue->onQueueFinished = [&] { ++queueDone; };
    auto a = NetHTTPRequest::requestWithURL(server.url("/a"));
    auto b = NetHTTPRequest::requestWithURL(server.url("/b"));
    queue->addOperation(a);
    queue->addOperation(b);
    KRTest::processEventsUntil([] { return false; }, std::chrono::milliseconds(100));
    EXPECT_EQ(server.requestCount(), 0);
    EXPECT_EQ(queue->totalBytesToDownload(), 2u);
    EXPECT_EQ(queue->totalBytesToUpload(), 2u);
    queue->go();
    ASSERT_TRUE(KRTest::processEventsUntil([&] { return queueDone > 0; }));
    EXPECT_EQ(finished, 2);
    EXPECT_EQ(queueDone, 1);
    EXPECT_EQ(queue->requestsCount(), 0);
}

TEST_F(FormAndQueueTest, FirstFailureCancelsTheRest)
{
    server.route("/stall", [](const KRTestRequest &) { return KRTestResponse::stalled(); });
    const QUrl dead = QUrl(QStringLiteral("http://127.0.0.1:1/refused"));
    auto queue = NetRequestQueue::queue();
    int failed = 0;
    queue->onRequestFailed = [&](const NetHTTPRequestPtr &) { ++failed; };
    auto s1 = NetHTTPRequest::requestWithURL(server.url("/stall"));
    auto s2 = NetHTTPRequest::requestWithURL(server.url("/stall"));
    auto bad = NetHTTPRequest::requestWithURL(dead);
    queue->addOperation(s1);
    queue->addOperation(s2);
    queue->addOperation(bad);
    queue->go();
    ASSERT_TRUE(KRTest::processEventsUntil([&] { return failed == 3; }));
    EXPECT_EQ(bad->error().code(), 1);
    EXPECT_EQ(s1->error().code(), 4);
    EXPECT_EQ(s2->error().code(), 4);
}

struct Bar : NetProgressDelegate {
    double max = 0, value = -1;
    std::vector<double> values;
    void setMaxValue(double v) override { max = v; }
    void setDoubleValue(double v) override { value = v; values.push_back(v); }
};

TEST_F(FormAndQueueTest, QueueAddsUpAccurateProgress)
{
    server.route("/data", [](const KRTestRequest &) { return KRTestResponse::text(QByteArray(50000, 'd')); });
    auto queue = NetRequestQueue::queue();
    queue->showAccurateProgress = true;
    auto bar = std::make_shared<Bar>();
    queue->setDownloadProgressDelegate(bar);
    bool done = false;
    queue->onQueueFinished = [&] { done = true; };
    queue->addOperation(NetHTTPRequest::requestWithURL(server.url("/data")));
    queue->addOperation(NetHTTPRequest::requestWithURL(server.url("/data")));
    queue->go();
    ASSERT_TRUE(KRTest::processEventsUntil([&] { return done; }));
    EXPECT_EQ(queue->totalBytesToDownload(), 100000u);
    EXPECT_EQ(queue->bytesDownloadedSoFar(), 100000u);
    EXPECT_DOUBLE_EQ(bar->value, 1.0);
    // HEAD twins learnt the sizes first.
    int heads = 0;
    for (const auto &r : server.requests())
        heads += r.method == "HEAD" ? 1 : 0;
    EXPECT_EQ(heads, 2);
}

TEST_F(FormAndQueueTest, RequestProgressDelegateEndsAtOne)
{
    server.route("/data", [](const KRTestRequest &) { return KRTestResponse::text(QByteArray(300000, 'p')); });
    auto bar = std::make_shared<Bar>();
    auto r = NetHTTPRequest::requestWithURL(server.url("/data"));
    r->setDownloadProgressDelegate(bar);
    bool done = false;
    r->setCompletionBlock([&] { done = true; });
    r->startAsynchronous();
    ASSERT_TRUE(KRTest::processEventsUntil([&] { return done; }));
    KRTest::processEventsUntil([] { return false; }, std::chrono::milliseconds(50));
    EXPECT_DOUBLE_EQ(bar->max, 1.0);
    ASSERT_FALSE(bar->values.empty());
    EXPECT_DOUBLE_EQ(bar->values.back(), 1.0);
    EXPECT_TRUE(std::is_sorted(bar->values.begin(), bar->values.end()));
}

} // namespace
