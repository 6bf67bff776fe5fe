#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "exchange/xml_defaults.h"
#include "exchange/xml_node.h"

namespace tsr {
namespace {

std::string ReadData(const std::string& name) {
    std::ifstream in(std::string(TSR_XML_TEST_DATA) + "/" + name, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// Every element in document order with its attributes, one line each.
std::vector<std::string> Outline(const XmlNode& root) {
    std::vector<std::string> lines;
    std::vector<std::pair<const XmlNode*, int>> pending{{&root, 0}};
    while (!pending.empty()) {
        auto [node, depth] = pending.back();
        pending.pop_back();
        std::string line(static_cast<std::size_t>(depth), '.');
        line += node->Name();
        for (const auto& a : node->Attributes())
            line += " " + a->Name() + "=[" + a->Value() + "]";
        lines.push_back(line);
        for (auto it = node->Children().rbegin(); it != node->Children().rend(); ++it)
            pending.push_back({it->get(), depth + 1});
    }
    return lines;
}

TEST(XmlRoundTrip, InkZoneProfileKeepsEveryElementAndAttribute) {
    XmlDefaults defaults;
    const std::string text = ReadData("job.xml");
    ASSERT_FALSE(text.empty());
    XmlNode first;
    ASSERT_TRUE(first.Parse(text, defaults.DefaultParseOptions()));
    ASSERT_EQ(first.Name(), "JDF");

    const std::string written = first.ToXml(defaults.DefaultWriteOptions());
    EXPECT_EQ(written.rfind("\r\n<JDF ID=\"n_000123\" JobID=\"24-0815\" ", 0), 0u);
    EXPECT_NE(written.find("\r\n\t\t\t\t\t<InkZoneProfile Side=\"Front\" >\r\n"), std::string::npos);
    EXPECT_EQ(written, first.ToXml(defaults.DefaultWriteOptions()));

    XmlNode second;
    ASSERT_TRUE(second.Parse(written, defaults.DefaultParseOptions()));
    EXPECT_EQ(Outline(second), Outline(first));
    EXPECT_FALSE(defaults.DefaultParseOptions().Snapshot().errorOccurred);

    // What the profile reader looks for is there after the round trip.
    const XmlNode* front = second.Find("InkZoneProfile", "Side", "Front");
    const XmlNode* back = second.Find("InkZoneProfile", "Side", "Back");
    ASSERT_NE(front, nullptr);
    ASSERT_NE(back, nullptr);
    const XmlNode* yellow = front->Find("InkZoneProfile", "ZoneSettingsX", std::nullopt, 3);
    ASSERT_NE(yellow, nullptr);
    EXPECT_EQ(yellow->GetAttribute("Separation"), "Yellow");
    EXPECT_EQ(yellow->GetAttribute("mr:InkSweep"), "48");
    EXPECT_EQ(front->Find("InkZoneProfile", "ZoneSettingsX", std::nullopt, 4), nullptr);
    const XmlNode* spot = back->Find("InkZoneProfile", "ZoneSettingsX", std::nullopt, 1);
    ASSERT_NE(spot, nullptr);
    EXPECT_EQ(spot->GetAttribute("Separation"), "PANTONE 286 C");
    const XmlNode* conditions = second.Find("PrintCondition", "Side", "Front");
    ASSERT_NE(conditions, nullptr);
    const XmlNode* fourth = conditions->Find("PrintCondition", "Separation", std::nullopt, 3);
    ASSERT_NE(fourth, nullptr);
    EXPECT_EQ(fourth->GetAttribute("UpdateUnit"), "false");
    const XmlNode* preview = second.Find("Preview", "Side", "Back");
    ASSERT_NE(preview, nullptr);
    EXPECT_EQ(preview->GetAttribute("URL"), "file:///previews/24-0815_S1_back.png");
}

TEST(XmlRoundTrip, SpecialCharactersSurviveWriteAndParse) {
    XmlDefaults defaults;
    XmlNode root("r");
    root.AddAttribute("a", "x < y & \"z\" 'w' > v");
    XmlNode* child = root.AppendChild(std::make_unique<XmlNode>("c"));
    child->SetValue("1 < 2 & 3 > 2");
    XmlNode parsed;
    ASSERT_TRUE(parsed.Parse(root.ToXml(defaults.DefaultWriteOptions()), defaults.DefaultParseOptions()));
    EXPECT_EQ(parsed.GetAttribute("a"), "x < y & \"z\" 'w' > v");
    ASSERT_EQ(parsed.ChildCount(), 1u);
    EXPECT_EQ(parsed.ChildAt(0)->Value(), "1 < 2 & 3 > 2");
}

} // namespace
} // namespace tsr
