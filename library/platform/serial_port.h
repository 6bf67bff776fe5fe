#pragma once
#include <cstdint>
#include <memory>
#include <string>

namespace tsr {

// Line settings as the serial channel asks for them.
struct LineSettings {
    int baud = 9600;
    char parity = 'N'; // N, E, O, M, S
    int dataBits = 8;  // 6..8
    int stopBits = 1;  // 2 gives two stop bits, anything else one
    bool cts = false;  // CTS output flow control
    bool dsr = false;  // DSR output flow control (no equivalent on every system)
};

// The operating system's serial device. One open device at a time; every
// call on a closed or lost device fails at once without touching anything.
class SerialPort {
public:
    enum class ReadResult { Byte, TimedOut, Failed };

    SerialPort();
    ~SerialPort();
    SerialPort(const SerialPort&) = delete;
    SerialPort& operator=(const SerialPort&) = delete;

    // Opens the device for exclusive use; fails when another program holds it.
    bool Open(const std::string& device);
    // Reads the device's current line settings; false when it is no serial device.
    bool ReadSettings();
    // Raw mode with the given settings on top of those read.
    bool Apply(const LineSettings& settings);
    // Sizes both driver queues where the system lets the program choose them.
    bool SetQueueSizes(int bytes);
    // Drops what waits in both queues.
    void Purge();
    void Close();
    bool IsOpen() const;
    // Set once the device went away (other end hung up, adapter pulled).
    bool Lost() const;

    // Received bytes waiting; -1 on failure.
    int BytesWaiting();
    // Waits up to ms for input; true as soon as bytes are waiting.
    bool WaitForInput(int ms);
    // One byte; timeoutMs 0 waits until it comes (or the device goes away).
    ReadResult ReadByte(std::uint8_t& byte, int timeoutMs);
    // Writes all bytes; written tells how many went out. False on a system error.
    bool Write(const std::uint8_t* bytes, int count, int& written);
    // The system's message for the last failure.
    std::string LastErrorText() const;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

// The device that opens port comNumber ("COM<n>" as the configuration names
// it) on this system, or name itself where it already is a device path; empty
// when it names no port. TESSARO_SERIAL_DIR replaces the system's ports: a
// folder of links (POSIX) or a pipe prefix such as \\.\pipe\tessaro (Windows).
// linkFolder may hold ports/COM<n> links (the configuration file's folder).
std::string SerialDevicePath(const std::string& name, int comNumber, const std::string& linkFolder);

} // namespace tsr
