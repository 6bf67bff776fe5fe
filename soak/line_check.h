#pragma once

#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "press_console.h"

// Reads what the console took from the line as a sequence of whole
// transactions and counts every place where the frames of two operations
// would have met: a value frame without its command, a command between a
// value frame and its commit, a frame of another unit inside a unit's write,
// a frame sent while the console was still answering the one before (a
// movement's completion included), a bad checksum.
//
// The console's own faults make the library retry and resend in ways a clean
// line never shows; frames within a short window after an injected fault are
// therefore judged only for being whole, not for their order. A late answer
// can also leave the line out of step for a while (the next command reads the
// answer meant for the one before, and so on) until the line falls quiet: a
// break of the rules within kFaultWindowUs of such an episode belongs to it
// and is counted apart. An episode that does not end within kEpisodeLimitUs
// is a violation of its own.
class LineCheck {
public:
    struct Options {
        int units = 4;        // the console's units; other unit numbers are refused at once
        int keys = 24;        // values in a key value frame
        int movementMs = 300; // the console's time from acknowledgement to completion
    };

    explicit LineCheck(Options options);

    // A fault the console applied at this time (the console's clock).
    void FaultAt(std::int64_t timeUs);
    // Frames in the order the console took them, in any number of pieces.
    // Each is judged once frames at least kSettleUs younger have arrived, so
    // that the note of a fault applied to it has been seen first.
    void Take(const std::vector<tsr::sim::Frame>& frames);
    // Frames may be missing between the last frame taken and the next: the
    // next one is not judged against those before it.
    void Break() { breakPending_ = true; }
    // Judges what is still waiting (at the end of the run).
    void Flush();

    long Frames() const { return frames_; }
    long Transactions() const { return transactions_; }
    long Lenient() const { return lenient_; }
    long Violations() const { return violations_; }
    // Breaks of the rules that followed a fault, and in how many episodes.
    long AfterFaults() const { return afterFaults_; }
    long Episodes() const { return episodes_; }
    std::int64_t LongestEpisodeUs() const { return longestEpisodeUs_; }
    // The first violations, each with the frames before it.
    const std::vector<std::string>& Reports() const { return reports_; }

    // One line: the console's time in ms, the bytes, whether the checksum holds.
    static std::string Describe(const tsr::sim::Frame& frame);

    static constexpr std::int64_t kSettleUs = 3'000'000;
    static constexpr std::int64_t kFaultWindowUs = 1'600'000;
    static constexpr std::int64_t kEpisodeLimitUs = 30'000'000;

private:
    struct Seen {
        tsr::sim::Frame frame;
        bool lenient = false;
        int attempt = 1;     // how many times in a row this very frame was sent
        int writeOpcode = 0; // for a value frame and its commits: the 01/09/50 they belong to
        int writeUnit = -1;
    };

    void Judge(const tsr::sim::Frame& frame, bool afterBreak);
    bool InFaultWindow(std::int64_t timeUs) const;
    std::int64_t MinimumGapUs(const Seen& before) const;
    int ReplyBytes(int opcode, int unit) const;
    void Violation(const std::string& what, std::int64_t timeUs);
    void Report(const std::string& what);
    static std::string Describe(const Seen& seen);

    struct Waiting {
        tsr::sim::Frame frame;
        bool afterBreak = false;
    };

    Options options_;
    std::deque<Waiting> waiting_;
    bool breakPending_ = false;
    std::deque<std::int64_t> faults_; // times of recent faults
    std::vector<Seen> history_;       // the last few judged frames, newest last
    long frames_ = 0;
    long transactions_ = 0;
    long lenient_ = 0;
    long violations_ = 0;
    long afterFaults_ = 0;
    long episodes_ = 0;
    std::int64_t lastLenientUs_ = -1;  // the last frame judged leniently or break counted apart
    std::int64_t episodeStartUs_ = -1; // of the episode going on
    std::int64_t longestEpisodeUs_ = 0;
    bool episodeTooLong_ = false;
    std::vector<std::string> reports_;
};
