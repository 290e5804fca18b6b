#include "support/KRTestHTTPServer.h"

#include <network/NetHTTPRequest.h>
#include <KRTestSupport.h>

#include <QElapsedTimer>

#include <gtest/gtest.h>

namespace {

// Rates are checked within a generous range: the throttle must hold a download well below
// the unthrottled loopback speed, near its limit, without stalling it.
TEST(NetThrottle, KeepsADownloadNearTheLimit)
{
    KRTestHTTPServer server;
    ASSERT_TRUE(server.start());
    const qint64 size = 768 * 1024;
    server.route("/big", [size](const KRTestRequest &) {
        KRTestResponse r;
        r.generatedBodyLength = size;
        return r;
    });
    const std::uint64_t limit = 256 * 1024;
    NetHTTPRequest::setMaxBandwidthPerSecond(limit);
    EXPECT_TRUE(NetHTTPRequest::isBandwidthThrottled());
    auto r = NetHTTPRequest::requestWithURL(server.url("/big"));
    r->setTimeOutSeconds(5);
    bool done = false;
    r->setCompletionBlock([&] { done = true; });
    r->setFailedBlock([&] { done = true; });
    QElapsedTimer timer;
    timer.start();
    r->startAsynchronous();
    const bool finished = KRTest::processEventsUntil([&] { return done; }, std::chrono::seconds(30));
    const double seconds = double(timer.elapsed()) / 1000.0;
    NetHTTPRequest::setMaxBandwidthPerSecond(0);
    ASSERT_TRUE(finished);
    ASSERT_FALSE(r->error()) << r->error().toString().toStdString();
    EXPECT_EQ(r->responseData().size(), size);
    const double rate = double(size) / seconds;
    // 768 KiB at 256 KiB/s: about three seconds; the first second may burst.
    EXPECT_GT(seconds, 1.5);
    EXPECT_LT(rate, 2.0 * double(limit));
    EXPECT_GT(rate, 0.25 * double(limit));
    EXPECT_GT(NetHTTPRequest::averageBandwidthUsedPerSecond(), 0u);
    server.stop();
}

TEST(NetThrottle, UploadReadLengthWithoutALimitIsZero)
{
    NetHTTPRequest::setMaxBandwidthPerSecond(0);
    EXPECT_FALSE(NetHTTPRequest::isBandwidthThrottled());
    EXPECT_EQ(NetHTTPRequest::maxUploadReadLength(), 0u);
}

} // namespace

namespace {

TEST(NetThrottle, ThrottledUploadStillCompletes)
{
    KRTestHTTPServer server;
    ASSERT_TRUE(server.start());
    server.route("/up", [](const KRTestRequest &r) { return KRTestResponse::text(QByteArray::number(r.body.size())); });
    const QByteArray body(256 * 1024, 'u');
    NetHTTPRequest::setMaxBandwidthPerSecond(128 * 1024);
    auto r = NetHTTPRequest::requestWithURL(server.url("/up"));
    r->appendPostData(body);
    r->setTimeOutSeconds(10);
    QElapsedTimer timer;
    timer.start();
    bool done = false;
    r->setCompletionBlock([&] { done = true; });
    r->setFailedBlock([&] { done = true; });
    r->startAsynchronous();
    const bool finished = KRTest::processEventsUntil([&] { return done; }, std::chrono::seconds(40));
    NetHTTPRequest::setMaxBandwidthPerSecond(0);
    ASSERT_TRUE(finished);
    ASSERT_FALSE(r->error()) << r->error().toString().toStdString();
    EXPECT_EQ(r->responseData(), QByteArray::number(body.size()));
    EXPECT_GT(timer.elapsed(), 700);
    server.stop();
}

} // namespace

#include <network/NetInputStream.h>

namespace {

TEST(NetThrottle, ExhaustedAllowanceReadsOneByteAtATime)
{
    NetHTTPRequest::setMaxBandwidthPerSecond(8);
    NetHTTPRequest::measureBandwidthUsage();
    NetHTTPRequest::incrementBandwidthUsedInLastSecond(100); // well over this second's limit
    auto stream = NetInputStream::inputStreamWithData(QByteArray("abcdef"), {});
    ASSERT_TRUE(stream->open());
    char buffer[16];
    EXPECT_EQ(stream->read(buffer, sizeof buffer), 1);
    EXPECT_EQ(buffer[0], 'a');
    NetHTTPRequest::setMaxBandwidthPerSecond(0);
    EXPECT_EQ(stream->read(buffer, sizeof buffer), 5);
}

} // namespace
