#include "worker_pool.h"

#include <algorithm>
#include <atomic>
#include <thread>
#include <vector>

void runInParallel(std::size_t count, int jobs, const std::function<void(std::size_t)>& work) {
    std::size_t threads = std::min<std::size_t>(count, jobs < 1 ? 1 : static_cast<std::size_t>(jobs));
    if (threads <= 1) {
        for (std::size_t i = 0; i < count; ++i)
            work(i);
        return;
    }
    std::atomic<std::size_t> next{0};
    std::vector<std::thread> pool;
    for (std::size_t t = 0; t < threads; ++t)
        pool.emplace_back([&] {
            for (std::size_t i = next++; i < count; i = next++)
                work(i);
        });
    for (std::thread& thread : pool)
        thread.join();
}
