#include <gtest/gtest.h>

#include "exchange_rig.h"

namespace tsr::test {
namespace {

// A preset as a prepress system writes it, with the awkward parts the
// reader must get right.
const char* const kPreset = R"(<?xml version="1.0" encoding="UTF-8"?>
<!-- written by a prepress system -->
<JDF ID="n1" Type="ProcessGroup" xmlns="http://www.CIP4.org/JDFSchema_1_1" xmlns:mr="http://www.example.com/schema/press-maker">
  <ResourcePool>
    <InkZoneProfile Class="Parameter" ID="r1" PartIDKeys="SignatureName SheetName Side Separation">
      <InkZoneProfile SignatureName="SIG1"><InkZoneProfile SheetName="S1">
        <InkZoneProfile Side="Front" Transfer="true">
          <InkZoneProfile Separation="Black" sRGB="0 0 0" ZoneSettingsX="0 0.5 1" mr:InkSweep="50"/>
          <InkZoneProfile Separation="Varnish"/>
          <InkZoneProfile Separation="Cyan &amp; &lt;b&gt;" sRGB="1 0 0" ZoneSettingsX="0.25  0.25"/>
          <InkZoneProfile Separation="Third" sRGB="0 0.6 0.9" ZoneSettingsX="1 2 -1 abc 0.001953125"/>
        </InkZoneProfile>
        <InkZoneProfile Side="Back" Transfer="1">
          <InkZoneProfile Separation="dummycolor" sRGB="0.5 0.5 0.5" ZoneSettingsX="0.996" mr:InkSweep="100"/>
          <InkZoneProfile Separation="PANTONE 286 C" sRGB="1 0" ZoneSettingsX="0.1" mr:InkSweep="35"/>
        </InkZoneProfile>
      </InkZoneProfile></InkZoneProfile>
    </InkZoneProfile>
    <PrintCondition Class="Parameter" ID="r2" PartIDKeys="Side Separation">
      <PrintCondition Side="Front">
        <PrintCondition Separation="Black" UpdateUnit="false"/><PrintCondition Separation="Cyan" UpdateUnit="0"/>
      </PrintCondition>
    </PrintCondition>
    <Preview Class="Parameter" ID="r3"><Preview Side="Front"/></Preview>
  </ResourcePool>
</JDF>
)";

struct ReaderFixture : ::testing::Test {
    explicit ReaderFixture(int perfector = 2, int units = 4) : rig(MakeSettings(perfector, units)) {}
    static ExchangeRig::Settings MakeSettings(int perfector, int units) {
        ExchangeRig::Settings s;
        s.perfector = perfector;
        s.units = units;
        s.withConsole = false;
        return s;
    }
    ProfileReader& reader() { return rig.watcher.Reader(); }
    std::string Drop(const std::string& text, const std::string& name = "job.xml") {
        const std::string path = rig.File("preset", name);
        WriteText(path, text);
        return path;
    }
    void FillTable(int key, std::int32_t colour) {
        for (int row = 0; row < kMaxUnits; ++row)
            rig.table.Update(row, [&](UnitRecord& r) {
                r.keys.fill(key);
                r.colour = colour;
                r.separation = "before";
            });
    }
    ExchangeRig rig;
};

std::vector<int> Keys(const UnitRecord& row, int n) {
    return std::vector<int>(row.keys.begin(), row.keys.begin() + n);
}

TEST_F(ReaderFixture, PresetSplitsFrontAndBackByPerfector) {
    FillTable(7, 0x123456);
    const std::string path = Drop(kPreset);
    ASSERT_TRUE(reader().ReadInkZoneProfile(path));
    EXPECT_FALSE(fs::exists(path)); // deleted once it parsed

    UnitRecord u1 = rig.table.Get(0);
    EXPECT_EQ(u1.separation, "Black");
    EXPECT_EQ(u1.colour, 0);
    EXPECT_EQ(u1.zoneCount, 3);
    EXPECT_EQ(Keys(u1, 4), (std::vector<int>{0, 128, 255, 7})); // later keys keep their values
    EXPECT_EQ(u1.ductor, 127);
    EXPECT_TRUE(u1.present);
    EXPECT_TRUE(u1.transfer); // "true" in lower case
    EXPECT_FALSE(u1.updateUnit);

    // the child without ZoneSettingsX is not counted
    UnitRecord u2 = rig.table.Get(1);
    EXPECT_EQ(u2.separation, "Cyan & <b>");
    EXPECT_EQ(u2.colour, 0x0000FF);
    EXPECT_EQ(u2.zoneCount, 3); // two blanks give an empty piece between
    EXPECT_EQ(Keys(u2, 3), (std::vector<int>{64, 0, 64}));
    EXPECT_EQ(u2.ductor, 0);    // no mr:InkSweep
    EXPECT_TRUE(u2.updateUnit); // "0" is not FALSE

    UnitRecord u3 = rig.table.Get(2); // first of the back side
    EXPECT_EQ(u3.separation, "dummycolor");
    EXPECT_FALSE(u3.present);
    EXPECT_EQ(u3.colour, 0x7F7F7F);
    EXPECT_EQ(Keys(u3, 1), (std::vector<int>{255}));
    EXPECT_EQ(u3.ductor, 255);
    EXPECT_FALSE(u3.transfer);  // "1" does not mark the side
    EXPECT_TRUE(u3.updateUnit); // no print condition for the back

    UnitRecord u4 = rig.table.Get(3);
    EXPECT_EQ(u4.separation, "PANTONE 286 C");
    EXPECT_EQ(u4.colour, 0x408000); // two numbers only
    EXPECT_EQ(Keys(u4, 1), (std::vector<int>{26}));
    EXPECT_EQ(u4.ductor, 89);

    EXPECT_EQ(rig.table.Get(4).separation, "before"); // beyond UnitNumber: untouched
    EXPECT_EQ(reader().FrontPreview(), "");           // Preview without URL
    EXPECT_EQ(reader().BackPreview(), "default.png");

    const std::string log = rig.LogText();
    EXPECT_NE(log.find(">load file<"), std::string::npos);
    EXPECT_NE(log.find(">Black 1 0 0.5 1<"), std::string::npos);
    // names from the file cannot put markup into the HTML log
    EXPECT_NE(log.find(">Cyan &amp; &lt;b&gt; 1 0.25  0.25<"), std::string::npos);
    EXPECT_EQ(log.find("<b>"), std::string::npos);
}

struct FrontOnlyFixture : ReaderFixture {
    FrontOnlyFixture() : ReaderFixture(4, 4) {}
};

TEST_F(FrontOnlyFixture, AllUnitsFromTheFrontAndPlaceholdersWhereChildrenRunOut) {
    FillTable(7, 0x123456);
    ASSERT_TRUE(reader().ReadInkZoneProfile(Drop(kPreset)));
    EXPECT_EQ(rig.table.Get(2).separation, "Third");
    EXPECT_EQ(rig.table.Get(2).colour, 0xE59900);
    EXPECT_EQ(Keys(rig.table.Get(2), 5), (std::vector<int>{255, 255, 0, 0, 1}));
    UnitRecord u4 = rig.table.Get(3);
    EXPECT_EQ(u4.separation, "");
    EXPECT_FALSE(u4.present);
    EXPECT_EQ(u4.colour, 0x123456); // left as it was
    EXPECT_EQ(u4.zoneCount, 1);
    EXPECT_EQ(u4.keys[0], 0);
    EXPECT_EQ(u4.keys[1], 7);
    EXPECT_EQ(u4.ductor, 0);
    EXPECT_NE(rig.LogText().find(">dummycolor<"), std::string::npos);
}

TEST_F(ReaderFixture, FailuresLeaveTheTableAlone) {
    struct Case {
        const char* content; // nullptr: no file
        const char* log;
        bool fileKept;
    };
    const Case cases[] = {
        {nullptr, "file empty", false},
        {"", "file empty", true},
        {"<JDF><InkZoneProfile Side=\"Front\"></JDF>", "load file err", true},
        {"no markup at all", "load file err", true},
        {"<JDF><ResourcePool/></JDF>", "no node front and back", false},
    };
    for (const Case& c : cases) {
        FillTable(7, 0x123456);
        const std::string path = rig.File("preset", "job.xml");
        fs::remove(path);
        if (c.content)
            WriteText(path, c.content);
        EXPECT_FALSE(reader().ReadInkZoneProfile(path)) << c.log;
        EXPECT_EQ(rig.table.Get(0).separation, "before") << c.log;
        EXPECT_EQ(fs::exists(path), c.fileKept) << c.log;
        EXPECT_NE(rig.LogText().find(std::string(">") + c.log + "<"), std::string::npos) << c.log;
    }
    EXPECT_FALSE(reader().ReadInkZoneProfile(""));
    EXPECT_NE(rig.LogText().find(">path empty<"), std::string::npos);
}

TEST_F(ReaderFixture, LetterCaseOfTheFileNameDoesNotMatter) {
    Drop(kPreset, "JOB.XML");
    ASSERT_TRUE(reader().ReadInkZoneProfile(rig.File("preset", "job.xml")));
    EXPECT_EQ(rig.table.Get(0).separation, "Black");
    EXPECT_FALSE(fs::exists(rig.File("preset", "JOB.XML")));
}

TEST_F(ReaderFixture, DuctorCycleProfileSetsOnlyTheCycles) {
    FillTable(7, 0x123456);
    const std::string path = Drop(R"(<JDF Type="DuctorCycle">
  <InkZoneProfile Side="Front"><InkZoneProfile Separation="Black" ductorCycle="3"/><InkZoneProfile Separation="Cyan" ductorCycle="6x"/></InkZoneProfile>
  <InkZoneProfile Side="Back"><InkZoneProfile Separation="Black" ductorCycle="9"/></InkZoneProfile>
</JDF>)",
                                  "job_DC.xml");
    ASSERT_TRUE(reader().ReadDuctorCycleProfile(path));
    EXPECT_FALSE(fs::exists(path));
    EXPECT_EQ(rig.table.Get(0).ductorCycle, 3);
    EXPECT_EQ(rig.table.Get(1).ductorCycle, 6);
    EXPECT_EQ(rig.table.Get(2).ductorCycle, 9);
    EXPECT_EQ(rig.table.Get(3).ductorCycle, 0); // no element
    EXPECT_EQ(rig.table.Get(0).separation, "before");
    EXPECT_EQ(rig.table.Get(0).keys[0], 7);
    EXPECT_NE(rig.LogText().find(">load file DC<"), std::string::npos);
}

