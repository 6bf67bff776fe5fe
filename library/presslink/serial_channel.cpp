#include "presslink/serial_channel.h"

#include "platform/serial_port.h"

#include <cctype>
#include <cstdarg>
#include <cstdio>

namespace tsr {

namespace {

// Read time-out set by Open until a caller sets its own.
constexpr int kDefaultReadTimeoutMs = 100;

std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));

std::string Format(const char* format, ...) {
    va_list args;
    va_start(args, format);
    va_list copy;
    va_copy(copy, args);
    int n = std::vsnprintf(nullptr, 0, format, copy);
    va_end(copy);
    std::string text(n > 0 ? static_cast<size_t>(n) : 0, '\0');
    if (n > 0)
        std::vsnprintf(text.data(), text.size() + 1, format, args);
    va_end(args);
    return text;
}

// "COM7" or "\\.\COM12" -> 7 or 12; 0 when the name is no COM name.
int ComNumber(const std::string& name) {
    std::string rest = name;
    if (rest.rfind("\\\\.\\", 0) == 0)
        rest = rest.substr(4);
    if (rest.size() < 4)
        return 0;
    for (int i = 0; i < 3; ++i)
        if (std::toupper(static_cast<unsigned char>(rest[i])) != "COM"[i])
            return 0;
    int n = 0;
    for (size_t i = 3; i < rest.size(); ++i) {
        if (!std::isdigit(static_cast<unsigned char>(rest[i])) || n > 100000)
            return 0;
        n = n * 10 + (rest[i] - '0');
    }
    return n;
}

// The system's message as the tail of a sentence: "Permission denied" -> "permission denied".
std::string Reason(std::string text) {
    if (text.size() > 1 && std::isupper(static_cast<unsigned char>(text[0])) &&
        !std::isupper(static_cast<unsigned char>(text[1])))
        text[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(text[0])));
    return text;
}

} // namespace

struct SerialChannel::State {
    SerialPort port;
    bool open = false;
    std::string portName;
    std::string linkFolder;
    int readTimeoutMs = kDefaultReadTimeoutMs;
    std::vector<std::uint8_t> received;
    int bytesWritten = 0;
    std::string openFailure;

    std::string DevicePath(const std::string& name) const {
        return SerialDevicePath(name, ComNumber(name), linkFolder);
    }
};

class SerialChannel::NoteOpen {
public:
    explicit NoteOpen(SerialChannel& channel) : channel_(channel) {}
    ~NoteOpen() { channel_.wasOpen_ = channel_.IsOpen(); }
    NoteOpen(const NoteOpen&) = delete;
    NoteOpen& operator=(const NoteOpen&) = delete;

private:
    SerialChannel& channel_;
};

SerialChannel::SerialChannel() : state_(std::make_unique<State>()) {}

SerialChannel::~SerialChannel() {
    Close();
}

std::string SerialChannel::PortName(int portNumber) {
    return Format("%sCOM%d", portNumber >= 10 ? "\\\\.\\" : "", portNumber);
}

void SerialChannel::SetLinkFolder(const std::string& folder) {
    std::string f = folder;
    while (f.size() > 1 && (f.back() == '/' || f.back() == '\\'))
        f.pop_back();
    state_->linkFolder = f;
}

