// The simulated console's command line, read the same by the POSIX and the
// Windows program.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "sim_options.h"

namespace tsr::sim {
namespace {

using Args = std::vector<std::string>;

struct GoodCase {
    Args args;
    LinkKind link;
    void (*check)(const SimCommandLine&);
};

TEST(SimCommandLine, GoodLinesGiveTheirValues) {
    const GoodCase cases[] = {
        {{},
         LinkKind::PseudoTerminal,
         [](const SimCommandLine& l) {
             EXPECT_EQ(l.console.units, 4);
             EXPECT_EQ(l.console.keys, 24);
             EXPECT_EQ(l.console.movementMs, 2000);
             EXPECT_EQ(l.port, 1);
             EXPECT_TRUE(l.linkFolder.empty());
             EXPECT_EQ(l.pipePrefix, "\\\\.\\pipe\\tessaro");
             EXPECT_TRUE(l.faults.empty());
             EXPECT_EQ(l.console.badChecksumEvery, 0);
             EXPECT_FALSE(l.quiet || l.help || l.console.pacing);
         }},
        {{"--units", "6", "--keys", "32", "--movement-ms", "0", "--extra-reply-ms", "5", "--port", "3",
          "--pacing", "--quiet", "--link-folder", "/tmp/p"},
         LinkKind::PseudoTerminal,
         [](const SimCommandLine& l) {
             EXPECT_EQ(l.console.units, 6);
             EXPECT_EQ(l.console.keys, 32);
             EXPECT_EQ(l.console.movementMs, 0);
             EXPECT_EQ(l.console.extraReplyMs, 5);
             EXPECT_EQ(l.port, 3);
             EXPECT_TRUE(l.console.pacing);
             EXPECT_TRUE(l.quiet);
             EXPECT_EQ(l.linkFolder, "/tmp/p");
         }},
        // The faults, on either system, each unit's with its unit.
        {{"--units", "6", "--silent-unit", "2", "--late-unit", "3:700", "--silent-unit", "6",
          "--bad-checksum-every", "5"},
         LinkKind::NamedPipe,
         [](const SimCommandLine& l) {
             ASSERT_EQ(l.faults.size(), 3u);
             EXPECT_EQ(l.faults[0].unit, 2);
             EXPECT_EQ(l.faults[0].fault.unit, 2);
             EXPECT_EQ(l.faults[0].fault.kind, FaultKind::NoAnswer);
             EXPECT_EQ(l.faults[1].fault.unit, 3);
             EXPECT_EQ(l.faults[1].fault.kind, FaultKind::Delay);
             EXPECT_EQ(l.faults[1].fault.delayMs, 700);
             EXPECT_EQ(l.faults[2].fault.unit, 6);
             EXPECT_EQ(l.console.badChecksumEvery, 5);
             EXPECT_EQ(DescribeFaults(l),
                       (std::vector<std::string>{
                           "fault: unit 2 never answers", "fault: unit 3 answers 700 ms late",
                           "fault: unit 6 never answers", "fault: every 5. reply with a wrong last byte"}));
         }},
        // A fault may come before the unit count that holds its unit.
        {{"--silent-unit", "8", "--units", "8"},
         LinkKind::PseudoTerminal,
         [](const SimCommandLine& l) { ASSERT_EQ(l.faults.size(), 1u); }},
        {{"--pipe-prefix", "\\\\.\\pipe\\press", "--port", "2"},
         LinkKind::NamedPipe,
         [](const SimCommandLine& l) {
             EXPECT_EQ(l.pipePrefix, "\\\\.\\pipe\\press");
             EXPECT_EQ(l.port, 2);
         }},
        {{"--help"}, LinkKind::NamedPipe, [](const SimCommandLine& l) { EXPECT_TRUE(l.help); }},
        {{"-h"}, LinkKind::PseudoTerminal, [](const SimCommandLine& l) { EXPECT_TRUE(l.help); }},
    };
    for (const GoodCase& c : cases) {
        SimCommandLine line;
        EXPECT_EQ(ParseSimCommandLine(c.args, c.link, line), "") << ::testing::PrintToString(c.args);
        c.check(line);
    }
}

struct BadCase {
    Args args;
    LinkKind link;
    const char* error;
};

TEST(SimCommandLine, BadLinesSayWhatIsWrong) {
    const BadCase cases[] = {
        {{"--units"}, LinkKind::PseudoTerminal, "bad value for --units (a whole number from 1 to 255)"},
        {{"--units", "0"}, LinkKind::PseudoTerminal, "bad value for --units (a whole number from 1 to 255)"},
        {{"--keys", "501"}, LinkKind::NamedPipe, "bad value for --keys (a whole number from 1 to 500)"},
        {{"--keys", "12x"}, LinkKind::PseudoTerminal, "bad value for --keys (a whole number from 1 to 500)"},
        {{"--movement-ms", "-1"},
         LinkKind::PseudoTerminal,
         "bad value for --movement-ms (a whole number from 0 to 600000)"},
        {{"--silent-unit"},
         LinkKind::NamedPipe,
         "bad value for --silent-unit (a whole number from 1 to 255)"},
        {{"--silent-unit", "0"},
         LinkKind::PseudoTerminal,
         "bad value for --silent-unit (a whole number from 1 to 255)"},
        {{"--silent-unit", "5"},
         LinkKind::PseudoTerminal,
         "unit 5 of a fault is not on this console: it has 4 units"},
        {{"--units", "2", "--late-unit", "3:100"},
         LinkKind::NamedPipe,
         "unit 3 of a fault is not on this console: it has 2 units"},
        {{"--late-unit", "3"}, LinkKind::PseudoTerminal, "bad value for --late-unit (UNIT:MS, e.g. 3:700)"},
        {{"--late-unit", "3:"}, LinkKind::PseudoTerminal, "bad value for --late-unit (UNIT:MS, e.g. 3:700)"},
        {{"--late-unit", ":700"}, LinkKind::NamedPipe, "bad value for --late-unit (UNIT:MS, e.g. 3:700)"},
        {{"--late-unit", "3:700:1"},
         LinkKind::PseudoTerminal,
         "bad value for --late-unit (UNIT:MS, e.g. 3:700)"},
        {{"--late-unit"}, LinkKind::PseudoTerminal, "bad value for --late-unit (UNIT:MS, e.g. 3:700)"},
        {{"--bad-checksum-every", "0"},
         LinkKind::PseudoTerminal,
         "bad value for --bad-checksum-every (a whole number from 1 to 1000000)"},
        {{"--link-folder"}, LinkKind::PseudoTerminal, "--link-folder needs a folder"},
        {{"--link-folder", ""}, LinkKind::PseudoTerminal, "--link-folder needs a folder"},
        {{"--pipe-prefix"}, LinkKind::NamedPipe, "--pipe-prefix needs a pipe prefix"},
        {{"--link-folder", "C:\\p"},
         LinkKind::NamedPipe,
         "--link-folder is not for this console: it serves a named pipe (--pipe-prefix)"},
        {{"--pipe-prefix", "x"},
         LinkKind::PseudoTerminal,
         "--pipe-prefix is not for this console: it serves a pseudo-terminal (--link-folder)"},
        {{"--unit", "3"}, LinkKind::PseudoTerminal, "unknown option --unit"},
        {{"3"}, LinkKind::NamedPipe, "unknown option 3"},
        // The first mistake is the one told.
        {{"--keys", "0", "--frobnicate"},
         LinkKind::PseudoTerminal,
         "bad value for --keys (a whole number from 1 to 500)"},
    };
    for (const BadCase& c : cases) {
        SimCommandLine line;
        EXPECT_EQ(ParseSimCommandLine(c.args, c.link, line), c.error) << ::testing::PrintToString(c.args);
    }
}

TEST(SimCommandLine, FaultOptionsAreTold) {
    for (const char* option : {"--silent-unit", "--late-unit", "--bad-checksum-every"})
        EXPECT_TRUE(IsFaultOption(option)) << option;
    for (const char* option : {"--units", "--quiet", "--silent", "silent-unit", ""})
        EXPECT_FALSE(IsFaultOption(option)) << option;
}

TEST(SimCommandLine, TheUsageNamesTheFaultsAndTheLinkOfItsSystem) {
    const std::string posix = SimUsage("tessaro-press-sim", LinkKind::PseudoTerminal);
    const std::string windows = SimUsage("tessaro-press-sim.exe", LinkKind::NamedPipe);
    for (const std::string& usage : {posix, windows})
        for (const char* option :
             {"--silent-unit N", "--late-unit N:MS", "--bad-checksum-every N", "--units N"})
            EXPECT_NE(usage.find(option), std::string::npos) << option;
    EXPECT_NE(posix.find("--link-folder"), std::string::npos);
    EXPECT_EQ(posix.find("--pipe-prefix"), std::string::npos);
    EXPECT_NE(windows.find("--pipe-prefix"), std::string::npos);
    EXPECT_EQ(windows.find("--link-folder"), std::string::npos);
}

} // namespace
} // namespace tsr::sim
