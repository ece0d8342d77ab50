// SPDX-License-Identifier: MIT
#include "platform/MainExecutor.h"

#include <gtest/gtest.h>

#include <future>
#include <stdexcept>
#include <thread>
#include <vector>

namespace tavro::platform {
namespace {

// Blocks until every task queued before this call has run.
void drain() {
    std::promise<void> done;
    MainExecutor::shared().submit([&] { done.set_value(); });
    done.get_future().get();
}

TEST(MainExecutor, RunsTasksOneAtATimeInSubmissionOrderFromManyThreads) {
    MainExecutor& executor = MainExecutor::shared();
    std::vector<int> order;  // touched only on the executor thread
    for (int i = 0; i < 100; ++i) {
        executor.submit([&order, i] { order.push_back(i); });
    }
    drain();
    std::vector<int> expected;
    for (int i = 0; i < 100; ++i) {
        expected.push_back(i);
    }
    EXPECT_EQ(order, expected);

    // Tasks from several threads: each thread's tasks keep their relative order.
    std::vector<std::pair<int, int>> seen;
    std::vector<std::thread> submitters;
    for (int t = 0; t < 4; ++t) {
        submitters.emplace_back([&seen, t] {
            for (int i = 0; i < 50; ++i) {
                MainExecutor::shared().submit([&seen, t, i] { seen.emplace_back(t, i); });
            }
        });
    }
    for (auto& s : submitters) {
        s.join();
    }
    drain();
    ASSERT_EQ(seen.size(), 200u);
    std::vector<int> next(4, 0);
    for (auto [t, i] : seen) {
        EXPECT_EQ(i, next[t]++);
    }
}

TEST(MainExecutor, OwnsOneThreadThatIsNotTheCaller) {
    MainExecutor& executor = MainExecutor::shared();
    EXPECT_FALSE(executor.isCurrent());
    std::promise<std::pair<bool, std::thread::id>> first;
    std::promise<std::thread::id> second;
    executor.submit([&] {
        first.set_value({MainExecutor::shared().isCurrent(), std::this_thread::get_id()});
    });
    executor.submit([&] { second.set_value(std::this_thread::get_id()); });
    auto [current, firstThread] = first.get_future().get();
    EXPECT_TRUE(current);
    EXPECT_NE(firstThread, std::this_thread::get_id());
    EXPECT_EQ(second.get_future().get(), firstThread);
}

TEST(MainExecutor, ThrowingTaskDoesNotStopLaterTasks) {
    MainExecutor& executor = MainExecutor::shared();
    executor.submit([] { throw std::runtime_error("task failed"); });
    executor.submit([] { throw 42; });
    executor.submit(std::function<void()>());  // an empty task is skipped
    bool ran = false;
    executor.submit([&] { ran = true; });
    drain();
    EXPECT_TRUE(ran);
}

TEST(MainExecutor, TaskSubmittedFromTheExecutorRunsAfterTheCurrentOne) {
    std::vector<std::string> steps;
    std::promise<void> done;
    MainExecutor::shared().submit([&] {
        MainExecutor::shared().submit([&] {
            steps.push_back("inner");
            done.set_value();
        });
        steps.push_back("outer finished");
    });
    done.get_future().get();
    EXPECT_EQ(steps, (std::vector<std::string>{"outer finished", "inner"}));
}

}  // namespace
}  // namespace tavro::platform