bool SerialChannel::Open(const std::string& name, int baud, const std::string& parity, int dataBits,
                         int stopBits, bool cts, bool dsr, int queueSize, std::string& error) {
    const NoteOpen note(*this);
    State& s = *state_;
    if (IsOpen()) {
        error = Format("Schnittstelle '%s' ist bereits initialisert !!!", name.c_str());
        return false;
    }
    std::string upper = parity;
    for (char& c : upper)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    s.portName = name;
    s.open = false;
    s.openFailure.clear();

    const bool parityOk = upper == "N" || upper == "E" || upper == "O" || upper == "M" || upper == "S";
    if (name.empty() || upper.empty() || baud < 75 || dataBits < 6 || dataBits > 8 || stopBits < 1 ||
        stopBits > 2 || !parityOk) {
        error = Format("Fehlerhafter Parameter in ('%s',%d,%s,%d,%d)", name.c_str(), baud, upper.c_str(),
                       dataBits, stopBits);
        s.openFailure = name + ": line settings not accepted";
        return false;
    }

    const std::string device = s.DevicePath(name);
    if (device.empty() || !s.port.Open(device)) {
        s.openFailure = device.empty() ? name + ": no such port" : device + ": " + Reason(s.port.LastErrorText());
        error = Format(
            "Handle f\xFCr '%s' konnte nicht erzeugt werden !!!\nVermutlich ist der Port in Gebrauch !",
            name.c_str());
        return false;
    }
    if (!s.port.ReadSettings()) {
        error = Format("Status f\xFCr '%s' konnte nicht \xFC"
                       "bernommen werden !!!\n",
                       name.c_str());
        s.openFailure = device + ": not a serial device (" + Reason(s.port.LastErrorText()) + ")";
        s.port.Close();
        return false;
    }
    LineSettings line;
    line.baud = 9600;
    line.parity = upper[0];
    line.dataBits = dataBits;
    line.stopBits = stopBits;
    line.cts = cts;
    line.dsr = dsr;
    if (!s.port.Apply(line)) {
        error = Format("Device-Control Block f\xFCr '%s' konnte nicht verbunden werden !!!", name.c_str());
        s.openFailure = device + ": line settings refused (" + Reason(s.port.LastErrorText()) + ")";
        s.port.Close();
        return false;
    }
    // Where the system sizes the queues itself they are well above the few
    // hundred bytes a frame holds.
    s.port.SetQueueSizes(queueSize);
    s.port.Purge();
    s.readTimeoutMs = kDefaultReadTimeoutMs;
    s.open = true;

    // The rate asked for; a rate the device refuses leaves it at 9600.
    line.baud = baud;
    s.port.Apply(line);
    return true;
}

std::string SerialChannel::OpenFailure() const {
    return state_->openFailure;
}

void SerialChannel::Close() {
    const NoteOpen note(*this);
    State& s = *state_;
    s.open = false;
    s.received.clear();
    s.received.shrink_to_fit();
    if (!s.port.IsOpen() && !s.port.Lost())
        return;
    s.port.Purge();
    s.port.Close();
    s.portName.clear();
}

bool SerialChannel::IsOpen() const {
    return state_->open && state_->port.IsOpen();
}

int SerialChannel::BytesWaiting() {
    const NoteOpen note(*this);
    if (!IsOpen())
        return -1;
    return state_->port.BytesWaiting();
}

bool SerialChannel::SetReadTimeout(int ms) {
    if (!IsOpen() || ms < 0)
        return false;
    state_->readTimeoutMs = ms;
    return true;
}

bool SerialChannel::Read(int count, int& bytesRead, int timeoutMs) {
    const NoteOpen note(*this);
    State& s = *state_;
    bytesRead = 0;
    if (!IsOpen() || timeoutMs < 0 || !SetReadTimeout(timeoutMs))
        return false;
    if (count <= 0)
        return true;
    s.received.clear();
    s.received.reserve(static_cast<size_t>(count));
    while (static_cast<int>(s.received.size()) < count) {
        std::uint8_t byte = 0;
        if (s.port.ReadByte(byte, s.readTimeoutMs) != SerialPort::ReadResult::Byte)
            break;
        s.received.push_back(byte);
    }
    bytesRead = static_cast<int>(s.received.size());
    return bytesRead > 0;
}

const std::vector<std::uint8_t>& SerialChannel::ReceiveBuffer() const {
    return state_->received;
}

void SerialChannel::DiscardInput() {
    const NoteOpen note(*this);
    if (!IsOpen())
        return;
    int n = BytesWaiting();
    if (n > 0) {
        int dropped = 0;
        Read(n, dropped, 1);
    }
}

bool SerialChannel::Write(const std::uint8_t* bytes, int count, std::string& error) {
    const NoteOpen note(*this);
    State& s = *state_;
    DiscardInput();
    error.clear();
    if (!IsOpen()) {
        error = Format("Schnittstelle '%s' ist nicht initialisert !!!", s.portName.c_str());
        return false;
    }
    if (count <= 0)
        return true;
    int written = 0;
    if (s.port.Write(bytes, count, written)) {
        s.bytesWritten = written;
        if (written == count)
            return true;
        error = Format("Es konnten %d von %d \xFC"
                       "ber %s versandt werden !!!",
                       written, count, s.portName.c_str());
        return false;
    }
    s.bytesWritten = written;
    error = Format("Fehler '%s' beim Zugriff auf '%s'", s.port.LastErrorText().c_str(), s.portName.c_str());
    return false;
}

bool SerialChannel::WaitForInput(int ms) {
    const NoteOpen note(*this);
    if (!IsOpen())
        return false;
    return state_->port.WaitForInput(ms);
}

} // namespace tsr
