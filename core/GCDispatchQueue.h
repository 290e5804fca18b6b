#pragma once

#include <QString>

#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <vector>

enum class GCQueueAttribute { Serial, Concurrent };

// A handle on a queue of work: the main queue (the main thread's event loop), the shared
// background queue (a low-priority thread pool) or a labelled queue of our own, serial (one
// block at a time, in order) or concurrent. Handles are cheap values; handles on the same
// queue share it and keep it alive.
//
// Work still queued when the application shuts down is dropped; blocks running then are
// waited for, so no worker outlives the application object.
class GCDispatchQueue
{
public:
    using Block = std::function<void()>;
    using IterationBlock = std::function<void(std::size_t)>;

    // The queue itself, shared by every handle on it.
    class Queue
    {
    public:
        virtual ~Queue() = default;
        const QString &label() const { return m_label; }
        virtual bool isConcurrent() const = 0;
        virtual bool isMainQueue() const { return false; }
        // Queues the block and returns at once.
        virtual void async(Block block) = 0;
        // Runs block(0) .. block(count - 1) and returns when all have finished; in parallel
        // on a concurrent queue. Never call it on the queue it runs on.
        virtual void apply(std::size_t count, const IterationBlock &block);

    protected:
        explicit Queue(QString label) : m_label(std::move(label)) {}

    private:
        QString m_label;
    };

    // The shared handles, each made once.
    static const GCDispatchQueue &mainQueue();
    static const GCDispatchQueue &backgroundQueue();
    static bool currentQueueIsMainQueue();
    // 1 is the concurrent attribute, anything else the serial default.
    static GCQueueAttribute dispatch_attrFromConcurrency(int concurrency);

    // For blocks that wait in a loop: sleeps for the duration, or less when the application
    // shuts down meanwhile. Returns false when it is shutting down: stop waiting then.
    static bool sleepUnlessShuttingDown(std::chrono::milliseconds duration);
    static bool isShuttingDown();
    // Queues the block on the queue after the delay, from a timer thread of the dispatch
    // runtime: nothing waits on a worker meanwhile, and the main thread need not turn its loop.
    // Dropped when the application shuts down first.
    static void performAfter(std::chrono::milliseconds delay, const GCDispatchQueue &queue, Block block);

    // A handle on an existing queue; its label is the queue's.
    explicit GCDispatchQueue(std::shared_ptr<Queue> queue);
    // A new queue with the label; concurrency as for dispatch_attrFromConcurrency.
    explicit GCDispatchQueue(const QString &label, int concurrency = 0);

    const std::shared_ptr<Queue> &internalQueue() const { return m_queue; }
    QString label() const { return m_label; }

    // Queues the block; when it has returned (or thrown, which is logged), queues the
    // completion (if any) on the main queue.
    void performBlock(Block block, Block completion = {}) const;
    // Runs the blocks one after another in array order, each on this queue and only after
    // the previous one has returned, passing through the main queue between two blocks; then
    // the completion on the main queue. An empty array only queues the completion.
    void performBlocks(std::vector<Block> blocks, Block completion = {}) const;

    // The same queue and an equal label.
    bool isEqual(const GCDispatchQueue &other) const;

private:
    std::shared_ptr<Queue> m_queue;
    QString m_label;
};
