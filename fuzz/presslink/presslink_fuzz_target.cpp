// One press transaction against a console that answers with whatever bytes
// the input holds, in chunks and with delays of its choosing, then a commit
// against a console that answers properly: results, outputs, frames and
// events must stay within what the protocol allows, and leftover bytes must
// never spoil the next transaction. Built as a libFuzzer target here and as
// the corpus replayer of the fuzz tests.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <tuple>
#include <vector>

#include "config/configuration.h"
#include "log/activity_log.h"
#include "platform/file_system.h"
#include "presslink/press_protocol.h"
#include "presslink/serial_channel.h"
#include "scripted_line.h"
#include "session/event_sink.h"

namespace {

using tsr::PressProtocol;

void Check(bool condition) {
    if (!condition)
        __builtin_trap();
}

std::vector<std::tuple<int, int, int>>& Events() {
    static std::vector<std::tuple<int, int, int>> events;
    return events;
}

void OnEvent(std::int32_t unit, std::int32_t code, std::int32_t kind) {
    Events().emplace_back(unit, code, kind);
}

enum Op {
    kSetKeys,
    kGetKeys,
    kCommit,
    kReset,
    kZero,
    kWorking,
    kInfo,
    kSetDuctor,
    kGetDuctor,
    kCalibrationMode,
    kNormalMode,
    kExecuteDuctor,
    kExecuteKeys,
    kDuctorCalibrationOn,
    kDuctorCalibrationOff,
    kSetCycle,
    kGetCycle,
    kMachineType,
    kMachineSpeed,
    kResetCassette,
    kReadReply,
    kOpCount
};

constexpr std::int32_t kUntouched = -77;

// Whether every frame the library sent carries its checksum, and how many
// command frames (4 bytes) there were.
int CheckedCommandFrames(const std::vector<std::vector<std::uint8_t>>& writes) {
    int commands = 0;
    for (const auto& w : writes) {
        Check(!w.empty() && w.size() <= PressProtocol::kMaxValues + 1);
        Check(w.back() == PressProtocol::FrameChecksum(w.data(), static_cast<int>(w.size()) - 1));
        if (w.size() == 4)
            ++commands;
    }
    return commands;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 4)
        return 0;
    static std::unique_ptr<tsr::FileSystem> fs = tsr::MakeFileSystem();
    tsr::fuzz::VirtualClock clock;
    tsr::Configuration config(*fs); // no file: setters change only the members
    const int keysNumber = data[2];
    config.SetKeysNumber(keysNumber);
    config.SetUnitNumber(4);
    tsr::ActivityLog log(clock, *fs); // no folder: writes nothing
    tsr::EventSink events;
    events.SetCallback(&OnEvent);
    Events().clear();

    tsr::fuzz::ScriptedLine line(clock);
    tsr::fuzz::UseLine(&line);
    tsr::SerialChannel serial;
    std::string error;
    Check(serial.Open("COM1", 9600, "N", 8, 1, false, false, 8192, error));
    line.LoadScript(data + 4, size - 4);
    PressProtocol protocol(serial, log, config, events, clock);

    const int op = data[0] % kOpCount;
    const int unit = data[1];
    const int count = data[3] * 2; // beyond 500 on purpose: the protocol limits it
    const int limited = count > PressProtocol::kMaxValues ? PressProtocol::kMaxValues : count;

