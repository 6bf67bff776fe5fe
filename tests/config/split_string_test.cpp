#include "config/split_string.h"

#include <gtest/gtest.h>

namespace tsr {
namespace {

struct SplitCase {
    std::string text;
    std::string separator;
    std::vector<std::string> pieces;
};

TEST(SplitString, CutsTrimsAndKeepsEmptyPieces) {
    const SplitCase cases[] = {
        {"", "#", {""}},
        {"abc", "#", {"abc"}},
        {"1#2#3", "#", {"1", "2", "3"}},
        {"#", "#", {"", ""}},
        {"a##b#", "#", {"a", "", "b", ""}},
        {" a \t#\r\n b \n", "#", {"a", "b"}},
        {"C:/data/log", "/", {"C:", "data", "log"}},
        {"one<>two<><>three", "<>", {"one", "two", "", "three"}},
        {"x<>", "<>", {"x", ""}},
        {"  \t ", "#", {""}},
    };
    for (const SplitCase& c : cases)
        EXPECT_EQ(SplitString(c.text, c.separator), c.pieces) << "text '" << c.text << "'";
}

TEST(SplitString, EmptySeparatorGivesTheWholeTrimmedText) {
    EXPECT_EQ(SplitString(" a#b ", ""), std::vector<std::string>{"a#b"});
}

} // namespace
} // namespace tsr
