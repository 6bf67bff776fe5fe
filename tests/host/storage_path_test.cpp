#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "app/app.h"
#include "app/storage_path.h"
#include "config/temp_folder.h"
#include "host/recording_browser.h"

namespace {

using tsr::test::ReadText;
using tsr::test::TempFolder;

// Sets an environment variable (or removes it) for the life of the object.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const std::optional<std::string>& value) : name_(name) {
        if (const char* old = std::getenv(name))
            old_ = old;
        if (value)
            ::setenv(name, value->c_str(), 1);
        else
            ::unsetenv(name);
    }
    ~ScopedEnv() {
        if (old_)
            ::setenv(name_, old_->c_str(), 1);
        else
            ::unsetenv(name_);
    }
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
    const char* name_;
    std::optional<std::string> old_;
};

class ModalBrowser : public RecordingBrowser {
public:
    void ShowModalMessage(const std::string& text) override { modals.push_back(text); }
    std::vector<std::string> modals;
};

struct StorageCase {
    const char* name;
    std::optional<std::string> xdg;  // relative to the temporary folder unless it begins with "/"
    std::optional<std::string> home; // likewise
    bool useOverride;
    std::string folder; // expected storage folder below the temporary folder; empty: the program folder
};

TEST(GetStoragePath, NamesAFileOfTheStorageFolderAndCreatesTheFolder) {
    const StorageCase cases[] = {
        {"chosen folder", "xdg", "home", true, "chosen/deep/er"},
        {"configuration folder", "xdg", "home", false, "xdg/Tessaro Control"},
        {"home folder", std::nullopt, "home", false, "home/.config/Tessaro Control"},
        {"relative configuration folder", "relative", "home", false, "home/.config/Tessaro Control"},
        {"empty configuration folder", "", "home", false, "home/.config/Tessaro Control"},
        {"none at all", std::nullopt, std::nullopt, false, ""},
        {"only relative folders", "relative", "relative", false, ""},
    };
    for (const auto& c : cases) {
        TempFolder temp;
        auto absolute = [&](const std::optional<std::string>& v) -> std::optional<std::string> {
            if (!v || v->empty() || *v == "relative")
                return v;
            return (temp.Path() / *v).string();
        };
        ScopedEnv xdg("XDG_CONFIG_HOME", absolute(c.xdg));
        ScopedEnv home("HOME", absolute(c.home));
        const auto program = temp.Path() / "bin";
        std::filesystem::create_directories(program);
        HostPaths paths{program, std::nullopt};
        if (c.useOverride)
            paths.storageOverride = temp.Path() / "chosen" / "deep" / "er";
        UiLoop ui;
        ModalBrowser browser;
        TApp app(ui, paths);
        app.internalBrowser = &browser;

        const std::string path = app.GetStoragePath("Tessaro.ini");
        if (c.folder.empty()) {
            // The program folder, with a message each time a path is built.
            EXPECT_EQ(path, program.string() + "/Tessaro.ini") << c.name;
            EXPECT_EQ(browser.modals, std::vector<std::string>{kStorageFallbackMessage}) << c.name;
            app.GetStoragePath("bugreport.txt");
            EXPECT_EQ(browser.modals.size(), 2u) << c.name;
        } else {
            const auto folder = temp.Path() / c.folder;
            EXPECT_EQ(path, folder.string() + "/Tessaro.ini") << c.name;
            EXPECT_TRUE(std::filesystem::is_directory(folder)) << c.name;
            EXPECT_TRUE(browser.modals.empty()) << c.name;
        }
        EXPECT_EQ(path.find('\\'), std::string::npos) << c.name;
    }
}

TEST(GetStoragePath, UsesSlashesOnly) {
    TempFolder temp;
    UiLoop ui;
    TApp app(ui, HostPaths{temp.Path(), temp.Path() / "st"});
    EXPECT_EQ(app.GetStoragePath("sub\\file.txt"), (temp.Path() / "st").string() + "/sub/file.txt");
    EXPECT_EQ(app.GetStoragePath(""), (temp.Path() / "st").string() + "/");
}

TEST(GetStoragePath, NoMessageBoxOffTheUserInterfaceThread) {
    TempFolder temp;
    ScopedEnv xdg("XDG_CONFIG_HOME", std::nullopt);
    ScopedEnv home("HOME", std::nullopt);
    UiLoop ui;
    ModalBrowser browser;
    TApp app(ui, HostPaths{temp.Path(), std::nullopt});
    app.internalBrowser = &browser;
    std::string path;
    std::thread([&] { path = app.GetStoragePath("x"); }).join();
    EXPECT_EQ(path, temp.Path().string() + "/x");
    EXPECT_TRUE(browser.modals.empty());
}

// The press PC is shared: the storage folder and the configuration are the user's alone.
TEST(PrivateFiles, NewFoldersAndFilesAreTheUsersOnlyAndExistingOnesKeepTheirs) {
    namespace fs = std::filesystem;
    TempFolder temp;
    const auto modeOf = [](const fs::path& p) { return fs::status(p).permissions() & fs::perms::all; };
    BuildStoragePath(HostPaths{temp.Path(), temp.Path() / "a" / "storage"}, "Tessaro.ini");
    EXPECT_EQ(modeOf(temp.Path() / "a" / "storage"), fs::perms::owner_all);
    const fs::path config = temp.Path() / "a" / "storage" / "Tessaro.ini";
    CreatePrivateFile(config);
    ASSERT_TRUE(fs::is_regular_file(config));
    EXPECT_EQ(modeOf(config), fs::perms::owner_read | fs::perms::owner_write);
    // What is there already is left as it is: content and mode.
    fs::create_directory(temp.Path() / "shared");
    fs::permissions(temp.Path() / "shared", fs::perms::owner_all | fs::perms::group_all);
    EXPECT_TRUE(CreatePrivateFolder(temp.Path() / "shared"));
    EXPECT_EQ(modeOf(temp.Path() / "shared"), fs::perms::owner_all | fs::perms::group_all);
    { std::ofstream(temp.Path() / "shared" / "kept.ini") << "[GENERAL]\n"; }
    fs::permissions(temp.Path() / "shared" / "kept.ini", fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    CreatePrivateFile(temp.Path() / "shared" / "kept.ini");
    EXPECT_EQ(ReadText(temp.Path() / "shared" / "kept.ini"), "[GENERAL]\n");
    EXPECT_EQ(modeOf(temp.Path() / "shared" / "kept.ini"),
              fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    EXPECT_TRUE(fs::directory_iterator(temp.Path() / "a" / "storage") != fs::directory_iterator());
    for (const auto& entry : fs::directory_iterator(temp.Path() / "a" / "storage"))
        EXPECT_EQ(entry.path().filename(), "Tessaro.ini"); // no temporary left behind
}

TEST(BuildStoragePath, AddsTheSeparatorAfterTheProgramFolder) {
    ScopedEnv xdg("XDG_CONFIG_HOME", std::nullopt);
    ScopedEnv home("HOME", std::nullopt);
    EXPECT_EQ(BuildStoragePath(HostPaths{"/opt/tessaro/", std::nullopt}, "f").path, "/opt/tessaro/f");
    EXPECT_EQ(BuildStoragePath(HostPaths{"/opt/tessaro", std::nullopt}, "f").path, "/opt/tessaro/f");
    EXPECT_TRUE(BuildStoragePath(HostPaths{"/opt/tessaro", std::nullopt}, "f").fallback);
}

} // namespace
