#include <gtest/gtest.h>

#include <string>

#include "app/lenient_json.h"
#include "app/memory_list.h"
#include "host/page_script.h"

namespace {

using namespace std::string_literals;

struct ReadCase {
    std::string text;
    const char* expected; // strict JSON of the value read; nullptr: refused
};

TEST(ParseLenientJson, ReadsJsonAndTheLenientForms) {
    const ReadCase cases[] = {
        // plain JSON
        {R"({"a":1,"b":[true,false,null],"c":"x"})", R"({"a":1,"b":[true,false,null],"c":"x"})"},
        {R"( { "a" : -2.5e1 } )", R"({"a":-25.0})"},
        {"[]", "[]"},
        {"{}", "{}"},
        {"\"text\"", "\"text\""},
        {"42", "42"},
        {"-0", "0"},
        {"9223372036854775807", "9223372036854775807"},
        {"9223372036854775808", "9.223372036854776e+18"}, // beyond 64 bits: a fraction
        {"\t\r\n{\"a\":1}\n", R"({"a":1})"},
        // single-quoted strings, for values and member names
        {"{'a':'x'}", R"({"a":"x"})"},
        {R"({'a':'say "hi"'})", R"({"a":"say \"hi\""})"},
        {R"({'a':'it\'s'})", R"({"a":"it's"})"},
        {R"({"a":"it's"})", R"({"a":"it's"})"},
        {"['x', \"y\"]", R"(["x","y"])"},
        // member names without quotes
        {"{units: 6, log_path: 'D:\\\\x', $b: 1, c-d: 2}",
         R"({"units":6,"log_path":"D:\\x","$b":1,"c-d":2})"},
        {"{ preset : true }", R"({"preset":true})"},
        {"{2: 'two'}", R"({"2":"two"})"},
        // escapes
        {R"("a\"b\\c\/d\b\f\n\r\t")", R"("a\"b\\c/d\b\f\n\r\t")"},
        {R"("\u00e4\u20AC")", "\"\xC3\xA4\xE2\x82\xAC\""},
        {R"("\ud83d\ude00")", "\"\xF0\x9F\x98\x80\""},
        {R"("\ud83d")", "\"\xEF\xBF\xBD\""}, // a lone surrogate has no UTF-8 form
        {R"("\ude00x")", "\"\xEF\xBF\xBDx\""},
        // a member given twice: the later one counts
        {R"({"a":1,"a":2})", R"({"a":2})"},
        // refused
        {"", nullptr},
        {"   ", nullptr},
        {"{", nullptr},
        {"{\"a\":1", nullptr},
        {"{\"a\" 1}", nullptr},
        {"{\"a\":}", nullptr},
        {"{\"a\":1,}", nullptr},
        {"[1,]", nullptr},
        {"{,}", nullptr},
        {"{\"a\":1} x", nullptr},
        {"{\"a\":1}{}", nullptr},
        {"'open", nullptr},
        {"\"a\\qb\"", nullptr},
        {"\"\\u12\"", nullptr},
        {"\"\\u12g4\"", nullptr},
        {"{a b: 1}", nullptr},
        {"{'a':undefined}", nullptr},
        {"tru", nullptr},
        {"01x", nullptr},
        {"-", nullptr},
        {"1.", nullptr},
        {".5", nullptr},
        {"1e", nullptr},
        {"NaN", nullptr},
        {"{\"a\":1}\0{}"s, nullptr},
    };
    for (const auto& c : cases) {
        const auto value = ParseLenientJson(c.text);
        if (c.expected == nullptr) {
            EXPECT_FALSE(value.has_value()) << "[" << c.text << "] read as " << value->dump();
            continue;
        }
        ASSERT_TRUE(value.has_value()) << "[" << c.text << "] refused";
        EXPECT_EQ(value->dump(), JsonValue::parse(c.expected).dump()) << c.text;
    }
}

TEST(ParseLenientJson, KeepsTheMembersInTheirOrder) {
    const auto value = ParseLenientJson("{z:1, a:2, m:3}");
    ASSERT_TRUE(value);
    EXPECT_EQ(value->dump(), R"({"z":1,"a":2,"m":3})");
}

TEST(ParseLenientJson, ARepeatedMemberKeepsItsFirstPlaceAndTakesTheLastValue) {
    const auto value = ParseLenientJson("{z:1, a:2, 'z':{m:3}, \"a\":4, b:5}");
    ASSERT_TRUE(value);
    EXPECT_EQ(value->dump(), R"({"z":{"m":3},"a":4,"b":5})");
    EXPECT_EQ((*value)["b"], 5); // the object's own lookup finds every member
}

TEST(ParseLenientJson, RefusesNestingBeyondItsDepthWithoutFailing) {
    const std::string deep = std::string(100000, '[') + std::string(100000, ']');
    EXPECT_FALSE(ParseLenientJson(deep).has_value());
    const std::string open = std::string(100000, '{');
    EXPECT_FALSE(ParseLenientJson(open).has_value());
    const std::string fine = std::string(200, '[') + std::string(200, ']');
    EXPECT_TRUE(ParseLenientJson(fine).has_value());
}

struct WriteCase {
    std::string text;
    std::string full;    // inside the quotes, settings and languages
    std::string minimal; // inside the quotes, memory entries
};

TEST(WriteJson, EscapesTextsForEachUse) {
    const WriteCase cases[] = {
        {"plain text", "plain text", "plain text"},
        {"", "", ""},
        {"a\"b", "a\\\"b", "a\\\"b"},
        {"D:\\data", "D:\\\\data", "D:\\\\data"},
        {"a/b", "a\\/b", "a/b"},
        {"\b\t\n\f\r", "\\b\\t\\n\\f\\r", "\\u0008\\u0009\\u000a\\u000c\\u000d"},
        {"a\0b"s, "a\\u0000b", "a\\u0000b"},
        {"\x01\x1f", "\\u0001\\u001f", "\\u0001\\u001f"},
        {"\x7f", "\x7f", "\x7f"}, // 127 is no control character here
        {"it's", "it's", "it's"},
        {"<b>", "<b>", "<b>"},
        {"M\xC3\xBCller", "M\\u00fcller", "M\xC3\xBCller"},
        {"\xE2\x82\xAC", "\\u20ac", "\xE2\x82\xAC"},
        {"\xF0\x9F\x98\x80", "\\ud83d\\ude00", "\xF0\x9F\x98\x80"},
        {"\xE2\x80\xA8", "\\u2028", "\xE2\x80\xA8"},
        // bytes that are no UTF-8: the replacement character under the full escaping
        {"a\xFC"
         "b",
         "a\\ufffdb",
         "a\xFC"
         "b"},
        {"\xC3", "\\ufffd", "\xC3"},
        {"\xED\xA0\x80", "\\ufffd\\ufffd\\ufffd", "\xED\xA0\x80"},
    };
    for (const auto& c : cases) {
        JsonValue value = c.text;
        EXPECT_EQ(WriteJson(value, JsonEscaping::Full), "\"" + c.full + "\"") << c.text;
        EXPECT_EQ(WriteJson(value, JsonEscaping::Minimal), "\"" + c.minimal + "\"") << c.text;
    }
}

TEST(WriteJson, IsCompactAndKeepsMemberOrder) {
    JsonValue value = JsonValue::object();
    value["z"] = 1;
    value["a/b"] = JsonValue::array({true, false, nullptr, -3, 2.5});
    value["s"] = "x y";
    value["o"] = JsonValue::object();
    EXPECT_EQ(WriteJson(value, JsonEscaping::Full),
              R"({"z":1,"a\/b":[true,false,null,-3,2.5],"s":"x y","o":{}})");
    EXPECT_EQ(WriteJson(value, JsonEscaping::Minimal),
              R"({"z":1,"a/b":[true,false,null,-3,2.5],"s":"x y","o":{}})");
}

TEST(ShieldForScriptString, LeavesPlainTextsAndDoublesBackslashes) {
    const std::pair<std::string, std::string> cases[] = {
        {"plain", "plain"},
        {"", ""},
        {"D:\\data\\log", "D:\\\\data\\\\log"},
        {"/srv/a b", "/srv/a b"},
        {"M\xC3\xBCller", "M\xC3\xBCller"},
        {"a\"b", "a\\\"b"},
        {"it's", "it\\u0027s"},
        {"a\tb\n", "a\\u0009b\\u000a"},
        {"\x7f", "\x7f"},
    };
    for (const auto& [text, shielded] : cases)
        EXPECT_EQ(ShieldForScriptString(text), shielded) << text;
}

TEST(ShieldForScriptString, EveryTextReachesThePageAsItIs) {
    // Placed in a single-quoted script string, read by the script engine,
    // then parsed as JSON by the page.
    for (const std::string text :
         {"plain", "D:\\data\\log", "a\"b", "it's", "'", "\\'", "\\\"", "x\ny\r\t\b\f", "\x01\x1f\x7f",
          "</script>", "M\xC3\xBCller \xE2\x82\xAC \xF0\x9F\x98\x80", "\xE2\x80\xA8", "\\u0027", "a/b",
          "{{s}}"}) {
        const std::string script = "'" + WriteJson(ShieldForScriptString(text), JsonEscaping::Full) + "'";
        size_t pos = 0;
        const auto read = tsr::test::ScriptStringValue(script, pos);
        ASSERT_TRUE(read.has_value()) << script;
        EXPECT_EQ(pos, script.size()) << script;
        const auto parsed = nlohmann::json::parse(*read, nullptr, false);
        ASSERT_FALSE(parsed.is_discarded()) << *read;
        EXPECT_EQ(parsed, text) << script;
    }
    JsonValue nested = JsonValue::object();
    nested["it's"] = JsonValue::array({"a\"b", 1, JsonValue::object({{"k\n", "v\\"}})});
    EXPECT_EQ(ShieldTextsForScriptString(nested).dump(),
              R"({"it\\u0027s":["a\\\"b",1,{"k\\u000a":"v\\\\"}]})");
}

