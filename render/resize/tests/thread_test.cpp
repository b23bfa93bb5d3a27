// One plan shared by several threads, each with its own work buffer.
#include <gtest/gtest.h>

#include <thread>

#include "resize_fixture.h"

using namespace resize_test;

namespace {

TEST(ResizeThreads, SharedPlanGivesEveryThreadTheSameFrame) {
    ippInit();
    const Frame in = makeFrame(160, 90, 0, 13);
    Plan plan({160, 90}, {240, 136}, 3);
    ASSERT_EQ(plan.status, 0);
    constexpr int kThreads = 4;
    std::vector<std::vector<uint8_t>> y(kThreads), uv(kThreads);
    std::vector<ippResult> status(kThreads, -1);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([&, t] {
            std::vector<uint8_t> work(static_cast<size_t>(plan.bufSize));
            y[t].assign(240 * 136, 0);
            uv[t].assign(240 * 68, 0);
            for (int i = 0; i < 5 && status[t] <= 0; ++i)
                status[t] = ippiResizeYUV420Lanczos_8u_P2R(in.y.origin(), in.y.step, in.uv.origin(), in.uv.step,
                                                           y[t].data(), 240, uv[t].data(), 240, {0, 0}, {240, 136}, 1,
                                                           nullptr, plan.get(), work.data());
        });
    for (auto& th : threads) th.join();
    for (int t = 0; t < kThreads; ++t) {
        EXPECT_EQ(status[t], 0);
        EXPECT_EQ(y[t], y[0]);
        EXPECT_EQ(uv[t], uv[0]);
    }
}

}  // namespace
