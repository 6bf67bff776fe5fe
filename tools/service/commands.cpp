#include "commands.h"

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "service_session.h"
#include "tessaro.h"
#include "tessarox.h"

namespace {

volatile std::sig_atomic_t stopRequested = 0;

void OnStopSignal(int) {
    stopRequested = 1;
}

bool Number(const std::string& text, long low, long high, int& value) {
    if (text.empty())
        return false;
    char* end = nullptr;
    const long v = std::strtol(text.c_str(), &end, 10);
    if (*end || v < low || v > high)
        return false;
    value = static_cast<int>(v);
    return true;
}

int Usage(const char* text) {
    std::fprintf(stderr, "tessaro-service: %s\n", text);
    return kExitUsage;
}

// The unit as the line carries it: one byte.
bool UnitArgument(const std::vector<std::string>& args, std::size_t at, int& unit) {
    if (args.size() <= at || !Number(args[at], 1, 255, unit)) {
        std::fprintf(stderr, "tessaro-service: a unit number 1..255 is wanted%s%s\n",
                     args.size() > at ? ", not " : "", args.size() > at ? args[at].c_str() : "");
        return false;
    }
    return true;
}

const char* ResultText(int result) {
    switch (result) {
    case TSR_OK:
        return "done";
    case TSR_PORT_NOT_OPEN:
        return "the serial port is not open";
    case TSR_BAD_REPLY:
        return "the console's answer was not valid (bad reply)";
    case TSR_NO_REPLY:
        return "the console did not answer (no reply)";
    default:
        return "failed";
    }
}

// Prints what failed; the exit code of the result.
int Outcome(int unit, const char* what, int result) {
    if (result == TSR_OK)
        return kExitOk;
    std::fprintf(stderr, "unit %d: %s: %s\n", unit, what, ResultText(result));
    return kExitPressFailed;
}

int KeysNumber() {
    return std::clamp<int>(TSR_INI_GetKeysNumber(), 0, TSR_MAX_KEYS);
}

void PrintCounters(int unit) {
    int32_t total[TSRX_COUNTERS] = {}, minute[TSRX_COUNTERS] = {};
    const int state = TSRX_GetLineCounters(unit, total, minute);
    static const char* const names[TSRX_COUNTERS] = {"answered", "late", "silent", "malformed", "retries"};
    std::printf("unit %d line: %s\n", unit,
                state == TSRX_UNIT_ANSWERING       ? "answering"
                : state == TSRX_UNIT_NOT_ANSWERING ? "not answering"
                                                   : "not asked yet");
    std::printf("  %-10s %10s %12s\n", "", "since start", "last minute");
    for (int i = 0; i < TSRX_COUNTERS; ++i)
        std::printf("  %-10s %10d %12d\n", names[i], total[i], minute[i]);
}

int Info(const std::vector<std::string>& args) {
    int first = 1, last = TSR_INI_GetUnitsNumber();
    if (args.size() > 1)
        return Usage("info takes at most one unit");
    if (args.size() == 1) {
        if (!UnitArgument(args, 0, first))
            return kExitUsage;
        last = first;
    }
    const char* cycles = TSR_GetDuctorCycleList(0);
    std::printf("press: %d units, %d keys, ductor cycle scale %d (%s)\n", TSR_INI_GetUnitsNumber(), KeysNumber(),
                TSR_INI_GetDuctorCycle(), cycles[0] ? cycles : "no ductor cycle setting");
    int code = kExitOk;
    for (int unit = first; unit <= last; ++unit) {
        int32_t a = 0, b = 0, c = 0;
        uint8_t flags[56];
        std::fill(std::begin(flags), std::end(flags), 1);
        int r = TSR_GetInfo(unit, &a, &b, &c, flags);
        if (r != TSR_OK) {
            code = Outcome(unit, "information", r);
            continue;
        }
        std::printf("unit %d: information %d %d %d; status bits set:", unit, a, b, c);
        bool any = false;
        for (int k = 0; k < 56; ++k)
            if (flags[k]) {
                std::printf(" %d", k);
                any = true;
            }
        std::printf("%s\n", any ? "" : " none");
        int32_t type = 0, speed = 0;
        r = TSR_GetMachineType(unit, &type);
        if (r == TSR_OK)
            std::printf("unit %d: machine type %d\n", unit, type);
        else
            code = Outcome(unit, "machine type", r);
        r = TSR_GetMachineSpeed(unit, &speed);
        if (r == TSR_OK)
            std::printf("unit %d: machine speed %d\n", unit, speed);
        else
            code = Outcome(unit, "machine speed", r);
    }
    return code;
}

int Keys(const std::vector<std::string>& args) {
    int unit = 0;
    if (args.empty() || (args[0] != "get" && args[0] != "set"))
        return Usage("keys get UNIT | keys set UNIT VALUE... (see tessaro-service keys --help)");
    if (!UnitArgument(args, 1, unit))
        return kExitUsage;
    const int n = KeysNumber();
    std::vector<int32_t> keys(static_cast<std::size_t>(std::max(n, 1)), 0);
    if (args[0] == "get") {
        if (args.size() != 2)
            return Usage("keys get takes one unit");
        const int r = TSR_GetKeys(unit, keys.data(), n);
        if (r != TSR_OK)
            return Outcome(unit, "read keys", r);
        std::printf("unit %d keys:", unit);
        for (int k = 0; k < n; ++k)
            std::printf(" %d", keys[static_cast<std::size_t>(k)]);
        std::printf("\n");
        return kExitOk;
    }
    const std::size_t given = args.size() - 2;
    if (given != 1 && given != static_cast<std::size_t>(n)) {
        std::fprintf(stderr, "tessaro-service: keys set wants one value for every key or %d values, not %zu\n",
                     n, given);
        return kExitUsage;
    }
    for (int k = 0; k < n; ++k) {
        const std::string& text = args[given == 1 ? 2 : 2 + static_cast<std::size_t>(k)];
        if (!Number(text, 0, 255, keys[static_cast<std::size_t>(k)])) {
            std::fprintf(stderr, "tessaro-service: a key value is 0..255, not %s\n", text.c_str());
            return kExitUsage;
        }
    }
    const int r = TSR_SetNewKey_Absolute(unit, keys.data(), n);
    if (r == TSR_OK)
        std::printf("unit %d: %d keys set\n", unit, n);
    return Outcome(unit, "set keys", r);
}

// One value of a unit that a command reads without a value and sets with one.
struct UnitValue {
    const char* name;  // "ductor"
    const char* usage; // "ductor UNIT [PERCENT 0..100]"
    const char* unitText; // " %" or ""
    int high;
    int32_t(TSR_CALL* get)(int32_t, int32_t*);
    int32_t(TSR_CALL* set)(int32_t, int32_t);
};

int ReadOrSet(const std::vector<std::string>& args, const UnitValue& v) {
    int unit = 0, value = 0;
    if (!UnitArgument(args, 0, unit))
        return kExitUsage;
    const std::string name = v.name;
    if (args.size() == 1) {
        int32_t read = 0;
        const int r = v.get(unit, &read);
        if (r == TSR_OK)
            std::printf("unit %d %s: %d%s\n", unit, v.name, read, v.unitText);
        return Outcome(unit, ("read " + name).c_str(), r);
    }
    if (args.size() != 2 || !Number(args[1], 0, v.high, value))
        return Usage(v.usage);
    const int r = v.set(unit, value);
    if (r == TSR_OK)
        std::printf("unit %d %s: set to %d%s\n", unit, v.name, value, v.unitText);
    return Outcome(unit, ("set " + name).c_str(), r);
}

int Ductor(const std::vector<std::string>& args) {
    return ReadOrSet(args, {"ductor", "ductor UNIT [PERCENT 0..100]", " %", 100, TSR_GetDuctor,
                            TSR_SetNewDuctor_Absolute});
}

int Cycle(const std::vector<std::string>& args) {
    if (TSR_INI_GetDuctorCycle() <= 0) {
        std::fprintf(stderr, "tessaro-service: the press has no ductor cycle setting (DuctorCycle=0 in the "
                             "configuration)\n");
        return kExitPressFailed;
    }
    return ReadOrSet(args, {"ductor cycle", "cycle UNIT [N 0..255]", "", 255, TSR_GetDuctorCycle,
                            TSR_SetNewDuctorCycle_Absolute});
}

int Reset(const std::vector<std::string>& args) {
    int unit = 0;
    if (args.size() != 1 || !UnitArgument(args, 0, unit))
        return Usage("reset UNIT");
    const int r = TSR_Reset(unit);
    if (r == TSR_OK)
        std::printf("unit %d: reset\n", unit);
    return Outcome(unit, "reset", r);
}

int Calibrate(const std::vector<std::string>& args) {
    int unit = 0;
    if (!UnitArgument(args, 0, unit))
        return kExitUsage;
    const bool ductor = args.size() == 3 && args[1] == "ductor";
    const std::string& state = args.size() >= 2 ? args.back() : std::string();
    if ((args.size() != 2 && !ductor) || (state != "on" && state != "off"))
        return Usage("calibrate UNIT on|off, or calibrate UNIT ductor on|off");
    const bool on = state == "on";
    int r;
    if (ductor)
        r = TSR_SetDuctorCalibration(unit, on ? 1 : 0);
    else
        r = on ? TSR_SetModeCalibration(unit) : TSR_SetModeNormal(unit);
    if (r == TSR_OK)
        std::printf("unit %d: %s %s\n", unit, ductor ? "ductor calibration" : "calibration mode", on ? "on" : "off");
    return Outcome(unit, ductor ? "ductor calibration" : "mode switch", r);
}

int CassetteReset(const std::vector<std::string>& args) {
    int unit = 0;
    if (args.size() != 1 || !UnitArgument(args, 0, unit))
        return Usage("cassette-reset UNIT");
    const int r = TSR_ResetCassette(unit);
    if (r == TSR_OK)
        std::printf("unit %d: cassette reset\n", unit);
    return Outcome(unit, "cassette reset", r);
}

int LineTest(const std::vector<std::string>& args) {
    int unit = 0, reads = 10, pauseMs = 250;
    std::vector<std::string> words;
    for (std::size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--pause-ms") {
            if (i + 1 >= args.size() || !Number(args[i + 1], 0, 60000, pauseMs))
                return Usage("line-test UNIT [N 1..10000] [--pause-ms MS]");
            ++i;
        } else {
            words.push_back(args[i]);
        }
    }
    if (words.empty() || words.size() > 2 || !UnitArgument(words, 0, unit))
        return Usage("line-test UNIT [N 1..10000] [--pause-ms MS]");
    if (words.size() == 2 && !Number(words[1], 1, 10000, reads))
        return Usage("line-test UNIT [N 1..10000] [--pause-ms MS]");
    using Clock = std::chrono::steady_clock;
    std::vector<double> times;
    int failed = 0;
    for (int i = 1; i <= reads && !stopRequested; ++i) {
        int32_t value = 0;
        const Clock::time_point start = Clock::now();
        const int r = TSR_GetDuctor(unit, &value);
        const double ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
        if (r == TSR_OK) {
            times.push_back(ms);
            std::printf("read %d: %.1f ms\n", i, ms);
        } else {
            ++failed;
            std::printf("read %d: %s after %.1f ms\n", i, ResultText(r), ms);
        }
        std::fflush(stdout);
        // A reply that comes late lands in the pause and is counted when the next frame drops it.
        if (i < reads)
            std::this_thread::sleep_for(std::chrono::milliseconds(pauseMs));
    }
    if (!times.empty()) {
        double sum = 0;
        for (double t : times)
            sum += t;
        std::printf("round trip of %zu answered reads: min %.1f ms, mean %.1f ms, max %.1f ms\n", times.size(),
                    *std::min_element(times.begin(), times.end()), sum / static_cast<double>(times.size()),
                    *std::max_element(times.begin(), times.end()));
    }
    std::printf("%d of %zu reads failed\n", failed, times.size() + static_cast<std::size_t>(failed));
    PrintCounters(unit);
    return failed == 0 ? kExitOk : kExitPressFailed;
}

