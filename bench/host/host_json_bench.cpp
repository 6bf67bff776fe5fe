// The page's JSON texts read by the host: reading time against the number of
// members of one object and against the length of one settings-sized text.
#include <benchmark/benchmark.h>

#include <string>

#include "app/lenient_json.h"

namespace {

std::string ObjectOf(int members) {
    std::string text = "{";
    for (int i = 0; i < members; ++i) {
        if (i > 0)
            text += ',';
        text += "unit" + std::to_string(i) + ":" + std::to_string(i);
    }
    return text + "}";
}

// Reported with its fitted complexity: the time per member stays level.
void ObjectMembers(benchmark::State& state) {
    const std::string text = ObjectOf(static_cast<int>(state.range(0)));
    for (auto _ : state)
        benchmark::DoNotOptimize(ParseLenientJson(text));
    state.SetComplexityN(state.range(0));
}
BENCHMARK(ObjectMembers)->RangeMultiplier(4)->Range(256, 65536)->Complexity();

void SettingsText(benchmark::State& state) {
    const std::string text =
        R"({"units":6,"keys":32,"com":1,"ductorcycle":3,"language":"de","perfector":4,)"
        R"("log_path":"C:\\Tessaro\\log","preset_path":"C:\\Exchange\\preset",'inkingup':30})";
    for (auto _ : state)
        benchmark::DoNotOptimize(ParseLenientJson(text));
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(text.size()));
}
BENCHMARK(SettingsText);

} // namespace

BENCHMARK_MAIN();
