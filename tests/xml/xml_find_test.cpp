#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "exchange/xml_defaults.h"
#include "exchange/xml_node.h"
#include "xml/xml_test_support.h"

namespace tsr {
namespace {

struct FindCase {
    const char* label;
    std::string text;
    std::string name;
    std::string attribute;
    std::optional<std::string> value;
    int index;
    std::string expectedId; // "id" attribute of the node found; empty: none
};

class XmlFindTest : public ::testing::TestWithParam<FindCase> {};

TEST_P(XmlFindTest, FindsDepthFirst) {
    const FindCase& c = GetParam();
    XmlDefaults defaults;
    XmlParseOptions options = test::FreshParseOptions(defaults);
    XmlNode root;
    ASSERT_TRUE(root.Parse(c.text, options));
    std::optional<std::string_view> value;
    if (c.value)
        value = *c.value;
    const XmlNode* found = root.Find(c.name, c.attribute, value, c.index);
    if (c.expectedId.empty()) {
        EXPECT_EQ(found, nullptr);
    } else {
        ASSERT_NE(found, nullptr);
        EXPECT_EQ(found->GetAttribute("id").value_or("?"), c.expectedId);
    }
}

const char* const kTwoSiblings = R"(<r><P id="A" k=""/><P id="B" k=""/></r>)";
const char* const kNestedInFirst =
    R"(<r><P id="A" k=""><P id="A1" k=""/><P id="A2" k=""/></P><P id="B" k=""/></r>)";
const char* const kDeepInFirst =
    R"(<r><P id="A" k=""><Q><P id="A1" k=""/><P id="A2" k=""/></Q></P><P id="B" k=""/></r>)";
const char* const kValues = R"(<r><P id="1" k="x"/><P id="2" k="y"/><P id="3" k="x"/></r>)";

INSTANTIATE_TEST_SUITE_P(
    Search, XmlFindTest,
    ::testing::Values(
        FindCase{"IndexOneTakesSecondSibling", kTwoSiblings, "P", "k", std::nullopt, 1, "B"},
        FindCase{"IndexOneFindsInsideTheFirstChild", kNestedInFirst, "P", "k", std::nullopt, 1, "A2"},
        FindCase{"IndexOneFindsDeepInsideTheFirstChild", kDeepInFirst, "P", "k", std::nullopt, 1, "A2"},
        FindCase{"IndexZeroIsTheFirstInDocumentOrder", kNestedInFirst, "P", "k", std::nullopt, 0, "A"},
        FindCase{"IndexBeyondEveryLevel", kTwoSiblings, "P", "k", std::nullopt, 2, ""},
        FindCase{"ValueMatched", kValues, "P", "k", "y", 0, "2"},
        FindCase{"CounterNotRaisedForOtherValues", kValues, "P", "k", "x", 1, "3"},
        FindCase{"PassedOverWhateverTheirValue", kValues, "P", "k", "y", 1, "2"},
        FindCase{"NoSuchValue", kValues, "P", "k", "z", 0, ""},
        FindCase{"AttributeRequired", R"(<r><P id="1"/><P id="2" k=""/></r>)", "P", "k", std::nullopt, 0,
                 "2"},
        FindCase{"WithoutAttributeNotCounted", R"(<r><P id="1"/><P id="2" k=""/><P id="3" k=""/></r>)", "P",
                 "k", std::nullopt, 1, "3"},
        FindCase{"NamesAreCaseSensitive", R"(<r><p id="1" k=""/></r>)", "P", "k", std::nullopt, 0, ""},
        FindCase{"ValuesAreCaseSensitive", R"(<r><P id="1" Side="front"/></r>)", "P", "Side", "Front", 0, ""},
        FindCase{"FirstAttributeOfTheNameDecides", R"(<r><P id="1" k="a" k="b"/></r>)", "P", "k", "b", 0, ""},
        FindCase{"RootItselfIsNotSearched", R"(<P id="0" k=""><P id="1" k=""/></P>)", "P", "k", std::nullopt,
                 0, "1"}),
    [](const auto& param) { return std::string(param.param.label); });

} // namespace
} // namespace tsr
