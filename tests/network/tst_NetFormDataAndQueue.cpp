#include "support/KRTestHTTPServer.h"

#include <network/NetFormDataRequest.h>
#include <network/NetRequestQueue.h>
#include <KRTestSupport.h>

#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>

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
    queue->setMaxConcurrentOperationCount(1);
    queue->addOperation(NetHTTPRequest::requestWithURL(server.url("/data")));
    queue->addOperation(NetHTTPRequest::requestWithURL(server.url("/data")));
    queue->go();
    ASSERT_TRUE(KRTest::processEventsUntil([&] { return done; }));
    QByteArrayList methods;
    for (const auto &r : server.requests())
        methods << r.method;
    // The HEAD twins go first, one at a time: both sizes are known before any download.
    EXPECT_EQ(methods, QByteArrayList({"HEAD", "HEAD", "GET", "GET"}));
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

// Random bytes, so that a shifted or cut copy never compares equal.
QByteArray randomBytes(qsizetype size)
{
    QByteArray bytes(size, Qt::Uninitialized);
    QRandomGenerator(7).fillRange(reinterpret_cast<quint32 *>(bytes.data()), size / 4);
    return bytes;
}

QByteArray multipartFile(const QByteArray &boundary, const QByteArray &value, const QByteArray &file)
{
    return "--" + boundary + "\r\nContent-Disposition: form-data; name=\"v\"\r\n\r\n" + value + "\r\n--" + boundary
           + "\r\nContent-Disposition: form-data; name=\"f\"; filename=\"blob.bin\"\r\n"
             "Content-Type: application/octet-stream\r\n\r\n" + file + "\r\n--" + boundary + "--\r\n";
}

std::shared_ptr<NetFormDataRequest> fileForm(const QUrl &url, const QString &file, const QString &value = QString())
{
    auto r = NetFormDataRequest::requestWithURL(url);
    if (!value.isNull())
        r->addPostValue(value, QStringLiteral("v"));
    r->addFile(file, QStringLiteral("blob.bin"), QStringLiteral("application/octet-stream"), QStringLiteral("f"));
    return r;
}

TEST_F(FormAndQueueTest, FileIsStreamedFromDiskAndArrivesByteIdentical)
{
    const QByteArray content = randomBytes(3 * 1024 * 1024 + 5);
    const QString file = KRTest::makeTempDir() + "/blob.bin";
    KRTest::writeFile(file, content);
    auto r = fileForm(server.url("/upload"), file, QStringLiteral("x"));
    r->startSynchronous();
    ASSERT_FALSE(r->error()) << r->error().toString().toStdString();
    const QByteArray expected = multipartFile(r->boundary().toLatin1(), "x", content);
    ASSERT_EQ(server.requests().size(), 1);
    EXPECT_TRUE(server.requests()[0].body == expected);
    EXPECT_EQ(r->postLength(), std::uint64_t(expected.size()));
    // Read from the file while sending: neither held in memory nor copied to a body file.
    EXPECT_TRUE(r->postBody().isEmpty() && r->postBodyFilePath().isEmpty());

    // An accurate queue measures the body when the request is added. A file that shrinks
    // after that fails the upload instead of sending a cut body; one that vanished fails
    // the request, and the queue still finishes.
    auto queue = NetRequestQueue::queue();
    queue->showAccurateProgress = true;
    queue->shouldCancelAllRequestsOnFailure = false;
    bool done = false;
    queue->onQueueFinished = [&] { done = true; };
    auto shrunk = fileForm(server.url("/upload"), file);
    queue->addOperation(shrunk);
    EXPECT_EQ(queue->totalBytesToUpload(), shrunk->postLength());
    const QString goneFile = KRTest::makeTempDir() + "/blob.bin";
    KRTest::writeFile(goneFile, content);
    auto gone = fileForm(server.url("/upload"), goneFile);
    QFile::remove(goneFile);
    queue->addOperation(gone);
    KRTest::writeFile(file, content.left(1000));
    queue->go();
    ASSERT_TRUE(KRTest::processEventsUntil([&] { return done; }));
    EXPECT_EQ(shrunk->error().code(), 8);
    EXPECT_TRUE(shrunk->error().message().contains(QStringLiteral("changed while it was being sent")));
    EXPECT_EQ(gone->error().code(), 6);
    EXPECT_EQ(server.requests().size(), 1);
}

