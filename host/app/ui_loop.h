#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

// The host's one user-interface thread: page calls, element clicks, browser
// events and completion handlers all run here, one after the other.
class UiLoop {
public:
    using Task = std::function<void()>;

    // The thread that creates the loop is its user-interface thread.
    UiLoop();
    UiLoop(const UiLoop&) = delete;
    UiLoop& operator=(const UiLoop&) = delete;

    // Any thread. Returns false (and drops the task) once the loop has quit.
    bool Post(Task task);
    // Runs tasks until Quit; on the user-interface thread only.
    void Run();
    // Any thread. Queued tasks that have not run are dropped.
    void Quit();
    bool HasQuit() const;

    // "Let pending user-interface events be handled": runs what is queued now
    // and returns without waiting. On the user-interface thread only.
    void ProcessPending();
    // A nested loop (a modal box): runs tasks until done() holds or the loop
    // quits. done() is checked after each task and after Wake().
    void RunUntil(const std::function<bool()>& done);
    // Makes a waiting RunUntil look at its condition again.
    void Wake();

    bool IsUiThread() const { return std::this_thread::get_id() == uiThread_; }

private:
    bool RunOne(std::unique_lock<std::mutex>& lock);

    const std::thread::id uiThread_;
    mutable std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<Task> tasks_;
    bool quit_ = false;
    unsigned wakeups_ = 0;
};
