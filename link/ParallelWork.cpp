#include "link/ParallelWork.h"

#include "link/VectorState.h"

#include <algorithm>
#include <atomic>
#include <new>
#include <system_error>
#include <thread>
#include <vector>

void RunOnThreads(size_t count, unsigned threads, const std::function<void(size_t)>& work) {
    threads = static_cast<unsigned>(std::min<size_t>(threads, count));
    std::atomic<bool> outOfMemory{false};
    const auto strand = [&](unsigned t) {
        ClearUpperVectorHalves();
        try {
            for (size_t k = t; k < count; k += threads)
                work(k);
        } catch (const std::bad_alloc&) {
            outOfMemory = true;
        }
    };
    std::vector<std::thread> others;
    others.reserve(threads);
    for (unsigned t = 1; t < threads; ++t) {
        try {
            others.emplace_back(strand, t);
        } catch (const std::system_error&) {
            break;
        }
    }
    for (unsigned t = static_cast<unsigned>(others.size()) + 1; t < threads; ++t)
        strand(t);
    strand(0);
    for (std::thread& other : others)
        other.join();
    if (outOfMemory)
        throw std::bad_alloc();
}
