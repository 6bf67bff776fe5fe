#include "exchange/ink_key_writer.h"

#include <algorithm>
#include <memory>

#include "config/configuration.h"
#include "exchange/exchange_files.h"
#include "exchange/exchange_names.h"
#include "exchange/exchange_text.h"
#include "exchange/profile_reader.h"
#include "exchange/xml_defaults.h"
#include "exchange/xml_entity_table.h"
#include "exchange/xml_node.h"
#include "log/activity_log.h"
#include "session/unit_table.h"

namespace tsr {

namespace {

constexpr int kLevel = 3;

// Placeholder names: "DummyColor" for a row without ink, SPOT1, SPOT2, ... in
// unit order for inks without a name. The counter restarts with every file.
class NameRule {
public:
    std::string NameOf(const UnitRecord& row) {
        if (!row.present)
            return "DummyColor";
        if (row.separation.empty())
            return "SPOT" + std::to_string(++spot_);
        return row.separation;
    }

private:
    int spot_ = 0;
};

std::unique_ptr<XmlNode> SideElement(const char* side) {
    auto node = std::make_unique<XmlNode>("InkZoneProfile");
    node->AddAttribute("Side", side);
    return node;
}

std::unique_ptr<XmlNode> ParseTemplate(const std::string& text, XmlDefaults& xml) {
    auto root = std::make_unique<XmlNode>();
    if (!root->Parse(text, xml.DefaultParseOptions()))
        return nullptr;
    return root;
}

void AppendPreview(XmlNode* sheetPreview, const char* side, const std::string& url) {
    if (!sheetPreview || url.empty())
        return;
    auto preview = std::make_unique<XmlNode>("Preview");
    preview->AddAttribute("Side", side);
    preview->AddAttribute("URL", url);
    sheetPreview->AppendChild(std::move(preview));
}

} // namespace

InkKeyWriter::InkKeyWriter(ProfileReader& reader, ExchangeFiles& files, Configuration& config,
                           ActivityLog& log, UnitTable& table, XmlDefaults& xml)
    : reader_(reader), files_(files), config_(config), log_(log), table_(table), xml_(xml) {}

std::string InkKeyWriter::KeysTemplate(const std::string& pressMakerNamespace) {
    return std::string("<JDF ID=\"n0001\" Type=\"ProcessGroup\" Category=\"Printing\" "
                       "Types=\"InkZoneCalculation ConventionalPrinting\" JobID=\"K_401\" xmlns=\"") +
           kJdfNamespace + "\" Status=\"Waiting\" Version=\"1.2\" xmlns:mr=\"" +
           XmlEntityTable::Predefined().Encode(pressMakerNamespace) + "\" ICSVersions=\"MISCPS_L1-1.0\" DescriptiveName=\"Test job for Pardova connection\">"
           "\t<ResourcePool>"
           "\t<InkZoneProfile ID=\"r0013\" Class=\"Parameter\" Status=\"Available\" "
           "PartIDKeys=\"SignatureName SheetName Side Separation\" DescriptiveName=\"Schieberwerte von QV\" "
           "ZoneWidth=\"85.03937\" mr:Type=\"Slider\">"
           "\t<InkZoneProfile SignatureName=\"SIG1\">"
           "\t<InkZoneProfile SheetName=\"S1\">"
           "\t</InkZoneProfile>"
           "\t</InkZoneProfile>"
           "\t</InkZoneProfile>"
           "\t<Preview ID=\"r0012.2\" Class=\"Parameter\" Status=\"Available\" "
           "PartIDKeys=\"SignatureName SheetName Side\" PreviewFileType=\"PNG\" "
           "DescriptiveName=\"png-Files for preview\" PreviewUsage=\"Viewable\">"
           "\t<Preview SignatureName=\"SIG1\">"
           "\t<Preview SheetName=\"S1\">"
           "\t</Preview>"
           "\t</Preview>"
           "\t</Preview>"
           "\t</ResourcePool>"
           "\t</JDF>";
}

std::string InkKeyWriter::DuctorCycleTemplate(const std::string& pressMakerNamespace) {
    return std::string("<JDF ID=\"n0001\" Type=\"DuctorCycle\" xmlns=\"") + kJdfNamespace +
           "\" Status=\"Waiting\" Version=\"1.2\" xmlns:mr=\"" +
           XmlEntityTable::Predefined().Encode(pressMakerNamespace) + "\">\t</JDF>";
}

template <typename MakeUnit> InkKeyWriter::Sides InkKeyWriter::BuildSides(MakeUnit makeUnit) const {
    Sides sides{SideElement("Front"), SideElement("Back")};
    NameRule names;
    for (const ProfileReader::UnitPlace& place : reader_.Places()) {
        const UnitRecord row = table_.Get(place.row);
        (place.front ? sides.front : sides.back)->AppendChild(makeUnit(row, names.NameOf(row)));
    }
    return sides;
}

bool InkKeyWriter::WriteInkKeysDC() {
    log_.WriteText("saveFile DC", kLevel);
    std::unique_ptr<XmlNode> root = ParseTemplate(DuctorCycleTemplate(config_.PressMakerNamespace()), xml_);
    if (!root)
        return false;
    Sides sides = BuildSides([](const UnitRecord& row, const std::string& name) {
        auto unit = std::make_unique<XmlNode>("InkZoneProfile");
        unit->AddAttribute("Separation", name);
        unit->AddAttribute("ductorCycle", row.present ? FormatThreeDigits(row.ductorCycle) : std::string());
        return unit;
    });
    if (sides.front->ChildCount() > 0)
        root->AppendChild(std::move(sides.front));
    if (sides.back->ChildCount() > 0)
        root->AppendChild(std::move(sides.back));
    files_.WriteWholeFile(config_.PathLoopKeysSND() + "/InkKeys_DC.xml",
                          root->ToXml(xml_.DefaultWriteOptions()));
    return true;
}

bool InkKeyWriter::WriteInkKeys() {
    WriteInkKeysDC();
    reader_.ReadCurrentJob(config_.PathCurrentJob() + "/currentjob.xml");
    log_.WriteText("saveFile", kLevel);

    std::string custom = files_.ReadWholeFile(kTemplateFile);
    std::replace(custom.begin(), custom.end(), '\r', ' ');
    std::replace(custom.begin(), custom.end(), '\n', ' ');
    std::unique_ptr<XmlNode> root = custom.empty() ? nullptr : ParseTemplate(custom, xml_);
    if (!root) {
        const std::string builtIn = KeysTemplate(config_.PressMakerNamespace());
        log_.WriteText("template file:", kLevel);
        log_.WriteText(builtIn, kLevel);
        root = ParseTemplate(builtIn, xml_);
        if (!root)
            return false;
    }
    XmlNode* sheet = root->Find("InkZoneProfile", "SheetName", "S1");
    if (!sheet) {
        log_.WriteText("no node", kLevel);
        return false;
    }

    Sides sides = BuildSides([](const UnitRecord& row, const std::string& name) {
        std::string zones;
        if (!EqualsIgnoringCase(name, "DummyColor")) {
            const int count = std::clamp(row.zoneCount, 0, kMaxKeys);
            for (int k = 0; k < count; ++k) {
                if (k > 0)
                    zones += ' ';
                zones += FormatThreeDecimals(row.keys[static_cast<std::size_t>(k)] / 256.0);
            }
        }
        auto unit = std::make_unique<XmlNode>("InkZoneProfile");
        unit->AddAttribute("Separation", name);
        unit->AddAttribute("ZoneSettingsX", zones);
        unit->AddAttribute("mr:InkSweep", row.present ? FormatThreeDigits(row.ductor) : std::string());
        return unit;
    });

    XmlNode* sheetPreview = root->Find("Preview", "SheetName", "S1");
    if (sides.front->ChildCount() > 0) {
        sheet->AppendChild(std::move(sides.front));
        AppendPreview(sheetPreview, "Front", reader_.FrontPreview());
    }
    if (sides.back->ChildCount() > 0) {
        sheet->AppendChild(std::move(sides.back));
        AppendPreview(sheetPreview, "Back", reader_.BackPreview());
    }
    files_.WriteWholeFile(config_.PathLoopKeysSND() + "/InkKeys.xml",
                          root->ToXml(xml_.DefaultWriteOptions()));
    return true;
}

} // namespace tsr
