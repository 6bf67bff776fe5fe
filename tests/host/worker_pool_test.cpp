#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "app/worker_pool.h"

namespace {

using namespace std::chrono_literals;

// The test thread is the user-interface thread.
class WorkerPoolTest : public ::testing::Test {
protected:
    UiLoop ui;
    std::vector<std::string> reports; // on the user-interface thread only
    std::vector<std::thread::id> reportThreads;

    WorkerPool::ErrorReport Report() {
        return [this](const std::string& what) {
            reports.push_back(what);
            reportThreads.push_back(std::this_thread::get_id());
        };
    }

    // Handles the user-interface thread's events until done() holds.
    bool PumpUntil(const std::function<bool()>& done) {
        const auto end = std::chrono::steady_clock::now() + 20s;
        while (!done()) {
            if (std::chrono::steady_clock::now() > end)
                return false;
            ui.ProcessPending();
            std::this_thread::sleep_for(1ms);
        }
        return true;
    }
};

// A gate that bodies wait at until the test opens it.
class Gate {
public:
    void Open() {
        {
            std::lock_guard lock(m_);
            open_ = true;
        }
        cv_.notify_all();
    }
    // False if it stayed shut for the whole time.
    bool Wait(std::chrono::milliseconds limit = 20s) {
        std::unique_lock lock(m_);
        return cv_.wait_for(lock, limit, [&] { return open_; });
    }

private:
    std::mutex m_;
    std::condition_variable cv_;
    bool open_ = false;
};

TEST_F(WorkerPoolTest, TheResultReachesTheHandlerOnTheUserInterfaceThread) {
    WorkerPool pool(ui, Report());
    std::atomic<bool> bodyOnUi{true};
    std::atomic<bool> bodyRan{false};
    int result = -1;
    bool handlerOnUi = false;
    pool.Start(
        [&] {
            bodyOnUi = ui.IsUiThread();
            bodyRan = true;
            return 42;
        },
        [&](const TaskResult& r) {
            handlerOnUi = ui.IsUiThread();
            EXPECT_FALSE(r.Failed());
            result = r.Get();
        });
    ASSERT_TRUE(PumpUntil([&] { return result != -1; }));
    EXPECT_TRUE(bodyRan);
    EXPECT_FALSE(bodyOnUi);
    EXPECT_TRUE(handlerOnUi);
    EXPECT_EQ(result, 42);
    EXPECT_TRUE(reports.empty());
}

TEST_F(WorkerPoolTest, TheHandlerRunsOnlyWhenTheUserInterfaceThreadHandlesItsEvents) {
    WorkerPool pool(ui, Report());
    Gate finished;
    bool handled = false;
    pool.Start(
        [&] {
            finished.Open();
            return 0;
        },
        [&](const TaskResult&) { handled = true; });
    ASSERT_TRUE(finished.Wait());
    std::this_thread::sleep_for(20ms);
    EXPECT_FALSE(handled); // nothing has handled the loop's events yet
    ASSERT_TRUE(PumpUntil([&] { return handled; }));
}

struct ErrorCase {
    const char* name;
    std::function<int32_t()> body;
    bool withHandler;
    std::string report;
};

TEST_F(WorkerPoolTest, AnErrorOfABodyIsRaisedWhenTheResultIsReadAndReachesTheReport) {
    const ErrorCase cases[] = {
        {"with a handler",
         []() -> int32_t { throw std::invalid_argument("'x' is not a valid integer value"); }, true,
         "'x' is not a valid integer value"},
        {"without a handler", []() -> int32_t { throw std::runtime_error("press gone"); }, false,
         "press gone"},
        {"not a standard error", []() -> int32_t { throw 7; }, true, "unknown error"},
    };
    for (const auto& c : cases) {
        reports.clear();
        reportThreads.clear();
        WorkerPool pool(ui, Report());
        bool handlerRan = false;
        bool failedSeen = false;
        WorkerPool::Completion handler;
        if (c.withHandler)
            handler = [&](const TaskResult& r) {
                handlerRan = true;
                failedSeen = r.Failed();
                r.Get();
                ADD_FAILURE() << "reading the result did not raise the error";
            };
        pool.Start(c.body, handler);
        ASSERT_TRUE(PumpUntil([&] { return !reports.empty(); })) << c.name;
        EXPECT_EQ(reports, std::vector<std::string>{c.report}) << c.name;
        EXPECT_EQ(reportThreads.front(), std::this_thread::get_id()) << c.name;
        EXPECT_EQ(handlerRan, c.withHandler) << c.name;
        EXPECT_EQ(failedSeen, c.withHandler) << c.name;
    }
}

TEST_F(WorkerPoolTest, AnErrorOfTheHandlerItselfReachesTheReport) {
    WorkerPool pool(ui, Report());
    pool.Start([] { return 1; },
               [](const TaskResult& r) {
                   if (r.Get() == 1)
                       throw std::logic_error("handler failed");
               });
    ASSERT_TRUE(PumpUntil([&] { return !reports.empty(); }));
    EXPECT_EQ(reports, std::vector<std::string>{"handler failed"});
}

TEST_F(WorkerPoolTest, TasksOfTheSameKindRunAtTheSameTime) {
    WorkerPool pool(ui, Report());
    constexpr int kTasks = 3;
    std::mutex m;
    std::condition_variable cv;
    int arrived = 0;
    std::vector<int> results;
    for (int i = 0; i < kTasks; ++i)
        pool.Start(
            [&] {
                // Each body waits until all are running: only tasks that run
                // side by side get past this.
                std::unique_lock lock(m);
                ++arrived;
                cv.notify_all();
                return cv.wait_for(lock, 20s, [&] { return arrived == kTasks; }) ? 1 : 0;
            },
            [&](const TaskResult& r) { results.push_back(r.Get()); });
    ASSERT_TRUE(PumpUntil([&] { return results.size() == kTasks; }));
    EXPECT_EQ(results, std::vector<int>(kTasks, 1));
}

TEST_F(WorkerPoolTest, RunAndWaitRunsOnAWorkerAndGivesTheResultOrTheError) {
    WorkerPool pool(ui, Report());
    std::thread::id bodyThread;
    EXPECT_EQ(pool.RunAndWait([&] {
        bodyThread = std::this_thread::get_id();
        return 5;
    }),
              5);
    EXPECT_NE(bodyThread, std::this_thread::get_id());
    EXPECT_THROW(pool.RunAndWait([]() -> int32_t { throw std::runtime_error("no"); }), std::runtime_error);
    // The waiting is not done by handling events: nothing was posted.
    ui.ProcessPending();
    EXPECT_TRUE(reports.empty());
}

TEST_F(WorkerPoolTest, TasksMayBeStartedFromAnyThread) {
    WorkerPool pool(ui, Report());
    int handled = 0;
    std::thread starter([&] {
        for (int i = 0; i < 10; ++i)
            pool.Start([] { return 0; }, [&](const TaskResult&) { ++handled; });
    });
    starter.join();
    ASSERT_TRUE(PumpUntil([&] { return handled == 10; }));
}

TEST_F(WorkerPoolTest, EndingWaitsForRunningBodiesDropsWaitingOnesAndRunsNoHandler) {
    Gate release;
    Gate running;
    std::atomic<bool> firstEnded{false};
    std::atomic<bool> secondRan{false};
    bool handled = false;
    std::thread opener;
    {
        WorkerPool pool(ui, Report(), 1);
        pool.Start(
            [&] {
                running.Open();
                release.Wait();
                firstEnded = true;
                return 0;
            },
            [&](const TaskResult&) { handled = true; });
        pool.Start([&] {
            secondRan = true;
            return 0;
        });
        ASSERT_TRUE(running.Wait());
        opener = std::thread([&] {
            std::this_thread::sleep_for(50ms);
            release.Open();
        });
    } // the pool ends here, while the first body still waits
    opener.join();
    EXPECT_TRUE(firstEnded);
    EXPECT_FALSE(secondRan);
    ui.ProcessPending();
    EXPECT_FALSE(handled);
    EXPECT_TRUE(reports.empty());
}

TEST_F(WorkerPoolTest, AfterTheLoopHasQuitHandlersAreDroppedAndRunAndWaitStillWorks) {
    // Completion handlers go to the loop; a loop that has quit drops them
    // without running them.
    WorkerPool pool(ui, Report());
    ui.Quit();
    bool handled = false;
    pool.Start([] { return 0; }, [&](const TaskResult&) { handled = true; });
    EXPECT_EQ(pool.RunAndWait([] { return 3; }), 3);
    std::this_thread::sleep_for(20ms);
    ui.ProcessPending();
    EXPECT_FALSE(handled);
}

} // namespace
