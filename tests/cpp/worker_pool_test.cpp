// The portfolio's passes rely on run_indexed calling every index exactly once
// and on an exception thrown by one call reaching the caller, the pool still
// usable afterwards.
#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>
#include <vector>

#include "core/src/worker_pool.hpp"

namespace quarlen {
namespace {

TEST(WorkerPool, RunsEveryIndexOnceAndCarriesAnExceptionBack) {
    for (const std::size_t count : {0u, 1u, 2u, 1000u}) {
        std::vector<std::atomic<int>> calls(count);
        run_indexed(count, [&](std::size_t index) { calls[index].fetch_add(1); });
        for (const std::atomic<int>& made : calls) EXPECT_EQ(made.load(), 1);
    }
    EXPECT_THROW(run_indexed(1000,
                             [](std::size_t index) {
                                 if (index == 617) throw std::runtime_error("opportunity 617");
                             }),
                 std::runtime_error);
    std::atomic<std::size_t> sum{0};
    run_indexed(100, [&](std::size_t index) { sum.fetch_add(index); });
    EXPECT_EQ(sum.load(), 4950u);
    EXPECT_GE(worker_thread_count(), 1u);
}

}  // namespace
}  // namespace quarlen
