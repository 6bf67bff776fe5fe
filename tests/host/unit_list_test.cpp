#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

#include "app/unit_list.h"

namespace {

struct ListCase {
    std::string selection;
    TUnitList units;
};

TEST(BuildUnitList, SplitsTheSelectionAndPutsUnitZeroFirst) {
    using namespace std::string_literals;
    const ListCase cases[] = {
        {"", {"0"}},
        {"2,3", {"0", "2", "3"}},
        {"3,2", {"0", "3", "2"}},
        {"0", {"0", "0"}},
        {"12", {"0", "12"}},
        // blanks and control characters separate as commas do
        {"2 3", {"0", "2", "3"}},
        {"2\t3\n4\r5", {"0", "2", "3", "4", "5"}},
        {"2\x01"
         "3\x1f"
         "4",
         {"0", "2", "3", "4"}},
        {"2, 3", {"0", "2", "3"}},
        {"2 ,3", {"0", "2", "3"}},
        {"2 , 3", {"0", "2", "3"}},
        {"2  3", {"0", "2", "3"}},
        // leading and trailing blanks are skipped
        {"   2,3", {"0", "2", "3"}},
        {"\t\n2", {"0", "2"}},
        {"2,3  ", {"0", "2", "3"}},
        {"   ", {"0"}},
        // empty entries: two commas in a row, or a comma at the very end
        {"2,,3", {"0", "2", "", "3"}},
        {"2,", {"0", "2", ""}},
        {",", {"0", "", ""}},
        {",2", {"0", "", "2"}},
        {"2, ", {"0", "2"}}, // a blank after the last comma ends the text without an entry
        // quoted entries, doubled quotes inside
        {"\"2\",\"3\"", {"0", "2", "3"}},
        {"\"2 3\"", {"0", "2 3"}},
        {"\"2,3\"", {"0", "2,3"}},
        {"\"a\"\"b\"", {"0", "a\"b"}},
        {"\"\"", {"0", ""}},
        {"\"2", {"0", "2"}}, // no closing quote: the rest of the text
        {"\"2\"3", {"0", "2", "3"}},
        {" \"7\" , 8", {"0", "7", "8"}},
        // other characters are part of the entry
        {"x", {"0", "x"}},
        {"2;3", {"0", "2;3"}},
        {"-1,+4", {"0", "-1", "+4"}},
        // the selection ends at a zero character, as a text from the page does
        {"2\0 3"s, {"0", "2"}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(BuildUnitList(c.selection), c.units) << "selection: [" << c.selection << "]";
}

struct NumberCase {
    std::string entry;
    int32_t number;
};

TEST(UnitNumber, ReadsDecimalIntegers) {
    const NumberCase cases[] = {
        {"0", 0},
        {"2", 2},
        {"30", 30},
        {"31", 31},
        {"007", 7},
        {"+4", 4},
        {"-1", -1},
        {"-0", 0},
        {"2147483647", 2147483647},
        {"-2147483648", -2147483647 - 1},
    };
    for (const auto& c : cases)
        EXPECT_EQ(UnitNumber(c.entry), c.number) << c.entry;
}

TEST(UnitNumber, RefusesWhatIsNoDecimalInteger) {
    for (const std::string entry : {"", "x", "2x", "x2", "1.5", "1e2", " 3", "3 ", "+", "-", "--1", "0x10",
                                    "$10", "2147483648", "-2147483649", "99999999999999999999", "\xd9\xa3"}) {
        try {
            UnitNumber(entry);
            ADD_FAILURE() << "accepted: [" << entry << "]";
        } catch (const std::invalid_argument& e) {
            // The message names the entry, for the error report.
            EXPECT_EQ(std::string(e.what()), "'" + entry + "' is not a valid integer value");
        }
    }
}

} // namespace
