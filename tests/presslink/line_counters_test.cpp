// What the line did per unit: answered, late, silent, malformed, retried.
#include "press_fixture.h"

#include "log/fake_clock.h"
#include "presslink/line_counters.h"

#include <algorithm>

namespace tsr::test {
namespace {

using sim::Fault;
using sim::FaultKind;
using Counts = LineCounters::Counts;

class LineCountersTest : public PressLinkTest {
protected:
    LineCounters::State Read(int unit, Counts& total, Counts& minute) {
        return protocol_->Line().Read(unit, total, minute);
    }
    int GetDuctor(int unit) {
        int value = 0;
        return protocol_->GetDuctor(unit, value);
    }
    int CountOf(const std::string& text) {
        const std::vector<std::string> texts = LogTexts();
        return static_cast<int>(std::count(texts.begin(), texts.end(), text));
    }
};

// Two reads of unit 1, the first under a fault; the second shows a late
// reply, which the link drops before its frame.
TEST_F(LineCountersTest, EachReplyIsCountedByWhatItWas) {
    struct Case {
        const char* name;
        FaultKind kind;
        int delayMs;
        int times; // 0: no fault
        Counts expected; // answered, late, silent, malformed, retries
        const char* firstResultLine;
    } cases[] = {
        {"answered", FaultKind::NoAnswer, 0, 0, {2, 0, 0, 0, 0}, nullptr},
        {"silent three times", FaultKind::NoAnswer, 0, 3, {1, 0, 3, 0, 2}, "u1 does not answer"},
        {"one bad reply", FaultKind::BadAnswer, 0, 1, {2, 0, 0, 1, 1}, nullptr},
        {"one reply late", FaultKind::Delay, 700, 1, {2, 1, 1, 0, 1}, nullptr},
    };
    int unit = 1;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ++unit; // a unit of its own per case
        Fault fault;
        fault.kind = c.kind;
        fault.delayMs = c.delayMs;
        if (c.times > 0)
            sim_->AddFault(0x0A, fault, c.times);
        const int first = GetDuctor(unit);
        EXPECT_EQ(first, c.kind == FaultKind::NoAnswer && c.times == 3 ? 3 : 0);
        ASSERT_TRUE(sim_->WaitIdle(3000));
        if (c.kind == FaultKind::Delay) { // the late reply has crossed the line
            ASSERT_TRUE(serial_.WaitForInput(2000));
        }
        EXPECT_EQ(GetDuctor(unit), 0);

        Counts total, minute;
        EXPECT_EQ(Read(unit, total, minute), LineCounters::State::Answering);
        EXPECT_EQ(total, c.expected);

        EXPECT_EQ(minute, c.expected);
        if (c.firstResultLine) {
            const std::string silent = "u" + std::to_string(unit) + " does not answer";
            const std::string back = "u" + std::to_string(unit) + " answers again";
            EXPECT_EQ(CountOf(silent), 1); // one line per change, not per attempt
            EXPECT_EQ(CountOf(back), 1);
        }
    }
    // Units that were not asked have nothing.
    Counts total, minute;
    EXPECT_EQ(Read(40, total, minute), LineCounters::State::Unknown);
    EXPECT_EQ(total, Counts{});
}

TEST_F(LineCountersTest, AUnitThatStaysSilentIsLoggedOnceAndStaysNotAnswering) {
    Fault silent;
    silent.unit = 3;
    sim_->AddFault(0x0A, silent, -1);
    EXPECT_EQ(GetDuctor(3), 3);
    EXPECT_EQ(GetDuctor(3), 3);
    Counts total, minute;
    EXPECT_EQ(Read(3, total, minute), LineCounters::State::NotAnswering);
    EXPECT_EQ(total, (Counts{0, 0, 6, 0, 4}));
    EXPECT_EQ(CountOf("u3 does not answer"), 1);
    EXPECT_EQ(CountOf("u3 answers again"), 0);
    EXPECT_EQ(protocol_->Line().LastAnswer(), 0);
    // Another unit's answers do not change it.
    EXPECT_EQ(GetDuctor(1), 0);
    EXPECT_EQ(Read(3, total, minute), LineCounters::State::NotAnswering);
    EXPECT_NE(protocol_->Line().LastAnswer(), 0);
}

TEST_F(LineCountersTest, ModeSwitchAnswersCount) {
    EXPECT_EQ(protocol_->SwitchMode(1, false), 0);
    Counts total, minute;
    EXPECT_EQ(Read(1, total, minute), LineCounters::State::Answering);
    EXPECT_EQ(total, (Counts{2, 0, 0, 0, 0}));
}

// The minute's window by a clock the test moves.
TEST(LineCountersWindow, CountsLeaveTheLastMinuteAfterSixtySeconds) {
    FakeClock clock(kMay27At140311);
    auto fs = MakeFileSystem();
    ActivityLog log(clock, *fs); // no folder: entries are dropped
    LineCounters counters(clock, log);
    counters.Count(1, LineCounters::Silent);
    clock.Set(kMay27At140311 + 30);
    counters.Count(1, LineCounters::Silent);
    counters.Count(1, LineCounters::Retries);
    struct Step {
        int atSeconds;
        Counts minute;
    } steps[] = {
        {30, {0, 0, 2, 0, 1}},
        {59, {0, 0, 2, 0, 1}},
        {60, {0, 0, 1, 0, 1}},
        {89, {0, 0, 1, 0, 1}},
        {90, {0, 0, 0, 0, 0}},
        {1000, {0, 0, 0, 0, 0}},
    };
    for (const Step& s : steps) {
        SCOPED_TRACE(s.atSeconds);
        clock.Set(kMay27At140311 + s.atSeconds);
        Counts total, minute;
        counters.Read(1, total, minute);
        EXPECT_EQ(total, (Counts{0, 0, 2, 0, 1}));
        EXPECT_EQ(minute, s.minute);
    }
    // A slot used again a minute later holds only the new second's counts.
    clock.Set(kMay27At140311 + 60 * 20);
    counters.Count(1, LineCounters::Answered);
    Counts total, minute;
    counters.Read(1, total, minute);
    EXPECT_EQ(minute, (Counts{1, 0, 0, 0, 0}));
    EXPECT_EQ(counters.LastAnswer(), 0); // only a finished transaction sets it
    counters.TransactionEnded(1, true);
    EXPECT_EQ(counters.LastAnswer(), kMay27At140311 + 60 * 20);
}

} // namespace
} // namespace tsr::test
