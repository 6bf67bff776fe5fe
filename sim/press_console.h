#pragma once
#include <array>
#include <cstdint>
#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace tsr::sim {

// Fault targets besides an opcode (0x00..0xFF).
constexpr int kAnyFrame = -1;      // every frame, command or value frame
constexpr int kValueFrame = 0x100; // value frames only

enum class FaultKind {
    NoAnswer,    // the frame is ignored: no reply, no state change
    BadAnswer,   // the reply begins 01 FF and the command is refused
    ShortAnswer, // the reply loses its last byte; the command is carried out
    StrayBytes,  // stray bytes follow the reply (at once or after delayMs)
    Delay,       // every reply to the frame comes delayMs later
    HangUp,      // the device goes away delayMs after the frame, unanswered
};

struct Fault {
    FaultKind kind = FaultKind::NoAnswer;
    int delayMs = 0;
    std::vector<std::uint8_t> stray{0x55, 0xAA};
    int unit = 0; // only frames for this unit (a value frame belongs to its command's unit); 0: every unit
};

enum class Position { Zero, Working, Moving };
enum class Mode { Normal, Calibration };

// What the console holds for one printing unit.
struct UnitState {
    std::vector<std::uint8_t> keys; // one byte per key, as many as the console has
    std::uint8_t ductor = 0;
    std::uint8_t ductorCycle = 2;
    Position position = Position::Zero;
    Mode mode = Mode::Normal;
    bool ductorCalibration = false;
    // values received in value frames, taken over by the next commit
    bool keysPending = false;
    std::vector<std::uint8_t> pendingKeys;
    bool ductorPending = false;
    std::uint8_t pendingDuctor = 0;
    bool cyclePending = false;
    std::uint8_t pendingCycle = 0;
    // status bytes 3 to 9 of the information reply (ORed with the live bits of byte 9)
    std::array<std::uint8_t, 7> status{};
    // counters of what the unit carried out
    int commits = 0;
    int resets = 0;
    int keyExecutions = 0;
    int ductorExecutions = 0;
    int cassetteResets = 0;
    // the first mode frame seen (0x0B or 0x0F) while a switch is half done, else 0
    int modeStage = 0;
};

struct ConsoleConfig {
    int units = 4;         // 1..255
    int keys = 24;         // keys per unit, 1..500
    int movementMs = 50;   // time from a 05/06/24/25 acknowledgement to its completion reply
    int extraReplyMs = 20; // time from a commit acknowledgement to the reply that follows it
    int valueGapMs = 10;   // silence that ends a key value frame
    // A value frame must begin this soon after the acknowledgement went out.
    // The library sends it at once, but a loaded machine can hold its thread
    // up; it sends the command again only after 500 ms without a reply.
    int valueWaitMs = 450;
    int staleFrameMs = 50;  // a partial command frame left alone this long is dropped
    bool pacing = false;    // 9600 baud 8N1: about 1.04 ms per byte each way
    int processingUs = 100; // with pacing: from a frame's last byte to the first byte of its answer
    std::uint8_t machineType = 2;
    std::uint8_t machineSpeed = 0;
    // Every n-th reply goes out with its last byte wrong (the check byte of a
    // reply with data, the FF of a bare acknowledgement); 0: never.
    int badChecksumEvery = 0;
};

// One frame the console took from the line.
struct Frame {
    std::int64_t timeUs = 0; // when its first byte began to arrive
    std::vector<std::uint8_t> bytes;
    bool value = false; // a value frame (else a command frame)
    bool checksumOk = false;
};

// Bytes due on the line, or the end of the device.
struct Output {
    std::vector<std::uint8_t> bytes;
    bool hangUp = false;
    bool replyEnds = false; // the last bytes of one reply
};

std::uint8_t Checksum(const std::uint8_t* bytes, std::size_t n);
const char* OpcodeName(int opcode);

// The console's side of the press protocol, driven by time stamps so that
// it runs the same over a pseudo-terminal and in a unit test.
//
// Time follows a real line: with pacing, each byte takes kByteTimeUs to
// arrive, a frame is taken when its last byte is in, its answer starts
// processingUs later and leaves one byte per kByteTimeUs; replies never
// overlap on the line. A reply that follows another (the completion, the
// reply after a commit) is timed from the moment the one before it went out.
class PressConsole {
public:
    static constexpr int kByteTimeUs = 1042; // 10 bits at 9600 baud

    explicit PressConsole(const ConsoleConfig& config);

