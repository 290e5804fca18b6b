#pragma once

#include <core/GCDispatchQueue.h>

#include <QString>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <vector>

// Remembers that a block guarded by performBlockOnce has run. Keep it for as long as the
// guarantee must hold (usually a static).
using GCOnceToken = std::once_flag;

// Class-wide dispatch operations. "Main" is GCDispatchQueue::mainQueue(), "background"
// GCDispatchQueue::backgroundQueue().
class GCDispatch
{
public:
    using Block = GCDispatchQueue::Block;
    using IterationBlock = GCDispatchQueue::IterationBlock;
    using Condition = std::function<bool()>;

    GCDispatch() = delete;

    static void performBlockInMainQueue(Block block, Block completion = {});
    static void performBlocksInMainQueue(std::vector<Block> blocks, Block completion = {});
    static void performBlockInBackgroundQueue(Block block, Block completion = {});
    static void performBlocksInBackgroundQueue(std::vector<Block> blocks, Block completion = {});

    // After a delay in seconds: queues the block on the queue (main without one) at now plus
    // the delay in whole nanoseconds. Timers run on the main thread's event loop.
    static void performBlock(Block block, double delaySeconds);
    static void performBlock(Block block, const GCDispatchQueue &queue, double delaySeconds);
    // Seconds times 10^9, truncated; negative or not a number gives 0.
    static std::int64_t nanosecondsFromSeconds(double seconds);

    // Number of times: runs block(0) .. block(count - 1) on the queue (main without one), in
    // parallel on a concurrent queue, and returns when all have finished. Never call it on
    // the queue it names (the main queue from the main thread).
    static void performBlock(const IterationBlock &block, std::size_t numberOfTimes);
    static void performBlock(const IterationBlock &block, const GCDispatchQueue &queue,
                             std::size_t numberOfTimes);

    // Runs the block on the calling thread unless the token says it has run already.
    static void performBlockOnce(const Block &block, GCOnceToken &token);

    // When a condition holds: evaluates the condition on the conditional-evaluation queue
    // (off the main thread; it must be safe there) and again every second while it is
    // false, with no time limit; once it holds, queues the block on the queue (main without
    // one). Waiting stops when the application shuts down.
    static void performBlock(Block block, Condition condition);
    static void performBlock(Block block, const GCDispatchQueue &queue, Condition condition);

    // The concurrent queue the conditions are evaluated on, labelled
    // "GCDispatch.conditionalEvaluationQueue".
    static const GCDispatchQueue &conditionalEvaluationQueue();
};
