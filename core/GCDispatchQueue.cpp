#include "GCDispatchQueue.h"

#include <core/KRRunLogger.h>
#include <platform/foundation/KRAssert.h>
#include <platform/foundation/KRMainThread.h>

#include <QCoreApplication>
#include <QThread>
#include <QThreadPool>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <exception>
#include <map>
#include <mutex>
#include <thread>

namespace {

// The worker pools and the shutdown flag. Shutdown runs when the application object is
// destroyed (or at exit without one): sleepers wake, queued blocks are dropped as workers
// reach them, running blocks are waited for.
class GCDispatchRuntime
{
public:
    static GCDispatchRuntime &instance()
    {
        static GCDispatchRuntime runtime;
        return runtime;
    }

    ~GCDispatchRuntime() { shutdown(); }

    // Low priority, as many threads as cores: the shared background queue.
    QThreadPool *backgroundPool() { return &m_background; }
    // Labelled queues; roomy, since waits for a condition each hold a thread.
    QThreadPool *defaultPool() { return &m_default; }

    bool isShuttingDown() const { return m_shuttingDown.load(); }

    bool sleepUnlessShuttingDown(std::chrono::milliseconds duration)
    {
        std::unique_lock lock(m_mutex);
        return !m_wake.wait_for(lock, duration, [this] { return m_shuttingDown.load(); });
    }

    void shutdown()
    {
        std::multimap<std::chrono::steady_clock::time_point, std::function<void()>> dropped;
        {
            std::lock_guard lock(m_mutex);
            if (m_shuttingDown)
                return;
            m_shuttingDown = true;
            dropped.swap(m_timed);
        }
        m_wake.notify_all();
        if (m_timerThread.joinable())
            m_timerThread.join();
        m_background.waitForDone();
        m_default.waitForDone();
    }

    // Runs the function on the timer thread once the delay has passed, unless the runtime
    // shuts down first. The function must only queue work, never wait.
    void runAfter(std::chrono::milliseconds delay, std::function<void()> fn)
    {
        std::lock_guard lock(m_mutex);
        if (m_shuttingDown)
            return;
        m_timed.emplace(std::chrono::steady_clock::now() + delay, std::move(fn));
        if (!m_timerThread.joinable())
            m_timerThread = std::thread([this] { runTimers(); });
        m_wake.notify_all();
    }

private:
    GCDispatchRuntime()
    {
        m_background.setThreadPriority(QThread::LowPriority);
        m_default.setMaxThreadCount(std::max(64, QThread::idealThreadCount()));
        qAddPostRoutine([] { GCDispatchRuntime::instance().shutdown(); });
    }

    void runTimers()
    {
        std::unique_lock lock(m_mutex);
        while (!m_shuttingDown) {
            if (m_timed.empty()) {
                m_wake.wait(lock);
                continue;
            }
            const auto due = m_timed.begin()->first;
            if (due > std::chrono::steady_clock::now()) {
                m_wake.wait_until(lock, due);
                continue;
            }
            std::function<void()> fn = std::move(m_timed.begin()->second);
            m_timed.erase(m_timed.begin());
            lock.unlock();
            fn();
            fn = nullptr; // released outside the lock
            lock.lock();
        }
    }

    QThreadPool m_background;
    QThreadPool m_default;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::atomic<bool> m_shuttingDown{false};
    std::multimap<std::chrono::steady_clock::time_point, std::function<void()>> m_timed;
    std::thread m_timerThread;
};

} // namespace

namespace {

// A block that throws must not take the worker thread (and with it the process) down.
void runGuarded(const GCDispatchQueue::Block &block, const QString &label)
{
    try {
        block();
    } catch (const std::exception &e) {
        KR_LOG(QStringLiteral("Block on queue %1 threw: %2").arg(label, QString::fromUtf8(e.what())));
    } catch (...) {
        KR_LOG(QStringLiteral("Block on queue %1 threw").arg(label));
    }
}

// Signals a waiter when the last copy of the block holding it goes, whether the block ran
// or was dropped at shutdown.
struct Completion
{
    std::mutex mutex;
    std::condition_variable done;
    std::size_t remaining = 0;

