// The XML library's memory pool: blocks that never overlap and keep their bytes, reuse by
// size, resizing across the pool's and the heap's blocks, the heap taking over when the range
// is used up, a block released twice, and many threads at once.

#include <core/KRXMLMemory.h>

#include <cstdint>
#include <cstring>
#include <random>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

namespace {

constexpr std::size_t kReserve = std::size_t(64) << 20;

struct Block
{
    unsigned char *bytes;
    std::size_t size;
    unsigned char fill;
};

void fillBlock(const Block &block)
{
    std::memset(block.bytes, block.fill, block.size);
}

bool keepsFill(const Block &block)
{
    for (std::size_t i = 0; i < block.size; ++i) {
        if (block.bytes[i] != block.fill)
            return false;
    }
    return true;
}

// Random sizes across the pooled classes and past them, freed and made again in random
// order; every live block keeps its own bytes throughout.
void churn(KRXMLMemoryPool &pool, unsigned seed, int rounds, int *pooled)
{
    std::mt19937 random(seed);
    std::uniform_int_distribution<std::size_t> size(0, KRXMLMemoryPool::largestPooledSize + 200);
    std::vector<Block> live;
    for (int round = 0; round < rounds; ++round) {
        if (!live.empty() && random() % 3 == 0) {
            const std::size_t at = random() % live.size();
            ASSERT_TRUE(keepsFill(live[at])) << "block of " << live[at].size << " bytes overwritten";
            pool.release(live[at].bytes);
            live.erase(live.begin() + std::ptrdiff_t(at));
            continue;
        }
        Block block{static_cast<unsigned char *>(pool.allocate(size(random))), 0, static_cast<unsigned char>(random())};
        ASSERT_NE(block.bytes, nullptr);
        block.size = 1 + std::size_t(random() % (KRXMLMemoryPool::largestPooledSize + 200));
        // Then resized, within its class or beyond it.
        block.bytes = static_cast<unsigned char *>(pool.reallocate(block.bytes, block.size));
        ASSERT_EQ(reinterpret_cast<std::uintptr_t>(block.bytes) % 16, 0u);
        if (pool.owns(block.bytes))
            ++*pooled;
        fillBlock(block);
        live.push_back(block);
    }
    for (const Block &block : live) {
        ASSERT_TRUE(keepsFill(block));
        pool.release(block.bytes);
    }
}

} // namespace

TEST(KRXMLMemoryPool, BlocksKeepTheirBytesAndAreReusedBySize)
{
    KRXMLMemoryPool pool(kReserve);
    int pooled = 0;
    churn(pool, 7, 20000, &pooled);
    EXPECT_GT(pooled, 5000);

    // Blocks of a size, freed, are handed out again before the range grows.
    std::vector<void *> blocks;
    for (int i = 0; i < 100; ++i)
        blocks.push_back(pool.allocate(96));
    const std::size_t carved = pool.carvedBytes();
    for (void *block : blocks)
        pool.release(block);
    for (int i = 0; i < 100; ++i)
        blocks[std::size_t(i)] = pool.allocate(90);
    EXPECT_EQ(pool.carvedBytes(), carved);
    for (void *block : blocks)
        pool.release(block);

    // Large blocks and null are the heap's business; resizing moves between the two.
    void *large = pool.allocate(KRXMLMemoryPool::largestPooledSize + 1);
    EXPECT_FALSE(pool.owns(large));
    pool.release(large);
    pool.release(nullptr);
    auto *text = static_cast<char *>(pool.reallocate(nullptr, 10));
    ASSERT_TRUE(pool.owns(text));
    std::memcpy(text, "123456789", 10);
    text = static_cast<char *>(pool.reallocate(text, 5000));
    EXPECT_FALSE(pool.owns(text));
    EXPECT_STREQ(text, "123456789");
    text = static_cast<char *>(pool.reallocate(text, 20000));
    EXPECT_STREQ(text, "123456789");
    pool.release(text);
    char *copy = pool.duplicate("attribute value");
    EXPECT_TRUE(pool.owns(copy));
    EXPECT_STREQ(copy, "attribute value");
    pool.release(copy);
    EXPECT_EQ(pool.duplicate(nullptr), nullptr);
}

TEST(KRXMLMemoryPool, TheHeapTakesOverWhenTheRangeIsUsedUp)
{
    KRXMLMemoryPool pool(std::size_t(8) << 20);
    std::vector<void *> blocks;
    int fromHeap = 0;
    // 8 MiB of 1 KiB blocks and more.
    for (int i = 0; i < 10000; ++i) {
        void *block = pool.allocate(1000);
        ASSERT_NE(block, nullptr);
        std::memset(block, i & 0xff, 1000);
        fromHeap += pool.owns(block) ? 0 : 1;
        blocks.push_back(block);
    }
    EXPECT_GT(fromHeap, 1000);
    EXPECT_LT(fromHeap, 10000);
    for (void *block : blocks)
        pool.release(block);
    // Freed pooled blocks are still handed out.
    void *again = pool.allocate(1000);
    EXPECT_TRUE(pool.owns(again));
    pool.release(again);
}

TEST(KRXMLMemoryPool, ManyThreadsAtOnce)
{
    KRXMLMemoryPool pool(kReserve);
    std::vector<std::thread> threads;
    std::vector<int> pooled(4, 0);
    for (unsigned t = 0; t < 4; ++t)
        threads.emplace_back([&pool, &pooled, t] { churn(pool, 100 + t, 8000, &pooled[t]); });
    for (std::thread &thread : threads)
        thread.join();
    for (int count : pooled)
        EXPECT_GT(count, 1000);
}

TEST(KRXMLMemoryPoolDeathTest, ABlockReleasedTwiceIsFatal)
{
    KRXMLMemoryPool pool(kReserve);
    void *block = pool.allocate(40);
    pool.release(block);
    EXPECT_DEATH(pool.release(block), "released twice");
    EXPECT_DEATH(pool.reallocate(block, 80), "after its release");
}