TEST_F(FormAndQueueTest, CopyKeepsTheForm)
{
    const QString file = KRTest::makeTempDir() + "/blob.bin";
    KRTest::writeFile(file, "file bytes");
    auto original = fileForm(server.url("/upload"), file, QString::fromUtf8("caf\u00e9"));
    original->setStringEncoding(QStringLiteral("iso-8859-1"));
    original->startSynchronous();
    ASSERT_FALSE(original->error());

    // Copied after the original sent its body, then sent on its own.
    auto copy = std::dynamic_pointer_cast<NetFormDataRequest>(original->copy());
    ASSERT_TRUE(copy);
    EXPECT_EQ(copy->stringEncoding(), QStringLiteral("iso-8859-1"));
    original.reset();
    copy->startSynchronous();
    ASSERT_FALSE(copy->error()) << copy->error().toString().toStdString();
    const auto sent = server.requests();
    ASSERT_EQ(sent.size(), 2);
    EXPECT_EQ(sent[1].body, multipartFile(copy->boundary().toLatin1(), "caf\xe9", "file bytes"));
    EXPECT_EQ(sent[1].body, sent[0].body);
    EXPECT_EQ(sent[1].header("Content-Type"), sent[0].header("Content-Type"));
}

TEST_F(FormAndQueueTest, StringEncodingNamesTheCharsetAndEncodesTheText)
{
    const QString text = QString::fromUtf8("za\u017c\u00f3\u0142\u0107 &");
    auto urlEncoded = NetFormDataRequest::requestWithURL(server.url("/form"));
    urlEncoded->setStringEncoding(QStringLiteral("ISO-8859-2"));
    urlEncoded->addPostValue(text, QString::fromUtf8("k\u0142"));
    auto multipart = NetFormDataRequest::requestWithURL(server.url("/form"));
    multipart->setStringEncoding(QStringLiteral("iso-8859-2"));
    multipart->addPostValue(text, QStringLiteral("v"));
    multipart->addData("\xff\xfe", QString::fromUtf8("\u017c.bin"), QString(), QStringLiteral("d"));
    // Text the encoding cannot hold, and an unknown encoding, fail instead of sending "?".
    auto unrepresentable = NetFormDataRequest::requestWithURL(server.url("/form"));
    unrepresentable->setStringEncoding(QStringLiteral("iso-8859-1"));
    unrepresentable->addPostValue(QString::fromUtf8("\u20ac5"), QStringLiteral("price"));
    auto unknown = NetFormDataRequest::requestWithURL(server.url("/form"));
    unknown->setStringEncoding(QStringLiteral("no-such-encoding\r\nX: 1"));
    unknown->addPostValue(QStringLiteral("1"), QStringLiteral("a"));
    for (const auto &r : {urlEncoded, multipart, unrepresentable, unknown})
        r->startSynchronous();

    const auto sent = server.requests();
    ASSERT_EQ(sent.size(), 2);
    EXPECT_EQ(sent[0].header("Content-Type"), QByteArray("application/x-www-form-urlencoded; charset=iso-8859-2"));
    EXPECT_EQ(sent[0].body, QByteArray("k%B3=za%BF%F3%B3%E6%20%26"));
    const QByteArray b = multipart->boundary().toLatin1();
    EXPECT_EQ(sent[1].header("Content-Type"), "multipart/form-data; charset=iso-8859-2; boundary=" + b);
    EXPECT_EQ(sent[1].body, "--" + b + "\r\nContent-Disposition: form-data; name=\"v\"\r\n\r\nza\xbf\xf3\xb3\xe6 &\r\n--" + b
                                + "\r\nContent-Disposition: form-data; name=\"d\"; filename=\"\xbf.bin\"\r\n"
                                  "Content-Type: application/octet-stream\r\n\r\n\xff\xfe\r\n--" + b + "--\r\n");
    EXPECT_EQ(unrepresentable->error().code(), 6);
    EXPECT_EQ(unknown->error().code(), 6);
}

