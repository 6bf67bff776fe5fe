#include "presslink/press_protocol.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "config/configuration.h"
#include "log/activity_log.h"
#include "platform/clock.h"
#include "presslink/serial_channel.h"
#include "session/event_sink.h"

namespace tsr {

namespace {

constexpr int kKindUnit = 0;
constexpr int kKindKeys = 1;
constexpr int kKindDuctor = 2;
constexpr int kKindDuctorCycle = 3;
constexpr int kEventRetry3 = 3;
constexpr int kEventDone = 4;
constexpr int kEventPortClosed = 10;

constexpr int kResultOk = 0;
constexpr int kResultPortNotOpen = 1;
constexpr int kResultBadReply = 2;
constexpr int kResultNoReply = 3;

constexpr int kModeFirstAnswer = 0x80;
constexpr int kModeSecondAnswer = 0x81;
constexpr int kModeWaits = 3;

int LimitCount(int count) {
    return std::clamp(count, 0, PressProtocol::kMaxValues);
}

} // namespace

PressProtocol::PressProtocol(SerialChannel& serial, ActivityLog& log, Configuration& config,
                             const EventSink& events, const Clock& clock)
    : serial_(serial), log_(log), config_(config), events_(events), clock_(clock), line_(clock, log) {}

std::uint8_t PressProtocol::FrameChecksum(const std::uint8_t* bytes, int n) {
    unsigned sum = 0;
    for (int i = 0; i < n; ++i)
        sum += bytes[i];
    return static_cast<std::uint8_t>(0xFF - (sum & 0xFF));
}

void PressProtocol::SendFrame(const std::uint8_t* bytes, int n) {
    // The write drops what is waiting: after a wait that ran out, that is the
    // late reply. One that has not come yet may still come before a later send.
    const int late = lateUnit_.load();
    if (late >= 0) {
        if (clock_.MonotonicMs() - lateSinceMs_.load() > kCompletionTimeoutMs + kReplyTimeoutMs)
            lateUnit_ = -1;
        else if (serial_.BytesWaiting() > 0 && lateUnit_.exchange(-1) >= 0)
            line_.Count(late, LineCounters::Late);
    }
    std::string error;
    serial_.Write(bytes, n, error);
    log_.WriteBytes(bytes, n, 1);
}

bool PressProtocol::WaitForBytes() {
    const std::int64_t start = clock_.MonotonicMs();
    if (serial_.WaitForInput(kPollMs) && serial_.BytesWaiting() > 0)
        return true;
    // A closed or hung-up line answers at once; the empty poll still costs
    // its interval so the time-out keeps its length.
    const std::int64_t left = kPollMs - (clock_.MonotonicMs() - start);
    if (left > 0)
        clock_.SleepMs(static_cast<int>(left));
    return false;
}

void PressProtocol::WaitRanOut() {
    lateSinceMs_ = clock_.MonotonicMs();
    lateUnit_ = currentUnit_.load();
}

int PressProtocol::ReadRaw(std::uint8_t* buffer, int wanted, int timeoutMs) {
    if (!serial_.IsOpen()) {
        events_.Emit(0, kEventPortClosed, 0);
        return 0;
    }
    int idlePolls = timeoutMs / kPollMs;
    if (idlePolls <= 0 || wanted <= 0 || wanted > kReplyBufferSize)
        return 0;
    int collected = 0;
    for (;;) {
        const int waiting = serial_.BytesWaiting();
        if (waiting <= 0) {
            // The budget counts only waits that found nothing; arriving bytes
            // do not renew it.
            if (!WaitForBytes() && --idlePolls <= 0) {
                WaitRanOut();
                return 0;
            }
            continue;
        }
        int got = 0;
        serial_.Read(waiting, got, 0);
        const std::vector<std::uint8_t>& chunk = serial_.ReceiveBuffer();
        got = std::min<int>(got, static_cast<int>(chunk.size()));
        if (got <= 0) {
            // Counted as waiting but unreadable: an empty poll all the same.
            clock_.SleepMs(kPollMs);
            if (--idlePolls <= 0) {
                WaitRanOut();
                return 0;
            }
            continue;
        }
        log_.WriteBytes(chunk.data(), got, 3);
        if (collected + got >= wanted) {
            std::memcpy(buffer + collected, chunk.data(), static_cast<std::size_t>(wanted - collected));
            return wanted;
        }
        std::memcpy(buffer + collected, chunk.data(), static_cast<std::size_t>(got));
        collected += got;
    }
}

int PressProtocol::ReadReply(int dataLength, std::uint8_t* out, int timeoutMs) {
    std::uint8_t reply[kReplyBufferSize];
    const int wanted = dataLength + 2;
    if (dataLength < 0 || wanted > kReplyBufferSize)
        return kResultBadReply;
    const int got = ReadRaw(reply, wanted, timeoutMs);
    if (got <= 0)
        return kResultNoReply;
    log_.WriteBytes(reply, got, 2);
    if (got < wanted || reply[0] != 0x00 || reply[1] != 0xFF)
        return kResultBadReply;
    if (dataLength > 0 && out != nullptr)
        std::memcpy(out, reply + 2, static_cast<std::size_t>(dataLength));
    return kResultOk;
}

int PressProtocol::Command(std::uint8_t opcode, int unit, int byte2, int dataLength, std::uint8_t* data,
                           int kind, bool positionPause) {
    if (!serial_.IsOpen())
        return kResultPortNotOpen;
    currentUnit_ = unit;
    int result = kResultNoReply;
    for (int attempt = 1; attempt <= kAttempts; ++attempt) {
        if (attempt > 1)
            line_.Count(unit, LineCounters::Retries);
        std::uint8_t frame[4];
        frame[0] = opcode;
        frame[1] = static_cast<std::uint8_t>(unit & 0xFF);
        frame[2] = static_cast<std::uint8_t>((byte2 < 0 ? config_.KeysNumber() : byte2) & 0xFF);
        frame[3] = FrameChecksum(frame, 3);
        SendFrame(frame, 4);
        result = ReadReply(dataLength, data, kReplyTimeoutMs);
        line_.Count(unit, result == kResultOk      ? LineCounters::Answered
                          : result == kResultNoReply ? LineCounters::Silent
                                                     : LineCounters::Malformed);
        if (result == kResultOk) {
            line_.TransactionEnded(unit, true);
            return kResultOk;
        }
        if (positionPause)
            clock_.SleepMs(kPositionRetryPauseMs);
        events_.Emit(unit, attempt, kind);
    }
    line_.TransactionEnded(unit, false);
    return result;
}

void PressProtocol::SendValueFrame(const std::int32_t* values, int count) {
    std::uint8_t frame[kMaxValues + 1];
    for (int i = 0; i < count; ++i)
        frame[i] = static_cast<std::uint8_t>(values[i] & 0xFF);
    frame[count] = FrameChecksum(frame, count);
    SendFrame(frame, count + 1);
}

int PressProtocol::ReadOneByte(std::uint8_t opcode, int unit, int byte2, int kind, int& value) {
    std::uint8_t data[2];
    const int r = Command(opcode, unit, byte2, 2, data, kind);
    if (r == kResultOk)
        value = data[0];
    return r;
}

int PressProtocol::WithCompletion(std::uint8_t opcode, int unit, int kind, bool positionPause) {
    const int r = Command(opcode, unit, -1, 0, nullptr, kind, positionPause);
    if (r != kResultOk)
        return r;
    // The console answers a second time when the movement is over; its
    // absence only costs the wait.
    ReadReply(0, nullptr, kCompletionTimeoutMs);
    return kResultOk;
}

int PressProtocol::SetKeys(int unit, const std::int32_t* values, int count) {
    count = values == nullptr ? 0 : LimitCount(count);
    const int r = Command(0x01, unit, -1, 0, nullptr, kKindKeys);
    if (r != kResultOk)
        return r;
    SendValueFrame(values, count);
    ReadReply(0, nullptr, kReplyTimeoutMs);
    const int committed = Commit(unit);
    ReadReply(0, nullptr, kReplyTimeoutMs);
    events_.Emit(unit, kEventDone, kKindKeys);
    return committed;
}

int PressProtocol::GetKeys(int unit, std::int32_t* values, int count) {
    count = LimitCount(count);
    // One data byte more than there are keys; the last is not examined.
    std::uint8_t data[kMaxValues + 1];
    const int r = Command(0x02, unit, -1, count + 1, data, kKindKeys);
    if (r == kResultOk && values != nullptr) {
        for (int i = 0; i < count; ++i)
            values[i] = data[i];
    }
    return r;
}

int PressProtocol::Commit(int unit) {
    return Command(0x03, unit, -1, 0, nullptr, kKindUnit);
}

int PressProtocol::Reset(int unit) {
    return Command(0x04, unit, -1, 0, nullptr, kKindUnit);
}

int PressProtocol::ZeroPosition(int unit) {
    return WithCompletion(0x05, unit, kKindUnit, true);
}

int PressProtocol::WorkingPosition(int unit) {
    return WithCompletion(0x06, unit, kKindUnit, true);
}

int PressProtocol::GetInfo(int unit, std::uint8_t (&info)[kInfoBytes]) {
    std::uint8_t data[kInfoBytes];
    const int r = Command(0x07, unit, -1, kInfoBytes, data, kKindUnit);
    if (r == kResultOk)
        std::memcpy(info, data, sizeof data);
    return r;
}

int PressProtocol::SetDuctor(int unit, int value) {
    const int r = Command(0x09, unit, -1, 0, nullptr, kKindDuctor);
    if (r != kResultOk)
        return r;
    const std::int32_t one = value;
    SendValueFrame(&one, 1);
    // Commit at once: its send drops whatever answer to the value frame waits.
    const int committed = Commit(unit);
    ReadReply(0, nullptr, kReplyTimeoutMs);
    return committed;
}

int PressProtocol::GetDuctor(int unit, int& value) {
    return ReadOneByte(0x0A, unit, -1, kKindDuctor, value);
}

int PressProtocol::SwitchMode(int unit, bool normal) {
    if (!serial_.IsOpen())
        return kResultPortNotOpen;
    std::uint8_t frame[4];
    frame[0] = normal ? 0x0F : 0x0B;
    frame[1] = static_cast<std::uint8_t>(unit & 0xFF);
    frame[2] = static_cast<std::uint8_t>(config_.KeysNumber() & 0xFF);
    frame[3] = FrameChecksum(frame, 3);
    currentUnit_ = unit;
    bool secondStage = false;
    int budget = kModeWaits;
    for (int send = 1; send <= 2; ++send) {
        SendFrame(frame, 4);
        std::uint8_t answer[2];
        while (ReadRaw(answer, 2, kModeTimeoutMs) == 0) {
            line_.Count(unit, LineCounters::Silent);
            if (--budget <= 0) {
                line_.TransactionEnded(unit, false);
                return kResultBadReply;
            }
        }
        const int expected = secondStage ? kModeSecondAnswer : kModeFirstAnswer;
        line_.Count(unit, answer[0] == expected ? LineCounters::Answered : LineCounters::Malformed);
        if (!secondStage) {
            if (answer[0] == kModeFirstAnswer) {
                secondStage = true;
                budget = kModeWaits;
            } else {
                events_.Emit(unit, kModeWaits - budget, kKindDuctor);
            }
        } else {
            if (answer[0] == kModeSecondAnswer)
                break;
            events_.Emit(unit, kModeWaits - budget, kKindDuctor);
        }
    }
    line_.TransactionEnded(unit, true);
    return kResultOk;
}

int PressProtocol::ExecuteDuctor(int unit) {
    return WithCompletion(0x24, unit, kKindDuctor, false);
}

int PressProtocol::ExecuteKeys(int unit) {
    return WithCompletion(0x25, unit, kKindKeys, false);
}

int PressProtocol::DuctorCalibration(int unit, bool on) {
    return Command(on ? 0x40 : 0x41, unit, -1, 0, nullptr, kKindKeys);
}

int PressProtocol::SetDuctorCycle(int unit, int value) {
    const int r = Command(0x50, unit, 0x04, 0, nullptr, kKindDuctorCycle);
    if (r != kResultOk)
        return r;
    const std::int32_t one = value;
    SendValueFrame(&one, 1);
    const int committed = Commit(unit);
    ReadReply(0, nullptr, kReplyTimeoutMs);
    config_.SetDuctorCycleLastVal(unit, value);
    return committed;
}

int PressProtocol::GetDuctorCycle(int unit, int& value) {
    return ReadOneByte(0x51, unit, -1, kKindDuctorCycle, value);
}

int PressProtocol::GetMachineType(int unit, int& value) {
    return ReadOneByte(0x52, unit, 0x01, kKindUnit, value);
}

int PressProtocol::GetMachineSpeed(int unit, int& value) {
    return ReadOneByte(0x53, unit, -1, kKindUnit, value);
}

int PressProtocol::ResetCassette(int unit) {
    return Command(0x80, unit, 0x01, 0, nullptr, kKindUnit);
}

int PressProtocol::Unsupported(int unit) {
    events_.Emit(unit, kEventRetry3, kKindUnit);
    return kResultPortNotOpen;
}

} // namespace tsr