TEST(MemoryEntryText, IsAnObjectLiteralThatNoTextCanBreak) {
    EXPECT_EQ(MemoryEntryText("2024-05-27 14:03:11", "Job A"),
              R"({"saved_on":"2024-05-27 14:03:11","description":"Job A"})");
    // A line break would end the script text in the middle of the literal.
    EXPECT_EQ(MemoryEntryText("d", "line 1\nline 2\r\n"),
              R"({"saved_on":"d","description":"line 1\u000aline 2\u000d\u000a"})");
    EXPECT_EQ(MemoryEntryText("d", "say \"hi\" \\ bye"),
              R"({"saved_on":"d","description":"say \"hi\" \\ bye"})");
    EXPECT_EQ(MemoryEntryText("d", "a\0b"s), R"({"saved_on":"d","description":"a\u0000b"})");
    EXPECT_EQ(MemoryEntryText("d", "Bl\xC3\xA4tter</script>"),
              "{\"saved_on\":\"d\",\"description\":\"Bl\xC3\xA4tter</script>\"}");
    for (const std::string description : {"x\ny", "\t", "a\"b\\c", "\x1b[0m", "'quoted'"}) {
        const auto back = JsonValue::parse(MemoryEntryText("when", description));
        EXPECT_EQ(back["description"], description);
        EXPECT_EQ(back["saved_on"], "when");
    }
}

TEST(SaveDateText, IsYearMonthDayAndTime) {
    std::tm when{};
    when.tm_year = 2016 - 1900;
    when.tm_mon = 4;
    when.tm_mday = 7;
    when.tm_hour = 9;
    when.tm_min = 3;
    when.tm_sec = 1;
    when.tm_isdst = -1;
    EXPECT_EQ(SaveDateText(std::mktime(&when)), "2016-05-07 09:03:01");
    when.tm_hour = 23;
    when.tm_min = 59;
    when.tm_sec = 58;
    EXPECT_EQ(SaveDateText(std::mktime(&when)), "2016-05-07 23:59:58");
}

} // namespace
