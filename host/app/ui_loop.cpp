#include "ui_loop.h"

UiLoop::UiLoop() : uiThread_(std::this_thread::get_id()) {}

bool UiLoop::Post(Task task) {
    {
        std::lock_guard lock(mutex_);
        if (quit_)
            return false;
        tasks_.push_back(std::move(task));
        // Under the lock: once it is released the loop may end and be destroyed.
        wake_.notify_all();
    }
    return true;
}

// Runs the front task with the lock released; returns false when none is queued.
bool UiLoop::RunOne(std::unique_lock<std::mutex>& lock) {
    if (tasks_.empty() || quit_)
        return false;
    Task task = std::move(tasks_.front());
    tasks_.pop_front();
    lock.unlock();
    task();
    task = nullptr; // captured state dies outside the lock as well
    lock.lock();
    return true;
}

void UiLoop::Run() {
    std::unique_lock lock(mutex_);
    while (!quit_) {
        wake_.wait(lock, [this] { return quit_ || !tasks_.empty(); });
        RunOne(lock);
    }
}

void UiLoop::Quit() {
    std::deque<Task> dropped;
    {
        std::lock_guard lock(mutex_);
        quit_ = true;
        dropped.swap(tasks_);
        wake_.notify_all();
    }
    // Tasks are destroyed here, unrun: a caller waiting on one sees a broken promise.
}

bool UiLoop::HasQuit() const {
    std::lock_guard lock(mutex_);
    return quit_;
}

void UiLoop::ProcessPending() {
    std::unique_lock lock(mutex_);
    while (RunOne(lock)) {
    }
}

void UiLoop::RunUntil(const std::function<bool()>& done) {
    std::unique_lock lock(mutex_);
    while (!quit_) {
        // Taken before done() is asked, so a Wake() in between is not lost.
        const unsigned seen = wakeups_;
        lock.unlock();
        if (done())
            return;
        lock.lock();
        wake_.wait(lock, [&] { return quit_ || !tasks_.empty() || wakeups_ != seen; });
        RunOne(lock);
    }
}

void UiLoop::Wake() {
    {
        std::lock_guard lock(mutex_);
        ++wakeups_;
        wake_.notify_all();
    }
}
