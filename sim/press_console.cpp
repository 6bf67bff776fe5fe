#include "press_console.h"

#include <algorithm>
#include <cstdio>

namespace tsr::sim {

namespace {

constexpr std::size_t kMaxValueFrame = 501; // 500 values and the checksum

std::uint8_t Complement(std::uint8_t v) {
    return static_cast<std::uint8_t>(0xFF - v);
}

} // namespace

std::uint8_t Checksum(const std::uint8_t* bytes, std::size_t n) {
    unsigned sum = 0;
    for (std::size_t i = 0; i < n; ++i)
        sum += bytes[i];
    return static_cast<std::uint8_t>(0xFF - (sum & 0xFF));
}

const char* OpcodeName(int opcode) {
    switch (opcode) {
    case 0x01:
        return "SetKeys";
    case 0x02:
        return "GetKeys";
    case 0x03:
        return "Commit";
    case 0x04:
        return "Reset";
    case 0x05:
        return "ZeroPosition";
    case 0x06:
        return "WorkingPosition";
    case 0x07:
        return "GetInfo";
    case 0x09:
        return "SetDuctor";
    case 0x0A:
        return "GetDuctor";
    case 0x0B:
        return "CalibrationMode";
    case 0x0F:
        return "NormalMode";
    case 0x24:
        return "ExecuteDuctor";
    case 0x25:
        return "ExecuteKeys";
    case 0x40:
        return "DuctorCalibrationOn";
    case 0x41:
        return "DuctorCalibrationOff";
    case 0x50:
        return "SetDuctorCycle";
    case 0x51:
        return "GetDuctorCycle";
    case 0x52:
        return "GetMachineType";
    case 0x53:
        return "GetMachineSpeed";
    case 0x80:
        return "ResetCassette";
    default:
        return nullptr;
    }
}

PressConsole::PressConsole(const ConsoleConfig& config) : config_(config) {
    config_.units = std::clamp(config_.units, 1, 255);
    config_.keys = std::clamp(config_.keys, 1, 500);
    units_.resize(static_cast<std::size_t>(config_.units));
    for (UnitState& u : units_) {
        u.keys.assign(static_cast<std::size_t>(config_.keys), 0);
        u.pendingKeys = u.keys;
    }
}

UnitState& PressConsole::Unit(int unit) {
    return units_[ValidUnit(unit) ? static_cast<std::size_t>(unit - 1) : 0];
}

const UnitState& PressConsole::Unit(int unit) const {
    return units_[ValidUnit(unit) ? static_cast<std::size_t>(unit - 1) : 0];
}

void PressConsole::SetUnit(int unit, const UnitState& state) {
    if (!ValidUnit(unit))
        return;
    UnitState& u = Unit(unit);
    u = state;
    u.keys.resize(static_cast<std::size_t>(Keys()), 0);
    u.pendingKeys.resize(static_cast<std::size_t>(Keys()), 0);
}

void PressConsole::AddFault(int target, const Fault& fault, int times) {
    if (times != 0)
        faults_.push_back({target, fault, times});
}

void PressConsole::ClearFaults() {
    faults_.clear();
}

std::optional<Fault> PressConsole::TakeFault(int opcode, bool value, int unit) {
    for (auto it = faults_.begin(); it != faults_.end(); ++it) {
        bool match = it->target == kAnyFrame || (value ? it->target == kValueFrame : it->target == opcode);
        if (!match || (it->fault.unit != 0 && it->fault.unit != unit))
            continue;
        Fault taken = it->fault;
        if (it->times > 0 && --it->times == 0)
            faults_.erase(it);
        return taken;
    }
    return std::nullopt;
}

void PressConsole::Note(const std::string& text) const {
    if (note_)
        note_(text);
}

void PressConsole::Receive(const std::uint8_t* bytes, std::size_t n, std::int64_t nowUs) {
    if (n == 0)
        return;
    // The line delivers one byte per character time, each after the one before.
    std::int64_t at = config_.pacing ? std::max(nowUs, receiveFreeUs_) : nowUs;
    for (std::size_t i = 0; i < n; ++i) {
        at += ByteUs();
        incoming_.push_back({at, bytes[i]});
    }
    receiveFreeUs_ = at;
    Advance(nowUs);
}

void PressConsole::SendUnasked(const std::vector<std::uint8_t>& bytes, std::int64_t nowUs) {
    if (!bytes.empty())
        Enqueue(nowUs, {Reply{0, bytes, false, nullptr}});
}

void PressConsole::Advance(std::int64_t nowUs) {
    // Byte by byte in line time, so that a gap is judged where it was on the
    // line and not by when this thread came to look.
    while (!incoming_.empty() && incoming_.front().atUs <= nowUs) {
        const Incoming in = incoming_.front();
        incoming_.pop_front();
        Expire(in.atUs);
        if (input_.empty())
            inputStartUs_ = in.atUs - ByteUs();
        input_.push_back(in.byte);
        lastInputUs_ = in.atUs;
        ParseInput(in.atUs);
    }
    Expire(nowUs);
}

void PressConsole::Expire(std::int64_t atUs) {
    const std::int64_t gapUs = static_cast<std::int64_t>(config_.valueGapMs) * 1000;
    const std::int64_t staleUs = static_cast<std::int64_t>(config_.staleFrameMs) * 1000;
    const std::int64_t waitUs = static_cast<std::int64_t>(config_.valueWaitMs) * 1000;
    if (await_ == Await::Keys && !input_.empty() && atUs - lastInputUs_ >= gapUs)
        HandleValueFrame(lastInputUs_ + gapUs);
    if (!input_.empty() && await_ != Await::Keys && atUs - lastInputUs_ >= staleUs) {
        Note("partial frame of " + std::to_string(input_.size()) + " bytes dropped");
        input_.clear();
        await_ = Await::Command;
    }
    if (await_ != Await::Command && input_.empty() && atUs - awaitSinceUs_ >= waitUs) {
        Note(std::string("no value frame for ") + OpcodeName(awaitOpcode_));
        await_ = Await::Command;
    }
}

void PressConsole::TakeFrame(std::size_t length, bool value, std::int64_t atUs, Frame& frame) {
    frame.timeUs = inputStartUs_;
    frame.value = value;
    frame.bytes.assign(input_.begin(), input_.begin() + static_cast<std::ptrdiff_t>(length));
    frame.checksumOk = Checksum(frame.bytes.data(), length - 1) == frame.bytes[length - 1];
    input_.erase(input_.begin(), input_.begin() + static_cast<std::ptrdiff_t>(length));
    // Bytes left over begin the next frame.
    inputStartUs_ = atUs - static_cast<std::int64_t>(input_.size()) * ByteUs();
    frames_.push_back(frame);
    ++framesTaken_;
}

void PressConsole::ParseInput(std::int64_t atUs) {
    for (;;) {
        if (await_ == Await::OneValue) {
            if (input_.size() < 2)
                return;
            HandleValueFrame(atUs);
            continue;
        }
        if (await_ == Await::Keys) {
            // The usual frame carries one value per key; any other length ends at a gap (Expire).
            const std::size_t full = static_cast<std::size_t>(config_.keys) + 1;
            bool complete = input_.size() >= full && Checksum(input_.data(), full - 1) == input_[full - 1];
            if (!complete && input_.size() < kMaxValueFrame)
                return;
            HandleValueFrame(atUs);
            continue;
        }
        if (input_.size() < 4)
            return;
        Frame frame;
        TakeFrame(4, false, atUs, frame);
        if (frame.checksumOk) {
            HandleCommand(frame.bytes.data(), atUs);
        } else {
            char text[96];
            std::snprintf(text, sizeof text, "frame %02X %02X %02X %02X: bad checksum, not answered",
                          frame.bytes[0], frame.bytes[1], frame.bytes[2], frame.bytes[3]);
            Note(text);
        }
    }
}

void PressConsole::HandleValueFrame(std::int64_t atUs) {
    std::size_t length = 2;
    if (await_ == Await::Keys) {
        const std::size_t full = static_cast<std::size_t>(config_.keys) + 1;
        length = std::min(input_.size(), kMaxValueFrame);
        if (input_.size() >= full && Checksum(input_.data(), full - 1) == input_[full - 1])
            length = full;
    }
    Frame frame;
    TakeFrame(length, true, atUs, frame);

    const int opcode = awaitOpcode_;
    const int unit = awaitUnit_;
    const Await kind = await_;
    await_ = Await::Command;
    char what[96];
    std::snprintf(what, sizeof what, "value frame of %zu for %s u%d", length - 1, OpcodeName(opcode), unit);
    if (!frame.checksumOk) {
        Note(std::string(what) + ": bad checksum, not answered");
        return;
    }
    Response r;
    // A key frame is answered; a single value is not: the library sends the
    // commit right behind it and reads only the commit's two replies.
    if (kind == Await::Keys)
        r.replies.push_back({0, Ack(), false, nullptr});
    std::vector<std::uint8_t> values(frame.bytes.begin(), frame.bytes.end() - 1);
    r.effect = [this, unit, opcode, kind, values] {
        UnitState& u = Unit(unit);
        if (kind == Await::Keys) {
            // Values beyond the console's keys are dropped; keys not sent keep their value.
            u.pendingKeys = u.keysPending ? u.pendingKeys : u.keys;
            std::copy_n(values.begin(), std::min(values.size(), u.pendingKeys.size()), u.pendingKeys.begin());
            u.keysPending = true;
        } else if (opcode == 0x09) {
            u.pendingDuctor = values[0];
            u.ductorPending = true;
        } else {
            u.pendingCycle = values[0];
            u.cyclePending = true;
        }
    };
    Schedule(std::move(r), TakeFault(opcode, true, unit), atUs, what);
}

void PressConsole::HandleCommand(const std::uint8_t* frame, std::int64_t atUs) {
    const int opcode = frame[0];
    const int unit = frame[1];
    const char* name = OpcodeName(opcode);
    char what[96];
    if (name)
        std::snprintf(what, sizeof what, "%s u%d (byte 2: %d)", name, unit, frame[2]);
    else
        std::snprintf(what, sizeof what, "opcode %02X u%d", opcode, unit);
    std::string text = what;
    std::optional<Fault> fault = TakeFault(opcode, false, unit);
    Response r = Answer(opcode, unit, text);
    Schedule(std::move(r), fault, atUs, text);
}

PressConsole::Response PressConsole::Answer(int opcode, int unit, std::string& what) {
    Response r;
    if (!ValidUnit(unit) || !OpcodeName(opcode)) {
        what += ": refused";
        r.replies.push_back({0, {0x01, 0xFF}, false, nullptr});
        return r;
    }
    const std::int64_t movementUs = static_cast<std::int64_t>(config_.movementMs) * 1000;
    UnitState& u = Unit(unit);
    if (opcode != 0x0B && opcode != 0x0F)
        u.modeStage = 0;
    auto data2 = [](std::uint8_t v) { return std::vector<std::uint8_t>{0x00, 0xFF, v, Complement(v)}; };
    // The console waits for the value frame from its acknowledgement on, unless
    // another frame came in while that acknowledgement was held back: the library
    // has moved on, and a late acknowledgement is only a stray reply then.
    auto awaitValues = [this, opcode, unit](Await kind) {
        return [this, opcode, unit, kind, frame = framesTaken_](std::int64_t startUs) {
            if (frame != framesTaken_) {
                Note(std::string("late acknowledgement of ") + OpcodeName(opcode) +
                     ": no value frame awaited");
                return;
            }
            await_ = kind;
            awaitOpcode_ = opcode;
            awaitUnit_ = unit;
            awaitSinceUs_ = startUs;
        };
    };
    switch (opcode) {
    case 0x01:
        r.replies.push_back({0, Ack(), false, awaitValues(Await::Keys)});
        break;
    case 0x09:
    case 0x50:
        r.replies.push_back({0, Ack(), false, awaitValues(Await::OneValue)});
        break;
    case 0x02: {
        std::vector<std::uint8_t> reply = Ack();
        reply.insert(reply.end(), u.keys.begin(), u.keys.end());
        reply.push_back(Checksum(u.keys.data(), u.keys.size()));
        r.replies.push_back({0, reply, false, nullptr});
        break;
    }
    case 0x03:
        r.effect = [&u] {
            if (u.keysPending)
                u.keys = u.pendingKeys;
            if (u.ductorPending)
                u.ductor = u.pendingDuctor;
            if (u.cyclePending)
                u.ductorCycle = u.pendingCycle;
            u.keysPending = u.ductorPending = u.cyclePending = false;
            ++u.commits;
        };
        r.replies.push_back({0, Ack(), false, nullptr});
        r.replies.push_back({static_cast<std::int64_t>(config_.extraReplyMs) * 1000, Ack(), false, nullptr});
        break;
    case 0x04:
        r.effect = [&u] {
            u.keysPending = u.ductorPending = u.cyclePending = false;
            u.ductorCalibration = false;
            ++u.resets;
        };
        r.replies.push_back({0, Ack(), false, nullptr});
        break;
    case 0x05:
    case 0x06: {
        const Position target = opcode == 0x05 ? Position::Zero : Position::Working;
        r.effect = [&u] { u.position = Position::Moving; };
        r.replies.push_back({0, Ack(), false, nullptr});
        r.replies.push_back({movementUs, Ack(), false, [&u, target](std::int64_t) { u.position = target; }});
        break;
    }
    case 0x24:
    case 0x25:
        r.effect = [&u, opcode] { ++(opcode == 0x24 ? u.ductorExecutions : u.keyExecutions); };
        r.replies.push_back({0, Ack(), false, nullptr});
        r.replies.push_back({movementUs, Ack(), false, nullptr});
        break;
    case 0x07: {
        std::vector<std::uint8_t> reply = Ack();
        std::uint8_t info[11] = {};
        info[0] = static_cast<std::uint8_t>(unit);
        info[1] = static_cast<std::uint8_t>(config_.keys & 0xFF);
        info[2] = static_cast<std::uint8_t>(config_.keys >> 8);
        std::copy(u.status.begin(), u.status.end(), info + 3);
        info[9] |= static_cast<std::uint8_t>(
            (u.position == Position::Working ? 0x01 : 0) | (u.position == Position::Zero ? 0x02 : 0) |
            (u.position == Position::Moving ? 0x04 : 0) | (u.mode == Mode::Calibration ? 0x08 : 0) |
            (u.ductorCalibration ? 0x10 : 0) |
            (u.keysPending || u.ductorPending || u.cyclePending ? 0x20 : 0));
        info[10] = Checksum(info, 10);
        reply.insert(reply.end(), info, info + 11);
        r.replies.push_back({0, reply, false, nullptr});
        break;
    }
    case 0x0A:
        r.replies.push_back({0, data2(u.ductor), false, nullptr});
        break;
    case 0x51:
        r.replies.push_back({0, data2(u.ductorCycle), false, nullptr});
        break;
    case 0x52:
        r.replies.push_back({0, data2(config_.machineType), false, nullptr});
        break;
    case 0x53:
        r.replies.push_back({0, data2(config_.machineSpeed), false, nullptr});
        break;
    case 0x0B:
    case 0x0F: {
        // First frame: 80 and the mode it is in; the same frame again: 81 and the new mode.
        const Mode target = opcode == 0x0B ? Mode::Calibration : Mode::Normal;
        auto modeByte = [](Mode m) { return static_cast<std::uint8_t>(m == Mode::Calibration ? 1 : 0); };
        if (u.modeStage != opcode) {
            r.effect = [&u, opcode] { u.modeStage = opcode; };
            r.replies.push_back({0, {0x80, modeByte(u.mode)}, false, nullptr});
        } else {
            r.effect = [&u, target] {
                u.mode = target;
                u.modeStage = 0;
            };
            r.replies.push_back({0, {0x81, modeByte(target)}, false, nullptr});
        }
        break;
    }
    case 0x40:
    case 0x41:
        r.effect = [&u, opcode] { u.ductorCalibration = opcode == 0x40; };
        r.replies.push_back({0, Ack(), false, nullptr});
        break;
    case 0x80:
        r.effect = [&u] { ++u.cassetteResets; };
        r.replies.push_back({0, Ack(), false, nullptr});
        break;
    default:
        break;
    }
    return r;
}

void PressConsole::Schedule(Response r, const std::optional<Fault>& fault, std::int64_t frameEndUs,
                            const std::string& what) {
    // The console takes a moment to work out its answer.
    const std::int64_t base = frameEndUs + (config_.pacing ? config_.processingUs : 0);
    std::string text = what;
    if (fault) {
        const std::int64_t delayUs = static_cast<std::int64_t>(fault->delayMs) * 1000;
        switch (fault->kind) {
        case FaultKind::NoAnswer:
            Note(text + ": no answer (fault)");
            return;
        case FaultKind::HangUp:
            Note(text + ": hang-up (fault)");
            queue_.clear();
            line_ = Transmission{};
            Enqueue(base + delayUs, {Reply{0, {}, true, nullptr}});
            return;
        case FaultKind::BadAnswer: {
            Reply first = r.replies.empty() ? Reply{} : r.replies.front();
            first.bytes.resize(std::max<std::size_t>(first.bytes.size(), 2));
            first.bytes[0] = 0x01;
            first.bytes[1] = 0xFF;
            first.onStart = nullptr;
            r.replies.assign(1, first);
            r.effect = nullptr;
            text += ": bad answer (fault)";
            break;
        }
        case FaultKind::ShortAnswer:
            if (!r.replies.empty() && r.replies.front().bytes.size() > 1)
                r.replies.front().bytes.pop_back();
            text += ": short answer (fault)";
            break;
        case FaultKind::StrayBytes:
            if (!r.replies.empty() && delayUs == 0) {
                auto& b = r.replies.front().bytes;
                b.insert(b.end(), fault->stray.begin(), fault->stray.end());
            } else {
                // On their own, delayMs after the answer was due; the rest of the answer keeps its time.
                const std::int64_t at = base + (r.replies.empty() ? 0 : r.replies.front().gapUs) + delayUs;
                Enqueue(at, {Reply{0, fault->stray, false, nullptr}});
            }
            text += ": stray bytes (fault)";
            break;
        case FaultKind::Delay:
            // The replies after the first keep their distance from it.
            if (!r.replies.empty())
                r.replies.front().gapUs += delayUs;
            text += ": delayed (fault)";
            break;
        }
    }
    if (config_.badChecksumEvery > 0) {
        for (Reply& reply : r.replies) {
            if (reply.bytes.empty() || ++repliesMade_ % static_cast<std::uint64_t>(config_.badChecksumEvery) != 0)
                continue;
            reply.bytes.back() = static_cast<std::uint8_t>(~reply.bytes.back());
            text += ": bad checksum (fault)";
        }
    }
    Note(text);
    if (r.effect)
        r.effect();
    if (r.replies.empty())
        return;
    const std::int64_t due = base + r.replies.front().gapUs;
    Enqueue(due, std::deque<Reply>(std::make_move_iterator(r.replies.begin()),
                                   std::make_move_iterator(r.replies.end())));
}

void PressConsole::Enqueue(std::int64_t dueUs, std::deque<Reply> replies) {
    auto at = std::upper_bound(queue_.begin(), queue_.end(), dueUs,
                               [](std::int64_t due, const Pending& p) { return due < p.dueUs; });
    queue_.insert(at, Pending{dueUs, std::move(replies)});
}

void PressConsole::Transmit(std::int64_t nowUs, std::vector<Output>& out) {
    for (;;) {
        if (line_.active) {
            const std::vector<std::uint8_t>& bytes = line_.reply.bytes;
            // A byte is written when its last bit has crossed the line.
            std::size_t due = bytes.size();
            if (config_.pacing)
                due = std::min<std::size_t>(bytes.size(),
                                            static_cast<std::size_t>((nowUs - line_.startUs) / kByteTimeUs));
            // Paced, each byte goes out on its own, also when this thread comes late.
            const std::size_t step = config_.pacing ? 1 : bytes.size();
            while (line_.sent < due) {
                const std::size_t end = std::min(due, line_.sent + step);
                Output o;
                o.bytes.assign(bytes.begin() + static_cast<std::ptrdiff_t>(line_.sent),
                               bytes.begin() + static_cast<std::ptrdiff_t>(end));
                o.replyEnds = end == bytes.size();
                out.push_back(std::move(o));
                line_.sent = end;
            }
            if (line_.sent < bytes.size())
                return;
            // What follows is timed from when this reply really went out.
            sendFreeUs_ = nowUs;
            if (!line_.rest.empty()) {
                const std::int64_t next = nowUs + line_.rest.front().gapUs;
                Enqueue(next, std::move(line_.rest));
            }
            line_ = Transmission{};
        }
        if (queue_.empty() || queue_.front().dueUs > nowUs)
            return;
        Pending pending = std::move(queue_.front());
        queue_.pop_front();
        Reply reply = std::move(pending.replies.front());
        pending.replies.pop_front();
        if (reply.hangUp) {
            out.push_back({{}, true, false});
            queue_.clear();
            return;
        }
        line_.active = true;
        line_.startUs = std::max(pending.dueUs, sendFreeUs_);
        line_.sent = 0;
        line_.rest = std::move(pending.replies);
        // Passed the time this side really came to send: a value frame's wait
        // must not run out before the library could have seen the acknowledgement.
        if (reply.onStart)
            reply.onStart(nowUs);
        line_.reply = std::move(reply);
    }
}

std::vector<Output> PressConsole::Tick(std::int64_t nowUs) {
    std::vector<Output> out;
    Advance(nowUs);
    Transmit(nowUs, out);
    return out;
}

std::int64_t PressConsole::NextDeadlineUs() const {
    std::int64_t next = -1;
    auto consider = [&next](std::int64_t t) {
        if (next < 0 || t < next)
            next = t;
    };
    if (!incoming_.empty())
        consider(incoming_.front().atUs);
    if (line_.active)
        consider(line_.startUs + static_cast<std::int64_t>(line_.sent + 1) * ByteUs());
    else if (!queue_.empty())
        consider(std::max(queue_.front().dueUs, sendFreeUs_));
    if (!input_.empty())
        consider(lastInputUs_ + static_cast<std::int64_t>(await_ == Await::Keys ? config_.valueGapMs
                                                                                : config_.staleFrameMs) *
                                    1000);
    if (await_ != Await::Command && input_.empty())
        consider(awaitSinceUs_ + static_cast<std::int64_t>(config_.valueWaitMs) * 1000);
    return next;
}

} // namespace tsr::sim
