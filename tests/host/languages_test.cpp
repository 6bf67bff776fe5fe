#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <unistd.h>

#include "app/app.h"
#include "app/languages.h"
#include "config/temp_folder.h"
#include "host/page_script.h"
#include "host/recording_browser.h"

namespace {

using tsr::test::PageJson;
using tsr::test::TempFolder;
using tsr::test::WriteText;
using Calls = std::vector<std::string>;

// The locale folder beside the program, and the application object whose
// page receives the languages.
class LanguagesTest : public ::testing::Test {
protected:
    TempFolder folder;
    std::filesystem::path program = folder.Path() / "program";
    std::filesystem::path locales = program / "htmlapp" / "locales";
    UiLoop ui;
    RecordingBrowser browser;
    TApp app{ui, HostPaths{program, folder.Path() / "storage"}};

    void SetUp() override {
        std::filesystem::create_directories(locales);
        app.internalBrowser = &browser;
    }
    void Locale(const std::string& name, const std::string& text) { WriteText(locales / name, text); }

    // The one page call of LoadLanguages, and what the page makes of it.
    nlohmann::json PageLanguages() {
        const Calls calls = browser.Calls();
        EXPECT_FALSE(calls.empty());
        if (calls.empty())
            return nullptr;
        return PageJson(calls.back(), "App.loadLanguages(");
    }
};

TEST_F(LanguagesTest, AnApostropheReachesThePageAsAVerticalBar) {
    Locale("de.json", R"({"greeting": "it's", "nested": {"x": "'a'"}})");
    app.LoadLanguages();
    EXPECT_EQ(
        browser.Calls(),
        Calls{R"(App.loadLanguages('{"de":{"translation":{"greeting":"it|s","nested":{"x":"|a|"}}}}'))"});
    EXPECT_EQ(PageLanguages(),
              nlohmann::json::parse(R"({"de":{"translation":{"greeting":"it|s","nested":{"x":"|a|"}}}})"));
    EXPECT_EQ(app.Geterrors(), "");
}

TEST_F(LanguagesTest, EachDotOfTheNameOpensAnObject) {
    Locale("en.json.json", R"({"a": "b"})");
    app.LoadLanguages();
    EXPECT_EQ(browser.Calls(), Calls{R"(App.loadLanguages('{"en":{"json":{"translation":{"a":"b"}}}}'))"});
}

TEST_F(LanguagesTest, EveryLocaleFileBecomesAMemberInNameOrder) {
    Locale("en.json", R"({"ok": "OK"})");
    Locale("de.json", R"({"ok": "Gut"})");
    Locale("fr.ca.json", R"({"ok": "D'accord"})");
    Locale("readme.txt", "not a locale");
    Locale("notes.json.bak", "{}");
    std::filesystem::create_directories(locales / "old.json"); // a folder, not a file
    // The name as written, with only the first ".json" taken out.
    Locale("IT.JSON", R"({"ok": "Va bene"})");
    app.LoadLanguages();
    EXPECT_EQ(browser.Calls(), Calls{R"(App.loadLanguages('{"IT":{"JSON":{"translation":{"ok":"Va bene"}}},)"
                                     R"("de":{"translation":{"ok":"Gut"}},"en":{"translation":{"ok":"OK"}},)"
                                     R"("fr":{"ca":{"translation":{"ok":"D|accord"}}}}'))"});
}

TEST_F(LanguagesTest, TextsAreEscapedFully) {
    // UTF-8 in the file; the byte order mark in front is no part of the JSON.
    Locale("de.json", "\xEF\xBB\xBF{\"ink\": \"Einf\xC3\xA4rben {{s}}\\u00a0s\", \"path\": \"a/b\", "
                      "\"euro\": \"\xE2\x82\xAC\"}");
    app.LoadLanguages();
    EXPECT_EQ(browser.Calls(),
              Calls{R"(App.loadLanguages('{"de":{"translation":{"ink":"Einf\u00e4rben {{s}}\u00a0s",)"
                    R"("path":"a\/b","euro":"\u20ac"}}}'))"});
    EXPECT_EQ(PageLanguages()["de"]["translation"]["ink"], "Einf\xC3\xA4rben {{s}}\xC2\xA0s");
    EXPECT_EQ(PageLanguages()["de"]["translation"]["path"], "a/b");
}

TEST_F(LanguagesTest, QuotesBackslashesAndLineBreaksReachThePageAsTheyAre) {
    // Valid locale texts that must survive the script string and the page's parsing.
    Locale("en.json", R"({"q": "Press \"Go\"", "p": "C:\\in", "n": "line 1\nline 2", "t": "a\tb", )"
                      R"("u": "it\u0027s", "s": "\\\"", "k\"ey": 1})");
    app.LoadLanguages();
    const nlohmann::json expected = {{"en",
                                      {{"translation",
                                        {{"q", "Press \"Go\""},
                                         {"p", "C:\\in"},
                                         {"n", "line 1\nline 2"},
                                         {"t", "a\tb"},
                                         {"u", "it's"},
                                         {"s", "\\\""},
                                         {"k\"ey", 1}}}}}};
    EXPECT_EQ(PageLanguages(), expected);
}

TEST_F(LanguagesTest, AnApostropheInAFileNameCannotEndTheScriptString) {
    Locale("it's.json", R"({"ok": "OK"})");
    app.LoadLanguages();
    EXPECT_EQ(PageLanguages(), nlohmann::json::parse(R"({"it's":{"translation":{"ok":"OK"}}})"));
}

TEST_F(LanguagesTest, AFileThatCannotBeParsedIsLeftOutAndNamed) {
    Locale("en.json", R"({"ok": "OK"})");
    Locale("broken.json", R"({"ok": "OK")");
    Locale("empty.json", "");
    app.LoadLanguages();
    EXPECT_EQ(browser.Calls(), (Calls{"App.showPendingErrors()", "App.showPendingErrors()",
                                      R"(App.loadLanguages('{"en":{"translation":{"ok":"OK"}}}'))"}));
    EXPECT_EQ(
        app.Geterrors(),
        "\"Locale file could not be parsed: broken.json\"|\"Locale file could not be parsed: empty.json\"");
}

TEST_F(LanguagesTest, AFileThatCannotBeReadIsLeftOutAndNamed) {
    if (::geteuid() == 0)
        GTEST_SKIP() << "every file can be read as root";
    Locale("en.json", R"({"ok": "OK"})");
    Locale("de.json", R"({"ok": "Gut"})");
    std::filesystem::permissions(locales / "de.json", std::filesystem::perms::none);
    app.LoadLanguages();
    EXPECT_EQ(browser.Calls().back(), R"(App.loadLanguages('{"en":{"translation":{"ok":"OK"}}}'))");
    EXPECT_EQ(app.Geterrors(), "\"Locale file could not be read: de.json\"");
}

TEST_F(LanguagesTest, NoLocaleFolderGivesAnEmptyObject) {
    std::filesystem::remove_all(locales);
    app.LoadLanguages();
    EXPECT_EQ(browser.Calls(), Calls{"App.loadLanguages('{}')"});
    std::filesystem::create_directories(locales);
    browser.TakeCalls();
    app.LoadLanguages();
    EXPECT_EQ(browser.Calls(), Calls{"App.loadLanguages('{}')"});
}

TEST(PutAtPath, BuildsTheNestedObjects) {
    JsonValue root = JsonValue::object();
    PutAtPath(root, "en.translation", JsonValue::object({{"a", 1}}));
    PutAtPath(root, "en.json.translation", 2);
    PutAtPath(root, "de.translation", 3);
    EXPECT_EQ(root.dump(),
              R"({"en":{"translation":{"a":1},"json":{"translation":2}},"de":{"translation":3}})");
    // A member that is in the way is replaced by an object.
    PutAtPath(root, "de.translation.x", 4);
    EXPECT_EQ(root["de"].dump(), R"({"translation":{"x":4}})");
    // Empty names stay members of their own.
    JsonValue odd = JsonValue::object();
    PutAtPath(odd, ".translation", 5);
    EXPECT_EQ(odd.dump(), R"({"":{"translation":5}})");
}

} // namespace
