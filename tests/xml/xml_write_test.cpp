#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "exchange/xml_defaults.h"
#include "exchange/xml_node.h"
#include "xml/xml_test_support.h"

namespace tsr {
namespace {

std::unique_ptr<XmlNode> Element(std::string name,
                                 std::vector<std::pair<std::string, std::string>> attributes = {},
                                 std::string value = {}) {
    auto node = std::make_unique<XmlNode>(std::move(name));
    for (auto& [n, v] : attributes)
        node->AddAttribute(n, v);
    node->SetValue(std::move(value));
    return node;
}

std::unique_ptr<XmlNode> Special(XmlNodeKind kind, std::string value) {
    auto node = std::make_unique<XmlNode>(kind == XmlNodeKind::Comment ? "#COMMENT" : "#CDATA");
    node->SetKind(kind);
    node->SetValue(std::move(value));
    return node;
}

struct WriteCase {
    const char* label;
    std::unique_ptr<XmlNode> (*build)();
    std::string expected;
};

class XmlWriteTest : public ::testing::TestWithParam<WriteCase> {};

TEST_P(XmlWriteTest, WritesTheFixedLayout) {
    XmlDefaults defaults;
    const WriteCase& c = GetParam();
    std::unique_ptr<XmlNode> tree = c.build();
    EXPECT_EQ(tree->ToXml(defaults.DefaultWriteOptions()), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Layout, XmlWriteTest,
    ::testing::Values(
        WriteCase{"EmptyElement", [] { return Element("name"); }, "\r\n<name/>"},
        WriteCase{"EmptyElementWithAttribute",
                  [] {
                      return Element("name", {{"a", "1"}});
                  },
                  "\r\n<name a=\"1\" />"},
        WriteCase{"TwoAttributes",
                  [] {
                      return Element("a", {{"x", "1"}, {"y", ""}});
                  },
                  "\r\n<a x=\"1\" y=\"\" />"},
        WriteCase{"TextOnOneLine",
                  [] {
                      return Element("a", {{"x", "1"}}, "text");
                  },
                  "\r\n<a x=\"1\" >text</a>"},
        WriteCase{"EncodedValues",
                  [] {
                      return Element("a", {{"q", "say \"<x>\" & 'y'"}}, "<");
                  },
                  "\r\n<a q=\"say &quot;&lt;x&gt;&quot; &amp; &apos;y&apos;\" >&lt;</a>"},
        WriteCase{"BackslashWrittenAsItStands", [] { return Element("a", {}, "a\\b"); }, "\r\n<a>a\\b</a>"},
        WriteCase{"SideWithTwoChildren",
                  [] {
                      auto root = Element("InkZoneProfile", {{"Side", "Front"}});
                      root->AppendChild(Element("a"));
                      root->AppendChild(Element("b", {{"k", "2"}}));
                      return root;
                  },
                  "\r\n<InkZoneProfile Side=\"Front\" >\r\n\t<a/>\r\n\t<b k=\"2\" />\r\n</InkZoneProfile>"},
        WriteCase{"NestedIndentation",
                  [] {
                      auto root = Element("r");
                      XmlNode* mid = root->AppendChild(Element("m"));
                      mid->AppendChild(Element("leaf", {}, "v"));
                      root->AppendChild(Element("tail"));
                      return root;
                  },
                  "\r\n<r>\r\n\t<m>\r\n\t\t<leaf>v</leaf>\r\n\t</m>\r\n\t<tail/>\r\n</r>"},
        WriteCase{"ValueAfterTheLastChild",
                  [] {
                      auto root = Element("r", {}, "v&");
                      root->AppendChild(Element("c"));
                      return root;
                  },
                  "\r\n<r>\r\n\t<c/>\tv&amp;\r\n</r>"},
        WriteCase{"CommentAndCdataNotEncoded",
                  [] {
                      auto root = Element("r");
                      root->AppendChild(Special(XmlNodeKind::Comment, " a<b "));
                      root->AppendChild(Special(XmlNodeKind::CData, "x&y"));
                      return root;
                  },
                  "\r\n<r>\r\n\t<!-- a<b -->\r\n\t<![CDATA[x&y]]>\r\n</r>"}),
    [](const auto& param) { return std::string(param.param.label); });

TEST(XmlWrite, OptionsChangeTheOutput) {
    XmlDefaults defaults;
    auto root = Element("r", {{"x", "'1'"}});
    root->AppendChild(Element("c", {}, "<"));

    XmlWriteOptions flat = test::FreshWriteOptions(defaults);
    flat.newlines = false;
    EXPECT_EQ(root->ToXml(flat), "<r x=\"&apos;1&apos;\" ><c>&lt;</c></r>");

    XmlWriteOptions raw = test::FreshWriteOptions(defaults);
    raw.encodeEntities = false;
    raw.quote = '\'';
    EXPECT_EQ(root->ToXml(raw), "\r\n<r x=''1'' >\r\n\t<c><</c>\r\n</r>");

    XmlWriteOptions indented = test::FreshWriteOptions(defaults);
    indented.depth = 2;
    EXPECT_EQ(root->ToXml(indented), "\r\n\t\t<r x=\"&apos;1&apos;\" >\r\n\t\t\t<c>&lt;</c>\r\n\t\t</r>");
    EXPECT_EQ(indented.depth, 2);
}

TEST(XmlWrite, WritingTwiceGivesTheSameTextAndLeavesTheDepth) {
    XmlDefaults defaults;
    XmlNode root;
    XmlParseOptions parse = test::FreshParseOptions(defaults);
    ASSERT_TRUE(root.Parse("<a x=\"1\">\n  <b><c y=\"&lt;\">t</c></b>\n  <d/>\n</a>", parse));
    const std::string first = root.ToXml(defaults.DefaultWriteOptions());
    const std::string second = root.ToXml(defaults.DefaultWriteOptions());
    EXPECT_EQ(first, second);
    EXPECT_EQ(defaults.DefaultWriteOptions().Snapshot().depth, 0);
    // The last blank run of a is written back after its last child.
    EXPECT_EQ(first, "\r\n<a x=\"1\" >\r\n\t<b>\r\n\t\t<c y=\"&lt;\" >t</c>\r\n\t</b>\r\n\t<d/>\t\n\r\n</a>");

    XmlWriteOptions own = test::FreshWriteOptions(defaults);
    EXPECT_EQ(root.ToXml(own), first);
    EXPECT_EQ(own.depth, 0);
}

TEST(XmlWrite, VeryDeepTreesAreWrittenSearchedAndDestroyed) {
    XmlDefaults defaults;
    auto root = std::make_unique<XmlNode>("n");
    XmlNode* tip = root.get();
    const int levels = 200000;
    for (int i = 0; i < levels; ++i)
        tip = tip->AppendChild(std::make_unique<XmlNode>("n"));
    tip->AddAttribute("k", "deep");
    XmlWriteOptions flat = test::FreshWriteOptions(defaults);
    flat.newlines = false;
    const std::string text = root->ToXml(flat);
    EXPECT_EQ(text.size(), 7u * levels + 14u); // <n></n> around <n k="deep" />
    EXPECT_EQ(root->Find("n", "k", "deep"), tip);
    root.reset();
}

TEST(XmlNodeModel, OwnershipAndAttributes) {
    XmlNode root("r");
    root.SetValue("v");
    XmlAttribute& first = root.AddAttribute("x", "1");
    root.AddAttribute("x", "2");
    root.AddAttribute("empty", "");
    EXPECT_EQ(first.Owner(), &root);
    EXPECT_EQ(root.GetAttribute("x"), "1"); // the first of the same name
    EXPECT_EQ(root.GetAttribute("empty"), "");
    EXPECT_FALSE(root.GetAttribute("X"));
    EXPECT_EQ(root.Attributes().size(), 3u);

    XmlNode* child = root.AppendChild(std::make_unique<XmlNode>("c"));
    ASSERT_NE(child, nullptr);
    EXPECT_EQ(child->Parent(), &root);
    EXPECT_EQ(root.AppendChild(nullptr), nullptr);
    EXPECT_EQ(root.ChildCount(), 1u);
    EXPECT_EQ(root.ChildAt(0), child);
    EXPECT_EQ(root.ChildAt(1), nullptr);

    root.Clear();
    EXPECT_EQ(root.ChildCount(), 0u);
    EXPECT_TRUE(root.Attributes().empty());
    EXPECT_EQ(root.Name(), "r");
    EXPECT_EQ(root.Value(), "v");
    EXPECT_EQ(root.Kind(), XmlNodeKind::Element);
}

TEST(XmlEntityTableTest, PredefinedTableInItsOrder) {
    const XmlEntityTable table = XmlEntityTable::Predefined();
    std::vector<std::string> references;
    for (const XmlEntity& e : table.Entries())
        references.push_back(std::string(1, e.character) + e.reference);
    EXPECT_EQ(references, (std::vector<std::string>{"&&amp;", "\"&quot;", "'&apos;", "<&lt;", ">&gt;"}));
    EXPECT_EQ(table.Decode("&lt;&#60;&amp&gt;&unknown;&"), "<&#60;&amp>&unknown;&");
    EXPECT_EQ(table.Encode("a<&>\"'"), "a&lt;&amp;&gt;&quot;&apos;");
    const XmlEntityTable odd({{'x', ""}});
    EXPECT_EQ(odd.Decode("abc"), "abc"); // an empty reference never matches
}

} // namespace
} // namespace tsr