const char* CodeName(int code) {
    switch (code) {
    case TSR_EVENT_START:
        return "start";
    case TSR_EVENT_RETRY1:
        return "attempt 1 failed";
    case TSR_EVENT_RETRY2:
        return "attempt 2 failed";
    case TSR_EVENT_RETRY3:
        return "attempt 3 failed";
    case TSR_EVENT_DONE:
        return "done";
    case TSR_EVENT_READ:
        return "read";
    case TSR_EVENT_PORT_CLOSED:
        return "port closed";
    default:
        return "event";
    }
}

const char* KindName(int kind) {
    static const char* const names[] = {"unit", "keys", "ductor", "ductor cycle"};
    return kind >= 0 && kind <= 3 ? names[kind] : "?";
}

int Watch(const std::vector<std::string>& args) {
    int interval = 1000, count = 0;
    for (std::size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--interval-ms" && i + 1 < args.size() && Number(args[i + 1], 10, 3600000, interval))
            ++i;
        else if (args[i] == "--count" && i + 1 < args.size() && Number(args[i + 1], 1, 1000000, count))
            ++i;
        else
            return Usage("watch [--interval-ms MS] [--count N]");
    }
    using Clock = std::chrono::steady_clock;
    const Clock::time_point start = Clock::now();
    ServiceSession::SetEventPrinter([start](int unit, int code, int kind) {
        const double s = std::chrono::duration<double>(Clock::now() - start).count();
        std::printf("%8.3f s  unit %d %s: %s\n", s, unit, KindName(kind), CodeName(code));
        std::fflush(stdout);
    });
    std::signal(SIGINT, OnStopSignal);
    std::signal(SIGTERM, OnStopSignal);
    const int units = std::clamp(TSR_INI_GetUnitsNumber(), 0, 255);
    std::vector<int> states(static_cast<std::size_t>(units) + 1, TSRX_UNIT_UNKNOWN);
    std::printf("watching %d units every %d ms; Ctrl-C ends\n", units, interval);
    std::fflush(stdout);
    for (int pass = 1; !stopRequested && (count == 0 || pass <= count); ++pass) {
        for (int unit = 1; unit <= units && !stopRequested; ++unit) {
            int32_t a = 0, b = 0, c = 0;
            uint8_t flags[56] = {};
            TSR_GetInfo(unit, &a, &b, &c, flags);
            const int state = TSRX_GetLineCounters(unit, nullptr, nullptr);
            if (state != states[static_cast<std::size_t>(unit)]) {
                std::printf("unit %d: %s\n", unit, state == TSRX_UNIT_ANSWERING ? "answering" : "not answering");
                states[static_cast<std::size_t>(unit)] = state;
            }
        }
        if (count != 0 && pass == count)
            break;
        for (int waited = 0; waited < interval && !stopRequested; waited += 10)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ServiceSession::SetEventPrinter(nullptr);
    return kExitOk;
}

int Preset(const std::vector<std::string>& args) {
    if (args.size() != 2 || args[0] != "--dry-run")
        return Usage("preset --dry-run FILE (a preset reaches the press through the preset folder; this "
                     "command only shows what it would send)");
    int32_t result = 1;
    const char* report = TSRX_PresetDryRun(args[1].c_str(), &result);
    std::fputs(report, result == 0 ? stdout : stderr);
    return result == 0 ? kExitOk : kExitFile;
}

} // namespace

