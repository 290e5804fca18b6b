#include <platform/foundation/KRMainThread.h>

#include "KRTestSupport.h"

#include <gtest/gtest.h>

#include <QObject>
#include <QStringList>
#include <QThread>

#include <atomic>
#include <memory>
#include <thread>

TEST(KRMainThread, PostedCallsRunLaterInOrderOnTheMainThread)
{
    EXPECT_TRUE(KRMainThread::isMainThread());
    QStringList calls;
    KRMainThread::post([&] { calls << "1"; });
    QObject receiver;
    KRMainThread::post(&receiver, [&] { calls << "2"; });
    // nothing runs before the loop turns
    EXPECT_TRUE(calls.isEmpty());
    ASSERT_TRUE(KRTest::processEventsUntil([&] { return calls.size() == 2; }));
    EXPECT_EQ(calls, (QStringList{"1", "2"}));
}

TEST(KRMainThread, CallsForADestroyedReceiverAreDropped)
{
    bool ran = false, marker = false;
    auto receiver = std::make_unique<QObject>();
    KRMainThread::post(receiver.get(), [&] { ran = true; });
    KRMainThread::postDelayed(1, receiver.get(), [&] { ran = true; });
    receiver.reset();
    KRMainThread::postDelayed(5, [&] { marker = true; });
    ASSERT_TRUE(KRTest::processEventsUntil([&] { return marker; }));
    EXPECT_FALSE(ran);
}

TEST(KRMainThread, PostsFromAWorkerThreadRunOnTheMainThread)
{
    std::atomic<bool> workerWasMain{true};
    bool ranOnMain = false, delayedOnMain = false;
    QObject receiver;
    std::thread worker([&] {
        workerWasMain = KRMainThread::isMainThread();
        KRMainThread::post(&receiver, [&] { ranOnMain = KRMainThread::isMainThread(); });
        KRMainThread::postDelayed(1, &receiver, [&] { delayedOnMain = KRMainThread::isMainThread(); });
    });
    worker.join();
    EXPECT_FALSE(workerWasMain);
    ASSERT_TRUE(KRTest::processEventsUntil([&] { return ranOnMain && delayedOnMain; }));
}
