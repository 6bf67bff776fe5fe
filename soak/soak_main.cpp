// tessaro-soak: the whole console for a configurable time: press operations
// from several threads through the library's exports, a scripted operator's
// page driving the host's application object, presets, corrected keys,
// synchronisation and scan requests dropped by a scripted preset and
// closed-loop system, and faults injected on a 9600 baud line, all at once.
// Checks that frames of two operations never interleave, that no request is
// lost, that the outgoing files always parse, that the page calls are sane and
// that memory stays flat; prints a summary and exits non-zero on any failure.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <optional>
#include <random>
#include <set>
#include <shared_mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <unistd.h>

#include "exchange/xml_node.h"
#include "line_check.h"
#include "page_session.h"
#include "scripted_exchange.h"
#include "simulated_console.h"
#include "tessaro.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

constexpr int kUnits = 4;
constexpr int kKeys = 24;
constexpr int kMovementMs = 300;
// Mean resident memory of the last quarter of the run over that of the first.
constexpr long kMemoryGrowthLimitKb = 4 * 1024;
// The console's record of bytes is emptied this often (the frames are taken every check).
constexpr auto kRecordClear = std::chrono::seconds(20);

struct Options {
    double minutes = 10;
    int threads = 3;
    int faultEverySeconds = 5;
    unsigned seed = 1;
    std::string keep;  // folder to keep the run's files in (else a removed temporary one)
    std::string trace; // file for the console's trace, every frame and the soak's own steps
};

bool ParseArgs(int argc, char** argv, Options& o) {
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        const bool more = i + 1 < argc;
        if (a == "--minutes" && more)
            o.minutes = std::atof(argv[++i]);
        else if (a == "--threads" && more)
            o.threads = std::max(0, std::atoi(argv[++i]));
        else if (a == "--fault-every" && more)
            o.faultEverySeconds = std::max(1, std::atoi(argv[++i]));
        else if (a == "--seed" && more)
            o.seed = static_cast<unsigned>(std::atoi(argv[++i]));
        else if (a == "--keep" && more)
            o.keep = argv[++i];
        else if (a == "--trace" && more)
            o.trace = argv[++i];
        else
            return false;
    }
    return o.minutes > 0;
}

std::string ReadAll(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

bool Parses(const std::string& text) {
    if (text.empty())
        return false;
    tsr::XmlParseOptions options;
    tsr::XmlNode root;
    const std::optional<std::size_t> end = root.Parse(text, options);
    return end && !options.errorOccurred && !root.Children().empty() &&
           text.find_first_not_of(" \t\r\n", *end) == std::string::npos;
}

// Resident memory from /proc/self/status, in kB.
long ResidentKb() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmRSS:", 0) == 0)
            return std::atol(line.c_str() + 6);
    return 0;
}

double Mean(const std::vector<long>& v, std::size_t from, std::size_t to) {
    if (to <= from)
        return 0;
    double sum = 0;
    for (std::size_t i = from; i < to; ++i)
        sum += static_cast<double>(v[i]);
    return sum / static_cast<double>(to - from);
}

// Events before the host's start; from then on they go to the host.
void TSR_CALL OnEvent(std::int32_t, std::int32_t, std::int32_t) {}

// Press operations straight through the exports, as a second program on the
// library would make them.
class Operator {
public:
    Operator(unsigned seed, const std::atomic<bool>& running) : random_(seed), running_(running) {}

    void Run(std::atomic<long>& operations, std::atomic<long>& failed) {
        while (running_) {
            const int r = One();
            operations++;
            if (r != 0)
                failed++;
            std::this_thread::sleep_for(milliseconds(Between(0, 400)));
        }
    }

private:
    int Between(int low, int high) { return std::uniform_int_distribution<>(low, high)(random_); }

    int One() {
        const int unit = Between(1, kUnits);
        std::int32_t keys[kKeys];
        std::int32_t a = 0, b = 0, c = 0;
        std::uint8_t flags = 0;
        switch (Between(0, 9)) {
        case 0:
            return TSR_GetKeys(unit, keys, kKeys);
        case 1:
            for (std::int32_t& k : keys)
                k = Between(0, 255);
            return TSR_SetNewKey_Absolute(unit, keys, kKeys);
        case 2:
            return TSR_SetNewDuctor_Absolute(unit, Between(0, 100));
        case 3:
            return TSR_GetDuctor(unit, &a);
        case 4:
            return TSR_WorkingPosition(unit);
        case 5:
            return TSR_GetInfo(unit, &a, &b, &c, &flags);
        case 6:
            return TSR_SetNewKey_Relative(unit, Between(-5, 5));
        case 7:
            return TSR_GetDuctorCycle(unit, &a);
        case 8:
            return TSR_SetNewDuctorCycle_Absolute(unit, Between(0, 1) ? 2 : 3);
        default:
            return TSR_ZeroPosition(unit);
        }
    }

