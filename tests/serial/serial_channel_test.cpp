#include "presslink/serial_channel.h"
#include "simulated_console.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <sys/file.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

namespace {

using tsr::SerialChannel;
using tsr::sim::SimOptions;
using tsr::sim::SimulatedConsole;
namespace fs = std::filesystem;

const std::string kHeld =
    "Handle f\xFCr 'COM1' konnte nicht erzeugt werden !!!\nVermutlich ist der Port in Gebrauch !";

bool OpenDefault(SerialChannel& channel, const std::string& name, std::string& error) {
    return channel.Open(name, 9600, "N", 8, 1, false, false, 8192, error);
}

// Reads what the console answers to one frame.
std::vector<std::uint8_t> Exchange(SerialChannel& channel, const std::vector<std::uint8_t>& frame,
                                   std::size_t want) {
    std::string error;
    EXPECT_TRUE(channel.Write(frame.data(), static_cast<int>(frame.size()), error)) << error;
    std::vector<std::uint8_t> got;
    for (int i = 0; i < 100 && got.size() < want; ++i) {
        if (!channel.WaitForInput(20))
            continue;
        int n = 0;
        if (channel.Read(channel.BytesWaiting(), n, 0))
            got.insert(got.end(), channel.ReceiveBuffer().begin(), channel.ReceiveBuffer().end());
    }
    return got;
}

class SerialChannelTest : public ::testing::Test {
protected:
    void SetUp() override { ::setenv("TESSARO_SERIAL_DIR", console.LinkFolder().c_str(), 1); }
    void TearDown() override { ::unsetenv("TESSARO_SERIAL_DIR"); }