    // Bytes from the library, read at nowUs.
    void Receive(const std::uint8_t* bytes, std::size_t n, std::int64_t nowUs);
    // Takes the bytes that have arrived by now, ends value frames and stale
    // input by time; returns what is due on the line now.
    std::vector<Output> Tick(std::int64_t nowUs);
    // When Tick has work next; -1 when nothing is scheduled.
    std::int64_t NextDeadlineUs() const;
    // Nothing arriving, being sent or scheduled to send.
    bool Idle() const { return incoming_.empty() && !line_.active && queue_.empty(); }
    // Bytes the console sends unasked, as soon as the line is free.
    void SendUnasked(const std::vector<std::uint8_t>& bytes, std::int64_t nowUs);

    void AddFault(int target, const Fault& fault, int times = 1); // times < 0: for ever
    void ClearFaults();

    const ConsoleConfig& Config() const { return config_; }
    int Units() const { return config_.units; }
    int Keys() const { return config_.keys; }
    bool ValidUnit(int unit) const { return unit >= 1 && unit <= config_.units; }
    // unit 1..Units(); any other number gives unit 1's record
    UnitState& Unit(int unit);
    const UnitState& Unit(int unit) const;
    // Gives a unit (1..Units(), else nothing) what state holds; its key count stays the console's.
    void SetUnit(int unit, const UnitState& state);
    void SetMovementMs(int ms) { config_.movementMs = ms; }
    void SetPacing(bool on) { config_.pacing = on; }

    const std::vector<Frame>& Frames() const { return frames_; }
    void ClearFrames() { frames_.clear(); }
    // One readable line per frame (what it asked and how it was answered).
    void SetNote(std::function<void(const std::string&)> note) { note_ = std::move(note); }

private:
    struct Reply {
        std::int64_t gapUs = 0; // the first: from the frame's end; the others: from the reply before
        std::vector<std::uint8_t> bytes;
        bool hangUp = false;
        std::function<void(std::int64_t)> onStart; // when its first byte goes out (the time it did)
    };
    struct Response {
        std::vector<Reply> replies;
        std::function<void()> effect; // the command's change of state, run unless refused
    };
    // Replies of one response still to go; the first may start at dueUs.
    struct Pending {
        std::int64_t dueUs = 0;
        std::deque<Reply> replies;
    };
    // The reply going out on the line.
    struct Transmission {
        bool active = false;
        std::int64_t startUs = 0;
        std::size_t sent = 0;
        Reply reply;
        std::deque<Reply> rest;
    };
    struct Incoming {
        std::int64_t atUs; // when the byte is in
        std::uint8_t byte;
    };
    struct FaultRule {
        int target;
        Fault fault;
        int times;
    };
    enum class Await { Command, OneValue, Keys };

    std::int64_t ByteUs() const { return config_.pacing ? kByteTimeUs : 0; }
    void Advance(std::int64_t nowUs);
    void Expire(std::int64_t atUs);
    void ParseInput(std::int64_t atUs);
    void TakeFrame(std::size_t length, bool value, std::int64_t atUs, Frame& frame);
    void HandleCommand(const std::uint8_t* frame, std::int64_t atUs);
    void HandleValueFrame(std::int64_t atUs);
    Response Answer(int opcode, int unit, std::string& what);
    std::optional<Fault> TakeFault(int opcode, bool value, int unit);
    void Schedule(Response response, const std::optional<Fault>& fault, std::int64_t frameEndUs,
                  const std::string& what);
    void Enqueue(std::int64_t dueUs, std::deque<Reply> replies);
    void Transmit(std::int64_t nowUs, std::vector<Output>& out);
    void Note(const std::string& text) const;
    static std::vector<std::uint8_t> Ack() { return {0x00, 0xFF}; }

    ConsoleConfig config_;
    std::vector<UnitState> units_;
    std::deque<Incoming> incoming_; // read from the device, not yet in by line time
    std::int64_t receiveFreeUs_ = 0;
    std::vector<std::uint8_t> input_;
    std::int64_t inputStartUs_ = 0;
    std::int64_t lastInputUs_ = 0;
    Await await_ = Await::Command;
    int awaitOpcode_ = 0;
    int awaitUnit_ = 0;
    std::int64_t awaitSinceUs_ = 0;
    std::uint64_t framesTaken_ = 0; // every frame, also after ClearFrames
    std::deque<Pending> queue_;     // ordered by due time
    Transmission line_;
    std::int64_t sendFreeUs_ = 0;
    std::vector<FaultRule> faults_;
    std::uint64_t repliesMade_ = 0;
    std::vector<Frame> frames_;
    std::function<void(const std::string&)> note_;
};

} // namespace tsr::sim
