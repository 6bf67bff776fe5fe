#include "line_check.h"

#include <algorithm>
#include <cstdio>

namespace {

constexpr std::int64_t kByteUs = tsr::sim::PressConsole::kByteTimeUs;
constexpr std::size_t kHistory = 6;
constexpr std::size_t kReports = 10;
constexpr int kAttempts = 3; // the library sends a command at most three times

bool IsWrite(int opcode) {
    return opcode == 0x01 || opcode == 0x09 || opcode == 0x50;
}

bool IsMovement(int opcode) {
    return opcode == 0x05 || opcode == 0x06 || opcode == 0x24 || opcode == 0x25;
}

} // namespace

LineCheck::LineCheck(Options options) : options_(options) {}

void LineCheck::FaultAt(std::int64_t timeUs) {
    faults_.push_back(timeUs);
}

void LineCheck::Take(const std::vector<tsr::sim::Frame>& frames) {
    for (const tsr::sim::Frame& frame : frames) {
        waiting_.push_back({frame, breakPending_});
        breakPending_ = false;
    }
    while (!waiting_.empty() && waiting_.front().frame.timeUs <= waiting_.back().frame.timeUs - kSettleUs) {
        Judge(waiting_.front().frame, waiting_.front().afterBreak);
        waiting_.pop_front();
    }
}

void LineCheck::Flush() {
    for (const Waiting& w : waiting_)
        Judge(w.frame, w.afterBreak);
    waiting_.clear();
}

