#pragma once

#include <algorithm>
#include <cstddef>
#include <functional>
#include <thread>
#include <vector>

// Runs `work` on this thread and on up to threads - 1 helper threads, no more of them than
// there are items besides this thread's, and returns once every run has returned. `work` takes
// its items itself (from a shared counter), so that when fewer threads can be had than asked
// for, the ones there are, this one among them, do the rest. `ownFirst`, when given, runs on
// this thread before its `work`, while the helpers start on the items.
inline void runOnHelperThreads(std::size_t items, std::size_t threads, const std::function<void()> &work,
                               const std::function<void()> &ownFirst = {})
{
    const std::size_t running = std::min(items, threads);
    const std::size_t helperCount = running > 1 ? running - 1 : 0;
    std::vector<std::thread> helpers;
    try {
        helpers.reserve(helperCount);
        for (std::size_t t = 0; t < helperCount; ++t)
            helpers.emplace_back(work);
    } catch (...) {
        // No more threads to be had.
    }
    if (ownFirst)
        ownFirst();
    work();
    for (std::thread &helper : helpers)
        helper.join();
}