TEST_F(FormAndQueueTest, QueueUploadProgressEndsAtOne)
{
    const QString file = KRTest::makeTempDir() + "/blob.bin";
    KRTest::writeFile(file, randomBytes(2 * 1024 * 1024));
    server.route("/get", [](const KRTestRequest &) { return KRTestResponse::text("page"); });
    server.route("/see-other", [](const KRTestRequest &) { return KRTestResponse::redirect(303, "/get"); });
    server.route("/temporary", [](const KRTestRequest &) { return KRTestResponse::redirect(307, "/echo"); });
    server.route("/private", [](const KRTestRequest &r) {
        return KRTestHTTPServer::basicAuth(r, "ann", "secret", "Area", KRTestResponse::text("in"));
    });
    // Answers that do not say how long they are: the download is one step, the upload is
    // still counted in bytes.
    server.route("/chunked", [](const KRTestRequest &r) {
        KRTestResponse resp = KRTestResponse::text(r.body.left(10));
        resp.chunked = true;
        return resp;
    });
    server.route("/closed", [](const KRTestRequest &r) {
        KRTestResponse resp = KRTestResponse::text(r.body.left(10));
        resp.noContentLength = true;
        return resp;
    });
    for (const bool accurate : {false, true}) {
        SCOPED_TRACE(accurate ? "accurate" : "one unit per request");
        auto queue = NetRequestQueue::queue();
        queue->showAccurateProgress = accurate;
        auto upload = std::make_shared<Bar>();
        queue->setUploadProgressDelegate(upload);
        bool done = false;
        queue->onQueueFinished = [&] { done = true; };
        // A memory body, a file body, no body, and bodies sent again after a redirection or
        // an authentication challenge, or dropped by a redirection to a GET.
        QList<std::shared_ptr<NetHTTPRequest>> requests{fileForm(server.url("/file"), file)};
        for (const char *path : {"/memory", "/get", "/see-other", "/temporary", "/private", "/chunked", "/closed"}) {
            auto r = NetHTTPRequest::requestWithURL(server.url(QString::fromLatin1(path)));
            if (qstrcmp(path, "/get") != 0)
                r->appendPostData(randomBytes(300 * 1024));
            r->setUsername(QStringLiteral("ann"));
            r->setPassword(QStringLiteral("secret"));
            requests << r;
        }
        for (const auto &r : requests)
            queue->addOperation(r);
        queue->go();
        ASSERT_TRUE(KRTest::processEventsUntil([&] { return done; }));
        KRTest::processEventsUntil([] { return false; }, std::chrono::milliseconds(50));
        for (const auto &r : requests)
            EXPECT_FALSE(r->error()) << r->url().toString().toStdString();
        if (!accurate) {
            EXPECT_EQ(queue->totalBytesToUpload(), 8u);
        }
        EXPECT_EQ(queue->bytesUploadedSoFar(), queue->totalBytesToUpload());
        ASSERT_FALSE(upload->values.empty());
        EXPECT_EQ(upload->values.back(), 1.0);
        EXPECT_EQ(queue->bytesDownloadedSoFar(), queue->totalBytesToDownload());
    }
}

TEST_F(FormAndQueueTest, QueueCopyCarriesSettingsButNoRequests)
{
    auto queue = NetRequestQueue::queue();
    auto bar = std::make_shared<Bar>();
    int queueDone = 0;
    queue->onQueueFinished = [&] { ++queueDone; };
    queue->setUploadProgressDelegate(bar);
    queue->shouldCancelAllRequestsOnFailure = false;
    queue->showAccurateProgress = true;
    queue->userInfo.insert(QStringLiteral("id"), 7);
    queue->addOperation(NetHTTPRequest::requestWithURL(server.url("/a")));

    auto copy = queue->copy();
    EXPECT_FALSE(copy->shouldCancelAllRequestsOnFailure);
    EXPECT_TRUE(copy->showAccurateProgress);
    EXPECT_EQ(copy->userInfo.value(QStringLiteral("id")).toInt(), 7);
    EXPECT_TRUE(copy->isSuspended());
    EXPECT_EQ(copy->operationCount(), 0);
    auto r = NetHTTPRequest::requestWithURL(server.url("/b"));
    r->setPostBody("12345");
    copy->addOperation(r);
    copy->go();
    ASSERT_TRUE(KRTest::processEventsUntil([&] { return queueDone == 1; }));
    EXPECT_EQ(server.requests().value(0).path(), QByteArray("/b"));
    EXPECT_EQ(bar->values.back(), 1.0);
    queue->go();
    ASSERT_TRUE(KRTest::processEventsUntil([&] { return queueDone == 2; }));
}

} // namespace
