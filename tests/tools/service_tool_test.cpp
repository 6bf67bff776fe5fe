// tessaro-service against tessaro-press-sim, both as programs: the console's
// faults come from its command line, the tool finds its port as the library does.
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <regex>
#include <spawn.h>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {

namespace fs = std::filesystem;

struct Outcome {
    int exit = -1;
    std::string out;
    std::string err;
};

std::string ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// Starts program with args, standard output and error into files; the child's pid.
pid_t Spawn(const std::string& program, const std::vector<std::string>& args, const fs::path& out,
            const fs::path& err) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    std::vector<std::string> all{program};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& a : all)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_t pid = -1;
    if (posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ) != 0)
        pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    return pid;
}

class ServiceToolTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        ::unsetenv("TESSARO_SERIAL_DIR"); // the tool finds ports/COM1 beside the configuration
        folder_ = fs::temp_directory_path() / ("service-tool-" + std::to_string(::getpid()));
        fs::remove_all(folder_);
        fs::create_directories(folder_ / "preset");
        fs::create_directories(folder_ / "log");
        simPid_ = Spawn(TSR_PRESS_SIM,
                        {"--units", "5", "--keys", "4", "--movement-ms", "20", "--link-folder",
                         (folder_ / "ports").string(), "--quiet", "--silent-unit", "2", "--late-unit", "3:1500"},
                        folder_ / "sim.out", folder_ / "sim.err");
        ASSERT_GT(simPid_, 0);
        // The console is ready once its link is there.
        for (int i = 0; i < 500 && !fs::exists(fs::symlink_status(folder_ / "ports" / "COM1")); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        ASSERT_TRUE(fs::exists(fs::symlink_status(folder_ / "ports" / "COM1"))) << ReadFile(folder_ / "sim.err");
        WriteConfig("Tessaro.ini", 1);
        // COM5 beside this one names a device that is not there.
        fs::create_directories(folder_ / "noport" / "ports");
        fs::create_directory_symlink(folder_ / "noport" / "gone", folder_ / "noport" / "ports" / "COM5");
        WriteConfig("noport/Tessaro.ini", 5);
    }
    static void TearDownTestSuite() {
        if (simPid_ > 0) {
            ::kill(simPid_, SIGTERM);
            ::waitpid(simPid_, nullptr, 0);
        }
        fs::remove_all(folder_);
    }

    static void WriteConfig(const std::string& name, int port) {
        std::ofstream(folder_ / name, std::ios::binary)
            << "[GENERAL]\r\nPathLogs=" << (folder_ / "log").string() << "\r\nCOM1=" << port
            << "\r\nUnitNumber=5\r\nKeysNumber=4\r\nPerfector=3\r\nDuctorCycle=3\r\nPathPresetRCV="
            << (folder_ / "preset").string() << "\r\n";
    }

    static Outcome Tool(std::vector<std::string> args, const std::string& config = "Tessaro.ini") {
        args.insert(args.begin(), {"--config", (folder_ / config).string()});
        const fs::path out = folder_ / "tool.out", err = folder_ / "tool.err";
        Outcome o;
        const pid_t pid = Spawn(TSR_SERVICE_TOOL, args, out, err);
        int status = 0;
        if (pid > 0 && ::waitpid(pid, &status, 0) == pid && WIFEXITED(status))
            o.exit = WEXITSTATUS(status);
        o.out = ReadFile(out);
        o.err = ReadFile(err);
        return o;
    }

    inline static fs::path folder_;
    inline static pid_t simPid_ = -1;
};

struct Case {
    std::vector<std::string> args;
    int exit;
    const char* stdoutPattern; // a regular expression searched for; empty: none
    const char* stderrPattern;
};

void Check(const Outcome& o, const Case& c) {
    std::string line;
    for (const std::string& a : c.args)
        line += a + " ";
    SCOPED_TRACE(line);
    EXPECT_EQ(o.exit, c.exit) << o.out << o.err;
    if (*c.stdoutPattern) {
        EXPECT_TRUE(std::regex_search(o.out, std::regex(c.stdoutPattern))) << o.out;
    }
    if (*c.stderrPattern) {
        EXPECT_TRUE(std::regex_search(o.err, std::regex(c.stderrPattern))) << o.err;
    }
}

