#include "exchange/profile_reader.h"

#include <algorithm>
#include <cmath>
#include <optional>

#include "config/configuration.h"
#include "config/split_string.h"
#include "exchange/exchange_files.h"
#include "exchange/exchange_text.h"
#include "exchange/xml_defaults.h"
#include "exchange/xml_node.h"
#include "log/activity_log.h"
#include "session/unit_table.h"

namespace tsr {

namespace {

constexpr int kLevel = 3;
constexpr std::int32_t kNoColour = 0x408000;

std::string AttributeOf(const XmlNode* node, std::string_view name) {
    if (!node)
        return {};
    std::optional<std::string_view> value = node->GetAttribute(name);
    return value ? std::string(*value) : std::string();
}

std::string CutSeparation(std::string name) {
    if (name.size() > ProfileReader::kMaxSeparation)
        name.resize(ProfileReader::kMaxSeparation);
    return name;
}

// The n-th (from 1) child element called name carrying attribute, below parent.
const XmlNode* NthChild(const XmlNode* parent, std::string_view name, std::string_view attribute, int n) {
    if (!parent || n < 1)
        return nullptr;
    return parent->Find(name, attribute, std::nullopt, n - 1);
}

// The elements below root called InkZoneProfile with Side equal to side, in
// document order (each before its children, children in their order).
std::vector<const XmlNode*> SideElements(const XmlNode& root, std::string_view side) {
    std::vector<const XmlNode*> found;
    std::vector<const XmlNode*> pending;
    for (auto it = root.Children().rbegin(); it != root.Children().rend(); ++it)
        pending.push_back(it->get());
    while (!pending.empty()) {
        const XmlNode* node = pending.back();
        pending.pop_back();
        if (node->Kind() == XmlNodeKind::Element && node->Name() == "InkZoneProfile") {
            std::optional<std::string_view> value = node->GetAttribute("Side");
            if (value && *value == side)
                found.push_back(node);
        }
        for (auto it = node->Children().rbegin(); it != node->Children().rend(); ++it)
            pending.push_back(it->get());
    }
    return found;
}

bool HoldsUnits(const XmlNode* side, std::string_view unitAttribute) {
    return side && side->Find("InkZoneProfile", unitAttribute) != nullptr;
}

} // namespace

struct ProfileReader::Document {
    const XmlNode* front = nullptr;
    const XmlNode* back = nullptr;