    termios DeviceSettings() {
        termios t{};
        int fd = ::open(console.DevicePath().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        EXPECT_GE(fd, 0);
        EXPECT_EQ(::tcgetattr(fd, &t), 0);
        ::close(fd);
        return t;
    }

    SimulatedConsole console;
    SerialChannel channel;
    std::string error;
};

TEST_F(SerialChannelTest, OpensClosesAndReopens) {
    ASSERT_TRUE(OpenDefault(channel, "COM1", error)) << error;
    EXPECT_TRUE(channel.IsOpen());
    EXPECT_EQ(channel.BytesWaiting(), 0);
    EXPECT_EQ(Exchange(channel, {0x0A, 0x01, 0x18, 0xDC}, 4),
              (std::vector<std::uint8_t>{0x00, 0xFF, 0x00, 0xFF}));

    EXPECT_FALSE(OpenDefault(channel, "COM2", error));
    EXPECT_EQ(error, "Schnittstelle 'COM2' ist bereits initialisert !!!");
    EXPECT_TRUE(channel.IsOpen());

    channel.Close();
    EXPECT_FALSE(channel.IsOpen());
    EXPECT_EQ(channel.BytesWaiting(), -1);
    ASSERT_TRUE(OpenDefault(channel, "COM1", error)) << error;
    EXPECT_EQ(Exchange(channel, {0x0A, 0x01, 0x18, 0xDC}, 4).size(), 4u);
}

TEST_F(SerialChannelTest, ChecksParametersWithExactTexts) {
    struct Case {
        std::string name;
        int baud;
        std::string parity;
        int dataBits;
        int stopBits;
        std::string error; // empty: opens
    } cases[] = {
        {"COM1", 9600, "n", 8, 1, ""},
        {"COM1", 9600, "X", 8, 1, "Fehlerhafter Parameter in ('COM1',9600,X,8,1)"},
        {"COM1", 9600, "N", 8, 3, "Fehlerhafter Parameter in ('COM1',9600,N,8,3)"},
        {"COM1", 9600, "N", 8, 0, "Fehlerhafter Parameter in ('COM1',9600,N,8,0)"},
        {"COM1", 9600, "e", 5, 1, "Fehlerhafter Parameter in ('COM1',9600,E,5,1)"},
        {"COM1", 9600, "N", 9, 1, "Fehlerhafter Parameter in ('COM1',9600,N,9,1)"},
        {"COM1", 74, "N", 8, 1, "Fehlerhafter Parameter in ('COM1',74,N,8,1)"},
        {"COM1", 9600, "", 8, 1, "Fehlerhafter Parameter in ('COM1',9600,,8,1)"},
        {"COM1", 9600, "NO", 8, 1, "Fehlerhafter Parameter in ('COM1',9600,NO,8,1)"},
        {"", 9600, "N", 8, 1, "Fehlerhafter Parameter in ('',9600,N,8,1)"},
        {"COM1", 75, "s", 6, 2, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.error);
        error = "untouched";
        bool ok = channel.Open(c.name, c.baud, c.parity, c.dataBits, c.stopBits, false, false, 8192, error);
        EXPECT_EQ(ok, c.error.empty());
        EXPECT_EQ(channel.IsOpen(), ok);
        EXPECT_EQ(error, ok ? "untouched" : c.error);
        channel.Close();
    }
}

TEST_F(SerialChannelTest, AppliesLineSettingsToTheDevice) {
    // A pseudo-terminal always keeps 8 data bits without parity enable; the
    // parity kind and the stop bits it keeps as set.
    struct Case {
        std::string parity;
        int dataBits;
        int stopBits;
        tcflag_t set;
        tcflag_t clear;
    } cases[] = {
        {"N", 8, 1, 0, PARODD | CMSPAR | CSTOPB | CRTSCTS},
        {"E", 7, 2, CSTOPB, PARODD | CMSPAR},
        {"O", 8, 1, PARODD, CMSPAR | CSTOPB},
        {"M", 6, 1, PARODD | CMSPAR, CSTOPB},
        {"S", 8, 2, CMSPAR | CSTOPB, PARODD},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.parity);
        ASSERT_TRUE(channel.Open("COM1", 9600, c.parity, c.dataBits, c.stopBits, false, false, 8192, error));
        termios t = DeviceSettings();
        EXPECT_EQ(t.c_cflag & c.set, c.set);
        EXPECT_EQ(t.c_cflag & c.clear, 0u);
        EXPECT_EQ(t.c_iflag & (IXON | IXOFF), 0u);
        EXPECT_EQ(t.c_lflag & (ICANON | ECHO), 0u);
        channel.Close();
    }
    // The rate asked for is set after 9600; one the system does not know leaves 9600.
    ASSERT_TRUE(channel.Open("COM1", 19200, "N", 8, 1, false, false, 8192, error));
    termios fast = DeviceSettings();
    EXPECT_EQ(cfgetospeed(&fast), B19200);
    channel.Close();
    ASSERT_TRUE(channel.Open("COM1", 12345, "N", 8, 1, false, false, 8192, error));
    termios odd = DeviceSettings();
    EXPECT_EQ(cfgetospeed(&odd), B9600);
}

TEST_F(SerialChannelTest, PortHeldByAnotherProgramFails) {
    SerialChannel other;
    ASSERT_TRUE(OpenDefault(other, "COM1", error)) << error;
    EXPECT_FALSE(OpenDefault(channel, "COM1", error));
    EXPECT_EQ(error, kHeld);
    EXPECT_FALSE(channel.IsOpen());
    other.Close();

    // A program that locked the device without us.
    int fd = ::open(console.DevicePath().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::flock(fd, LOCK_EX | LOCK_NB), 0);
    EXPECT_FALSE(OpenDefault(channel, "COM1", error));
    EXPECT_EQ(error, kHeld);
    ::close(fd);
    EXPECT_TRUE(OpenDefault(channel, "COM1", error)) << error;
}

TEST_F(SerialChannelTest, DeviceThatIsNoSerialPortFailsOnItsSettings) {
    fs::create_symlink("/dev/null", console.LinkFolder() + "/COM5");
    EXPECT_FALSE(OpenDefault(channel, "COM5", error));
    EXPECT_EQ(error, "Status f\xFCr 'COM5' konnte nicht \xFC"
                     "bernommen werden !!!\n");
    EXPECT_FALSE(channel.IsOpen());
    fs::remove(console.LinkFolder() + "/COM5");
}

TEST_F(SerialChannelTest, ClosedChannelFailsAtOnce) {
    EXPECT_FALSE(channel.IsOpen());
    EXPECT_EQ(channel.BytesWaiting(), -1);
    EXPECT_FALSE(channel.SetReadTimeout(10));
    int n = 7;
    EXPECT_FALSE(channel.Read(1, n, 10));
    EXPECT_EQ(n, 0);
    EXPECT_FALSE(channel.WaitForInput(10));
    channel.DiscardInput();
    const std::uint8_t frame[] = {0x02, 0x01, 0x18, 0xE4};
    EXPECT_FALSE(channel.Write(frame, 4, error));
    EXPECT_EQ(error, "Schnittstelle '' ist nicht initialisert !!!");

    // After an open that failed its checks the text names the port asked for.
    EXPECT_FALSE(channel.Open("COM7", 9600, "X", 8, 1, false, false, 8192, error));
    EXPECT_FALSE(channel.Write(frame, 4, error));
    EXPECT_EQ(error, "Schnittstelle 'COM7' ist nicht initialisert !!!");
    EXPECT_TRUE(console.Received().empty());
}

TEST_F(SerialChannelTest, ReadCountsAndTimeouts) {
    ASSERT_TRUE(OpenDefault(channel, "COM1", error));
    int n = 5;
    EXPECT_TRUE(channel.Read(0, n, 10));
    EXPECT_EQ(n, 0);
    EXPECT_FALSE(channel.Read(1, n, -1));
    EXPECT_FALSE(channel.SetReadTimeout(-1));
    EXPECT_TRUE(channel.SetReadTimeout(0));

    EXPECT_FALSE(channel.Read(1, n, 20)); // nothing came
    EXPECT_EQ(n, 0);
    console.Send({0x11, 0x22});
    ASSERT_TRUE(channel.WaitForInput(1000));
    // asks for more than came: the read ends with what there is
    EXPECT_TRUE(channel.Read(3, n, 50));
    EXPECT_EQ(n, 2);
    EXPECT_EQ(channel.ReceiveBuffer(), (std::vector<std::uint8_t>{0x11, 0x22}));
}

TEST_F(SerialChannelTest, WriteDropsBytesLeftFromAnEarlierExchange) {
    ASSERT_TRUE(OpenDefault(channel, "COM1", error));
    console.Send({0x11, 0x22, 0x33});
    for (int i = 0; i < 100 && channel.BytesWaiting() < 3; ++i)
        channel.WaitForInput(10);
    ASSERT_EQ(channel.BytesWaiting(), 3);
    EXPECT_EQ(Exchange(channel, {0x52, 0x01, 0x01, 0xAB}, 4),
              (std::vector<std::uint8_t>{0x00, 0xFF, 0x02, 0xFD}));
    EXPECT_EQ(console.Received(), (std::vector<std::uint8_t>{0x52, 0x01, 0x01, 0xAB}));
}

TEST_F(SerialChannelTest, PortNamesAndTheirDevices) {
    EXPECT_EQ(SerialChannel::PortName(3), "COM3");
    EXPECT_EQ(SerialChannel::PortName(9), "COM9");
    EXPECT_EQ(SerialChannel::PortName(10), "\\\\.\\COM10");
    EXPECT_EQ(SerialChannel::PortName(12), "\\\\.\\COM12");

    SimOptions options;
    options.linkFolder = console.LinkFolder();
    options.port = 10;
    SimulatedConsole tenth(options);
    ASSERT_TRUE(OpenDefault(channel, SerialChannel::PortName(10), error)) << error;
    Exchange(channel, {0x53, 0x01, 0x18, 0x93}, 4);
    EXPECT_EQ(tenth.Received(), (std::vector<std::uint8_t>{0x53, 0x01, 0x18, 0x93}));
    EXPECT_TRUE(console.Received().empty());
    channel.Close();

    // Port 9 has no link in the folder named by the environment: no fall-back.
    EXPECT_FALSE(OpenDefault(channel, SerialChannel::PortName(9), error));
    EXPECT_EQ(error,
              "Handle f\xFCr 'COM9' konnte nicht erzeugt werden !!!\nVermutlich ist der Port in Gebrauch !");
}

TEST_F(SerialChannelTest, FindsPortsBesideTheConfigurationFile) {
    ::unsetenv("TESSARO_SERIAL_DIR");
    const fs::path config = fs::path(console.LinkFolder()) / "config";
    SimOptions options;
    options.linkFolder = (config / "ports").string();
    options.port = 4;
    SimulatedConsole beside(options);

    channel.SetLinkFolder(config.string() + "/");
    ASSERT_TRUE(OpenDefault(channel, "COM4", error)) << error;
    Exchange(channel, {0x0A, 0x02, 0x18, 0xDB}, 4);
    EXPECT_EQ(beside.Received().size(), 4u);
    channel.Close();

    // The environment wins over the configuration's folder.
    ::setenv("TESSARO_SERIAL_DIR", console.LinkFolder().c_str(), 1);
    EXPECT_FALSE(OpenDefault(channel, "COM4", error));
    ::unsetenv("TESSARO_SERIAL_DIR");

    // Without either, COM n is /dev/ttyS<n-1>; COM200 has none here.
    ASSERT_FALSE(fs::exists("/dev/ttyS199"));
    EXPECT_FALSE(OpenDefault(channel, "COM200", error));
    EXPECT_EQ(
        error,
        "Handle f\xFCr 'COM200' konnte nicht erzeugt werden !!!\nVermutlich ist der Port in Gebrauch !");
    fs::remove_all(config);
}

TEST_F(SerialChannelTest, HangUpWhileOpenClosesTheChannel) {
    ASSERT_TRUE(OpenDefault(channel, "COM1", error));
    console.HangUp();
    EXPECT_FALSE(channel.WaitForInput(2000));
    EXPECT_FALSE(channel.IsOpen());
    EXPECT_EQ(channel.BytesWaiting(), -1);
    int n = 0;
    EXPECT_FALSE(channel.Read(1, n, 0));
    const std::uint8_t frame[] = {0x02, 0x01, 0x18, 0xE4};
    EXPECT_FALSE(channel.Write(frame, 4, error));
    EXPECT_EQ(error, "Schnittstelle 'COM1' ist nicht initialisert !!!");

    channel.Close();
    ASSERT_TRUE(console.Reconnect());
    ASSERT_TRUE(OpenDefault(channel, "COM1", error)) << error;
    EXPECT_EQ(Exchange(channel, {0x0A, 0x01, 0x18, 0xDC}, 4).size(), 4u);
}

TEST_F(SerialChannelTest, HangUpEndsAReadThatWaitsForEver) {
    ASSERT_TRUE(OpenDefault(channel, "COM1", error));
    console.Send({0x01, 0x02});
    ASSERT_TRUE(channel.WaitForInput(1000));
    std::thread later([this] {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        console.HangUp();
    });
    int n = 0;
    EXPECT_TRUE(channel.Read(5, n, 0)); // time-out 0: waits for each byte until the device goes
    later.join();
    EXPECT_EQ(n, 2);
    EXPECT_FALSE(channel.IsOpen());
}

TEST_F(SerialChannelTest, HangUpDuringWriteFails) {
    ASSERT_TRUE(OpenDefault(channel, "COM1", error));
    console.HangUp();
    const std::uint8_t frame[] = {0x02, 0x01, 0x18, 0xE4};
    // The write notices the loss itself or through the discard before it.
    EXPECT_FALSE(channel.Write(frame, 4, error));
    EXPECT_FALSE(error.empty());
    EXPECT_FALSE(channel.IsOpen());
}

} // namespace