// In order: a setting is read back by the next command.
TEST_F(ServiceToolTest, CommandsDriveTheConsoleAndSayWhatFailed) {
    std::ofstream(folder_ / "preset" / "waiting.xml") << "<JDF/>"; // a neighbour's file, not the tool's
    const Case cases[] = {
        {{"keys", "set", "1", "7", "8", "9", "255"}, 0, "unit 1: 4 keys set", ""},
        {{"keys", "get", "1"}, 0, "unit 1 keys: 7 8 9 255\n", ""},
        {{"keys", "set", "1", "20"}, 0, "", ""},
        {{"keys", "get", "1"}, 0, "unit 1 keys: 20 20 20 20\n", ""},
        {{"ductor", "1", "50"}, 0, "unit 1 ductor: set to 50 %", ""},
        {{"ductor", "1"}, 0, "unit 1 ductor: 50 %\n", ""},
        {{"cycle", "1", "6"}, 0, "set to 6", ""},
        {{"cycle", "1"}, 0, "unit 1 ductor cycle: 6\n", ""},
        {{"info", "1"}, 0, "unit 1: information 1 4 0; status bits set: 1\n(.|\n)*machine type 2", ""},
        {{"calibrate", "1", "on"}, 0, "calibration mode on", ""},
        {{"info", "1"}, 0, "status bits set: 1 3\n", ""}, // bit 3 of byte 9: calibration mode
        {{"calibrate", "1", "off"}, 0, "calibration mode off", ""},
        {{"calibrate", "1", "ductor", "on"}, 0, "ductor calibration on", ""},
        {{"reset", "1"}, 0, "unit 1: reset", ""},
        {{"cassette-reset", "1"}, 0, "cassette reset", ""},
        {{"keys", "get", "2"}, 1, "", "unit 2: read keys: the console did not answer \\(no reply\\)"},
        // bad command lines
        {{"keys", "set", "1", "1", "2"}, 2, "", "one value for every key or 4 values, not 2"},
        {{"keys", "set", "1", "256"}, 2, "", "a key value is 0..255, not 256"},
        {{"ductor", "0"}, 2, "", "a unit number 1..255 is wanted, not 0"},
        {{"ductor", "1", "101"}, 2, "", "ductor UNIT"},
        {{"frobnicate"}, 2, "", "no command frobnicate"},
        {{"calibrate", "1", "maybe"}, 2, "", "calibrate UNIT on\\|off"},
        {{"preset", "job.xml"}, 2, "", "preset --dry-run FILE"},
    };
    for (const Case& c : cases)
        Check(Tool(c.args), c);
    EXPECT_TRUE(fs::exists(folder_ / "preset" / "waiting.xml"));
}

TEST_F(ServiceToolTest, LineTestShowsRoundTripsAndTheUnitsCounters) {
    const Case cases[] = {
        {{"line-test", "1", "3", "--pause-ms", "0"}, 0,
         "read 3: [0-9.]+ ms\n(.|\n)*round trip of 3 answered reads(.|\n)*unit 1 line: answering\n(.|\n)*"
         "answered +3 +3\n +late +0 +0\n +silent +0 +0\n +malformed +0 +0\n +retries +0 +0",
         ""},
        // a silent unit: three waits and two frames sent again per read
        {{"line-test", "2", "2"}, 1,
         "read 1: the console did not answer(.|\n)*2 of 2 reads failed(.|\n)*unit 2 line: not answering\n(.|\n)*"
         "answered +0 +0\n +late +0 +0\n +silent +6 +6\n +malformed +0 +0\n +retries +4 +4",
         ""},
        // answers 1500 ms late: a wait runs out, the frame goes again, the
        // first frame's answer ends the read and the answers to the frames
        // sent again are dropped as late before the next read's frame. The
        // lateness stays beyond the reply wait also on a loaded machine,
        // where the wait's 10 ms polls last longer than 10 ms each.
        {{"line-test", "3", "2", "--pause-ms", "1500"}, 0, "late +[1-9][0-9]* +[1-9](.|\n)*silent +[1-9](.|\n)*retries +[1-9]", ""},
    };
    for (const Case& c : cases)
        Check(Tool(c.args), c);
}