const std::vector<Command>& Commands() {
    static const std::vector<Command> commands = {
        {"info", "info [UNIT]",
         "The console's information (three values and the status bits set), machine type and machine speed of "
         "UNIT or of every unit of the configuration.",
         true, Info},
        {"keys", "keys get UNIT | keys set UNIT VALUE...",
         "Reads the unit's ink keys, or sets them: one value 0..255 for every key, or as many values as the "
         "configuration has keys; then the console executes them.",
         true, Keys},
        {"ductor", "ductor UNIT [PERCENT]", "Reads the unit's ductor in percent, or sets it (0..100).", true,
         Ductor},
        {"cycle", "cycle UNIT [N]",
         "Reads the unit's ductor cycle, or sets it; only for presses with a ductor cycle scale.", true, Cycle},
        {"reset", "reset UNIT", "Resets the unit: values not yet committed and ductor calibration are dropped.",
         true, Reset},
        {"calibrate", "calibrate UNIT on|off | calibrate UNIT ductor on|off",
         "Switches the unit into calibration mode and back to normal mode, or the ductor calibration on or off.",
         true, Calibrate},
        {"cassette-reset", "cassette-reset UNIT", "Resets the unit's cassette.", true, CassetteReset},
        {"line-test", "line-test UNIT [N] [--pause-ms MS]",
         "Reads the unit's ductor N times (10 unless given), MS milliseconds apart (250), and prints each "
         "round-trip time, then the line's counters of the unit: answered, late, silent and malformed replies "
         "and retries, since the start of this command and over the last minute. A reply later than the "
         "library's 500 ms wait that comes inside a pause is counted as late; without pauses it is taken for "
         "the answer to the frame sent again. Exit code 1 when a read failed.",
         true, LineTest},
        {"watch", "watch [--interval-ms MS] [--count N]",
         "Asks every unit for its information every MS milliseconds (1000) and prints each event as it comes "
         "and each unit that stops or starts answering; Ctrl-C ends, or after N passes.",
         true, Watch},
        {"preset", "preset --dry-run FILE",
         "Shows what a preset (job.xml with its job_DC.xml beside it) or a corrected-keys file (NewInkKeys.xml) "
         "would send to which unit under this configuration: keys, ductor, cycle, and why a separation is "
         "skipped. Needs no press; nothing is sent, moved or deleted. Exit code 4 when the file cannot be read.",
         false, Preset},
    };
    return commands;
}

const Command* FindCommand(const std::string& name) {
    for (const Command& c : Commands())
        if (name == c.name)
            return &c;
    return nullptr;
}
