// exchange_bench [seconds] [presets]
//
// Both for folders the watcher is notified of (local disk) and for folders it
// polls as network shares ("PollFolders=1" forces the polling path):
// 1. CPU use of the process (watcher thread and an idle simulated console)
//    with both halves on and no request files, over `seconds` (10).
//    For comparison, the same passes driven by blind 2 ms sleeps.
// 2. Time from job.xml appearing in the preset folder (renamed into it, as a
//    neighbour that writes beside and renames) to the first frame reaching
//    the simulated console, over `presets` presets (20). The 50 ms backup
//    pause is part of it, and on a polled share the 300 ms settle time.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <sys/resource.h>
#include <thread>

#include "exchange_rig.h"

using namespace tsr;
using namespace tsr::test;
using Steady = std::chrono::steady_clock;

namespace {

double CpuSeconds() {
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

RigSettings Settings(bool polled) {
    RigSettings s;
    s.units = 4;
    s.perfector = 2;
    s.consoleMovementMs = 5;
    s.pollFolders = polled;
    return s;
}

struct Figures {
    double idleCpu = 0;    // % of one core
    double passesPerS = 0;
    double medianMs = 0, minMs = 0, maxMs = 0;
};

// CPU in % of one core while `run` lasts `seconds`.
template <typename Run> double CpuPercent(Run run) {
    const double cpu0 = CpuSeconds();
    const auto t0 = Steady::now();
    run();
    const double wall = std::chrono::duration<double>(Steady::now() - t0).count();
    return 100.0 * (CpuSeconds() - cpu0) / wall;
}

const char* const kJob =
    R"(<JDF><ResourcePool><InkZoneProfile><InkZoneProfile SignatureName="SIG1"><InkZoneProfile SheetName="S1">
<InkZoneProfile Side="Front"><InkZoneProfile Separation="Black" sRGB="0 0 0" ZoneSettingsX="0.1 0.2 0.3 0.4 0.5 0.6 0.7 0.8" mr:InkSweep="50"/>
<InkZoneProfile Separation="Cyan" sRGB="0 1 1" ZoneSettingsX="0.5 0.5 0.5" mr:InkSweep="40"/></InkZoneProfile>
<InkZoneProfile Side="Back"><InkZoneProfile Separation="Magenta" sRGB="1 0 1" ZoneSettingsX="0.5" mr:InkSweep="30"/>
<InkZoneProfile Separation="Yellow" sRGB="1 1 0" ZoneSettingsX="0.5" mr:InkSweep="20"/></InkZoneProfile>
</InkZoneProfile></InkZoneProfile></InkZoneProfile></ResourcePool></JDF>)";

Figures Measure(bool polled, std::chrono::duration<double> span, int presets, bool blindToo) {
    Figures f;
    const char* kind = polled ? "polled share" : "notified";
    {
        ExchangeRig rig(Settings(polled));
        rig.Switches(true, true);
        rig.watcher.Start();
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        const std::uint64_t passes0 = rig.watcher.Passes();
        f.idleCpu = CpuPercent([&] { std::this_thread::sleep_for(span); });
        f.passesPerS = static_cast<double>(rig.watcher.Passes() - passes0) / span.count();
        rig.watcher.Stop();
        std::printf("%-13s idle, both halves on, no files: %.2f %% of one core over %.0f s (%.1f passes/s)\n",
                    kind, f.idleCpu, span.count(), f.passesPerS);

        if (blindToo) {
            std::atomic<bool> stop{false};
            const double blind = CpuPercent([&] {
                std::thread poller([&] {
                    while (!stop) {
                        rig.watcher.RunPass();
                        rig.clock.SleepMs(ExchangeWatcher::kStepPauseMs);
                    }
                });
                std::this_thread::sleep_for(span);
                stop = true;
                poller.join();
            });
            std::printf("same passes on blind 2 ms sleeps:  %.2f %% of one core\n", blind);
        }
    }

    {
        ExchangeRig rig(Settings(polled));
        rig.Switches(true, false);
        rig.watcher.Start();
        std::vector<double> ms;
        const std::string staged = rig.temp / "job.xml.part";
        const std::string target = rig.File("preset", "job.xml");
        for (int i = 0; i < presets; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(150)); // the watcher at rest between passes
            rig.console->ClearRecord();
            WriteText(staged, kJob);
            const auto t0 = Steady::now();
            std::rename(staged.c_str(), target.c_str());
            while (rig.console->Frames().empty() && Steady::now() - t0 < std::chrono::seconds(5))
                std::this_thread::sleep_for(std::chrono::microseconds(100));
            ms.push_back(std::chrono::duration<double, std::milli>(Steady::now() - t0).count());
            while (fs::exists(target))
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            rig.WaitPasses(2);
            rig.console->WaitIdle(2000);
        }
        rig.watcher.Stop();
        std::sort(ms.begin(), ms.end());
        f.medianMs = ms[ms.size() / 2];
        f.minMs = ms.front();
        f.maxMs = ms.back();
        std::printf("%-13s job.xml to first frame: median %.1f ms, min %.1f ms, max %.1f ms over %d presets\n",
                    kind, f.medianMs, f.minMs, f.maxMs, presets);
    }
    return f;
}

} // namespace

int main(int argc, char** argv) {
    const double seconds = argc > 1 ? std::atof(argv[1]) : 10.0;
    const int presets = argc > 2 ? std::max(1, std::atoi(argv[2])) : 20;
    const auto span = std::chrono::duration<double>(seconds);

    const Figures notified = Measure(false, span, presets, true);
    const Figures polled = Measure(true, span, presets, false);
    std::printf("polled / notified: idle CPU x%.1f, job.xml to first frame (median) x%.2f\n",
                notified.idleCpu > 0 ? polled.idleCpu / notified.idleCpu : 0.0,
                notified.medianMs > 0 ? polled.medianMs / notified.medianMs : 0.0);
    return 0;
}
