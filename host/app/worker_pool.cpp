#include "app/worker_pool.h"

#include <future>

namespace {
thread_local bool tOnWorkerThread = false;
} // namespace

bool WorkerPool::OnWorkerThread() {
    return tOnWorkerThread;
}

WorkerPool::WorkerPool(UiLoop& ui, ErrorReport report, unsigned threads)
    : ui_(ui), report_(std::move(report)), alive_(std::make_shared<bool>(true)) {
    if (threads == 0)
        threads = 1;
    for (unsigned i = 0; i < threads; ++i)
        threads_.emplace_back([this] { Work(); });
}

WorkerPool::~WorkerPool() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
        jobs_.clear();
    }
    wake_.notify_all();
    for (auto& thread : threads_)
        thread.join();
    // On the user-interface thread, so no handler runs at this moment; the
    // ones still queued there find the pool gone.
    *alive_ = false;
}

void WorkerPool::Enqueue(Job job) {
    {
        std::lock_guard lock(mutex_);
        if (stopping_)
            return;
        jobs_.push_back(std::move(job));
    }
    wake_.notify_one();
}

void WorkerPool::Work() {
    tOnWorkerThread = true;
    for (;;) {
        Job job;
        {
            std::unique_lock lock(mutex_);
            wake_.wait(lock, [this] { return stopping_ || !jobs_.empty(); });
            if (jobs_.empty())
                return;
            job = std::move(jobs_.front());
            jobs_.pop_front();
        }
        TaskResult result = TaskResult::Of(0);
        try {
            result = TaskResult::Of(job.body());
        } catch (...) {
            result = TaskResult::Failed(std::current_exception());
        }
        job.body = nullptr;
        job.finished(std::move(result));
    }
}

void WorkerPool::Start(Body body, Completion done) {
    Enqueue(Job{std::move(body),
                [this, done = std::move(done)](TaskResult result) { Complete(done, std::move(result)); }});
}

void WorkerPool::Complete(Completion done, TaskResult result) {
    std::shared_ptr<bool> alive = alive_;
    ui_.Post([this, alive, done = std::move(done), result = std::move(result)] {
        if (!*alive)
            return;
        try {
            if (done)
                done(result);
            else
                result.Get();
        } catch (...) {
            if (report_)
                report_(Describe(std::current_exception()));
        }
    });
}

int32_t WorkerPool::RunAndWait(Body body) {
    auto finished = std::make_shared<std::promise<TaskResult>>();
    std::future<TaskResult> outcome = finished->get_future();
    Enqueue(Job{std::move(body), [finished](TaskResult result) { finished->set_value(std::move(result)); }});
    // A pool that is shutting down drops the job and with it the promise.
    try {
        return outcome.get().Get();
    } catch (const std::future_error&) {
        return 0;
    }
}

std::string WorkerPool::Describe(const std::exception_ptr& error) {
    try {
        std::rethrow_exception(error);
    } catch (const std::exception& e) {
        return e.what();
    } catch (...) {
        return "unknown error";
    }
}
