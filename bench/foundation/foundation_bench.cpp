// Activity log appends (one write and flush per entry) and configuration
// get/set, on real files in a temporary folder (TMPDIR decides which disk).
#include <benchmark/benchmark.h>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "config/configuration.h"
#include "log/activity_log.h"
#include "platform/clock.h"
#include "platform/file_system.h"

namespace {

class Folder {
public:
    Folder() {
        std::string pattern = (std::filesystem::temp_directory_path() / "tessaro-bench-XXXXXX").string();
        if (!::mkdtemp(pattern.data()))
            std::abort();
        path = pattern;
    }
    ~Folder() {
        std::error_code ec;
        std::filesystem::remove_all(path, ec);
    }
    std::filesystem::path path;
};

void LogText(benchmark::State& state) {
    Folder folder;
    tsr::SystemClock clock;
    auto fs = tsr::MakeFileSystem();
    tsr::ActivityLog log(clock, *fs);
    log.SetFolder(folder.path.string());
    for (auto _ : state)
        log.WriteText("setkeys rel 5 - v 120", 3);
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(LogText)->UseRealTime();

void LogValues(benchmark::State& state) {
    Folder folder;
    tsr::SystemClock clock;
    auto fs = tsr::MakeFileSystem();
    tsr::ActivityLog log(clock, *fs);
    log.SetFolder(folder.path.string());
    std::int32_t keys[24];
    for (int i = 0; i < 24; ++i)
        keys[i] = i * 10;
    for (auto _ : state)
        log.WriteValues(keys, 24, 3);
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(LogValues)->UseRealTime();

struct Config {
    Config() : fs(tsr::MakeFileSystem()), config(*fs) {
        config.Load((folder.path / "Tessaro.ini").string());
        config.SaveAll();
    }
    Folder folder;
    std::unique_ptr<tsr::FileSystem> fs;
    tsr::Configuration config;
};

void ConfigGetInt(benchmark::State& state) {
    Config c;
    for (auto _ : state)
        benchmark::DoNotOptimize(c.config.KeysNumber());
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(ConfigGetInt);

void ConfigGetText(benchmark::State& state) {
    Config c;
    for (auto _ : state)
        benchmark::DoNotOptimize(c.config.PathLoopScanRCV());
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(ConfigGetText);

// Every set reads the file, changes one line and replaces the file atomically (fsync).
void ConfigSetInt(benchmark::State& state) {
    Config c;
    int v = 0;
    for (auto _ : state)
        c.config.SetKeysNumber(24 + (++v & 1));
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(ConfigSetInt)->UseRealTime();

void ConfigSetText(benchmark::State& state) {
    Config c;
    int v = 0;
    for (auto _ : state)
        c.config.SetPathLogs((++v & 1) ? "D:\\data\\log" : "log");
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(ConfigSetText)->UseRealTime();

// TSR_Init's Load then SaveAll on a file that already holds every key.
void ConfigLoadAndSaveAll(benchmark::State& state) {
    Config c;
    const std::string path = c.config.FilePath();
    for (auto _ : state) {
        c.config.Load(path);
        c.config.SaveAll();
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(ConfigLoadAndSaveAll)->UseRealTime();

} // namespace

BENCHMARK_MAIN();
