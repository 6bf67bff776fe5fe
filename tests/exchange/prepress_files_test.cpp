// Presets in the shapes real prepress systems write (our own files in
// fixtures/): what each must send to the press, unit by unit.
#include <gtest/gtest.h>

#include <clocale>

#include "exchange_rig.h"

namespace tsr::test {
namespace {

const fs::path kFixtures = TSR_EXCHANGE_FIXTURES;
constexpr int kKeys = 8;
constexpr std::uint8_t kKeyBefore = 9;
constexpr std::uint8_t kDuctorBefore = 77;

// One unit's outcome; an empty key list: nothing sent to the unit.
struct UnitOutcome {
    std::vector<int> keys;
    int cycle = 0;
};

struct PrepressCase {
    const char* name;
    std::string job;       // the text of job.xml
    std::string companion; // job_DC.xml, empty: none
    int units;
    int perfector;
    std::vector<UnitOutcome> outcome; // units 1 .. units
};

std::string Fixture(const char* name) {
    return ReadText(kFixtures / name);
}

// Over 1 MB: five hundred signatures, the first with empty sides; the second
// is the one taken, its units at 1/8, 2/8, ... of the zones' opening.
std::string LargeFile() {
    std::string text = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<JDF xmlns=\"http://www.CIP4.org/"
                       "JDFSchema_1_1\" ID=\"big\" Type=\"ProcessGroup\" Version=\"1.3\"><ResourcePool>\n"
                       "<InkZoneProfile Class=\"Parameter\" ID=\"IZP\" PartIDKeys=\"SignatureName SheetName Side "
                       "Separation\" Status=\"Available\">\n<InkZoneProfile SignatureName=\"Sig001\"><InkZoneProfile "
                       "SheetName=\"S1\"><InkZoneProfile Side=\"Front\"/><InkZoneProfile Side=\"Back\"/>"
                       "</InkZoneProfile></InkZoneProfile>\n";
    for (int sig = 2; sig <= 500; ++sig) {
        text += "<InkZoneProfile SignatureName=\"Sig" + std::to_string(sig) + "\"><InkZoneProfile SheetName=\"S1\">";
        int unit = 0;
        for (const char* side : {"Front", "Back"}) {
            text += std::string("<InkZoneProfile Side=\"") + side + "\">";
            for (int i = 0; i < (side[0] == 'F' ? 4 : 2); ++i) {
                ++unit;
                char value[32];
                std::snprintf(value, sizeof value, "%.6E", sig == 2 ? unit / 8.0 : 1.0);
                std::string zones;
                for (int z = 0; z < 32; ++z)
                    zones += (z ? " " : "") + std::string(value);
                text += "<InkZoneProfile Separation=\"Ink " + std::to_string(unit) + "\" ZoneSettingsX=\"" +
                        zones + "\"/>\n";
            }
            text += "</InkZoneProfile>";
        }
        text += "</InkZoneProfile></InkZoneProfile>\n";
    }
    return text + "</InkZoneProfile></ResourcePool></JDF>\n";
}

std::vector<UnitOutcome> Same(std::vector<int> firsts, int units) {
    std::vector<UnitOutcome> out;
    for (int u = 0; u < units; ++u)
        out.push_back({std::vector<int>(kKeys, firsts[static_cast<std::size_t>(u)]), 0});
    return out;
}

std::vector<PrepressCase> Cases() {
    return {
        {"severalSignaturesFirstFrontEmpty",
         Fixture("signatures.xml"),
         Fixture("signatures_DC.xml"),
         6,
         4,
         {{{0, 255, 128, 64, 0, 192, 32, 1}, 4},
          {{128, 128, 128, 128, 128, 128, 128, 128}, 5},
          {{26, 51, 77, 102, 128, 154, 179, 205}, 6},
          {{0, 0, 255, 255, 0, 0, 255, 255}, 7},
          {{64, 64, 64, 64, 64, 64, 64, 64}, 8},
          {{16, 16, 0, 0, 0, 0, 16, 16}, 9}}},
        {"twelveInksWithSpotColours",
         Fixture("twelve_inks.xml"),
         "",
         12,
         6,
         {{{0, 28, 56, 84, 113, 141, 169, 197}},
          {{95, 123, 151, 179, 207, 236, 5, 33}},
          {{189, 218, 246, 15, 44, 72, 100, 128}},
          {{26, 54, 82, 110, 138, 166, 195, 223}},
          {{120, 148, 177, 205, 233, 3, 31, 59}},
          {{215, 243, 13, 41, 69, 97, 125, 154}},
          {{51, 79, 108, 136, 164, 192, 220, 248}},
          {{146, 174, 202, 230, 0, 28, 56, 84}},
          {{241, 10, 38, 67, 95, 123, 151, 179}},
          {{77, 105, 133, 161, 189, 218, 246, 15}},
          {{172, 200, 228, 255, 26, 54, 82, 110}},
          {{8, 36, 64, 92, 120, 148, 177, 205}}}},
        // the profile is not ready yet: its separations carry no zones, nothing is sent
        {"statusUnavailable", Fixture("unavailable.xml"), "", 4, 4, {{}, {}, {}, {}}},
        {"overOneMegabyte", LargeFile(), "", 6, 4, Same({32, 64, 96, 128, 160, 192}, 6)},
    };
}

class PrepressFiles : public ::testing::TestWithParam<PrepressCase> {};

TEST_P(PrepressFiles, SendWhatTheFileGivesAndNoDuctor) {
    const PrepressCase& c = GetParam();
    ExchangeRig::Settings settings;
    settings.units = c.units;
    settings.perfector = c.perfector;
    settings.keys = kKeys;
    settings.ductorCycle = 3;
    ExchangeRig rig(settings);
    for (int u = 1; u <= c.units; ++u) {
        sim::UnitState state = rig.console->Unit(u);
        state.keys.assign(kKeys, kKeyBefore);
        state.ductor = kDuctorBefore;
        state.ductorCycle = 1;
        rig.console->SetUnit(u, state);
    }
    if (!c.companion.empty())
        WriteText(rig.File("preset", "job_DC.xml"), c.companion);
    WriteText(rig.File("preset", "job.xml"), c.job);
    rig.Switches(true, false);
    rig.watcher.RunPass();
    EXPECT_EQ(rig.Names("preset"), std::vector<std::string>{});

    const std::string log = rig.LogText();
    for (int u = 1; u <= c.units; ++u) {
        const UnitOutcome& want = c.outcome[static_cast<std::size_t>(u - 1)];
        const sim::UnitState unit = rig.console->Unit(u);
        EXPECT_EQ(unit.ductor, kDuctorBefore) << "unit " << u;
        EXPECT_EQ(unit.ductorExecutions, 0) << "unit " << u;
        if (want.keys.empty()) {
            EXPECT_EQ(unit.keys, std::vector<std::uint8_t>(kKeys, kKeyBefore)) << "unit " << u;
            EXPECT_EQ(unit.position, sim::Position::Zero) << "unit " << u;
            continue;
        }
        EXPECT_EQ(std::vector<int>(unit.keys.begin(), unit.keys.end()), want.keys) << "unit " << u;
        EXPECT_EQ(unit.position, sim::Position::Working) << "unit " << u;
        if (want.cycle) {
            EXPECT_EQ(unit.ductorCycle, want.cycle) << "unit " << u;
        }
        EXPECT_NE(log.find(">no ductor given u" + std::to_string(u) + ", ductor left as set<"), std::string::npos)
            << "unit " << u;
    }
}

INSTANTIATE_TEST_SUITE_P(Shapes, PrepressFiles, ::testing::ValuesIn(Cases()),
                         [](const ::testing::TestParamInfo<PrepressCase>& p) { return p.param.name; });

TEST(PrepressFiles, LargeFixtureIsOverOneMegabyte) {
    EXPECT_GT(LargeFile().size(), 1024u * 1024u);
}

// What the readers and writers make of a file: the table's values and the
// bytes of the outgoing files.
std::string ReadAndWrite(const std::string& locale) {
    EXPECT_NE(std::setlocale(LC_ALL, locale.c_str()), nullptr)
        << locale << " is not generated here: run scripts/install-deps.sh";
    ExchangeRig::Settings settings;
    settings.units = 12;
    settings.perfector = 6;
    settings.keys = kKeys;
    settings.withConsole = false;
    ExchangeRig rig(settings);
    std::string twelve = Fixture("twelve_inks.xml");
    twelve.replace(twelve.find("Separation=\"Cyan\""), 17, "Separation=\"Cyan\" sRGB=\"0.5 0.25 1\" mr:InkSweep=\"45\"");
    WriteText(rig.File("preset", "job.xml"), twelve);
    EXPECT_TRUE(rig.watcher.Reader().ReadInkZoneProfile(rig.File("preset", "job.xml")));
    EXPECT_TRUE(rig.watcher.Writer().WriteInkKeys());
    std::string all;
    for (int row = 0; row < 12; ++row) {
        const UnitRecord r = rig.table.Get(row);
        all += r.separation + " " + std::to_string(r.colour) + " " + std::to_string(r.ductor);
        for (int k = 0; k < r.zoneCount; ++k)
            all += " " + std::to_string(r.keys[static_cast<std::size_t>(k)]);
        all += "\n";
    }
    all += ReadText(rig.File("keysOut", "InkKeys.xml")) + ReadText(rig.File("keysOut", "InkKeys_DC.xml"));
    std::setlocale(LC_ALL, "C");
    return all;
}

TEST(PrepressFiles, NumbersDoNotDependOnTheProcessLocale) {
    const std::string plain = ReadAndWrite("C");
    ASSERT_NE(std::setlocale(LC_ALL, "de_DE.UTF-8"), nullptr) << "run scripts/install-deps.sh";
    ASSERT_STREQ(std::localeconv()->decimal_point, ","); // the point of the test
    std::setlocale(LC_ALL, "C");
    const std::string german = ReadAndWrite("de_DE.UTF-8");
    EXPECT_NE(plain.find("Cyan 16727935 115 0 28 56"), std::string::npos) << plain;
    EXPECT_NE(plain.find("ZoneSettingsX=\"0.000 0.109 0.219"), std::string::npos);
    EXPECT_EQ(german, plain);
}

} // namespace
} // namespace tsr::test