    const XmlNode* Side(bool isFront) const { return isFront ? front : back; }
};

ProfileReader::ProfileReader(ExchangeFiles& files, Configuration& config, ActivityLog& log, UnitTable& table,
                             XmlDefaults& xml)
    : files_(files), config_(config), log_(log), table_(table), xml_(xml) {}

std::vector<ProfileReader::UnitPlace> ProfileReader::Places() const {
    const int perfector = config_.Perfector();
    const int units = std::clamp(config_.UnitNumber(), 0, kMaxUnits);
    std::vector<UnitPlace> places;
    for (int u = 1; u <= units; ++u)
        places.push_back(UnitPlace{u - 1, u <= perfector, u <= perfector ? u : u - perfector});
    return places;
}

std::int32_t ProfileReader::ParseSrgb(const std::string& text) {
    std::vector<std::string> pieces = SplitString(text, " ");
    if (pieces.size() != 3)
        return kNoColour;
    std::int32_t colour = 0;
    for (int i = 0; i < 3; ++i) {
        double component = std::trunc(LeadingNumber(pieces[static_cast<std::size_t>(i)]) * 255.0);
        // only the low 8 bits of the whole number count, as for a byte cast
        double low = std::isfinite(component) ? std::fmod(component, 256.0) : 0.0;
        if (low < 0)
            low += 256.0;
        colour |= static_cast<std::int32_t>(low) << (8 * i);
    }
    return colour;
}

std::unique_ptr<XmlNode> ProfileReader::Load(const std::string& path, bool deleteWhenParsed, Document& doc,
                                             std::string_view unitAttribute) {
    if (path.empty()) {
        log_.WriteText("path empty", kLevel);
        return nullptr;
    }
    std::string text = files_.ReadWholeFile(path);
    if (text.empty()) {
        log_.WriteText("file empty", kLevel);
        return nullptr;
    }
    auto root = std::make_unique<XmlNode>();
    if (!root->Parse(text, xml_.DefaultParseOptions())) {
        log_.WriteText("load file err", kLevel);
        return nullptr;
    }
    if (deleteWhenParsed && !keepRequestFiles_)
        files_.DeleteRequestFile(path);
    if (!FindSides(*root, doc, unitAttribute))
        return nullptr;
    return root;
}

// Files with several signatures or sheets often begin with a side partition
// that holds no separations: the sides taken are the first front that holds
// units and the back of the same sheet, or else the first back that holds
// units; only a file without any such side falls back to the first of each.
bool ProfileReader::FindSides(const XmlNode& root, Document& doc, std::string_view unitAttribute) {
    const std::vector<const XmlNode*> fronts = SideElements(root, "Front");
    const std::vector<const XmlNode*> backs = SideElements(root, "Back");
    auto firstHolding = [&](const std::vector<const XmlNode*>& sides) -> const XmlNode* {
        for (const XmlNode* side : sides)
            if (HoldsUnits(side, unitAttribute))
                return side;
        return sides.empty() ? nullptr : sides.front();
    };
    doc.front = firstHolding(fronts);
    doc.back = nullptr;
    if (HoldsUnits(doc.front, unitAttribute) && doc.front->Parent())
        for (const XmlNode* back : backs)
            if (back->Parent() == doc.front->Parent()) {
                doc.back = back;
                break;
            }
    if (!doc.back)
        doc.back = firstHolding(backs);
    if (!doc.front && !doc.back) {
        log_.WriteText("no node front and back", kLevel);
        return false;
    }
    return true;
}

void ProfileReader::TakePreviews(const XmlNode& root) {
    std::string front = "default.png";
    std::string back = "default.png";
    if (const XmlNode* preview = root.Find("Preview", "Side", "Front"))
        front = AttributeOf(preview, "URL");
    if (const XmlNode* preview = root.Find("Preview", "Side", "Back"))
        back = AttributeOf(preview, "URL");
    std::lock_guard lock(previewGuard_);
    frontPreview_ = std::move(front);
    backPreview_ = std::move(back);
}

std::string ProfileReader::FrontPreview() const {
    std::lock_guard lock(previewGuard_);
    return frontPreview_;
}

std::string ProfileReader::BackPreview() const {
    std::lock_guard lock(previewGuard_);
    return backPreview_;
}

bool ProfileReader::ReadInkZoneProfile(const std::string& path) {
    log_.WriteText("load file", kLevel);
    Document doc;
    std::unique_ptr<XmlNode> root = Load(path, true, doc, "ZoneSettingsX");
    if (!root)
        return false;
    const XmlNode* conditionFront = root->Find("PrintCondition", "Side", "Front");
    const XmlNode* conditionBack = root->Find("PrintCondition", "Side", "Back");
    TakePreviews(*root);

    for (const UnitPlace& place : Places()) {
        const bool front = place.front;
        const int n = place.n;
        const XmlNode* side = doc.Side(front);
        const XmlNode* separation = NthChild(side, "InkZoneProfile", "ZoneSettingsX", n);

        bool transfer = false;
        if (side) {
            std::string value = AttributeOf(side, "Transfer");
            transfer = value.empty() || EqualsIgnoringCase(value, "TRUE");
        }
        const XmlNode* condition =
            NthChild(front ? conditionFront : conditionBack, "PrintCondition", "Separation", n);
        const bool updateUnit = !EqualsIgnoringCase(AttributeOf(condition, "UpdateUnit"), "FALSE");

        std::string name;
        std::optional<std::int32_t> colour;
        std::string percentText = "0";
        std::string zoneText;
        if (separation) {
            name = CutSeparation(AttributeOf(separation, "Separation"));
            colour = ParseSrgb(AttributeOf(separation, "sRGB"));
            percentText = AttributeOf(separation, "mr:InkSweep");
            // Standard JDF has no ductor: a separation without the maker's
            // value leaves the unit's ductor as the press has it.
            zoneText = AttributeOf(separation, "ZoneSettingsX");
            log_.WriteText(EscapeMarkup(name) + " " + (transfer ? "1" : "0") + " " + EscapeMarkup(zoneText),
                           kLevel);
        } else {
            log_.WriteText("dummycolor", kLevel);
        }

        std::vector<std::string> zones = SplitString(zoneText, " ");
        const int zoneCount = static_cast<int>(std::min<std::size_t>(zones.size(), kMaxKeys));
        table_.Update(place.row, [&](UnitRecord& row) {
            row.transfer = transfer;
            row.updateUnit = updateUnit;
            row.separation = name;
            if (colour)
                row.colour = *colour;
            row.present = !name.empty() && !EqualsIgnoringCase(name, "DummyColor");
            row.ductorGiven = StartsWithInteger(percentText);
            if (row.ductorGiven)
                row.ductor = DuctorToPress(LeadingInteger(percentText));
            row.zoneCount = zoneCount;
            for (int k = 0; k < zoneCount; ++k)
                row.keys[static_cast<std::size_t>(k)] =
                    KeyFromFraction(LeadingNumber(zones[static_cast<std::size_t>(k)]));
        });
    }
    return true;
}

bool ProfileReader::ReadDuctorCycleProfile(const std::string& path) {
    log_.WriteText("load file DC", kLevel);
    Document doc;
    std::unique_ptr<XmlNode> root = Load(path, true, doc, "Separation"); // doc points into it
    if (!root)
        return false;
    for (const UnitPlace& place : Places()) {
        const XmlNode* element = NthChild(doc.Side(place.front), "InkZoneProfile", "Separation", place.n);
        const int cycle = LeadingInteger(AttributeOf(element, "ductorCycle"));
        table_.Update(place.row, [cycle](UnitRecord& row) { row.ductorCycle = cycle; });
    }
    return true;
}

bool ProfileReader::ReadCurrentJob(const std::string& path) {
    log_.WriteText("load file cd", kLevel);
    Document doc;
    std::unique_ptr<XmlNode> root = Load(path, false, doc, "ZoneSettingsX");
    if (!root)
        return false;
    TakePreviews(*root);
    for (const UnitPlace& place : Places()) {
        const XmlNode* separation =
            NthChild(doc.Side(place.front), "InkZoneProfile", "ZoneSettingsX", place.n);
        std::string name = separation ? CutSeparation(AttributeOf(separation, "Separation")) : std::string();
        std::optional<std::int32_t> colour;
        if (separation)
            colour = ParseSrgb(AttributeOf(separation, "sRGB"));
        table_.Update(place.row, [&](UnitRecord& row) {
            row.separation = name;
            if (colour)
                row.colour = *colour;
        });
    }
    return true;
}

} // namespace tsr