    void finishOne()
    {
        std::lock_guard lock(mutex);
        if (remaining > 0 && --remaining == 0)
            done.notify_all();
    }
    // Also gives up once the application shuts down: blocks queued on the main queue are
    // then never run nor released in time.
    void wait()
    {
        std::unique_lock lock(mutex);
        while (!done.wait_for(lock, std::chrono::milliseconds(100), [this] { return remaining == 0; })) {
            if (GCDispatchRuntime::instance().isShuttingDown())
                return;
        }
    }
};

class CompletionSignal
{
public:
    explicit CompletionSignal(std::shared_ptr<Completion> completion)
        : m_completion(std::move(completion))
    {}
    ~CompletionSignal() { m_completion->finishOne(); }
    CompletionSignal(const CompletionSignal &) = delete;
    CompletionSignal &operator=(const CompletionSignal &) = delete;

private:
    std::shared_ptr<Completion> m_completion;
};

thread_local const GCDispatchQueue::Queue *t_currentSerialQueue = nullptr;

class MainQueue final : public GCDispatchQueue::Queue
{
public:
    MainQueue() : Queue(QStringLiteral("com.korvane.main-thread")) {}
    bool isConcurrent() const override { return false; }
    bool isMainQueue() const override { return true; }
    void async(GCDispatchQueue::Block block) override
    {
        KRMainThread::post([block = std::move(block), label = label()] { runGuarded(block, label); });
    }
    void apply(std::size_t count, const GCDispatchQueue::IterationBlock &block) override
    {
        if (count == 0)
            return;
        KR_ASSERT(!KRMainThread::isMainThread(), "apply on the main queue from the main thread");
        Queue::apply(count, block);
    }
};

class ConcurrentQueue final : public GCDispatchQueue::Queue
{
public:
    ConcurrentQueue(QString label, QThreadPool *pool) : Queue(std::move(label)), m_pool(pool) {}
    bool isConcurrent() const override { return true; }
    void async(GCDispatchQueue::Block block) override
    {
        if (GCDispatchRuntime::instance().isShuttingDown())
            return;
        m_pool->start([block = std::move(block), label = label()] {
            if (!GCDispatchRuntime::instance().isShuttingDown())
                runGuarded(block, label);
        });
    }

    // The caller takes part, so the work gets done even when every worker is busy.
    void apply(std::size_t count, const GCDispatchQueue::IterationBlock &block) override
    {
        if (count == 0)
            return;
        struct State
        {
            std::atomic<std::size_t> next{0};
            std::size_t count;
            GCDispatchQueue::IterationBlock block;
            Completion completion;
        };
        auto state = std::make_shared<State>();
        state->count = count;
        state->block = block;
        state->completion.remaining = count;
        auto work = [state] {
            for (;;) {
                const std::size_t i = state->next++;
                if (i >= state->count)
                    return;
                runGuarded([&] { state->block(i); }, QStringLiteral("apply"));
                state->completion.finishOne();
            }
        };
        const std::size_t helpers =
            std::min<std::size_t>(count, static_cast<std::size_t>(std::max(1, m_pool->maxThreadCount())))
            - 1;
        if (!GCDispatchRuntime::instance().isShuttingDown()) {
            for (std::size_t h = 0; h < helpers; ++h)
                m_pool->start(work);
        }
        work();
        state->completion.wait();
    }

private:
    QThreadPool *m_pool; // not owned: the runtime's
};

// Runs one block at a time, in order, on a thread of the pool.
class SerialQueue final : public GCDispatchQueue::Queue,
                          public std::enable_shared_from_this<SerialQueue>
{
public:
    SerialQueue(QString label, QThreadPool *pool) : Queue(std::move(label)), m_pool(pool) {}
    bool isConcurrent() const override { return false; }

    void async(GCDispatchQueue::Block block) override
    {
        GCDispatchRuntime &runtime = GCDispatchRuntime::instance();
        if (runtime.isShuttingDown())
            return;
        {
            std::lock_guard lock(m_mutex);
            m_pending.push_back(std::move(block));
            if (m_draining)
                return;
            m_draining = true;
        }
        m_pool->start([self = shared_from_this()] { self->drain(); });
    }

    void apply(std::size_t count, const GCDispatchQueue::IterationBlock &block) override
    {
        KR_ASSERT(t_currentSerialQueue != this, "apply on a serial queue from a block on that queue");
        Queue::apply(count, block);
    }

private:
    void drain()
    {
        t_currentSerialQueue = this;
        for (;;) {
            GCDispatchQueue::Block block;
            std::deque<GCDispatchQueue::Block> dropped; // destroyed outside the lock
            {
                std::lock_guard lock(m_mutex);
                if (GCDispatchRuntime::instance().isShuttingDown())
                    dropped.swap(m_pending);
                if (m_pending.empty()) {
                    m_draining = false;
                    break;
                }
                block = std::move(m_pending.front());
                m_pending.pop_front();
            }
            runGuarded(block, label());
        }
        t_currentSerialQueue = nullptr;
    }

    QThreadPool *m_pool; // not owned: the runtime's
    std::mutex m_mutex;
    std::deque<GCDispatchQueue::Block> m_pending;
    bool m_draining = false;
};

} // namespace

