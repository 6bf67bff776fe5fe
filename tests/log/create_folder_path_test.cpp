#include "log/create_folder_path.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

#include "config/temp_folder.h"
#include "platform/file_system.h"

namespace tsr {
namespace {

namespace fsys = std::filesystem;

class CreateFolderPathTest : public ::testing::Test {
protected:
    test::TempFolder dir;
    test::CurrentFolder here{dir.Path()};
    std::unique_ptr<FileSystem> fs = MakeFileSystem();
};

TEST_F(CreateFolderPathTest, SinglePieceCreatesNothing) {
    CreateFolderPath(*fs, "log", 0);
    EXPECT_FALSE(fsys::exists("log"));
    CreateFolderPath(*fs, "log/Memory", 0); // its parent is missing
    EXPECT_FALSE(fsys::exists("log"));
    fsys::create_directory("log");
    CreateFolderPath(*fs, "log/Memory", 0);
    EXPECT_TRUE(fsys::is_directory("log/Memory"));
    CreateFolderPath(*fs, "", 0);
}

TEST_F(CreateFolderPathTest, BackslashPathCreatesEveryFolderAfterTheFirstPiece) {
    fsys::create_directory("D"); // the first piece, as a drive would be
    CreateFolderPath(*fs, "D\\data\\log", 0);
    EXPECT_TRUE(fsys::is_directory("D/data/log"));
    CreateFolderPath(*fs, "D\\data\\log", 0);       // existing folders are passed over
    CreateFolderPath(*fs, "D\\DATA\\log\\more", 0); // letter case finds the existing folders
    EXPECT_TRUE(fsys::is_directory("D/data/log/more"));
    std::vector<std::string> names;
    for (const auto& entry : fsys::directory_iterator("D"))
        names.push_back(entry.path().filename().string());
    EXPECT_EQ(names, std::vector<std::string>{"data"});
}

TEST_F(CreateFolderPathTest, SkipLastLeavesPiecesOut) {
    fsys::create_directory("top");
    CreateFolderPath(*fs, "top/a/b/file.xml", 1);
    EXPECT_TRUE(fsys::is_directory("top/a/b"));
    EXPECT_FALSE(fsys::exists("top/a/b/file.xml"));
    CreateFolderPath(*fs, " top / x / y ", 0); // pieces are trimmed
    EXPECT_TRUE(fsys::is_directory("top/x/y"));
    CreateFolderPath(*fs, "top/p/q/r", 5);
    EXPECT_FALSE(fsys::exists("top/p"));
}

TEST_F(CreateFolderPathTest, AbsolutePathsStartAtTheRoot) {
    const std::string base = (dir.Path() / "abs").generic_string();
    CreateFolderPath(*fs, base + "/one/two", 0);
    EXPECT_TRUE(fsys::is_directory(base + "/one/two"));
}

} // namespace
} // namespace tsr