TEST_F(ReaderFixture, CurrentJobRenamesAndRecoloursAndIsKept) {
    FillTable(7, 0x123456);
    rig.table.Update(0, [](UnitRecord& r) { r.present = true; });
    const std::string path = rig.File("current", "currentjob.xml");
    WriteText(path, R"(<JDF><InkZoneProfile Side="Front">
  <InkZoneProfile Separation="Black" sRGB="0 0 0" ZoneSettingsX="0"/><InkZoneProfile Separation="Cyan" sRGB="1 0 0" ZoneSettingsX="0"/>
</InkZoneProfile><Preview Side="Front" URL="file:///p/front.png"/><Preview Side="Back" URL="back.png"/></JDF>)");
    ASSERT_TRUE(reader().ReadCurrentJob(path));
    EXPECT_TRUE(fs::exists(path));
    EXPECT_EQ(rig.table.Get(0).separation, "Black");
    EXPECT_EQ(rig.table.Get(0).colour, 0);
    EXPECT_TRUE(rig.table.Get(0).present); // not touched
    EXPECT_EQ(rig.table.Get(0).keys[0], 7);
    EXPECT_EQ(rig.table.Get(1).colour, 0xFF);
    EXPECT_EQ(rig.table.Get(2).separation, ""); // units 3, 4 are on the (missing) back side
    EXPECT_EQ(rig.table.Get(2).colour, 0x123456);
    EXPECT_EQ(reader().FrontPreview(), "file:///p/front.png");
    EXPECT_EQ(reader().BackPreview(), "back.png");
    EXPECT_NE(rig.LogText().find(">load file cd<"), std::string::npos);
}

