#pragma once
#include <atomic>
#include <cstdint>

#include "presslink/line_counters.h"

namespace tsr {

class ActivityLog;
class Clock;
class Configuration;
class EventSink;
class SerialChannel;

// The console's binary command protocol: one blocking transaction per
// opcode, with its reply length, time-outs, three attempts and retry events.
// Holds no state between transactions; callers serialise whole transactions
// with the press lock.
class PressProtocol {
public:
    static constexpr int kReplyTimeoutMs = 500;
    static constexpr int kCompletionTimeoutMs = 12000;
    static constexpr int kModeTimeoutMs = 2000;
    static constexpr int kPollMs = 10;
    static constexpr int kPositionRetryPauseMs = 200;
    static constexpr int kAttempts = 3;
    static constexpr int kReplyBufferSize = 1000;
    static constexpr int kMaxValues = 500; // value frames and key reads
    static constexpr int kInfoBytes = 11;

    PressProtocol(SerialChannel& serial, ActivityLog& log, Configuration& config, const EventSink& events,
                  const Clock& clock);
    PressProtocol(const PressProtocol&) = delete;
    PressProtocol& operator=(const PressProtocol&) = delete;

    // 0xFF minus the 8-bit sum of the bytes.
    static std::uint8_t FrameChecksum(const std::uint8_t* bytes, int n);

    // Writes the frame (the channel first drops waiting input) and logs it at
    // level 1. The outcome of the write shows only as a missing reply.
    void SendFrame(const std::uint8_t* bytes, int n);
    // wanted when that many bytes came before time-out / 10 empty waits, else 0.
    // Bytes of the last chunk beyond wanted are dropped.
    int ReadRaw(std::uint8_t* buffer, int wanted, int timeoutMs);
    // Reads 00 FF and dataLength data bytes into out: 0, 2 (bad) or 3 (none).
    int ReadReply(int dataLength, std::uint8_t* out, int timeoutMs);

    // Transactions: results 0 ok, 1 port not open, 2 bad reply, 3 no reply.
    // Outputs are written only on 0. Counts are limited to 0..kMaxValues.
    int SetKeys(int unit, const std::int32_t* values, int count); // 0x01
    int GetKeys(int unit, std::int32_t* values, int count);       // 0x02
    int Commit(int unit);                                         // 0x03
    int Reset(int unit);                                          // 0x04
    int ZeroPosition(int unit);                                   // 0x05
    int WorkingPosition(int unit);                                // 0x06
    int GetInfo(int unit, std::uint8_t (&info)[kInfoBytes]);      // 0x07
    int SetDuctor(int unit, int value);                           // 0x09
    int GetDuctor(int unit, int& value);                          // 0x0A
    int SwitchMode(int unit, bool normal);                        // 0x0B / 0x0F
    int ExecuteDuctor(int unit);                                  // 0x24
    int ExecuteKeys(int unit);                                    // 0x25
    int DuctorCalibration(int unit, bool on);                     // 0x40 / 0x41
    int SetDuctorCycle(int unit, int value);                      // 0x50
    int GetDuctorCycle(int unit, int& value);                     // 0x51
    int GetMachineType(int unit, int& value);                     // 0x52
    int GetMachineSpeed(int unit, int& value);                    // 0x53
    int ResetCassette(int unit);                                  // 0x80
    // A command the console link does not offer: event (unit, 3, 0), result 1.
    int Unsupported(int unit);

    // What the line did, per unit.
    const LineCounters& Line() const { return line_; }

private:
    // byte2 < 0 takes the low 8 bits of "KeysNumber", read for every frame.
    int Command(std::uint8_t opcode, int unit, int byte2, int dataLength, std::uint8_t* data, int kind,
                bool positionPause = false);
    int ReadOneByte(std::uint8_t opcode, int unit, int byte2, int kind, int& value);
    int WithCompletion(std::uint8_t opcode, int unit, int kind, bool positionPause);
    void SendValueFrame(const std::int32_t* values, int count);
    // One wait of at most kPollMs; false when it found nothing (it then
    // lasted the whole poll interval).
    bool WaitForBytes();

    SerialChannel& serial_;
    ActivityLog& log_;
    Configuration& config_;
    const EventSink& events_;
    const Clock& clock_;
    LineCounters line_;
    // The unit of the transaction under way, and the unit whose last wait ran
    // out (-1: none) with when it did: bytes the channel drops at a send soon
    // after are that unit's late reply.
    std::atomic<int> currentUnit_{-1};
    std::atomic<int> lateUnit_{-1};
    std::atomic<std::int64_t> lateSinceMs_{0};
    void WaitRanOut();
};

} // namespace tsr
