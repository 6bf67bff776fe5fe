#pragma once
#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace tsr {

class SerialPort;

// The one serial line to the press console. Blocking to its callers; knows
// nothing of the protocol. Error texts are Windows-1252 ("für" holds 0xFC).
class SerialChannel {
public:
    SerialChannel();
    ~SerialChannel();
    SerialChannel(const SerialChannel&) = delete;
    SerialChannel& operator=(const SerialChannel&) = delete;

    // "COM3" for port 3, "\\.\COM12" for port 12.
    static std::string PortName(int portNumber);
    // Folder that may hold ports/COM<n> links (the configuration file's folder).
    void SetLinkFolder(const std::string& folder);

    bool Open(const std::string& name, int baud, const std::string& parity, int dataBits, int stopBits, bool cts,
              bool dsr, int queueSize, std::string& error);
    // Why the last Open failed, for a person: the device and the system's
    // reason ("/dev/ttyUSB0: permission denied"); empty after an Open that worked.
    std::string OpenFailure() const;
    void Close();
    bool IsOpen() const;
    // IsOpen as the channel's last operation left it, for threads that do not
    // hold the press lock (a service view asking while a transaction runs).
    bool WasOpen() const { return wasOpen_.load(); }
    // Bytes waiting in the driver's receive queue; -1 when closed or on failure.
    int BytesWaiting();
    bool SetReadTimeout(int ms);
    // Reads up to count bytes one at a time into the receive buffer.
    bool Read(int count, int& bytesRead, int timeoutMs);
    // The bytes of the last Read, valid until the next Read or Close.
    const std::vector<std::uint8_t>& ReceiveBuffer() const;
    void DiscardInput();
    bool Write(const std::uint8_t* bytes, int count, std::string& error);

    // Waits at most ms for input to arrive; returns as soon as bytes are
    // waiting (true) or when the time is up or the channel is closed (false).
    bool WaitForInput(int ms);

private:
    // implementation owned by presslink/serial_channel.cpp
    struct State;
    // Stores IsOpen into wasOpen_ when the operation that made it ends.
    class NoteOpen;
    std::unique_ptr<State> state_;
    std::atomic<bool> wasOpen_{false};
};

} // namespace tsr