TEST_F(ServiceToolTest, WatchPrintsEventsAndWhichUnitsAnswer) {
    Check(Tool({"watch", "--count", "1", "--interval-ms", "10"}),
          {{"watch"}, 0, "unit 1 unit: start\n(.|\n)*unit 1: answering\n(.|\n)*unit 2 unit: attempt 3 failed\n"
                         "(.|\n)*unit 2: not answering\n(.|\n)*unit 4: answering",
           ""});
}

TEST_F(ServiceToolTest, APortThatDoesNotOpenIsNamedWithWhatToDo) {
    Check(Tool({"info"}, "noport/Tessaro.ini"),
          {{"info"}, 3, "", "the serial port did not open: .*/noport/ports/COM5: no such file or directory \\(.*/noport/ports/COM5 is a link to .*/noport/gone\\)\n.*check COM1"});
    Check(Tool({"info"}, "Missing.ini"), {{"info"}, 2, "", "Missing.ini: no configuration file there"});
}

TEST_F(ServiceToolTest, HelpAndVersion) {
    const Case cases[] = {
        {{"--version"}, 0, "^tessaro-service " TSR_EXPECTED_VERSION "\n$", ""},
        {{"--help"}, 0, "usage: tessaro-service(.|\n)*line-test UNIT \\[N\\](.|\n)*exit codes", ""},
        {{"line-test", "--help"}, 0, "usage: tessaro-service \\[--config FILE\\] line-test UNIT \\[N\\]", ""},
        {{"help", "preset"}, 0, "preset --dry-run FILE\n\nShows what", ""},
    };
    for (const Case& c : cases)
        Check(Tool(c.args), c);
}

// Without a press (the configuration's port has no device): what a preset would send.
TEST_F(ServiceToolTest, PresetDryRunShowsWhatEachUnitWouldGetAndWhyOneIsSkipped) {
    const fs::path preset = folder_ / "skips.xml";
    fs::copy_file(fs::path(TSR_TEST_DATA) / "skips.xml", preset, fs::copy_options::overwrite_existing);
    fs::copy_file(fs::path(TSR_TEST_DATA) / "skips_DC.xml", folder_ / "skips_DC.xml",
                  fs::copy_options::overwrite_existing);
    const Outcome o = Tool({"preset", "--dry-run", preset.string()}, "noport/Tessaro.ini");
    EXPECT_EQ(o.exit, 0) << o.err;
    const std::string expected =
        "unit 1 (front 1): Black: keys 128 64 0 0; ductor 50 % (byte 128); cycle 6; then working position\n"
        "  note: the file has 2 zones for it, the press 4 keys: keys 3 to 4 are not in the file";
    EXPECT_NE(o.out.find(expected), std::string::npos) << o.out;
    const char* const skips[] = {
        "unit 2 (front 2): skipped: its ink is \"DummyColor\" (no ink)\n",
        "unit 3 (front 3): skipped: UpdateUnit=\"FALSE\" in its print condition\n",
        "unit 4 (back 1): skipped: Transfer is off for its side\n",
        "unit 5 (back 2): skipped: no separation for it in the file\n",
        "1 of 5 units would be sent\n",
    };
    for (const char* line : skips)
        EXPECT_NE(o.out.find(line), std::string::npos) << line << "\n" << o.out;
    // A look only: both files stay.
    EXPECT_TRUE(fs::exists(preset));
    EXPECT_TRUE(fs::exists(folder_ / "skips_DC.xml"));

    const Outcome missing = Tool({"preset", "--dry-run", (folder_ / "none.xml").string()}, "noport/Tessaro.ini");
    EXPECT_EQ(missing.exit, 4);
    EXPECT_NE(missing.err.find("not read"), std::string::npos) << missing.err;
}

} // namespace