void GCDispatchQueue::Queue::apply(std::size_t count, const IterationBlock &block)
{
    if (count == 0)
        return;
    // One block runs the iterations in order; the waiter is released when that block is
    // done or dropped at shutdown.
    auto completion = std::make_shared<Completion>();
    completion->remaining = 1;
    auto signal = std::make_shared<CompletionSignal>(completion);
    async([signal, count, block] {
        for (std::size_t i = 0; i < count; ++i)
            block(i);
    });
    signal.reset();
    completion->wait();
}

const GCDispatchQueue &GCDispatchQueue::mainQueue()
{
    static const GCDispatchQueue queue(std::make_shared<MainQueue>());
    return queue;
}

const GCDispatchQueue &GCDispatchQueue::backgroundQueue()
{
    static const GCDispatchQueue queue(std::make_shared<ConcurrentQueue>(
        QStringLiteral("com.korvane.background"), GCDispatchRuntime::instance().backgroundPool()));
    return queue;
}

bool GCDispatchQueue::sleepUnlessShuttingDown(std::chrono::milliseconds duration)
{
    return GCDispatchRuntime::instance().sleepUnlessShuttingDown(duration);
}

bool GCDispatchQueue::isShuttingDown()
{
    return GCDispatchRuntime::instance().isShuttingDown();
}

bool GCDispatchQueue::currentQueueIsMainQueue()
{
    return KRMainThread::isMainThread();
}

GCQueueAttribute GCDispatchQueue::dispatch_attrFromConcurrency(int concurrency)
{
    return concurrency == 1 ? GCQueueAttribute::Concurrent : GCQueueAttribute::Serial;
}

GCDispatchQueue::GCDispatchQueue(std::shared_ptr<Queue> queue) : m_queue(std::move(queue))
{
    KR_ASSERT(m_queue != nullptr, "GCDispatchQueue needs a queue");
    m_label = m_queue->label();
}

GCDispatchQueue::GCDispatchQueue(const QString &label, int concurrency) : m_label(label)
{
    QThreadPool *pool = GCDispatchRuntime::instance().defaultPool();
    if (dispatch_attrFromConcurrency(concurrency) == GCQueueAttribute::Concurrent)
        m_queue = std::make_shared<ConcurrentQueue>(label, pool);
    else
        m_queue = std::make_shared<SerialQueue>(label, pool);
}

void GCDispatchQueue::performBlock(Block block, Block completion) const
{
    // A block that throws still reaches its completion, so a chain of blocks goes on.
    m_queue->async([block = std::move(block), completion = std::move(completion), label = m_label] {
        runGuarded(block, label);
        if (completion)
            mainQueue().internalQueue()->async(completion);
    });
}

void GCDispatchQueue::performAfter(std::chrono::milliseconds delay, const GCDispatchQueue &queue, Block block)
{
    GCDispatchRuntime::instance().runAfter(delay, [target = queue.internalQueue(), block = std::move(block)] {
        target->async(block);
    });
}

namespace {
struct BlockChain
{
    GCDispatchQueue queue;
    std::vector<GCDispatchQueue::Block> blocks;
    GCDispatchQueue::Block completion;
    std::ptrdiff_t index = -1;
};

// One step of the chain: the next block, with the step itself as its completion.
void chainStep(const std::shared_ptr<BlockChain> &chain)
{
    ++chain->index;
    if (chain->index >= static_cast<std::ptrdiff_t>(chain->blocks.size())) {
        if (chain->completion)
            GCDispatchQueue::mainQueue().internalQueue()->async(std::move(chain->completion));
        return;
    }
    chain->queue.performBlock(std::move(chain->blocks[static_cast<std::size_t>(chain->index)]),
                              [chain] { chainStep(chain); });
}
} // namespace

void GCDispatchQueue::performBlocks(std::vector<Block> blocks, Block completion) const
{
    auto chain = std::make_shared<BlockChain>(BlockChain{*this, std::move(blocks), std::move(completion)});
    m_queue->async([chain] { chainStep(chain); });
}

bool GCDispatchQueue::isEqual(const GCDispatchQueue &other) const
{
    return m_queue == other.m_queue && m_label == other.m_label;
}
