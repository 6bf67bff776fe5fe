#pragma once

#include <filesystem>
#include <functional>
#include <memory>
#include <string>

// At most one running instance per program file. The identity is the full
// path of the program file, upper-cased, with every separator replaced by
// "_". Only the user's own processes can hold it or reach the instance that
// holds it: another user can neither take the identity first nor speak to it.
class SingleInstance {
public:
    static std::string Identity(const std::filesystem::path& programFile);

    explicit SingleInstance(std::string identity);
    ~SingleInstance();
    SingleInstance(const SingleInstance&) = delete;
    SingleInstance& operator=(const SingleInstance&) = delete;

    struct Outcome {
        enum Kind {
            Acquired, // this process is the instance now
            Answered, // the running instance answered; text is its answer
            Failed    // neither: text says why
        } kind = Failed;
        std::string text;
    };
    // Becomes the instance, or asks the running one. An instance that is
    // ending (waiting for its press tasks) is waited for, then this process
    // becomes the instance; onWaiting runs once when that wait has lasted a
    // moment, so the start can say why nothing happens yet.
    Outcome Acquire(const std::function<void()>& onWaiting = nullptr);

    // From now on each later start gets the text that answer returns (called
    // on a thread of its own). An answer that finds this instance ending calls
    // SetEnding: the later start then waits instead.
    void Listen(std::function<std::string()> answer);
    // Later starts are told to wait: this instance is ending.
    void SetEnding();
    void StopListening();

    const std::string& identity() const { return identity_; }
    // The identity as 16 hex digits, for file names that stand for it.
    std::string IdentityHash() const;

private:
    struct Impl;
    std::string identity_;
    std::unique_ptr<Impl> impl_;
};
