#include "GCDispatch.h"

#include <platform/foundation/KRMainThread.h>

#include <QCoreApplication>

#include <chrono>
#include <cmath>
#include <limits>
#include <memory>

void GCDispatch::performBlockInMainQueue(Block block, Block completion)
{
    GCDispatchQueue::mainQueue().performBlock(std::move(block), std::move(completion));
}

void GCDispatch::performBlocksInMainQueue(std::vector<Block> blocks, Block completion)
{
    GCDispatchQueue::mainQueue().performBlocks(std::move(blocks), std::move(completion));
}

void GCDispatch::performBlockInBackgroundQueue(Block block, Block completion)
{
    GCDispatchQueue::backgroundQueue().performBlock(std::move(block), std::move(completion));
}

void GCDispatch::performBlocksInBackgroundQueue(std::vector<Block> blocks, Block completion)
{
    GCDispatchQueue::backgroundQueue().performBlocks(std::move(blocks), std::move(completion));
}

void GCDispatch::performBlock(Block block, double delaySeconds)
{
    performBlock(std::move(block), GCDispatchQueue::mainQueue(), delaySeconds);
}

std::int64_t GCDispatch::nanosecondsFromSeconds(double seconds)
{
    if (!(seconds > 0))
        return 0;
    const double nanoseconds = seconds * 1e9;
    if (nanoseconds >= static_cast<double>(std::numeric_limits<std::int64_t>::max()))
        return std::numeric_limits<std::int64_t>::max();
    return static_cast<std::int64_t>(nanoseconds);
}

void GCDispatch::performBlock(Block block, const GCDispatchQueue &queue, double delaySeconds)
{
    using Clock = std::chrono::steady_clock;
    const auto delay = std::chrono::nanoseconds(nanosecondsFromSeconds(delaySeconds));
    const Clock::time_point due = Clock::now() + std::min<std::chrono::nanoseconds>(
        delay, std::chrono::hours(24 * 24)); // a QTimer holds at most about 24 days
    auto fire = [block = std::move(block), target = queue.internalQueue()] { target->async(block); };
    // The timer starts on the main thread; the time spent getting there counts.
    auto start = [due, fire = std::move(fire)]() mutable {
        const auto remaining = std::chrono::ceil<std::chrono::milliseconds>(due - Clock::now());
        KRMainThread::postDelayed(static_cast<int>(std::max<std::int64_t>(0, remaining.count())),
                                  std::move(fire));
    };
    if (KRMainThread::isMainThread())
        start();
    else
        KRMainThread::post(std::move(start));
}

void GCDispatch::performBlock(const IterationBlock &block, std::size_t numberOfTimes)
{
    performBlock(block, GCDispatchQueue::mainQueue(), numberOfTimes);
}

void GCDispatch::performBlock(const IterationBlock &block, const GCDispatchQueue &queue,
                              std::size_t numberOfTimes)
{
    queue.internalQueue()->apply(numberOfTimes, block);
}

void GCDispatch::performBlockOnce(const Block &block, GCOnceToken &token)
{
    std::call_once(token, block);
}

void GCDispatch::performBlock(Block block, Condition condition)
{
    performBlock(std::move(block), GCDispatchQueue::mainQueue(), std::move(condition));
}

namespace {
struct ConditionalWait
{
    GCDispatch::Block block;
    GCDispatchQueue queue;
    GCDispatch::Condition condition;
};

// One evaluation, on the conditional-evaluation queue. While the condition is false the next
// one is queued a second later by the dispatch timer, so a waiting condition holds no worker
// thread between evaluations.
void evaluateCondition(const std::shared_ptr<ConditionalWait> &wait)
{
    if (GCDispatchQueue::isShuttingDown())
        return;
    if (wait->condition()) {
        wait->queue.performBlock(wait->block);
        return;
    }
    GCDispatchQueue::performAfter(std::chrono::seconds(1), GCDispatch::conditionalEvaluationQueue(),
                                  [wait] { evaluateCondition(wait); });
}
} // namespace

void GCDispatch::performBlock(Block block, const GCDispatchQueue &queue, Condition condition)
{
    auto wait = std::make_shared<ConditionalWait>(ConditionalWait{std::move(block), queue, std::move(condition)});
    conditionalEvaluationQueue().internalQueue()->async([wait] { evaluateCondition(wait); });
}

const GCDispatchQueue &GCDispatch::conditionalEvaluationQueue()
{
    static const GCDispatchQueue queue(
        QStringLiteral("%1.conditionalEvaluationQueue").arg(QStringLiteral("GCDispatch")), 1);
    return queue;
}
