// tsr::SerialPort over a ScriptedLine instead of a device.
#include "platform/serial_port.h"
#include "scripted_line.h"

#include <algorithm>

namespace tsr {
namespace fuzz {
namespace {

ScriptedLine* current = nullptr;

} // namespace

void UseLine(ScriptedLine* line) {
    current = line;
}

std::tm VirtualClock::LocalTime(std::time_t t) const {
    std::tm out{};
    ::gmtime_r(&t, &out);
    return out;
}

std::tm VirtualClock::UtcTime(std::time_t t) const {
    std::tm out{};
    ::gmtime_r(&t, &out);
    return out;
}

void ScriptedLine::LoadScript(const std::uint8_t* data, std::size_t size) {
    std::size_t i = 0;
    while (i + 2 <= size) {
        Chunk c;
        const std::uint8_t control = data[i];
        const std::size_t length = std::min<std::size_t>(data[i + 1], size - i - 2);
        c.afterWrite = (control & 0x80) != 0;
        c.delayMs = (control & 0x7F) * 5;
        c.hangUp = (control & 0x7F) == 0x7F && length == 0;
        c.bytes.assign(data + i + 2, data + i + 2 + length);
        chunks_.push_back(std::move(c));
        i += 2 + length;
    }
    next_ = 0;
    anchorMs_ = clock_.MonotonicMs();
    anchored_ = chunks_.empty() || !chunks_.front().afterWrite;
}

void ScriptedLine::EndScript() {
    next_ = chunks_.size();
}

std::int64_t ScriptedLine::NextDueMs() const {
    if (next_ >= chunks_.size() || !anchored_)
        return -1;
    return anchorMs_ + chunks_[next_].delayMs;
}

void ScriptedLine::Release() {
    for (;;) {
        const std::int64_t due = NextDueMs();
        if (due < 0 || due > clock_.MonotonicMs())
            return;
        const Chunk& c = chunks_[next_++];
        if (c.hangUp) {
            lost = true;
            available_.clear();
            next_ = chunks_.size();
            return;
        }
        available_.insert(available_.end(), c.bytes.begin(), c.bytes.end());
        anchorMs_ = due;
        anchored_ = next_ >= chunks_.size() || !chunks_[next_].afterWrite;
    }
}

int ScriptedLine::BytesWaiting() {
    Release();
    return static_cast<int>(available_.size() - readAt_);
}

bool ScriptedLine::WaitForInput(int ms) {
    if (BytesWaiting() > 0)
        return true;
    if (lost)
        return false;
    const std::int64_t due = NextDueMs();
    const std::int64_t end = clock_.MonotonicMs() + std::max(ms, 0);
    if (due >= 0 && due <= end) {
        clock_.AdvanceTo(due);
        return BytesWaiting() > 0;
    }
    clock_.AdvanceTo(end);
    return false;
}

bool ScriptedLine::ReadByte(std::uint8_t& byte, int timeoutMs, bool& blocksForEver) {
    blocksForEver = false;
    if (timeoutMs > 0) {
        if (!WaitForInput(timeoutMs))
            return false;
    } else {
        while (BytesWaiting() <= 0) {
            const std::int64_t due = NextDueMs();
            if (lost || due < 0) {
                blocksForEver = !lost;
                return false;
            }
            clock_.AdvanceTo(due);
        }
    }
    byte = available_[readAt_++];
    if (readAt_ == available_.size()) {
        available_.clear();
        readAt_ = 0;
    }
    readSinceWrite_.push_back(byte);
    return true;
}

void ScriptedLine::Write(const std::uint8_t* bytes, int count) {
    writes_.emplace_back(bytes, bytes + count);
    readSinceWrite_.clear();
    if (!anchored_ && next_ < chunks_.size()) {
        anchored_ = true;
        anchorMs_ = clock_.MonotonicMs();
    }
    if (answerAll_ && count == 4)
        available_.insert(available_.end(), {0x00, 0xFF});
}

} // namespace fuzz

struct SerialPort::Impl {
    fuzz::ScriptedLine* line = nullptr;
};

SerialPort::SerialPort() : impl_(std::make_unique<Impl>()) {}

SerialPort::~SerialPort() = default;

bool SerialPort::Open(const std::string&) {
    impl_->line = fuzz::current;
    if (impl_->line == nullptr)
        return false;
    impl_->line->open = true;
    return true;
}

bool SerialPort::ReadSettings() {
    return impl_->line != nullptr;
}

bool SerialPort::Apply(const LineSettings&) {
    return impl_->line != nullptr;
}

bool SerialPort::SetQueueSizes(int) {
    return IsOpen();
}

void SerialPort::Purge() {
    if (impl_->line != nullptr)
        impl_->line->Purge();
}

void SerialPort::Close() {
    if (impl_->line != nullptr)
        impl_->line->open = false;
    impl_->line = nullptr;
}

bool SerialPort::IsOpen() const {
    return impl_->line != nullptr && impl_->line->open && !impl_->line->lost;
}

bool SerialPort::Lost() const {
    return impl_->line != nullptr && impl_->line->lost;
}

int SerialPort::BytesWaiting() {
    return IsOpen() ? impl_->line->BytesWaiting() : -1;
}

bool SerialPort::WaitForInput(int ms) {
    return IsOpen() && impl_->line->WaitForInput(ms);
}

SerialPort::ReadResult SerialPort::ReadByte(std::uint8_t& byte, int timeoutMs) {
    if (!IsOpen())
        return ReadResult::Failed;
    bool forEver = false;
    if (impl_->line->ReadByte(byte, timeoutMs, forEver))
        return ReadResult::Byte;
    // A read without a time-out that nothing will ever end: the real port
    // would hang the press link here.
    if (forEver)
        __builtin_trap();
    return impl_->line->lost ? ReadResult::Failed : ReadResult::TimedOut;
}

bool SerialPort::Write(const std::uint8_t* bytes, int count, int& written) {
    written = 0;
    if (!IsOpen())
        return false;
    impl_->line->Write(bytes, count);
    written = count;
    return true;
}

std::string SerialPort::LastErrorText() const {
    return "line lost";
}

} // namespace tsr
