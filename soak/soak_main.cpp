// tessaro-soak: press operations from several threads, presets, corrected
// keys, synchronisation and scan requests dropped by scripted neighbours, and
// faults injected on the line, all at once for a configurable time. Checks
// that frames never interleave, that no request is lost, that the outgoing
// files always parse and that memory stays flat; prints a summary and exits
// non-zero on any failure.
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <optional>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <unistd.h>

#include "exchange/xml_node.h"
#include "simulated_console.h"
#include "tessaro.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

struct Options {
    double minutes = 10;
    int threads = 3;
    int faultEverySeconds = 5;
    unsigned seed = 1;
    std::string keep; // folder to keep the run's files in (else a removed temporary one)
};

struct Counters {
    std::atomic<long> operations{0};
    std::atomic<long> failedOperations{0};
    std::atomic<long> events{0};
    std::atomic<long> frames{0};
    std::atomic<long> badFrames{0};
    std::atomic<long> faults{0};
    std::atomic<long> outgoingChecks{0};
    std::atomic<long> unparsable{0};
    long dropped[4] = {0, 0, 0, 0}; // job, corrected keys, synchronise, scan
};

Counters counters;
std::atomic<bool> running{true};

void TSR_CALL OnEvent(std::int32_t, std::int32_t, std::int32_t) {
    counters.events.fetch_add(1, std::memory_order_relaxed);
}