bool LineCheck::InFaultWindow(std::int64_t timeUs) const {
    for (std::int64_t fault : faults_)
        // A frame's time is that of its first byte; the fault is noted once its last byte is in.
        if (timeUs >= fault - 100'000 && timeUs <= fault + kFaultWindowUs)
            return true;
    return false;
}

// Bytes of the console's answer that the library waits for before it sends again.
int LineCheck::ReplyBytes(int opcode, int unit) const {
    if (unit < 1 || unit > options_.units || tsr::sim::OpcodeName(opcode) == nullptr)
        return 2; // refused at once
    switch (opcode) {
    case 0x02:
        return 2 + options_.keys + 1;
    case 0x07:
        return 2 + 11;
    case 0x0A:
    case 0x51:
    case 0x52:
    case 0x53:
        return 4;
    default:
        return 2;
    }
}

std::int64_t LineCheck::MinimumGapUs(const Seen& before) const {
    const tsr::sim::Frame& f = before.frame;
    if (f.value) // a key frame's acknowledgement is read; a ductor value is committed at once
        return before.writeOpcode == 0x01 ? static_cast<std::int64_t>(f.bytes.size() + 2) * kByteUs : 0;
    const int opcode = f.bytes[0];
    const int unit = f.bytes[1];
    const std::int64_t answered = (4 + ReplyBytes(opcode, unit)) * kByteUs;
    const bool served = unit >= 1 && unit <= options_.units;
    if (served && IsMovement(opcode))
        return std::max<std::int64_t>(answered, static_cast<std::int64_t>(options_.movementMs) * 1000);
    if (served && opcode == 0x03) // the commit's second acknowledgement comes 20 ms after the first
        return 20'000 + answered;
    return answered;
}

std::string LineCheck::Describe(const tsr::sim::Frame& frame) {
    std::string text;
    char part[16];
    std::snprintf(part, sizeof part, "%10.3f ", static_cast<double>(frame.timeUs) / 1000.0);
    text += part;
    text += frame.value ? "value " : "      ";
    const std::size_t shown = std::min<std::size_t>(frame.bytes.size(), 8);
    for (std::size_t i = 0; i < shown; ++i) {
        std::snprintf(part, sizeof part, "%02X ", frame.bytes[i]);
        text += part;
    }
    if (shown < frame.bytes.size())
        text += "... (" + std::to_string(frame.bytes.size()) + " bytes)";
    if (!frame.checksumOk)
        text += " bad checksum";
    return text;
}

std::string LineCheck::Describe(const Seen& seen) {
    return Describe(seen.frame) + (seen.lenient ? " (after a fault)" : "");
}

void LineCheck::Report(const std::string& what) {
    if (reports_.size() >= kReports)
        return;
    std::string report = what + "\n";
    for (const Seen& seen : history_)
        report += "    " + Describe(seen) + "\n";
    reports_.push_back(report);
}

void LineCheck::Violation(const std::string& what, std::int64_t timeUs) {
    if (lastLenientUs_ >= 0 && timeUs - lastLenientUs_ <= kFaultWindowUs) {
        // Still out of step after a fault.
        ++afterFaults_;
        lastLenientUs_ = timeUs;
        if (episodeStartUs_ < 0) {
            episodeStartUs_ = timeUs;
            ++episodes_;
        }
        const std::int64_t length = timeUs - episodeStartUs_;
        longestEpisodeUs_ = std::max(longestEpisodeUs_, length);
        if (length > kEpisodeLimitUs && !episodeTooLong_) {
            episodeTooLong_ = true;
            ++violations_;
            Report("the line stayed out of step for more than " +
                   std::to_string(kEpisodeLimitUs / 1'000'000) + " s after a fault");
        }
        return;
    }
    ++violations_;
    Report(what);
}

void LineCheck::Judge(const tsr::sim::Frame& frame, bool afterBreak) {
    ++frames_;
    if (afterBreak)
        history_.clear();
    while (!faults_.empty() && faults_.front() + kFaultWindowUs < frame.timeUs)
        faults_.pop_front();
    Seen now{frame, InFaultWindow(frame.timeUs)};
    if (now.lenient) {
        ++lenient_;
        lastLenientUs_ = frame.timeUs;
    }
    if (episodeStartUs_ >= 0 && frame.timeUs - lastLenientUs_ > kFaultWindowUs) {
        episodeStartUs_ = -1; // the episode has ended
        episodeTooLong_ = false;
    }
    const Seen* before = history_.empty() ? nullptr : &history_.back();
    const int opcode = frame.bytes.empty() ? -1 : frame.bytes[0];
    const int unit = frame.bytes.size() > 1 ? frame.bytes[1] : -1;

    if (!frame.value) {
        ++transactions_;
        if (before && !before->frame.value && before->frame.bytes == frame.bytes)
            now.attempt = before->attempt + 1;
    }
    // A value frame and the commits after it belong to the write that asked for the values.
    if (before && frame.value && !before->frame.value && IsWrite(before->frame.bytes[0])) {
        now.writeOpcode = before->frame.bytes[0];
        now.writeUnit = before->frame.bytes[1];
    } else if (before && !frame.value && opcode == 0x03 && before->writeOpcode != 0 &&
               before->writeUnit == unit) {
        now.writeOpcode = before->writeOpcode;
        now.writeUnit = unit;
    }

    history_.push_back(now);
    if (history_.size() > kHistory)
        history_.erase(history_.begin());
    before = history_.size() > 1 ? &history_[history_.size() - 2] : nullptr;

    if (now.lenient)
        return;
    if (!frame.checksumOk || frame.bytes.size() < (frame.value ? 1u : 4u)) {
        Violation("a frame that is not whole", frame.timeUs);
        return;
    }
    if (before == nullptr || before->lenient)
        return;
    const tsr::sim::Frame& b = before->frame;
    const int beforeOpcode = b.value ? -1 : b.bytes[0];
    const int beforeUnit = b.value ? before->writeUnit : b.bytes[1];
    const bool beforeServed = beforeUnit >= 1 && beforeUnit <= options_.units;

    if (frame.value) {
        if (now.writeOpcode == 0)
            Violation("a value frame without the command that asks for it", frame.timeUs);
        else if (frame.bytes.size() !=
                 (now.writeOpcode == 0x01 ? static_cast<std::size_t>(options_.keys) + 1 : 2u))
            Violation("a value frame of the wrong length", frame.timeUs);
    }
    if (!b.value && IsWrite(beforeOpcode) && beforeServed && !frame.value && now.attempt == 1 &&
        before->attempt < kAttempts)
        Violation("a command between a write and its values", frame.timeUs);
    if (b.value && before->writeOpcode != 0 && (frame.value || opcode != 0x03 || unit != before->writeUnit))
        Violation("a frame between values and their commit", frame.timeUs);
    if (!b.value && beforeOpcode == 0x03 && (before->writeOpcode == 0x01 || before->writeOpcode == 0x09) &&
        before->attempt < kAttempts && (frame.value || unit != beforeUnit))
        Violation("a frame of another unit inside a unit's write", frame.timeUs);
    const std::int64_t gap = frame.timeUs - b.timeUs;
    const std::int64_t minimum = MinimumGapUs(*before) * 9 / 10 - 1000;
    if (gap < minimum)
        Violation("a frame " + std::to_string(gap / 1000) + " ms after the one before, while its answer (" +
                      std::to_string(MinimumGapUs(*before) / 1000) + " ms) was still due",
                  frame.timeUs);
}
