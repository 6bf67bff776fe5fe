#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "exchange/xml_defaults.h"
#include "exchange/xml_node.h"
#include "xml/xml_test_support.h"

namespace tsr {
namespace {

struct ValueCase {
    const char* label;
    std::string text;
    std::string attribute; // empty: check the root element's value
    std::string expected;
};

class XmlValueTest : public ::testing::TestWithParam<ValueCase> {};

TEST_P(XmlValueTest, ReadsTheValue) {
    const ValueCase& c = GetParam();
    XmlDefaults defaults;
    XmlParseOptions options = test::FreshParseOptions(defaults);
    XmlNode root;
    ASSERT_TRUE(root.Parse(c.text, options)) << c.text;
    if (c.attribute.empty()) {
        EXPECT_EQ(root.Value(), c.expected);
    } else {
        auto value = root.GetAttribute(c.attribute);
        ASSERT_TRUE(value) << c.attribute;
        EXPECT_EQ(*value, c.expected);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Values, XmlValueTest,
    ::testing::Values(ValueCase{"DoubleQuoted", R"(<a x="1 2"/>)", "x", "1 2"},
                      ValueCase{"SingleQuoted", R"(<a x='say "hi"'/>)", "x", "say \"hi\""},
                      ValueCase{"UnquotedEndsAtBlank", R"(<a x=abc y="2"></a>)", "x", "abc"},
                      ValueCase{"UnquotedEndsAtGreater", R"(<a y="2" x=abc>t</a>)", "x", "abc"},
                      ValueCase{"BlanksAroundEquals", R"(<a x = "v" />)", "x", "v"},
                      ValueCase{"WithoutEquals", R"(<a flag x="1" />)", "flag", ""},
                      ValueCase{"BackslashBeforeLetterDropped", R"(<a x="a\b"/>)", "x", "ab"},
                      ValueCase{"DoubleBackslashKeepsOne", R"(<a x="a\\b"/>)", "x", "a\\b"},
                      ValueCase{"EscapedQuoteStaysInValue", R"(<a x="a\"b"/>)", "x", "a\"b"},
                      ValueCase{"EntityDecoded", R"(<a x="&lt;&amp;&gt;&quot;&apos;"/>)", "x", "<&>\"'"},
                      ValueCase{"NumericReferenceKept", R"(<a x="&#60;"/>)", "x", "&#60;"},
                      ValueCase{"AmpWithoutSemicolonKept", R"(<a x="&amp b"/>)", "x", "&amp b"},
                      ValueCase{"DecodedOnce", R"(<a x="&amp;lt;"/>)", "x", "&lt;"},
                      ValueCase{"ElementText", "<a>x &gt; y</a>", "", "x > y"},
                      ValueCase{"EscapedLessThanInText", R"(<a>1 \< 2</a>)", "", "1 < 2"},
                      ValueCase{"FirstNonBlankRun", "<a>\n  <b/>first<c/>second</a>", "", "first"},
                      ValueCase{"LastBlankRunKept", "<a>\n\t<b/>\n</a>", "", "\n"},
                      ValueCase{"TextBeforeTheFirstTagIgnored", "junk <a>v</a>", "", "v"},
                      ValueCase{"PrefixedNamesAreOrdinary", R"(<a mr:InkSweep="62"/>)", "mr:InkSweep", "62"}),
    [](const auto& param) { return std::string(param.param.label); });

TEST(XmlParse, OptionsChangeHowValuesAreCopied) {
    XmlDefaults defaults;
    struct Case {
        const char* label;
        void (*set)(XmlParseOptions&);
        std::string text;
        std::string expectedAttribute;
        std::string expectedValue;
    };
    const std::vector<Case> cases = {
        {"trim", [](XmlParseOptions& o) { o.trimValues = true; }, R"(<a x="  1 ">  t  </a>)", "1", "t"},
        {"trim leaves blank runs empty", [](XmlParseOptions& o) { o.trimValues = true; },
         "<a x=\" \">  <b/>  </a>", "", ""},
        {"no escape char", [](XmlParseOptions& o) { o.escapeChar.reset(); }, R"(<a x="a\b">c\d</a>)", "a\\b",
         "c\\d"},
        {"other escape char", [](XmlParseOptions& o) { o.escapeChar = '^'; }, R"(<a x="a^"b\c">^<</a>)",
         "a\"b\\c", "<"},
        {"no decoding", [](XmlParseOptions& o) { o.decodeEntities = false; }, R"(<a x="&lt;">&gt;</a>)",
         "&lt;", "&gt;"},
        {"no table", [](XmlParseOptions& o) { o.entities = nullptr; }, R"(<a x="&lt;">&gt;</a>)", "&lt;",
         "&gt;"},
    };
    for (const Case& c : cases) {
        XmlParseOptions options = test::FreshParseOptions(defaults);
        c.set(options);
        XmlNode root;
        ASSERT_TRUE(root.Parse(c.text, options)) << c.label;
        EXPECT_EQ(root.GetAttribute("x").value_or("<none>"), c.expectedAttribute) << c.label;
        EXPECT_EQ(root.Value(), c.expectedValue) << c.label;
    }
}

std::vector<std::string> ChildNames(const XmlNode& node) {
    std::vector<std::string> names;
    for (const auto& child : node.Children())
        names.push_back(child->Name());
    return names;
}

TEST(XmlParse, DeclarationAndCommentBeforeTheRootAreDropped) {
    XmlDefaults defaults;
    XmlParseOptions options = test::FreshParseOptions(defaults);
    XmlNode root;
    const std::string text = "<?xml version=\"1.0\"?>\r\n<!-- made by hand -->\r\n<JDF ID=\"n1\"><A/></JDF>";
    ASSERT_EQ(root.Parse(text, options), text.size());
    EXPECT_EQ(root.Name(), "JDF");
    EXPECT_EQ(root.GetAttribute("ID").value_or(""), "n1");
    EXPECT_EQ(ChildNames(root), (std::vector<std::string>{"A"}));
    EXPECT_EQ(root.Parent(), nullptr);
}

TEST(XmlParse, CommentsAndCdataBetweenChildrenAreStoredInOrder) {
    XmlDefaults defaults;
    XmlParseOptions options = test::FreshParseOptions(defaults);
    XmlNode root;
    ASSERT_TRUE(
        root.Parse("<r><a/><!-- note &lt; --><b/><![CDATA[x<y]]><![cdata[z]]><?pi skip?><c/></r>", options));
    EXPECT_EQ(ChildNames(root), (std::vector<std::string>{"a", "#COMMENT", "b", "#CDATA", "#CDATA", "c"}));
    EXPECT_EQ(root.ChildAt(1)->Kind(), XmlNodeKind::Comment);
    EXPECT_EQ(root.ChildAt(1)->Value(), " note &lt; "); // comments are not decoded
    EXPECT_EQ(root.ChildAt(3)->Kind(), XmlNodeKind::CData);
    EXPECT_EQ(root.ChildAt(3)->Value(), "x<y");
    EXPECT_EQ(root.ChildAt(4)->Value(), "z");
    for (const auto& child : root.Children())
        EXPECT_EQ(child->Parent(), &root);
}

TEST(XmlParse, ResultIsThePositionAfterTheElement) {
    XmlDefaults defaults;
    struct Case {
        std::string text;
        std::size_t position;
        std::string name;
    };
    const std::vector<Case> cases = {
        {"<a/>tail", 4, "a"},     {"  <a x=\"1\" />", 13, "a"},
        {"<a>t</a><b/>", 8, "a"}, {"<a><b>", 6, "a"}, // open at the end: closed
        {"x</end>", 1, ""},                           // an end tag first: no element
        {"<a></a >x", 8, "a"},                        // blank before ">" in an end tag
    };
    for (const Case& c : cases) {
        XmlParseOptions options = test::FreshParseOptions(defaults);
        XmlNode root;
        EXPECT_EQ(root.Parse(c.text, options), c.position) << c.text;
        EXPECT_EQ(root.Name(), c.name) << c.text;
        EXPECT_FALSE(options.errorOccurred) << c.text;
    }
}

TEST(XmlParse, EndTagWithWhiteSpaceBeforeGreaterClosesCleanly) {
    XmlDefaults defaults;
    XmlParseOptions options = test::FreshParseOptions(defaults);
    XmlNode root;
    ASSERT_TRUE(root.Parse("<r><a></a >text<b></b\r\n></r\t>", options));
    EXPECT_EQ(root.Value(), "text");
    EXPECT_EQ(ChildNames(root), (std::vector<std::string>{"a", "b"}));
}

TEST(XmlParse, ElementsLeftOpenAtTheEndCountAsClosed) {
    XmlDefaults defaults;
    XmlParseOptions options = test::FreshParseOptions(defaults);
    XmlNode root;
    ASSERT_TRUE(root.Parse("<a><b x=\"1\"><c>", options));
    ASSERT_EQ(root.ChildCount(), 1u);
    XmlNode& b = *root.ChildAt(0);
    EXPECT_EQ(b.Name(), "b");
    EXPECT_EQ(b.Parent(), &root);
    ASSERT_EQ(b.ChildCount(), 1u);
    EXPECT_EQ(b.ChildAt(0)->Name(), "c");
}

TEST(XmlParse, ParsingAgainReplacesChildrenAndAttributes) {
    XmlDefaults defaults;
    XmlParseOptions options = test::FreshParseOptions(defaults);
    XmlNode root;
    ASSERT_TRUE(root.Parse("<a x=\"1\">old<b/><c/></a>", options));
    ASSERT_TRUE(root.Parse("<d y=\"2\"/>", options));
    EXPECT_EQ(root.Name(), "d");
    EXPECT_EQ(root.Value(), "");
    EXPECT_EQ(root.ChildCount(), 0u);
    ASSERT_EQ(root.Attributes().size(), 1u);
    EXPECT_EQ(root.Attributes()[0]->Name(), "y");
}

struct ErrorCase {
    const char* label;
    std::string text;
    bool forceParse;
    bool parses;
    int code;
    std::string message;
};

class XmlErrorTest : public ::testing::TestWithParam<ErrorCase> {};

TEST_P(XmlErrorTest, ReportsTheFailure) {
    const ErrorCase& c = GetParam();
    XmlDefaults defaults;
    XmlParseOptions options = test::FreshParseOptions(defaults);
    options.forceParse = c.forceParse;
    XmlNode root;
    EXPECT_EQ(root.Parse(c.text, options).has_value(), c.parses);
    EXPECT_EQ(options.errorOccurred, c.code != 0);
    EXPECT_EQ(options.errorCode, c.code);
    EXPECT_EQ(options.errorMessage, c.message);
    EXPECT_EQ(options.errorPosition.has_value(), c.code != 0);
}

INSTANTIATE_TEST_SUITE_P(
    Errors, XmlErrorTest,
    ::testing::Values(
        ErrorCase{"SlashNotClosing", "<a x=\"1\"/ >", false, false, 1, "Element must be closed."},
        ErrorCase{"SlashAtEnd", "<r><a/", false, false, 1, "Element must be closed."},
        ErrorCase{"EndTagRunsToEnd", "<a>t</a", false, false, 2, "it must be closed with </a>"},
        ErrorCase{"MismatchedEndTag", "<a></b>", false, false, 3, "'<a> ... </b>' is not wel-formed."},
        ErrorCase{"ChildNotClosed", "<a><b></a>", false, false, 3, "'<b> ... </a>' is not wel-formed."},
        ErrorCase{"CaseMatters", "<a></A>", false, false, 3, "'<a> ... </A>' is not wel-formed."},
        ErrorCase{"ForceParseAcceptsMismatch", "<a><b></a>", true, true, 0, ""},
        ErrorCase{"ForceParseOtherName", "<a>t</b>", true, true, 0, ""},
        ErrorCase{"AttributeWithoutBlankOrEquals", "<a x>", false, false, 4, "<a> attribute has error "},
        ErrorCase{"OnlyWhiteSpaceLeftInTag", "<a  ", false, false, 4, "<a> attribute has error "},
        ErrorCase{"NoLessThan", "plain text", false, false, 0, ""},
        ErrorCase{"Empty", "", false, false, 0, ""},
        ErrorCase{"StartTagRunsToEnd", "<abc", false, false, 0, ""},
        ErrorCase{"UnclosedQuote", "<a x=\"1>", false, false, 0, ""},
        ErrorCase{"UnclosedSingleQuote", "<a x='1\\'>", false, false, 0, ""},
        ErrorCase{"UnquotedValueToEnd", "<a x=1", false, false, 0, ""},
        ErrorCase{"UnclosedComment", "<a><!-- x", false, false, 0, ""},
        ErrorCase{"UnclosedCdata", "<a><![CDATA[x]]", false, false, 0, ""},
        ErrorCase{"UnclosedDeclaration", "<?xml version", false, false, 0, ""},
        ErrorCase{"CommentOnly", "<!-- x -->", false, false, 0, ""},
        ErrorCase{"TrailingTextAfterValue", "<a>x<b/>tail", false, false, 0, ""},
        ErrorCase{"DuplicateAttributesTolerated", "<a x=\"1\" x=\"2\"/>", false, true, 0, ""},
        ErrorCase{"LoneEscapeAtEnd", "<a>x\\", false, true, 0, ""}),
    [](const auto& param) { return std::string(param.param.label); });

TEST(XmlParse, OnlyTheFirstErrorIsRecorded) {
    XmlDefaults defaults;
    XmlParseOptions options = test::FreshParseOptions(defaults);
    XmlNode root;
    EXPECT_FALSE(root.Parse("<a></b>", options));
    const std::size_t position = options.errorPosition.value_or(0);
    EXPECT_EQ(position, 3u);
    EXPECT_FALSE(root.Parse("<a/ >", options));
    EXPECT_TRUE(root.Parse("<a/>", options));
    EXPECT_EQ(options.errorCode, 3);
    EXPECT_EQ(options.errorMessage, "'<a> ... </b>' is not wel-formed.");
    EXPECT_EQ(options.errorPosition, position);
}

TEST(XmlParse, FailedParseKeepsWhatWasBuilt) {
    XmlDefaults defaults;
    XmlParseOptions options = test::FreshParseOptions(defaults);
    XmlNode root;
    EXPECT_FALSE(root.Parse("<a><b><c/></b><d x=\"1\"><e></a>", options));
    EXPECT_EQ(ChildNames(root), (std::vector<std::string>{"b", "d"}));
    EXPECT_EQ(root.ChildAt(1)->ChildCount(), 1u);
}

TEST(XmlParse, DeepNestingFailsInsteadOfOverflowingTheStack) {
    XmlDefaults defaults;
    XmlParseOptions options = test::FreshParseOptions(defaults);
    std::string text;
    for (int i = 0; i < 100000; ++i)
        text += "<a>";
    XmlNode root;
    EXPECT_FALSE(root.Parse(text, options));
    std::string unnamed;
    for (int i = 0; i < 100000; ++i)
        unnamed += "<>";
    EXPECT_FALSE(root.Parse(unnamed, options)); // unnamed elements count too
}

TEST(XmlParse, NestingUpToTheLimitParses) {
    XmlDefaults defaults;
    XmlParseOptions options = test::FreshParseOptions(defaults);
    std::string text;
    // The root and kXmlMaxDepth - 2 levels of a, then the leaf at the limit.
    for (std::size_t i = 0; i + 1 < kXmlMaxDepth; ++i)
        text += "<a>";
    text += "<leaf k=\"v\"/>";
    for (std::size_t i = 0; i + 1 < kXmlMaxDepth; ++i)
        text += "</a>";
    XmlNode root;
    ASSERT_EQ(root.Parse(text, options), text.size());
    const XmlNode* leaf = root.Find("leaf", "k");
    ASSERT_NE(leaf, nullptr);
    std::size_t depth = 0;
    for (const XmlNode* n = leaf; n->Parent() != nullptr; n = n->Parent())
        ++depth;
    EXPECT_EQ(depth, kXmlMaxDepth - 1);

    const std::string deeper = "<a>" + text + "</a>";
    EXPECT_FALSE(root.Parse(deeper, options));
}

} // namespace
} // namespace tsr