    std::vector<std::int32_t> values(PressProtocol::kMaxValues + 8, kUntouched);
    std::int32_t value = kUntouched;
    std::uint8_t info[PressProtocol::kInfoBytes];
    for (auto& b : info)
        b = 0xA5;
    std::uint8_t reply[PressProtocol::kReplyBufferSize];
    int r = -1;
    // Data bytes the result came from: the reply that followed the last frame.
    int dataBytes = 0;
    switch (op) {
    case kSetKeys:
        for (int i = 0; i < limited; ++i)
            values[static_cast<std::size_t>(i)] =
                static_cast<std::int32_t>(data[(i + 4) % size]) - (i % 3) * 256;
        r = protocol.SetKeys(unit, values.data(), count);
        break;
    case kGetKeys:
        r = protocol.GetKeys(unit, values.data(), count);
        dataBytes = limited;
        break;
    case kCommit:
        r = protocol.Commit(unit);
        break;
    case kReset:
        r = protocol.Reset(unit);
        break;
    case kZero:
        r = protocol.ZeroPosition(unit);
        break;
    case kWorking:
        r = protocol.WorkingPosition(unit);
        break;
    case kInfo:
        r = protocol.GetInfo(unit, info);
        break;
    case kSetDuctor:
        r = protocol.SetDuctor(unit, data[3]);
        break;
    case kGetDuctor:
        r = protocol.GetDuctor(unit, value);
        dataBytes = 1;
        break;
    case kCalibrationMode:
    case kNormalMode:
        r = protocol.SwitchMode(unit, op == kNormalMode);
        break;
    case kExecuteDuctor:
        r = protocol.ExecuteDuctor(unit);
        break;
    case kExecuteKeys:
        r = protocol.ExecuteKeys(unit);
        break;
    case kDuctorCalibrationOn:
    case kDuctorCalibrationOff:
        r = protocol.DuctorCalibration(unit, op == kDuctorCalibrationOn);
        break;
    case kSetCycle:
        r = protocol.SetDuctorCycle(unit, data[3]);
        break;
    case kGetCycle:
        r = protocol.GetDuctorCycle(unit, value);
        dataBytes = 1;
        break;
    case kMachineType:
        r = protocol.GetMachineType(unit, value);
        dataBytes = 1;
        break;
    case kMachineSpeed:
        r = protocol.GetMachineSpeed(unit, value);
        dataBytes = 1;
        break;
    case kResetCassette:
        r = protocol.ResetCassette(unit);
        break;
    case kReadReply:
        r = protocol.ReadReply(count, reply, 500);
        break;
    }

    Check(r >= 0 && r <= 3);
    Check(r != 1 || line.lost);
    const int commands = CheckedCommandFrames(line.Writes());
    // Three attempts, and three more for the commit of a setting command.
    Check(commands <= 2 * PressProtocol::kAttempts);
    if (op == kCalibrationMode || op == kNormalMode)
        Check(commands <= 2);
    for (const auto& [u, code, kind] : Events()) {
        Check(kind >= 0 && kind <= 3);
        if (code == 10)
            Check(u == 0 && kind == 0);
        else
            Check(u == unit && code >= 0 && code <= 4);
    }

    // Outputs only on success, and then the data bytes of the reply.
    const std::vector<std::uint8_t>& got = line.ReadSinceWrite();
    if (op == kGetKeys) {
        for (int i = 0; i < limited; ++i) {
            const std::int32_t v = values[static_cast<std::size_t>(i)];
            if (r != 0)
                Check(v == kUntouched);
            else
                Check(static_cast<std::size_t>(i + 2) < got.size() &&
                      v == got[static_cast<std::size_t>(i + 2)]);
        }
        Check(values[static_cast<std::size_t>(limited)] == kUntouched);
    } else if (dataBytes == 1) {
        Check(r == 0 ? got.size() >= 4 && value == got[2] : value == kUntouched);
    } else if (op == kInfo) {
        for (int i = 0; i < PressProtocol::kInfoBytes; ++i)
            Check(r == 0 ? got.size() >= 13 && info[i] == got[static_cast<std::size_t>(i + 2)]
                         : info[i] == 0xA5);
    }
    if (r == 0 && op != kCalibrationMode && op != kNormalMode && op != kReadReply && got.size() >= 2 &&
        (dataBytes > 0 || op == kInfo))
        Check(got[0] == 0x00 && got[1] == 0xFF);

    // Whatever the console left on the line, a proper answer is taken next.
    line.EndScript();
    line.AnswerEveryCommand(true);
    Events().clear();
    const int next = protocol.Commit(unit);
    Check(next == (line.lost ? 1 : 0));
    Check(Events().empty());

    serial.Close();
    tsr::fuzz::UseLine(nullptr);
    return 0;
}
