#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "app/ui_loop.h"

// What a task's body left: its integer result, or the error it ended with.
class TaskResult {
public:
    static TaskResult Of(int32_t value) { return TaskResult(value, nullptr); }
    static TaskResult Failed(std::exception_ptr error) { return TaskResult(0, std::move(error)); }

    // The body's result; an error the body ended with is raised again here.
    int32_t Get() const {
        if (error_)
            std::rethrow_exception(error_);
        return value_;
    }
    bool Failed() const { return error_ != nullptr; }

private:
    TaskResult(int32_t value, std::exception_ptr error) : value_(value), error_(std::move(error)) {}
    int32_t value_;
    std::exception_ptr error_;
};

// The shared pool of worker threads that runs the host's press operations.
// A task's completion handler runs on the user-interface thread; an error that
// escapes it (the body's error included, raised by TaskResult::Get) goes to the
// error report on that thread.
class WorkerPool {
public:
    using Body = std::function<int32_t()>;
    using Completion = std::function<void(const TaskResult&)>;
    // Called on the user-interface thread with the error's text.
    using ErrorReport = std::function<void(const std::string&)>;

    WorkerPool(UiLoop& ui, ErrorReport report, unsigned threads = 4);
    // Tasks not yet started are dropped; running bodies are waited for, and no
    // completion handler runs afterwards.
    ~WorkerPool();
    WorkerPool(const WorkerPool&) = delete;
    WorkerPool& operator=(const WorkerPool&) = delete;

    // Any thread; returns at once. A task without a handler still has its
    // error reported.
    void Start(Body body, Completion done = nullptr);

    // Runs body on a worker thread and waits for it on the calling thread;
    // the body's error is raised again here.
    int32_t RunAndWait(Body body);

    // The error report's text for an error caught on the user-interface thread.
    static std::string Describe(const std::exception_ptr& error);

    // Whether the calling thread is a worker of some pool: the host's own
    // press operations run there, the library's own threads do not.
    static bool OnWorkerThread();

private:
    struct Job {
        Body body;
        std::function<void(TaskResult)> finished;
    };
    void Enqueue(Job job);
    void Work();
    void Complete(Completion done, TaskResult result);

    UiLoop& ui_;
    ErrorReport report_;
    // Cleared by the destructor; completion handlers posted earlier look at it.
    std::shared_ptr<bool> alive_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<Job> jobs_;
    bool stopping_ = false;
    std::vector<std::thread> threads_;
};
