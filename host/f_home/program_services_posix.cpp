#include "f_home/program_services.h"

#include <atomic>
#include <csignal>
#include <ctime>
#include <pthread.h>
#include <thread>
#include <unistd.h>

namespace {

sigset_t StopSignals() {
    sigset_t set;
    sigemptyset(&set);
    for (int signal : {SIGINT, SIGTERM, SIGHUP})
        sigaddset(&set, signal);
    return set;
}

} // namespace

void ConnectStandardStreams() {}

// The signals are blocked in every thread and taken by one thread here.
struct StopRequests::Impl {
    sigset_t set = StopSignals();
    std::atomic<bool> done{false};
    std::thread thread;
};

void StopRequests::PrepareAllThreads() {
    const sigset_t set = StopSignals();
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
    std::signal(SIGPIPE, SIG_IGN);
}

StopRequests::StopRequests(UiLoop& ui) : impl_(std::make_unique<Impl>()) {
    Impl& impl = *impl_;
    impl.thread = std::thread([&impl, &ui] {
        const timespec tick{0, 200 * 1000 * 1000};
        while (!impl.done) {
            if (sigtimedwait(&impl.set, nullptr, &tick) > 0)
                ui.Quit();
        }
    });
}

StopRequests::~StopRequests() {
    impl_->done = true;
    impl_->thread.join();
}

bool CanWriteIn(const std::filesystem::path& folder) {
    return ::access(folder.c_str(), W_OK) == 0;
}
