// Time per document for the exchange files' largest shape: 12 units with 500
// ink zones each, six on each side of the sheet.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "exchange/xml_defaults.h"
#include "exchange/xml_node.h"

#ifdef TSR_BENCH_PUGIXML
#include <pugixml.hpp>
#endif

namespace {

constexpr int kUnits = 12;
constexpr int kKeys = 500;
constexpr int kPerSide = kUnits / 2;

std::string ProfileText() {
    std::string text =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<JDF ID=\"n1\" Type=\"ProcessGroup\" "
        "xmlns=\"http://www.CIP4.org/JDFSchema_1_1\" xmlns:mr=\"urn:press-maker\">\r\n"
        " <ResourcePool>\r\n  <InkZoneProfile Class=\"Parameter\" ID=\"r1\" "
        "PartIDKeys=\"SignatureName SheetName Side Separation\">\r\n"
        "   <InkZoneProfile SignatureName=\"SIG1\">\r\n    <InkZoneProfile SheetName=\"S1\">\r\n";
    int unit = 0;
    for (const char* side : {"Front", "Back"}) {
        text += std::string("     <InkZoneProfile Side=\"") + side + "\">\r\n";
        for (int u = 0; u < kPerSide; ++u, ++unit) {
            text += "      <InkZoneProfile Separation=\"Sep" + std::to_string(unit + 1) +
                    "\" sRGB=\"0.1 0.5 0.9\" mr:InkSweep=\"55\" ZoneSettingsX=\"";
            for (int k = 0; k < kKeys; ++k) {
                char value[16];
                std::snprintf(value, sizeof value, "%s%.4f", k == 0 ? "" : " ",
                              ((k * 37 + unit * 11) % 1000) / 1000.0);
                text += value;
            }
            text += "\"/>\r\n";
        }
        text += "     </InkZoneProfile>\r\n";
    }
    text += "    </InkZoneProfile>\r\n   </InkZoneProfile>\r\n  </InkZoneProfile>\r\n "
            "</ResourcePool>\r\n</JDF>\r\n";
    return text;
}

const std::string& Profile() {
    static const std::string text = ProfileText();
    return text;
}

void BM_XmlParse(benchmark::State& state) {
    tsr::XmlDefaults defaults;
    for (auto _ : state) {
        tsr::XmlNode root;
        if (!root.Parse(Profile(), defaults.DefaultParseOptions()))
            state.SkipWithError("profile did not parse");
        benchmark::DoNotOptimize(root.ChildCount());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * Profile().size()));
}
BENCHMARK(BM_XmlParse)->Unit(benchmark::kMicrosecond);

// What the profile reader does: both sides, then each unit's separation.
void BM_XmlSearch(benchmark::State& state) {
    tsr::XmlDefaults defaults;
    tsr::XmlNode root;
    root.Parse(Profile(), defaults.DefaultParseOptions());
    for (auto _ : state) {
        std::size_t zoneBytes = 0;
        for (const char* side : {"Front", "Back"}) {
            const tsr::XmlNode* element = root.Find("InkZoneProfile", "Side", side);
            for (int n = 0; element != nullptr && n < kPerSide; ++n) {
                const tsr::XmlNode* separation =
                    element->Find("InkZoneProfile", "ZoneSettingsX", std::nullopt, n);
                if (separation != nullptr)
                    zoneBytes += separation->GetAttribute("ZoneSettingsX")->size();
            }
        }
        benchmark::DoNotOptimize(zoneBytes);
    }
}
BENCHMARK(BM_XmlSearch)->Unit(benchmark::kMicrosecond);

void BM_XmlWrite(benchmark::State& state) {
    tsr::XmlDefaults defaults;
    tsr::XmlNode root;
    root.Parse(Profile(), defaults.DefaultParseOptions());
    std::size_t size = 0;
    for (auto _ : state) {
        std::string text = root.ToXml(defaults.DefaultWriteOptions());
        size = text.size();
        benchmark::DoNotOptimize(text.data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * size));
}
BENCHMARK(BM_XmlWrite)->Unit(benchmark::kMicrosecond);

#ifdef TSR_BENCH_PUGIXML
void BM_PugixmlParse(benchmark::State& state) {
    for (auto _ : state) {
        pugi::xml_document document;
        if (!document.load_buffer(Profile().data(), Profile().size()))
            state.SkipWithError("profile did not parse");
        benchmark::DoNotOptimize(document.first_child());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * Profile().size()));
}
BENCHMARK(BM_PugixmlParse)->Unit(benchmark::kMicrosecond);
#endif

// Prints the usual table, then our parse time over pugixml's from the same run.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        // CPU time: the build machine is shared, wall time says more about the neighbours.
        for (const Run& run : runs) {
            if (run.error_occurred)
                continue;
            if (run.run_type == Run::RT_Iteration || run.aggregate_name == "median")
                times_[run.run_name.function_name] = run.GetAdjustedCPUTime();
        }
        ConsoleReporter::ReportRuns(runs);
    }
    void Finalize() override {
        ConsoleReporter::Finalize();
        std::printf("profile: %d units x %d keys, %zu bytes\n", kUnits, kKeys, Profile().size());
        const auto own = times_.find("BM_XmlParse");
        const auto pugi = times_.find("BM_PugixmlParse");
        if (own != times_.end() && pugi != times_.end() && pugi->second > 0)
            std::printf("parse CPU time ratio XmlNode / pugixml: %.2f\n", own->second / pugi->second);
    }

private:
    std::map<std::string, double> times_;
};

} // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}
