// exchange_bench [seconds] [presets]
//
// 1. CPU use of the process (watcher thread and an idle simulated console)
//    with both halves on and no request files, over `seconds` (10).
//    For comparison, the same passes driven by blind 2 ms sleeps.
// 2. Time from job.xml appearing in the preset folder (renamed into it, as a
//    neighbour that writes beside and renames) to the first frame reaching
//    the simulated console, over `presets` presets (20). The 50 ms backup
//    pause is part of it.
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

RigSettings Settings() {
    RigSettings s;
    s.units = 4;
    s.perfector = 2;
    s.consoleMovementMs = 5;
    return s;
}

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

} // namespace

int main(int argc, char** argv) {
    const double seconds = argc > 1 ? std::atof(argv[1]) : 10.0;
    const int presets = argc > 2 ? std::atoi(argv[2]) : 20;
    const auto span = std::chrono::duration<double>(seconds);

    {
        ExchangeRig rig(Settings());
        rig.Switches(true, true);
        rig.watcher.Start();
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        const std::uint64_t passes0 = rig.watcher.Passes();
        const double cpu = CpuPercent([&] { std::this_thread::sleep_for(span); });
        const std::uint64_t passes = rig.watcher.Passes() - passes0;
        rig.watcher.Stop();
        std::printf("idle, both halves on, no files: %.2f %% of one core over %.0f s (%.1f passes/s)\n", cpu,
                    seconds, static_cast<double>(passes) / seconds);

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

    {
        ExchangeRig rig(Settings());
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
        std::printf("job.xml to first frame: median %.1f ms, min %.1f ms, max %.1f ms over %d presets\n",
                    ms[ms.size() / 2], ms.front(), ms.back(), presets);
    }
    return 0;
}
