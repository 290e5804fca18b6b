#include <core/GCDispatch.h>
#include <core/GCDispatchQueue.h>
#include <core/KRRunLogger.h>
#include <platform/foundation/KRException.h>
#include <platform/foundation/KRMainThread.h>

#include "KRTestSupport.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QStringList>
#include <QThread>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <vector>

namespace {

// Events recorded from several threads, read on the main thread.
class EventLog
{
public:
    void add(const QString &event)
    {
        std::lock_guard lock(m_mutex);
        m_events << event;
    }
    QStringList events() const
    {
        std::lock_guard lock(m_mutex);
        return m_events;
    }
    qsizetype size() const { return events().size(); }

private:
    mutable std::mutex m_mutex;
    QStringList m_events;
};

} // namespace

TEST(GCDispatch, BlockChainOnTheBackgroundQueueRunsStrictlyInTurnThenCompletesOnMain)
{
    EventLog log;
    std::atomic<bool> anyOnMain{false};
    bool completionOnMain = false;
    std::vector<GCDispatch::Block> blocks;
    for (int i = 0; i < 3; ++i) {
        blocks.push_back([&, i] {
            log.add(QStringLiteral("start%1").arg(i));
            if (KRMainThread::isMainThread())
                anyOnMain = true;
            // lingers so that a next block started too early would interleave
            std::this_thread::sleep_for(std::chrono::milliseconds(i == 0 ? 30 : 1));
            log.add(QStringLiteral("end%1").arg(i));
        });
    }
    GCDispatch::performBlocksInBackgroundQueue(std::move(blocks), [&] {
        completionOnMain = KRMainThread::isMainThread();
        log.add("completion");
    });
    ASSERT_TRUE(KRTest::processEventsUntil([&] { return log.size() == 7; }));
    EXPECT_EQ(log.events(), (QStringList{"start0", "end0", "start1", "end1", "start2", "end2",
                                         "completion"}));
    EXPECT_FALSE(anyOnMain);
    EXPECT_TRUE(completionOnMain);
}

TEST(GCDispatch, MainQueueChainGivesEachBlockItsOwnTurn)
{
    QStringList log;
    GCDispatch::performBlocksInMainQueue({[&] { log << "a"; }, [&] { log << "b"; }},
                                         [&] { log << "done"; });
    // nothing runs synchronously
    EXPECT_TRUE(log.isEmpty());
    // one turn of the loop runs at most the first block
    QCoreApplication::sendPostedEvents();
    EXPECT_LE(log.size(), 1);
    ASSERT_TRUE(KRTest::processEventsUntil([&] { return log.size() == 3; }));
    EXPECT_EQ(log, (QStringList{"a", "b", "done"}));
}

TEST(GCDispatch, EmptyChainOnlyQueuesTheCompletion)
{
    int completions = 0;
    GCDispatch::performBlocksInMainQueue({}, [&] { ++completions; });
    GCDispatch::performBlocksInMainQueue({});
    EXPECT_EQ(completions, 0);
    ASSERT_TRUE(KRTest::processEventsUntil([&] { return completions == 1; }));
    // and the chain without a completion leaves nothing behind
    QCoreApplication::processEvents();
    EXPECT_EQ(completions, 1);
}

TEST(GCDispatch, DelayInWholeNanoseconds)
{
    EXPECT_EQ(GCDispatch::nanosecondsFromSeconds(0.5), 500000000);
    EXPECT_EQ(GCDispatch::nanosecondsFromSeconds(2.25), 2250000000);
    EXPECT_EQ(GCDispatch::nanosecondsFromSeconds(0.0000000019), 1); // truncated
    EXPECT_EQ(GCDispatch::nanosecondsFromSeconds(0), 0);
    EXPECT_EQ(GCDispatch::nanosecondsFromSeconds(-1), 0);

    std::atomic<bool> background{false};
    bool main = false;
    GCDispatch::performBlock([&] { background = !KRMainThread::isMainThread(); },
                             GCDispatchQueue::backgroundQueue(), 0.01);
    GCDispatch::performBlock([&] { main = KRMainThread::isMainThread(); }, 0.01);
    EXPECT_FALSE(main);
    ASSERT_TRUE(KRTest::processEventsUntil([&] { return background && main; }));
}

