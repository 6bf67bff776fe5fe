#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <functional>
#include <mutex>
#include <shared_mutex>
#include <string>
#include <thread>
#include <vector>

// The scripted preset system and closed-loop system: presets, corrected keys,
// synchronisation and scan requests dropped into the exchange folders as
// their real counterparts drop them, careful producers writing beside and
// renaming, careless ones writing in place in pieces. Every request carries
// an identity ("soak-job-7") that the backup of a handled request keeps.
class ScriptedExchange {
public:
    enum Kind { kJob, kKeys, kSynchronise, kScan, kKinds };

    struct Folders {
        std::filesystem::path preset, keysIn, commands, scanIn, scanOut;
    };

    // While a request lies in its folder the producer holds quiet shared; a
    // new start of the library (which empties the incoming folders) takes it
    // exclusively.
    // note, when set, hears of every drop and of its removal by the library.
    ScriptedExchange(Folders folders, unsigned seed, std::shared_mutex& quiet,
                     std::function<void(const std::string&)> note = nullptr);
    ~ScriptedExchange();
    ScriptedExchange(const ScriptedExchange&) = delete;
    ScriptedExchange& operator=(const ScriptedExchange&) = delete;

    void Start();
    // Stops dropping; returns once both producers are idle.
    void Stop();

    struct Request {
        std::string identity;
        std::string text; // as dropped
    };
    // The requests dropped so far (after Stop: all of them).
    std::vector<Request> Dropped(Kind kind) const;
    static const char* Name(Kind kind);
    // The identities carried by a text (a request or its backup).
    static std::vector<std::string> Identities(const std::string& text);

    // A synchronisation or scan request this close after a job is dropped by
    // the library on purpose; the closed-loop system waits this long.
    static constexpr std::chrono::seconds kAfterJob{9};

private:
    void PresetSystem();
    void ClosedLoopSystem();
    // Drops one request and waits until the library has taken it away;
    // written, when given, receives the moment the file was complete.
    void Drop(Kind kind, const std::filesystem::path& path, const std::string& text, bool inPieces,
              std::chrono::steady_clock::time_point* written = nullptr);
    bool Sleep(std::chrono::milliseconds time) const; // false when stopping
    std::string NextIdentity(Kind kind);

    const Folders folders_;
    const unsigned seed_;
    std::shared_mutex& quiet_;
    std::mutex jobGuard_; // a synchronisation or scan never lies beside a fresh job
    std::chrono::steady_clock::time_point lastJob_{}; // when the last job file was complete
    mutable std::mutex droppedLock_;
    std::array<std::vector<Request>, kKinds> dropped_;
    const std::function<void(const std::string&)> note_;
    std::array<int, kKinds> next_{};
    std::atomic<bool> running_{false};
    std::vector<std::thread> threads_;
};
