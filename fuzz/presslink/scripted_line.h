#pragma once
// A serial line that plays back a script of console output on a virtual
// clock, so the press protocol can be fed any byte stream at full speed.
// scripted_serial_port.cpp implements tsr::SerialPort on top of it; a binary
// links that file instead of the POSIX port.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "platform/clock.h"

namespace tsr::fuzz {

// Time passes only when the code under test sleeps or waits.
class VirtualClock final : public Clock {
public:
    std::time_t Now() const override { return 1464357787 + static_cast<std::time_t>(nowMs_ / 1000); }
    std::tm LocalTime(std::time_t t) const override;
    std::tm UtcTime(std::time_t t) const override;
    std::int64_t MonotonicMs() const override { return nowMs_; }
    void SleepMs(int ms) const override {
        if (ms > 0)
            nowMs_ += ms;
    }
    void AdvanceTo(std::int64_t ms) const {
        if (ms > nowMs_)
            nowMs_ = ms;
    }

private:
    mutable std::int64_t nowMs_ = 0;
};

// One piece of console output.
struct Chunk {
    int delayMs = 0;         // after the previous chunk came out, or after the next frame sent
    bool afterWrite = false; // the delay starts at the next frame the library sends
    bool hangUp = false;     // the device goes away instead
    std::vector<std::uint8_t> bytes;
};

class ScriptedLine {
public:
    explicit ScriptedLine(const VirtualClock& clock) : clock_(clock) {}

    // Reads chunks until the data ends: a control byte (bit 7: after the next
    // frame; bits 0..6: delay in 5 ms steps), a length byte and the bytes.
    // Control 0x7F with length 0 is a hang-up.
    void LoadScript(const std::uint8_t* data, std::size_t size);
    // The console goes quiet for good: nothing more of the script comes.
    void EndScript();
    // From now on every frame of 4 bytes is answered with 00 FF at once.
    void AnswerEveryCommand(bool on) { answerAll_ = on; }

    // The port side.
    bool lost = false;
    bool open = false;
    int BytesWaiting();
    bool WaitForInput(int ms);
    // false: no byte before the time-out; blocksForEver tells that the read
    // would never have come back (nothing more is coming).
    bool ReadByte(std::uint8_t& byte, int timeoutMs, bool& blocksForEver);
    void Write(const std::uint8_t* bytes, int count);
    void Purge() {
        available_.clear();
        readAt_ = 0;
    }

    // What the library sent, one entry per write.
    const std::vector<std::vector<std::uint8_t>>& Writes() const { return writes_; }
    // Bytes the library read since its last write.
    const std::vector<std::uint8_t>& ReadSinceWrite() const { return readSinceWrite_; }

private:
    // Puts out every chunk that is due; false when the next one is not yet.
    void Release();
    // When the next chunk is due, or -1 when none is coming without a write.
    std::int64_t NextDueMs() const;

    const VirtualClock& clock_;
    std::vector<Chunk> chunks_;
    std::size_t next_ = 0;
    std::int64_t anchorMs_ = 0;
    bool anchored_ = true;
    bool answerAll_ = false;
    std::vector<std::uint8_t> available_;
    std::size_t readAt_ = 0;
    std::vector<std::vector<std::uint8_t>> writes_;
    std::vector<std::uint8_t> readSinceWrite_;
};

// The line the next SerialPort opens; set by the fuzz target for each input.
void UseLine(ScriptedLine* line);

} // namespace tsr::fuzz