    std::mt19937 random_;
    const std::atomic<bool>& running_;
};

// Lines for the --trace file, stamped with the milliseconds since the console
// started (the console's own lines carry its stamps already).
class TraceFile {
public:
    explicit TraceFile(const std::string& path) : start_(Clock::now()) {
        if (!path.empty())
            file_ = std::fopen(path.c_str(), "w");
    }
    ~TraceFile() {
        if (file_)
            std::fclose(file_);
    }
    TraceFile(const TraceFile&) = delete;
    TraceFile& operator=(const TraceFile&) = delete;

    bool On() const { return file_ != nullptr; }
    void Raw(const std::string& line) {
        if (!file_)
            return;
        std::lock_guard lock(mutex_);
        std::fprintf(file_, "%s\n", line.c_str());
    }
    void Note(const std::string& text) {
        if (!file_)
            return;
        char stamp[32];
        std::snprintf(stamp, sizeof stamp, "%10.3f ",
                      std::chrono::duration<double, std::milli>(Clock::now() - start_).count());
        Raw(stamp + ("soak: " + text));
    }

private:
    const Clock::time_point start_;
    std::mutex mutex_;
    std::FILE* file_ = nullptr;
};

// Fault notes of the console (its trace lines end in "(fault)"), with the
// console's time stamp in milliseconds in front.
class FaultNotes {
public:
    void Trace(const std::string& line) {
        if (line.find("(fault)") == std::string::npos)
            return;
        const double ms = std::atof(line.c_str());
        std::lock_guard lock(mutex_);
        times_.push_back(static_cast<std::int64_t>(ms * 1000.0));
    }
    std::vector<std::int64_t> Take() {
        std::lock_guard lock(mutex_);
        std::vector<std::int64_t> taken;
        taken.swap(times_);
        return taken;
    }

private:
    std::mutex mutex_;
    std::vector<std::int64_t> times_;
};

} // namespace