TEST(GCDispatch, ConditionAlreadyTrueRunsAfterOneHopWithoutWaiting)
{
    std::atomic<int> evaluations{0};
    std::atomic<bool> evaluatedOnMain{false};
    bool ranOnMain = false;
    GCDispatch::performBlock([&] { ranOnMain = KRMainThread::isMainThread(); },
                             [&] {
                                 ++evaluations;
                                 evaluatedOnMain = KRMainThread::isMainThread();
                                 return true;
                             });
    ASSERT_TRUE(KRTest::processEventsUntil([&] { return ranOnMain; }));
    EXPECT_EQ(evaluations, 1);
    EXPECT_FALSE(evaluatedOnMain);
}

TEST(GCDispatch, ConditionIsPolledUntilItHolds)
{
    std::atomic<int> evaluations{0};
    bool ran = false;
    GCDispatch::performBlock([&] { ran = true; }, [&] { return ++evaluations >= 2; });
    ASSERT_TRUE(KRTest::processEventsUntil([&] { return ran; }));
    EXPECT_EQ(evaluations, 2);
}

TEST(GCDispatchDeathTest, WaitingForAConditionEndsWithTheApplication)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    // The child leaves through exit(), whose static destructors shut the dispatch runtime
    // down: a poll that shutdown did not stop would hold it until the watchdog's code 3, and
    // a block run after all would give code 4.
    EXPECT_EXIT(
        {
            static std::atomic<int> evaluations{0};
            GCDispatch::performBlock([] { std::_Exit(4); }, [] { ++evaluations; return false; });
            while (evaluations.load() == 0)
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            std::thread([] {
                std::this_thread::sleep_for(std::chrono::seconds(20));
                std::_Exit(3);
            }).detach();
            std::exit(0);
        },
        ::testing::ExitedWithCode(0), "");
}

TEST(GCDispatch, WaitingConditionsLeaveTheLabelledQueuesFree)
{
    // More waits than the labelled queues' pool has threads, none ever true.
    const int waits = 64 + QThread::idealThreadCount();
    // The waits outlive the test: they share their counter.
    auto evaluations = std::make_shared<std::atomic<int>>(0);
    for (int i = 0; i < waits; ++i)
        GCDispatch::performBlock([] {}, [evaluations] { ++*evaluations; return false; });
    ASSERT_TRUE(KRTest::processEventsUntil([&] { return evaluations->load() >= waits; }));
    bool serialRan = false, concurrentRan = false;
    GCDispatchQueue(QStringLiteral("com.korvane.test.starved")).performBlock([] {}, [&] { serialRan = true; });
    GCDispatchQueue(QStringLiteral("com.korvane.test.starved.concurrent"), 1).performBlock([] {}, [&] { concurrentRan = true; });
    EXPECT_TRUE(KRTest::processEventsUntil([&] { return serialRan && concurrentRan; }));
}

TEST(GCDispatchQueue, WrappersOfOneQueueAreEqualQueuesWithOneLabelAreNot)
{
    GCDispatchQueue queue(QStringLiteral("com.korvane.test.equality"));
    GCDispatchQueue first(queue.internalQueue());
    GCDispatchQueue second(queue.internalQueue());
    EXPECT_TRUE(first.isEqual(second));
    EXPECT_TRUE(first.isEqual(queue));
    EXPECT_EQ(first.label(), "com.korvane.test.equality");

    GCDispatchQueue sameLabel(QStringLiteral("com.korvane.test.equality"));
    EXPECT_FALSE(sameLabel.isEqual(queue));

    EXPECT_TRUE(GCDispatchQueue(GCDispatchQueue::mainQueue().internalQueue())
                    .isEqual(GCDispatchQueue::mainQueue()));
    EXPECT_FALSE(GCDispatchQueue::mainQueue().isEqual(GCDispatchQueue::backgroundQueue()));
    EXPECT_TRUE(GCDispatchQueue::currentQueueIsMainQueue());
}

