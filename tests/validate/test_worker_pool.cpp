// Pieces of work in worker processes: results in order whatever the number
// of workers, a slow piece holding up only its own worker, and a worker that
// ends taking only its own piece with it.
#include "worker_pool.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>
#include <unistd.h>

namespace {

TEST(WorkerPool, ResultsComeInOrderForAnyNumberOfWorkers) {
    for (int jobs : {1, 2, 3, 8}) {
        std::size_t heard = 0;
        auto out = runInWorkers(
            7, jobs, [](std::size_t i) { return "piece " + std::to_string(i); },
            [&](std::size_t) { ++heard; });
        ASSERT_EQ(out.size(), 7u);
        for (std::size_t i = 0; i < out.size(); ++i)
            EXPECT_EQ(out[i], "piece " + std::to_string(i)) << jobs << " jobs";
        EXPECT_EQ(heard, 7u);
    }
}

// While one worker sleeps in the first piece, the other takes all the rest.
TEST(WorkerPool, AFreeWorkerTakesTheNextPiece) {
    auto out = runInWorkers(
        12, 2,
        [](std::size_t i) {
            if (i == 0)
                std::this_thread::sleep_for(std::chrono::milliseconds(500));
            return std::to_string(getpid());
        },
        nullptr);
    ASSERT_TRUE(out[0] && out[1]);
    EXPECT_NE(*out[0], *out[1]);
    for (std::size_t i = 1; i < out.size(); ++i)
        EXPECT_EQ(out[i], out[1]) << "piece " << i;
}

TEST(WorkerPool, AWorkerThatEndsLosesOnlyThePieceItTook) {
    auto out = runInWorkers(
        9, 2,
        [](std::size_t i) {
            if (i == 3)
                _exit(1);
            return std::to_string(i);
        },
        nullptr);
    for (std::size_t i = 0; i < out.size(); ++i)
        EXPECT_EQ(out[i].has_value(), i != 3) << "piece " << i;
}

} // namespace