int main(int argc, char** argv) {
    Options o;
    if (!ParseArgs(argc, argv, o)) {
        std::fprintf(stderr, "usage: tessaro-soak [--minutes M] [--threads N] [--fault-every S] [--seed N] "
                             "[--keep DIR] [--trace FILE]\n");
        return 2;
    }
    const fs::path root = o.keep.empty()
                              ? fs::temp_directory_path() / ("tessaro-soak-" + std::to_string(::getpid()))
                              : fs::absolute(o.keep);
    for (const char* f : {"preset", "keysIn", "keysOut", "scanIn", "scanOut", "commands", "logs", "current"})
        fs::create_directories(root / f);
    // The host's storage folder: the library's configuration is its Tessaro.ini.
    const fs::path ini = root / "Tessaro.ini";
    std::ofstream(ini, std::ios::binary)
        << "[GENERAL]\r\nPathPresetRCV=" << (root / "preset").string()
        << "\r\nPathLoopKeysRCV=" << (root / "keysIn").string()
        << "\r\nPathLoopKeysSND=" << (root / "keysOut").string()
        << "\r\nPathLoopScanRCV=" << (root / "scanIn").string()
        << "\r\nPathLoopScanSND=" << (root / "scanOut").string()
        << "\r\nPathCommands=" << (root / "commands").string() << "\r\nPathLogs=" << (root / "logs").string()
        << "\r\nPathCurrentJob=" << (root / "current").string() << "\r\nCOM1=1\r\nUnitNumber=" << kUnits
        << "\r\nKeysNumber=" << kKeys << "\r\nPerfector=" << kUnits
        << "\r\nDuctorCycle=2\r\nPresetActive=1\r\n";

    FaultNotes faultNotes;
    TraceFile trace(o.trace);
    if (!o.trace.empty() && !trace.On()) {
        std::fprintf(stderr, "cannot write %s\n", o.trace.c_str());
        return 2;
    }
    tsr::sim::SimOptions simOptions;
    simOptions.console.units = kUnits;
    simOptions.console.keys = kKeys;
    simOptions.console.movementMs = kMovementMs;
    simOptions.console.pacing = true;
    simOptions.linkFolder = (root / "ports").string();
    simOptions.trace = [&faultNotes, &trace](const std::string& line) {
        faultNotes.Trace(line);
        trace.Raw(line);
    };
    tsr::sim::SimulatedConsole console(simOptions);
    ::setenv("TESSARO_SERIAL_DIR", console.LinkFolder().c_str(), 1);
    if (TSR_Init(1, ini.string().c_str(), &OnEvent, 0) != 0) {
        std::fprintf(stderr, "TSR_Init failed\n");
        return 1;
    }
    TSR_INI_SetConnectPSX(1);
    TSR_INI_SetConnectLPX(1);

    std::shared_mutex exchangeQuiet;
    PageSession::Options pageOptions;
    pageOptions.programFolder = TSR_SOAK_PROGRAM_FOLDER;
    pageOptions.storage = root;
    pageOptions.units = kUnits;
    pageOptions.keys = kKeys;
    pageOptions.seed = o.seed * 7 + 4;
    if (trace.On())
        pageOptions.note = [&trace](const std::string& text) { trace.Note(text); };
    PageSession page(pageOptions, exchangeQuiet);
    page.Open(); // the host's start: the library now runs with the host's event callback
    ScriptedExchange exchange(
        {root / "preset", root / "keysIn", root / "commands", root / "scanIn", root / "scanOut"}, o.seed,
        exchangeQuiet, [&trace](const std::string& text) { trace.Note(text); });

    const auto start = Clock::now();
    const auto end = start + milliseconds(static_cast<long>(o.minutes * 60000));
    std::atomic<bool> running{true};
    std::atomic<long> operations{0}, failedOperations{0}, faults{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < o.threads; ++t)
        threads.emplace_back([&, t] {
            Operator(o.seed * 100 + static_cast<unsigned>(t), running).Run(operations, failedOperations);
        });
    page.StartScript();
    exchange.Start();

    // Faults on the line now and then.
    threads.emplace_back([&] {
        std::mt19937 random(o.seed * 7 + 3);
        const tsr::sim::FaultKind kinds[] = {tsr::sim::FaultKind::NoAnswer, tsr::sim::FaultKind::BadAnswer,
                                             tsr::sim::FaultKind::ShortAnswer,
                                             tsr::sim::FaultKind::StrayBytes, tsr::sim::FaultKind::Delay};
        auto next = Clock::now();
        while (running) {
            next += std::chrono::seconds(o.faultEverySeconds);
            while (running && Clock::now() < next)
                std::this_thread::sleep_for(milliseconds(50));
            if (!running)
                break;
            tsr::sim::Fault f;
            f.kind = kinds[std::uniform_int_distribution<>(0, 4)(random)];
            f.delayMs = std::uniform_int_distribution<>(0, 700)(random);
            console.AddFault(tsr::sim::kAnyFrame, f, 1);
            faults++;
        }
    });

    // The checker: the line, the outgoing files, memory.
    LineCheck line({kUnits, kKeys, kMovementMs});
    long outgoingChecks = 0, unparsable = 0;
    std::vector<long> resident;
    auto lastClear = Clock::now();
    auto nextSample = Clock::now();
    auto takeFrames = [&] {
        for (std::int64_t t : faultNotes.Take())
            line.FaultAt(t);
        std::vector<tsr::sim::Frame> frames;
        console.Update([&frames](tsr::sim::PressConsole& c) {
            frames = c.Frames();
            c.ClearFrames();
        });
        line.Take(frames);
        for (const tsr::sim::Frame& frame : frames)
            trace.Raw(LineCheck::Describe(frame) + " (frame)");
        if (Clock::now() - lastClear >= kRecordClear) {
            // Frames taken between the two looks would be lost with the bytes.
            console.ClearRecord();
            line.Break();
            lastClear = Clock::now();
        }
    };
    const fs::path outgoing[] = {root / "keysOut" / "InkKeys.xml", root / "keysOut" / "InkKeys_DC.xml",
                                 root / "commands" / "statusTessaro.xml"};
    while (Clock::now() < end) {
        std::this_thread::sleep_for(milliseconds(250));
        takeFrames();
        for (const fs::path& out : outgoing) {
            if (!fs::exists(out))
                continue;
            ++outgoingChecks;
            if (!Parses(ReadAll(out))) {
                ++unparsable;
                std::fprintf(stderr, "unparsable: %s\n", out.c_str());
            }
        }
        if (Clock::now() >= nextSample) {
            resident.push_back(ResidentKb());
            nextSample += std::chrono::seconds(1);
        }
    }
    running = false;
    for (std::thread& t : threads)
        t.join();
    exchange.Stop();
    page.Close();
    std::this_thread::sleep_for(std::chrono::seconds(1));
    takeFrames();
    for (std::int64_t t : faultNotes.Take())
        line.FaultAt(t);
    line.Flush();
    const double minutes = std::chrono::duration<double>(Clock::now() - start).count() / 60.0;

    // Every request is backed up as it is handled: some backup holds its whole text.
    std::set<std::string> backups, identities;
    for (const auto& entry : fs::directory_iterator(root / "logs")) {
        if (!entry.is_regular_file())
            continue;
        const std::string text = ReadAll(entry.path());
        for (const std::string& identity : ScriptedExchange::Identities(text))
            identities.insert(identity);
        backups.insert(text);
    }
    long dropped[ScriptedExchange::kKinds] = {}, handled[ScriptedExchange::kKinds] = {};
    long lost = 0, inPart = 0;
    for (int k = 0; k < ScriptedExchange::kKinds; ++k) {
        for (const ScriptedExchange::Request& r : exchange.Dropped(static_cast<ScriptedExchange::Kind>(k))) {
            ++dropped[k];
            if (backups.count(r.text)) {
                ++handled[k];
            } else if (identities.count(r.identity)) {
                ++inPart;
                std::fprintf(stderr, "backed up only in part: %s\n", r.identity.c_str());
            } else {
                ++lost;
                std::fprintf(stderr, "lost: %s\n", r.identity.c_str());
            }
        }
    }

    const std::size_t quarter = resident.size() / 4;
    const double firstQuarterKb = Mean(resident, 0, quarter);
    const double lastQuarterKb = Mean(resident, resident.size() - quarter, resident.size());
    const long growthKb = static_cast<long>(lastQuarterKb - firstQuarterKb);
    const bool memoryFlat = quarter > 0 && growthKb <= kMemoryGrowthLimitKb;

    const PageSession::Stats host = page.stats();
    const bool bugReport = fs::exists(root / "bugreport.txt");
    // Every unit event has its progress call; a failed operation may add a
    // given-up one of the host's own.
    const bool eventsMatch =
        host.progressCalls - host.givenUpProgressCalls == host.unitProgressEvents - host.givenUpEvents &&
        host.givenUpProgressCalls >= host.givenUpEvents;
    const bool hostOk = host.refused == 0 && host.stalled == 0 && host.badPageCalls == 0 &&
                        host.badMessages == 0 && host.unexpectedErrors == 0 && host.portClosed == 0 &&
                        !bugReport && eventsMatch && host.hostCalls > 0;

    for (const std::string& report : line.Reports())
        std::fprintf(stderr, "line: %s", report.c_str());
    for (const std::string& report : page.Reports())
        std::fprintf(stderr, "page: %s\n", report.c_str());

    std::printf("soak: %.1f minutes, %d operator threads and a page session, console at 9600 baud, a fault "
                "every %d s\n",
                minutes, o.threads, o.faultEverySeconds);
    std::printf("library operations  %ld through the exports (%ld returned an error)\n", operations.load(),
                failedOperations.load());
    std::printf("host operations     %ld host object calls (%ld refused, %ld unanswered), %ld page starts\n",
                host.hostCalls, host.refused, host.stalled, host.reloads + 1);
    std::printf("page calls          %ld (%ld not sane), %ld unit progress for %ld unit events (%s)\n",
                host.pageCalls, host.badPageCalls, host.progressCalls, host.unitProgressEvents,
                eventsMatch ? "all" : "MISMATCH");
    std::printf(
        "messages            %ld read (%ld unit events, %ld not sane, %ld error reports, port closed %ld)\n",
        host.messages, host.unitEvents, host.badMessages, host.unexpectedErrors + (bugReport ? 1 : 0),
        host.portClosed);
    std::printf("press waits         %ld page operations not started within %ld s\n", host.unstarted,
                static_cast<long>(PageSession::kStartWait.count()));
    std::printf("frames              %ld in %ld transactions, interleaved or broken: %ld\n", line.Frames(),
                line.Transactions(), line.Violations());
    std::printf(
        "after faults        %ld frames judged leniently, %ld out of step in %ld episodes (longest %.1f s)\n",
        line.Lenient(), line.AfterFaults(), line.Episodes(),
        static_cast<double>(line.LongestEpisodeUs()) / 1e6);
    std::printf("faults injected     %ld\n", faults.load());
    std::printf("requests dropped    job %ld, keys %ld, synchronise %ld, scan %ld\n", dropped[0], dropped[1],
                dropped[2], dropped[3]);
    std::printf("requests handled    job %ld, keys %ld, synchronise %ld, scan %ld\n", handled[0], handled[1],
                handled[2], handled[3]);
    std::printf("backed up in part   %ld\n", inPart);
    std::printf("lost                %ld\n", lost);
    std::printf("outgoing files      %ld checks (unparsable %ld)\n", outgoingChecks, unparsable);
    std::printf(
        "memory              %.0f kB first quarter, %.0f kB last quarter, growth %ld kB (limit %ld kB): %s\n",
        firstQuarterKb, lastQuarterKb, growthKb, kMemoryGrowthLimitKb, memoryFlat ? "flat" : "GROWING");

    if (o.keep.empty()) {
        std::error_code ec;
        fs::remove_all(root, ec);
    }
    const bool ok = lost == 0 && inPart == 0 && line.Violations() == 0 && unparsable == 0 && memoryFlat &&
                    hostOk && operations > 0 && line.Frames() > 0;
    std::printf("%s\n", ok ? "soak passed" : "soak FAILED");
    return ok ? 0 : 1;
}
