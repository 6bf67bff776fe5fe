#include "simulated_console.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <filesystem>
#include <poll.h>
#include <unistd.h>

namespace {

using namespace tsr::sim;
using Bytes = std::vector<std::uint8_t>;

// The library's side, kept to plain system calls.
struct Port {
    explicit Port(const std::string& path) : fd(::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK)) {}
    ~Port() {
        if (fd >= 0)
            ::close(fd);
    }
    void Write(const Bytes& b) { ASSERT_EQ(::write(fd, b.data(), b.size()), static_cast<ssize_t>(b.size())); }
    Bytes ReadFor(int ms, std::size_t want) {
        Bytes got;
        for (int i = 0; i < ms / 5 && got.size() < want; ++i) {
            pollfd p{fd, POLLIN, 0};
            if (::poll(&p, 1, 5) > 0 && (p.revents & POLLIN)) {
                std::uint8_t b[256];
                ssize_t n = ::read(fd, b, sizeof b);
                if (n > 0)
                    got.insert(got.end(), b, b + n);
            }
            if (p.revents & POLLHUP)
                break;
        }
        return got;
    }
    int fd;
};

TEST(SimulatedConsoleTest, AnswersOverThePseudoTerminalAndRecords) {
    SimulatedConsole console;
    ASSERT_TRUE(std::filesystem::is_symlink(console.LinkPath()));
    EXPECT_EQ(std::filesystem::read_symlink(console.LinkPath()), console.DevicePath());
    UnitState unit = console.Unit(2);
    unit.ductor = 0x40;
    console.SetUnit(2, unit);

    Port port(console.LinkPath());
    ASSERT_GE(port.fd, 0);
    port.Write({0x0A, 0x02, 0x18, 0xDB});
    EXPECT_EQ(port.ReadFor(1000, 4), (Bytes{0x00, 0xFF, 0x40, 0xBF}));
    ASSERT_TRUE(console.WaitForFrames(1, 1000));
    EXPECT_EQ(console.Frames()[0].bytes, (Bytes{0x0A, 0x02, 0x18, 0xDB}));
    EXPECT_EQ(console.Received(), (Bytes{0x0A, 0x02, 0x18, 0xDB}));
    EXPECT_EQ(console.Sent(), (Bytes{0x00, 0xFF, 0x40, 0xBF}));
    std::vector<RecordEntry> record = console.Record();
    ASSERT_EQ(record.size(), 2u);
    EXPECT_TRUE(record[0].received);
    EXPECT_LE(record[0].timeUs, record[1].timeUs);

    console.ClearRecord();
    EXPECT_TRUE(console.Record().empty());
    EXPECT_TRUE(console.Frames().empty());
}

TEST(SimulatedConsoleTest, PacedBytesComeOneByOne) {
    SimOptions options;
    options.console.pacing = true;
    SimulatedConsole console(options);
    Port port(console.LinkPath());
    port.Write({0x02, 0x01, 0x18, 0xE4});
    EXPECT_EQ(port.ReadFor(2000, 27).size(), 27u);
    std::vector<RecordEntry> record = console.Record();
    ASSERT_EQ(record.size(), 28u); // the frame, then 27 bytes each on its own
    // None comes before a line could carry it: the frame's four characters in,
    // then one character time per byte of the answer.
    for (std::size_t k = 0; k < 27; ++k)
        EXPECT_GE(record[1 + k].timeUs - record[0].timeUs,
                  static_cast<std::int64_t>(4 + k + 1) * PressConsole::kByteTimeUs)
            << k;
}

TEST(SimulatedConsoleTest, HangUpAndReconnect) {
    SimulatedConsole console;
    Port port(console.LinkPath());
    Fault hangUp{FaultKind::HangUp, 0, {}};
    console.AddFault(0x02, hangUp);
    port.Write({0x02, 0x01, 0x18, 0xE4});
    EXPECT_EQ(port.ReadFor(1000, 1), Bytes{});
    EXPECT_TRUE(console.HungUp());
    pollfd p{port.fd, POLLIN, 0};
    EXPECT_EQ(::poll(&p, 1, 0), 1);
    EXPECT_TRUE(p.revents & POLLHUP);

    const std::string before = console.DevicePath();
    ASSERT_TRUE(console.Reconnect());
    EXPECT_FALSE(console.HungUp());
    Port again(console.LinkPath());
    again.Write({0x02, 0x01, 0x18, 0xE4});
    EXPECT_EQ(again.ReadFor(1000, 27).size(), 27u);
    (void)before;
}

TEST(SimulatedConsoleTest, TracesReadableLines) {
    std::vector<std::string> lines;
    std::mutex guard;
    SimOptions options;
    options.trace = [&](const std::string& line) {
        std::lock_guard<std::mutex> lock(guard);
        lines.push_back(line);
    };
    {
        SimulatedConsole console(options);
        Port port(console.LinkPath());
        port.Write({0x06, 0x01, 0x18, 0xE0});
        port.ReadFor(1000, 4);
    }
    std::string all;
    for (const std::string& l : lines)
        all += l + "\n";
    EXPECT_NE(all.find("<- 06 01 18 E0"), std::string::npos) << all;
    EXPECT_NE(all.find("WorkingPosition u1"), std::string::npos) << all;
    EXPECT_NE(all.find("-> 00 FF"), std::string::npos) << all;
}

} // namespace