TEST(GCDispatchQueue, ConcurrencyAttribute)
{
    EXPECT_EQ(GCDispatchQueue::dispatch_attrFromConcurrency(1), GCQueueAttribute::Concurrent);
    EXPECT_EQ(GCDispatchQueue::dispatch_attrFromConcurrency(0), GCQueueAttribute::Serial);
    EXPECT_EQ(GCDispatchQueue::dispatch_attrFromConcurrency(2), GCQueueAttribute::Serial);
    EXPECT_TRUE(GCDispatchQueue("c", 1).internalQueue()->isConcurrent());
    EXPECT_FALSE(GCDispatchQueue("s").internalQueue()->isConcurrent());
}

TEST(GCDispatchQueue, SerialQueueRunsOneBlockAtATimeInOrder)
{
    GCDispatchQueue queue(QStringLiteral("com.korvane.test.serial"));
    std::atomic<int> inside{0};
    std::atomic<bool> overlapped{false};
    EventLog log;
    bool completed = false;
    for (int i = 0; i < 40; ++i) {
        queue.performBlock([&, i] {
            if (++inside > 1)
                overlapped = true;
            log.add(QString::number(i));
            --inside;
        }, i == 39 ? GCDispatchQueue::Block([&] { completed = true; }) : GCDispatchQueue::Block());
    }
    ASSERT_TRUE(KRTest::processEventsUntil([&] { return completed; }));
    QStringList expected;
    for (int i = 0; i < 40; ++i)
        expected << QString::number(i);
    EXPECT_EQ(log.events(), expected);
    EXPECT_FALSE(overlapped);
}

TEST(GCDispatchQueue, ThrowingBlockIsLoggedAndTheQueueGoesOn)
{
    GCDispatchQueue queue(QStringLiteral("com.korvane.test.throwing"));
    bool next = false;
    bool completedAfterThrow = false;
    queue.performBlock([] { krRaise(KRExceptionName::InternalInconsistency, "broken"); }, [&] { completedAfterThrow = true; });
    queue.performBlock([] {}, [&] { next = true; });
    ASSERT_TRUE(KRTest::processEventsUntil([&] { return next && completedAfterThrow; }));

    // A chain goes on past a block that throws, up to its completion.
    EventLog log;
    bool chainDone = false;
    queue.performBlocks({[&] { log.add("a"); throw std::runtime_error("a failed"); }, [&] { log.add("b"); }},
                        [&] { chainDone = true; });
    ASSERT_TRUE(KRTest::processEventsUntil([&] { return chainDone; }));
    EXPECT_EQ(log.events(), QStringList({"a", "b"}));
    KRRunLogger::sharedInstance().flush();
    EXPECT_TRUE(KRTest::readFile(KRRunLogger::sharedInstance().logURL()).contains("com.korvane.test.throwing"));
}

TEST(GCDispatch, NumberOfTimesWaitsForEveryIteration)
{
    // concurrent: every index once, all done on return
    std::vector<std::atomic<int>> hits(200);
    GCDispatch::performBlock([&](std::size_t i) { ++hits[i]; }, GCDispatchQueue::backgroundQueue(),
                             hits.size());
    for (std::size_t i = 0; i < hits.size(); ++i)
        ASSERT_EQ(hits[i].load(), 1) << i;

    // serial: in order
    std::vector<std::size_t> order;
    GCDispatch::performBlock([&](std::size_t i) { order.push_back(i); },
                             GCDispatchQueue(QStringLiteral("com.korvane.test.apply")), 5);
    EXPECT_EQ(order, (std::vector<std::size_t>{0, 1, 2, 3, 4}));

    // main queue, asked from a worker while the main thread turns its loop
    std::atomic<bool> done{false};
    std::atomic<int> onMain{0};
    std::thread worker([&] {
        GCDispatch::performBlock([&](std::size_t) { onMain += KRMainThread::isMainThread(); }, 3);
        done = true;
    });
    const bool finished = KRTest::processEventsUntil([&] { return done.load(); });
    worker.join();
    ASSERT_TRUE(finished);
    EXPECT_EQ(onMain, 3);
    GCDispatch::performBlock([](std::size_t) {}, 0); // nothing to do: returns at once
}

TEST(GCDispatch, OnceTokenRunsTheBlockOnce)
{
    static GCOnceToken token;
    int runs = 0;
    GCDispatch::performBlockOnce([&] { ++runs; }, token);
    GCDispatch::performBlockOnce([&] { ++runs; }, token);
    EXPECT_EQ(runs, 1);
}
