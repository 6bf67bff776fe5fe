#include <gtest/gtest.h>

#include "exchange_rig.h"

namespace tsr::test {
namespace {

ExchangeRig::Settings Units(int units, int perfector) {
    ExchangeRig::Settings s;
    s.units = units;
    s.perfector = perfector;
    s.withConsole = false;
    return s;
}

void SetRow(ExchangeRig& rig, int row, const std::string& name, bool present, std::vector<int> keys,
            int ductor, int cycle) {
    rig.table.Update(row, [&](UnitRecord& r) {
        r.separation = name;
        r.present = present;
        r.zoneCount = static_cast<int>(keys.size());
        std::copy(keys.begin(), keys.end(), r.keys.begin());
        r.ductor = ductor;
        r.ductorCycle = cycle;
    });
}

const std::string kCrLf = "\r\n";
std::string Tabs(int n) {
    return std::string(static_cast<std::size_t>(n), '\t');
}

// Four units on the front ("Perfector" equals "UnitNumber"): names before and
// after the current-job file, placeholders, the number formats, no back side.
TEST(InkKeyWriter, FourUnitJobByteForByte) {
    ExchangeRig rig(Units(4, 4));
    SetRow(rig, 0, "K", true, {0, 128, 255}, 50, 4);
    SetRow(rig, 1, "", true, {1, 16}, 7, 12);
    SetRow(rig, 2, "Old", false, {9, 9}, 99, 9);
    SetRow(rig, 3, "", true, {64}, 100, 1234);
    WriteText(
        rig.File("current", "currentjob.xml"),
        R"(<JDF><InkZoneProfile Side="Front"><InkZoneProfile Separation="Black" ZoneSettingsX=""/>)"
        R"(<InkZoneProfile Separation="" ZoneSettingsX=""/><InkZoneProfile Separation="Old" ZoneSettingsX=""/>)"
        R"(<InkZoneProfile ZoneSettingsX=""/></InkZoneProfile>)"
        R"(<Preview Side="Front" URL="file:///p/front.png"/><Preview Side="Back" URL="back.png"/></JDF>)");

    ASSERT_TRUE(rig.watcher.Writer().WriteInkKeys());

    const std::string mr = "http://www.example.com/schema/press-maker";
    const std::string jdf = "http://www.CIP4.org/JDFSchema_1_1";
    // written before the current-job file is read: the table's names as they were
    const std::string dc = kCrLf + "<JDF ID=\"n0001\" Type=\"DuctorCycle\" xmlns=\"" + jdf +
                           "\" Status=\"Waiting\" Version=\"1.2\" xmlns:mr=\"" + mr + "\" >" + kCrLf +
                           Tabs(1) + "<InkZoneProfile Side=\"Front\" >" + kCrLf + Tabs(2) +
                           "<InkZoneProfile Separation=\"K\" ductorCycle=\"004\" />" + kCrLf + Tabs(2) +
                           "<InkZoneProfile Separation=\"SPOT1\" ductorCycle=\"012\" />" + kCrLf + Tabs(2) +
                           "<InkZoneProfile Separation=\"DummyColor\" ductorCycle=\"\" />" + kCrLf + Tabs(2) +
                           "<InkZoneProfile Separation=\"SPOT2\" ductorCycle=\"1234\" />" + kCrLf + Tabs(1) +
                           "</InkZoneProfile>" + Tabs(2) + kCrLf + "</JDF>";
    EXPECT_EQ(ReadText(rig.File("keysOut", "InkKeys_DC.xml")), dc);

    const std::string keys =
        kCrLf + "<JDF ID=\"n0001\" Type=\"ProcessGroup\" Category=\"Printing\" Types=\"InkZoneCalculation " +
        "ConventionalPrinting\" JobID=\"K_401\" xmlns=\"" + jdf +
        "\" Status=\"Waiting\" Version=\"1.2\" xmlns:mr=\"" + mr +
        "\" ICSVersions=\"MISCPS_L1-1.0\" DescriptiveName=\"Test job for Pardova connection\" >" + kCrLf +
        Tabs(1) + "<ResourcePool>" + kCrLf + Tabs(2) +
        "<InkZoneProfile ID=\"r0013\" Class=\"Parameter\" Status=\"Available\" PartIDKeys=\"SignatureName "
        "SheetName Side Separation\" DescriptiveName=\"Schieberwerte von QV\" ZoneWidth=\"85.03937\" "
        "mr:Type=\"Slider\" >" +
        kCrLf + Tabs(3) + "<InkZoneProfile SignatureName=\"SIG1\" >" + kCrLf + Tabs(4) +
        "<InkZoneProfile SheetName=\"S1\" >" + kCrLf + Tabs(5) + "<InkZoneProfile Side=\"Front\" >" + kCrLf +
        Tabs(6) +
        "<InkZoneProfile Separation=\"Black\" ZoneSettingsX=\"0.000 0.500 0.996\" mr:InkSweep=\"050\" />" +
        kCrLf + Tabs(6) +
        "<InkZoneProfile Separation=\"SPOT1\" ZoneSettingsX=\"0.004 0.062\" mr:InkSweep=\"007\" />" + kCrLf +
        Tabs(6) + "<InkZoneProfile Separation=\"DummyColor\" ZoneSettingsX=\"\" mr:InkSweep=\"\" />" + kCrLf +
        Tabs(6) + "<InkZoneProfile Separation=\"SPOT2\" ZoneSettingsX=\"0.250\" mr:InkSweep=\"100\" />" +
        kCrLf + Tabs(5) + "</InkZoneProfile>" + Tabs(6) + kCrLf + Tabs(4) + "</InkZoneProfile>" + Tabs(5) +
        kCrLf + Tabs(3) + "</InkZoneProfile>" + Tabs(4) + kCrLf + Tabs(2) + "</InkZoneProfile>" + kCrLf +
        Tabs(2) +
        "<Preview ID=\"r0012.2\" Class=\"Parameter\" Status=\"Available\" PartIDKeys=\"SignatureName "
        "SheetName "
        "Side\" PreviewFileType=\"PNG\" DescriptiveName=\"png-Files for preview\" PreviewUsage=\"Viewable\" "
        ">" +
        kCrLf + Tabs(3) + "<Preview SignatureName=\"SIG1\" >" + kCrLf + Tabs(4) +
        "<Preview SheetName=\"S1\" >" + kCrLf + Tabs(5) +
        "<Preview Side=\"Front\" URL=\"file:///p/front.png\" />" + Tabs(6) + kCrLf + Tabs(4) + "</Preview>" +
        Tabs(5) + kCrLf + Tabs(3) + "</Preview>" + Tabs(4) + kCrLf + Tabs(2) + "</Preview>" + Tabs(3) +
        kCrLf + Tabs(1) + "</ResourcePool>" + Tabs(2) + kCrLf + "</JDF>";
    EXPECT_EQ(ReadText(rig.File("keysOut", "InkKeys.xml")), keys);

    const std::string log = rig.LogText();
    EXPECT_LT(log.find(">saveFile DC<"), log.find(">load file cd<"));
    EXPECT_LT(log.find(">load file cd<"), log.find(">saveFile<"));
    EXPECT_NE(log.find(">template file:<"), std::string::npos);
}

// Two units a side: both sides and both previews; the preview of a side
// goes only with that side, and an empty one is left out.
TEST(InkKeyWriter, BothSidesWithTheirPreviews) {
    ExchangeRig rig(Units(4, 2));
    for (int row = 0; row < 4; ++row)
        SetRow(rig, row, "C" + std::to_string(row + 1), true, {128}, 10, 2);
    WriteText(
        rig.File("current", "currentjob.xml"),
        R"(<JDF><InkZoneProfile Side="Front"><InkZoneProfile Separation="F1" ZoneSettingsX=""/></InkZoneProfile>)"
        R"(<InkZoneProfile Side="Back"><InkZoneProfile Separation="B1" ZoneSettingsX=""/></InkZoneProfile>)"
        R"(<Preview Side="Front"/><Preview Side="Back" URL="back.png"/></JDF>)");
    ASSERT_TRUE(rig.watcher.Writer().WriteInkKeys());
    const std::string keys = ReadText(rig.File("keysOut", "InkKeys.xml"));
    const std::size_t front = keys.find("<InkZoneProfile Side=\"Front\" >");
    const std::size_t back = keys.find("<InkZoneProfile Side=\"Back\" >");
    ASSERT_NE(front, std::string::npos);
    ASSERT_NE(back, std::string::npos);
    EXPECT_LT(front, keys.find("Separation=\"F1\""));
    EXPECT_LT(keys.find("Separation=\"SPOT1\""), back); // unit 2 lost its name to the current-job file
    EXPECT_LT(back, keys.find("Separation=\"B1\""));
    EXPECT_LT(keys.find("Separation=\"B1\""), keys.find("Separation=\"SPOT2\""));
    EXPECT_EQ(keys.find("<Preview Side=\"Front\""), std::string::npos); // empty front preview
    EXPECT_NE(keys.find("<Preview Side=\"Back\" URL=\"back.png\" />"), std::string::npos);
    const std::string dc = ReadText(rig.File("keysOut", "InkKeys_DC.xml"));
    EXPECT_LT(dc.find("Side=\"Front\""), dc.find("Separation=\"C2\""));
    EXPECT_LT(dc.find("Side=\"Back\""), dc.find("Separation=\"C3\""));
}

TEST(InkKeyWriter, TemplateFromTheCurrentFolder) {
    ExchangeRig rig(Units(1, 1));
    SetRow(rig, 0, "Black", true, {255}, 20, 2);
    CurrentFolder here(rig.temp.Path());
    WriteText(rig.temp.Path() / "units_template.xml",
              "<JDF Own=\"yes\">\r\n<X><InkZoneProfile SheetName=\"S1\"/></X>\r\n</JDF>");
    ASSERT_TRUE(rig.watcher.Writer().WriteInkKeys());
    const std::string keys = ReadText(rig.File("keysOut", "InkKeys.xml"));
    EXPECT_NE(keys.find("<JDF Own=\"yes\" >"), std::string::npos);
    EXPECT_NE(
        keys.find("<InkZoneProfile Separation=\"Black\" ZoneSettingsX=\"0.996\" mr:InkSweep=\"020\" />"),
        std::string::npos);
    EXPECT_EQ(rig.LogText().find(">template file:<"), std::string::npos);

    // a template without the sheet element writes nothing
    fs::remove(rig.File("keysOut", "InkKeys.xml"));
    WriteText(rig.temp.Path() / "units_template.xml", "<JDF><InkZoneProfile SheetName=\"S2\"/></JDF>");
    EXPECT_FALSE(rig.watcher.Writer().WriteInkKeys());
    EXPECT_FALSE(fs::exists(rig.File("keysOut", "InkKeys.xml")));
    EXPECT_NE(rig.LogText().find(">no node<"), std::string::npos);
}

TEST(InkKeyWriter, MissingOutputFolderIsNoFailure) {
    ExchangeRig rig(Units(1, 1));
    fs::remove_all(rig.Folder("keysOut"));
    EXPECT_TRUE(rig.watcher.Writer().WriteInkKeysDC());
    EXPECT_TRUE(rig.watcher.Writer().WriteInkKeys());
}

} // namespace
} // namespace tsr::test
