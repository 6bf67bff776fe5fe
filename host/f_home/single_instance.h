#pragma once

#include <atomic>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>

// At most one running instance per program file. The identity is the full
// path of the program file, upper-cased, with every separator replaced by
// "_"; it names a machine-wide socket that the running instance holds.
class SingleInstance {
public:
    static std::string Identity(const std::filesystem::path& programFile);

    explicit SingleInstance(std::string identity);
    ~SingleInstance();
    SingleInstance(const SingleInstance&) = delete;
    SingleInstance& operator=(const SingleInstance&) = delete;

    // True when this process is now the instance. False when another instance
    // holds the identity; that instance has been asked to come to the front.
    bool Acquire();

    // Runs onFront (on a thread of its own) each time a later start asks.
    void Listen(std::function<void()> onFront);
    void StopListening();

    const std::string& identity() const { return identity_; }

private:
    std::string identity_;
    int socket_ = -1;
    int stopPipe_[2] = {-1, -1};
    std::thread listener_;
};