std::string ReadAll(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// Written beside and renamed, as a careful producer does; or, now and then,
// written in place in pieces, as a careless one does.
void Drop(const fs::path& path, const std::string& text, bool slowly) {
    if (slowly) {
        std::ofstream out(path, std::ios::binary);
        const std::size_t half = text.size() / 2;
        out.write(text.data(), static_cast<std::streamsize>(half));
        out.flush();
        std::this_thread::sleep_for(std::chrono::milliseconds(80));
        out.write(text.data() + half, static_cast<std::streamsize>(text.size() - half));
        return;
    }
    const fs::path temp = path.parent_path() / (".drop-" + path.filename().string());
    std::ofstream(temp, std::ios::binary) << text;
    fs::rename(temp, path);
}

bool WaitAbsent(const fs::path& path, int seconds) {
    const auto end = Clock::now() + std::chrono::seconds(seconds);
    while (fs::exists(path)) {
        if (Clock::now() > end)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

std::string Profile(std::mt19937& random) {
    std::string zones;
    for (int i = 0; i < 24; ++i)
        zones += std::to_string(std::uniform_int_distribution<>(0, 100)(random) / 100.0).substr(0, 4) + " ";
    std::string units;
    const char* names[] = {"Black", "Cyan", "Magenta", "Yellow"};
    for (const char* name : names)
        units += std::string("<InkZoneProfile Separation=\"") + name + "\" ZoneSettingsX=\"" + zones +
                 "\" mr:InkSweep=\"" + std::to_string(std::uniform_int_distribution<>(0, 100)(random)) +
                 "\"/>";
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<JDF ID=\"n1\" Type=\"ProcessGroup\" "
           "xmlns=\"http://www.CIP4.org/JDFSchema_1_1\" "
           "xmlns:mr=\"http://www.example.com/schema/press-maker\">"
           "<ResourcePool><InkZoneProfile Class=\"Parameter\" ID=\"r1\"><InkZoneProfile "
           "SignatureName=\"SIG1\">"
           "<InkZoneProfile SheetName=\"S1\"><InkZoneProfile Side=\"Front\">" +
           units +
           "</InkZoneProfile></InkZoneProfile></InkZoneProfile></InkZoneProfile></ResourcePool></JDF>\n";
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

long RssKb() {
    std::ifstream statm("/proc/self/statm");
    long pages = 0, resident = 0;
    statm >> pages >> resident;
    return resident * (::sysconf(_SC_PAGESIZE) / 1024);
}

bool ParseArgs(int argc, char** argv, Options& o) {
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        const bool more = i + 1 < argc;
        if (a == "--minutes" && more)
            o.minutes = std::atof(argv[++i]);
        else if (a == "--threads" && more)
            o.threads = std::max(1, std::atoi(argv[++i]));
        else if (a == "--fault-every" && more)
            o.faultEverySeconds = std::max(1, std::atoi(argv[++i]));
        else if (a == "--seed" && more)
            o.seed = static_cast<unsigned>(std::atoi(argv[++i]));
        else if (a == "--keep" && more)
            o.keep = argv[++i];
        else
            return false;
    }
    return o.minutes > 0;
}

} // namespace

int main(int argc, char** argv) {
    Options o;
    if (!ParseArgs(argc, argv, o)) {
        std::fprintf(stderr, "usage: tessaro-soak [--minutes M] [--threads N] [--fault-every S] [--seed N] "
                             "[--keep DIR]\n");
        return 2;
    }
    const fs::path root = o.keep.empty()
                              ? fs::temp_directory_path() / ("tessaro-soak-" + std::to_string(::getpid()))
                              : fs::path(o.keep);
    for (const char* f : {"preset", "keysIn", "keysOut", "scanIn", "scanOut", "commands", "logs", "current"})
        fs::create_directories(root / f);
    const fs::path ini = root / "Tessaro.ini";
    std::ofstream(ini, std::ios::binary)
        << "[GENERAL]\r\nPathPresetRCV=" << (root / "preset").string()
        << "\r\nPathLoopKeysRCV=" << (root / "keysIn").string()
        << "\r\nPathLoopKeysSND=" << (root / "keysOut").string()
        << "\r\nPathLoopScanRCV=" << (root / "scanIn").string()
        << "\r\nPathLoopScanSND=" << (root / "scanOut").string()
        << "\r\nPathCommands=" << (root / "commands").string() << "\r\nPathLogs=" << (root / "logs").string()
        << "\r\nPathCurrentJob=" << (root / "current").string()
        << "\r\nCOM1=1\r\nUnitNumber=4\r\nKeysNumber=24\r\nPerfector=4\r\nDuctorCycle=2\r\nPresetActive="
           "1\r\n";

    tsr::sim::SimOptions simOptions;
    simOptions.console.units = 4;
    simOptions.console.keys = 24;
    simOptions.console.movementMs = 300;
    simOptions.console.pacing = true;
    simOptions.linkFolder = (root / "ports").string();
    tsr::sim::SimulatedConsole console(simOptions);
    ::setenv("TESSARO_SERIAL_DIR", console.LinkFolder().c_str(), 1);
    if (TSR_Init(1, ini.string().c_str(), &OnEvent, 0) != 0) {
        std::fprintf(stderr, "TSR_Init failed\n");
        return 1;
    }
    TSR_INI_SetConnectPSX(1);
    TSR_INI_SetConnectLPX(1);

    const auto start = Clock::now();
    const auto end = start + std::chrono::milliseconds(static_cast<long>(o.minutes * 60000));
    std::mutex requestGuard; // a synchronisation or scan never lands beside a fresh job
    std::vector<std::thread> threads;

    // Operators on several worker tasks.
    for (int t = 0; t < o.threads; ++t)
        threads.emplace_back([t, &o] {
            std::mt19937 random(o.seed * 100 + static_cast<unsigned>(t));
            std::int32_t keys[24];
            std::int32_t value = 0;
            while (running) {
                const int unit = std::uniform_int_distribution<>(1, 4)(random);
                int r = 0;
                switch (std::uniform_int_distribution<>(0, 5)(random)) {
                case 0:
                    r = TSR_GetKeys(unit, keys, 24);
                    break;
                case 1:
                    for (std::int32_t& k : keys)
                        k = std::uniform_int_distribution<>(0, 255)(random);
                    r = TSR_SetNewKey_Absolute(unit, keys, 24);
                    break;
                case 2:
                    r = TSR_SetNewDuctor_Absolute(unit, std::uniform_int_distribution<>(0, 100)(random));
                    break;
                case 3:
                    r = TSR_GetDuctor(unit, &value);
                    break;
                case 4:
                    r = TSR_WorkingPosition(unit);
                    break;
                case 5: {
                    std::int32_t a = 0, b = 0, c = 0;
                    std::uint8_t flags = 0;
                    r = TSR_GetInfo(unit, &a, &b, &c, &flags);
                    break;
                }
                }
                counters.operations++;
                if (r != 0)
                    counters.failedOperations++;
                std::this_thread::sleep_for(
                    std::chrono::milliseconds(std::uniform_int_distribution<>(0, 400)(random)));
            }
        });

    // The preset system.
    threads.emplace_back([&] {
        std::mt19937 random(o.seed * 7 + 1);
        while (running) {
            std::this_thread::sleep_for(
                std::chrono::milliseconds(std::uniform_int_distribution<>(2000, 6000)(random)));
            if (!running)
                break;
            std::lock_guard lock(requestGuard);
            const fs::path job = root / "preset" / "job.xml";
            if (!WaitAbsent(job, 60))
                continue;
            Drop(job, Profile(random), std::uniform_int_distribution<>(0, 3)(random) == 0);
            counters.dropped[0]++;
            WaitAbsent(job, 60);
        }
    });

    // The closed-loop system: corrected keys, synchronisation, scans; it takes
    // the released scans and the key files away as it reads them.
    threads.emplace_back([&] {
        std::mt19937 random(o.seed * 7 + 2);
        while (running) {
            std::this_thread::sleep_for(
                std::chrono::milliseconds(std::uniform_int_distribution<>(1000, 4000)(random)));
            if (!running)
                break;
            const int what = std::uniform_int_distribution<>(0, 2)(random);
            if (what == 0) {
                const fs::path keysFile = root / "keysIn" / "NewInkKeys.xml";
                if (!WaitAbsent(keysFile, 60))
                    continue;
                Drop(keysFile, Profile(random), std::uniform_int_distribution<>(0, 3)(random) == 0);
                counters.dropped[1]++;
                continue;
            }
            // Not within seconds of a job: such a request is dropped on purpose.
            std::lock_guard lock(requestGuard);
            const fs::path request =
                what == 1 ? root / "commands" / "Synchronize.xml" : root / "scanIn" / "Scan.xml";
            if (!WaitAbsent(request, 60))
                continue;
            Drop(request, "<?xml version=\"1.0\"?><JMF/>", false);
            counters.dropped[what == 1 ? 2 : 3]++;
            WaitAbsent(request, 60);
            std::error_code ec;
            fs::remove(root / "scanOut" / "Scan.xml", ec);
        }
    });

    // Faults on the line now and then.
    threads.emplace_back([&] {
        std::mt19937 random(o.seed * 7 + 3);
        const tsr::sim::FaultKind kinds[] = {tsr::sim::FaultKind::NoAnswer, tsr::sim::FaultKind::BadAnswer,
                                             tsr::sim::FaultKind::ShortAnswer,
                                             tsr::sim::FaultKind::StrayBytes, tsr::sim::FaultKind::Delay};
        while (running) {
            std::this_thread::sleep_for(std::chrono::seconds(o.faultEverySeconds));
            if (!running)
                break;
            tsr::sim::Fault f;
            f.kind = kinds[std::uniform_int_distribution<>(0, 4)(random)];
            f.delayMs = std::uniform_int_distribution<>(0, 700)(random);
            console.AddFault(tsr::sim::kAnyFrame, f, 1);
            counters.faults++;
        }
    });

    // The checker: frames, outgoing files, memory.
    long rssAfterWarmUp = 0, rssMax = 0;
    const auto warmUp = start + (end - start) / 5;
    auto takeFrames = [&] {
        for (const tsr::sim::Frame& f : console.Frames()) {
            counters.frames++;
            if (!f.checksumOk)
                counters.badFrames++;
        }
        console.ClearRecord();
    };
    while (Clock::now() < end) {
        std::this_thread::sleep_for(std::chrono::seconds(1));
        takeFrames();
        for (const fs::path& out : {root / "keysOut" / "InkKeys.xml", root / "keysOut" / "InkKeys_DC.xml",
                                    root / "commands" / "statusTessaro.xml"}) {
            if (!fs::exists(out))
                continue;
            counters.outgoingChecks++;
            if (!Parses(ReadAll(out))) {
                counters.unparsable++;
                std::fprintf(stderr, "unparsable: %s\n", out.c_str());
            }
        }
        const long rss = RssKb();
        if (Clock::now() >= warmUp && rssAfterWarmUp == 0)
            rssAfterWarmUp = rss;
        rssMax = std::max(rssMax, rss);
    }
    running = false;
    for (std::thread& t : threads)
        t.join();
    // Let the watcher finish what lies in the folders.
    for (const fs::path& request : {root / "preset" / "job.xml", root / "keysIn" / "NewInkKeys.xml",
                                    root / "commands" / "Synchronize.xml", root / "scanIn" / "Scan.xml"})
        WaitAbsent(request, 60);
    std::this_thread::sleep_for(std::chrono::seconds(1));
    takeFrames();
    const long rssEnd = RssKb();

    // Every request is backed up as it is handled.
    const char* roles[] = {"job.xml", "newInkKeys.xml", "Synch.xml", "Scan.xml"};
    long handled[4] = {0, 0, 0, 0};
    for (const auto& entry : fs::directory_iterator(root / "logs")) {
        const std::string name = entry.path().filename().string();
        for (int i = 0; i < 4; ++i) {
            const std::string role = roles[i];
            if (name.size() > role.size() && name.compare(name.size() - role.size(), role.size(), role) == 0)
                handled[i]++;
        }
    }
    long lost = 0;
    for (int i = 0; i < 4; ++i)
        lost += std::max(0L, counters.dropped[i] - handled[i]);
    const long rssGrowthKb = rssAfterWarmUp > 0 ? rssEnd - rssAfterWarmUp : 0;
    const bool memoryFlat = rssGrowthKb < 16 * 1024;

    std::printf("soak: %.1f minutes, %d operator threads, console at 9600 baud\n",
                std::chrono::duration<double>(Clock::now() - start).count() / 60.0, o.threads);
    std::printf("operations        %ld (%ld not 0, faults injected %ld)\n", counters.operations.load(),
                counters.failedOperations.load(), counters.faults.load());
    std::printf("events            %ld\n", counters.events.load());
    std::printf("frames            %ld (bad checksum or interleaved: %ld)\n", counters.frames.load(),
                counters.badFrames.load());
    std::printf("requests dropped  job %ld, keys %ld, synchronise %ld, scan %ld\n", counters.dropped[0],
                counters.dropped[1], counters.dropped[2], counters.dropped[3]);
    std::printf("requests handled  job %ld, keys %ld, synchronise %ld, scan %ld\n", handled[0], handled[1],
                handled[2], handled[3]);
    std::printf("lost              %ld\n", lost);
    std::printf("outgoing checks   %ld (unparsable %ld)\n", counters.outgoingChecks.load(),
                counters.unparsable.load());
    std::printf("memory            %ld kB after warm-up, %ld kB at the end, %ld kB at most (%s)\n",
                rssAfterWarmUp, rssEnd, rssMax, memoryFlat ? "flat" : "GROWING");

    if (o.keep.empty()) {
        std::error_code ec;
        fs::remove_all(root, ec);
    }
    const bool ok = lost == 0 && counters.badFrames == 0 && counters.unparsable == 0 && memoryFlat;
    std::printf("%s\n", ok ? "soak passed" : "soak FAILED");
    return ok ? 0 : 1;
}