TEST(ParseSrgb, Colours) {
    const std::pair<const char*, std::int32_t> cases[] = {
        {"1 0 0", 0x0000FF}, {"0.5 0.5 0.5", 0x7F7F7F}, {"1 0", 0x408000},
        {"", 0x408000},      {"0 0 0 0", 0x408000},     {"0 0.6 0.9", 0xE59900},
        {"2 0 0", 0x0000FE}, {"-1 0 0", 0x000001},      {"1  0 0", 0x408000},
        {"x y z", 0},        {"1e300 0 1", 0xFF0000},   {"0 1 0", 0x00FF00},
    };
    for (const auto& [text, colour] : cases)
        EXPECT_EQ(ProfileReader::ParseSrgb(text), colour) << text;
}

struct LimitsFixture : ReaderFixture {
    LimitsFixture() : ReaderFixture(20, 20) {}
};

// A "UnitNumber" above 12, more than 500 zones and very long names stay
// within the table.
TEST_F(LimitsFixture, OversizedProfilesStayInsideTheTable) {
    std::string zones;
    for (int i = 0; i < 600; ++i)
        zones += (i ? " " : "") + std::string(i < 500 ? "0.5" : "1");
    std::string units;
    for (int i = 0; i < 20; ++i)
        units += "<InkZoneProfile Separation=\"" + std::string(300, static_cast<char>('a' + i)) +
                 "\" ZoneSettingsX=\"" + zones + "\"/>";
    ASSERT_TRUE(reader().ReadInkZoneProfile(
        Drop("<JDF><InkZoneProfile Side=\"Front\">" + units + "</InkZoneProfile></JDF>")));
    for (int row = 0; row < kMaxUnits; ++row) {
        UnitRecord r = rig.table.Get(row);
        EXPECT_EQ(r.zoneCount, 500);
        EXPECT_EQ(r.keys[499], 128);
        EXPECT_EQ(r.separation, std::string(255, static_cast<char>('a' + row)));
    }
}

} // namespace
} // namespace tsr::test
