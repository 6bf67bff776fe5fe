// Each kind of transaction against each fault of the console: the result,
// the events and the log lines the exports give, and the next operation
// working again afterwards.
#include "faults_rig.h"

#include <chrono>
#include <thread>

namespace tsr::test {
namespace {

enum class Kind { Read, Setting, Position };

struct KindInfo {
    const char* name;
    int opcode;  // the frame the fault hits
    int kind;    // kind of its retry events
    int closing; // code of the closing event on success (5 read, 4 otherwise)
};

KindInfo Info(Kind k) {
    switch (k) {
    case Kind::Read:
        return {"GetKeys", 0x02, 1, 5};
    case Kind::Setting:
        return {"SetNewDuctor", 0x09, 2, 4};
    case Kind::Position:
        return {"WorkingPosition", 0x06, 0, 4};
    }
    return {};
}

constexpr int kUnit = 2;

int RunOperation(Kind k) {
    switch (k) {
    case Kind::Read: {
        std::int32_t keys[24];
        return TSR_GetKeys(kUnit, keys, 24);
    }
    case Kind::Setting:
        return TSR_SetNewDuctor_Absolute(kUnit, 50);
    case Kind::Position:
        return TSR_WorkingPosition(kUnit);
    }
    return -1;
}

// The events of a run whose faulted frame failed `failed` times (0..3).
std::vector<Event> ExpectedEvents(Kind k, int failed) {
    const KindInfo info = Info(k);
    std::vector<Event> e{{kUnit, 0, info.kind}};
    for (int a = 1; a <= failed; ++a)
        e.emplace_back(kUnit, a, info.kind);
    switch (k) {
    case Kind::Read:
        e.emplace_back(kUnit, 5, 1); // whatever the outcome
        break;
    case Kind::Setting:
        if (failed < 3)
            e.emplace_back(kUnit, 4, 2); // the ductor was set
        e.emplace_back(kUnit, 4, 2);     // and executed: the execute runs also after a failed set
        break;
    case Kind::Position:
        if (failed < 3)
            e.emplace_back(kUnit, 4, 0);
        break;
    }
    return e;
}

// The export's own text lines for a result.
// gaveUp: the unit's transaction failed all its attempts, which the log
// tells once ("u2 does not answer"); a setting's execute that the console
// answers after it brings "u2 answers again".
std::vector<std::string> ExpectedTexts(Kind k, int result, bool gaveUp, bool executeAnswered = true) {
    std::vector<std::string> texts;
    switch (k) {
    case Kind::Read:
        texts = {"getkeys 2"};
        break;
    case Kind::Setting:
        texts = {"setDuctor abs 2 - v 50"};
        break;
    case Kind::Position:
        texts = {"WorkingPos u2"};
        break;
    }
    if (gaveUp)
        texts.push_back("u2 does not answer");
    if (gaveUp && k == Kind::Setting && executeAnswered)
        texts.push_back("u2 answers again");
    if (k == Kind::Position)
        texts.push_back("u2=" + std::to_string(result));
    return texts;
}

std::vector<std::string> Texts(const std::vector<LogLine>& lines) {
    std::vector<std::string> out;
    for (const LogLine& l : lines)
        if (l.colour != "red" && l.colour != "blue" && (l.body.empty() || l.body[0] != ' '))
            out.push_back(l.body);
    return out;
}

int FramesSent(const std::vector<LogLine>& lines, const Bytes& frame) {
    int n = 0;
    for (const LogLine& l : lines)
        n += l.body == Hex(frame) ? 1 : 0;
    return n;
}

enum class Case {
    NoAnswerOnce,
    NoAnswerAlways,
    BadAnswerOnce,
    BadAnswerAlways,
    ShortAnswer,
    StrayBytes,
    LateStrayBytes,
    LateJustInside,
    LateJustOutside,
    Trickling,
};

struct Row {
    Case fault;
    int failed; // attempts of the faulted frame that fail
    int result; // of the export
};

const char* CaseName(Case c) {
    switch (c) {
    case Case::NoAnswerOnce:
        return "NoAnswerOnce";
    case Case::NoAnswerAlways:
        return "NoAnswerAlways";
    case Case::BadAnswerOnce:
        return "BadAnswerOnce";
    case Case::BadAnswerAlways:
        return "BadAnswerAlways";
    case Case::ShortAnswer:
        return "ShortAnswer";
    case Case::StrayBytes:
        return "StrayBytes";
    case Case::LateStrayBytes:
        return "LateStrayBytes";
    case Case::LateJustInside:
        return "LateJustInside";
    case Case::LateJustOutside:
        return "LateJustOutside";
    case Case::Trickling:
        return "Trickling";
    }
    return "?";
}

// The reply wait counts 50 polls of at least 10 ms that find nothing: an
// answer 350 ms late is inside it however slow the machine. A loaded machine
// stretches the polls, so the wait can run well past 500 ms; an answer 1500 ms
// late is outside it even at 30 ms a poll, and lands in the pause, the next
// attempt's discard or after the operation.
constexpr int kInsideMs = 350;
constexpr int kOutsideMs = 1500;
constexpr int kStrayLateMs = 500;

void Inject(sim::SimulatedConsole& console, Kind k, Case c) {
    const int op = Info(k).opcode;
    sim::Fault f;
    switch (c) {
    case Case::NoAnswerOnce:
    case Case::NoAnswerAlways:
        f.kind = sim::FaultKind::NoAnswer;
        console.AddFault(op, f, c == Case::NoAnswerOnce ? 1 : 3);
        break;
    case Case::BadAnswerOnce:
    case Case::BadAnswerAlways:
        f.kind = sim::FaultKind::BadAnswer;
        console.AddFault(op, f, c == Case::BadAnswerOnce ? 1 : 3);
        break;
    case Case::ShortAnswer:
        f.kind = sim::FaultKind::ShortAnswer;
        console.AddFault(op, f, 1);
        break;
    case Case::StrayBytes:
    case Case::LateStrayBytes:
        f.kind = sim::FaultKind::StrayBytes;
        // Late ones come after the operation, also when a loaded machine
        // makes it take ten times its usual 30 ms, and before the next.
        f.delayMs = c == Case::StrayBytes ? 0 : kStrayLateMs;
        console.AddFault(op, f, 1);
        break;
    case Case::LateJustInside:
    case Case::LateJustOutside:
        f.kind = sim::FaultKind::Delay;
        f.delayMs = c == Case::LateJustInside ? kInsideMs : kOutsideMs;
        console.AddFault(op, f, 1);
        break;
    case Case::Trickling:
        // The console stays silent; the test sends the reply byte by byte.
        f.kind = sim::FaultKind::NoAnswer;
        console.AddFault(op, f, 1);
        break;
    }
}

// The reply to GetKeys of unit 2, one byte every 8 ms: about one empty poll
// per byte, well within the reply wait's fifty. The times are kept from the
// start, so a thread held up on a loaded machine does not stretch the whole
// reply beyond the wait.
void Trickle(sim::SimulatedConsole& console) {
    ASSERT_TRUE(console.WaitForFrames(1, 2000));
    Bytes reply{0x00, 0xFF};
    const sim::UnitState unit = console.Unit(kUnit);
    reply.insert(reply.end(), unit.keys.begin(), unit.keys.end());
    reply.push_back(sim::Checksum(unit.keys.data(), unit.keys.size()));
    auto next = std::chrono::steady_clock::now();
    for (std::uint8_t b : reply) {
        console.Send({b});
        next += std::chrono::milliseconds(8);
        std::this_thread::sleep_until(next);
    }
}

class FaultMatrix : public ::testing::TestWithParam<std::tuple<Kind, Row>> {};

TEST_P(FaultMatrix, ResultEventsLogAndRecovery) {
    const auto [kind, row] = GetParam();
    LibraryRig rig;
    sim::SimulatedConsole& console = rig.Console();
    console.Update([](sim::PressConsole& c) {
        for (int i = 0; i < 24; ++i)
            c.Unit(kUnit).keys[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(10 + i);
    });
    std::size_t mark = 0;
    rig.LogSince(mark);
    console.ClearRecord();

    Inject(console, kind, row.fault);
    std::thread trickler;
    if (row.fault == Case::Trickling)
        trickler = std::thread([&] { Trickle(console); });
    const int result = RunOperation(kind);
    if (trickler.joinable())
        trickler.join();

    EXPECT_EQ(result, row.result);
    EXPECT_EQ(Events::Take(), ExpectedEvents(kind, row.failed));
    const std::vector<LogLine> lines = rig.LogSince(mark);
    EXPECT_EQ(Texts(lines), ExpectedTexts(kind, row.result, row.failed >= 3));
    EXPECT_EQ(FramesSent(lines, CommandFrame(Info(kind).opcode, kUnit, 24)),
              row.failed < 3 ? row.failed + 1 : 3);

    // Once the console has said all it meant to, the next operation is clean.
    console.ClearFaults();
    ASSERT_TRUE(console.WaitIdle(15000));
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(RunOperation(kind), 0);
    EXPECT_EQ(Events::Take(), ExpectedEvents(kind, 0));
    if (kind == Kind::Read) {
        std::int32_t keys[24] = {};
        ASSERT_EQ(TSR_GetKeys(kUnit, keys, 24), 0);
        EXPECT_EQ(keys[0], 10);
        EXPECT_EQ(keys[23], 33);
        Events::Take();
    }
}

std::vector<std::tuple<Kind, Row>> Matrix() {
    const std::vector<Row> common{
        {Case::NoAnswerOnce, 1, 0},    {Case::NoAnswerAlways, 3, 3}, {Case::BadAnswerOnce, 1, 0},
        {Case::BadAnswerAlways, 3, 2}, {Case::ShortAnswer, 1, 0},    {Case::StrayBytes, 0, 0},
        {Case::LateStrayBytes, 0, 0},  {Case::LateJustInside, 0, 0}, {Case::LateJustOutside, 1, 0},
    };
    std::vector<std::tuple<Kind, Row>> all;
    for (Kind k : {Kind::Read, Kind::Setting, Kind::Position})
        // A failed set is followed by the execute, which the console answers;
        // the setting has failed all the same.
        for (const Row& r : common)
            all.emplace_back(k, r);
    // Only a long reply can trickle.
    all.emplace_back(Kind::Read, Row{Case::Trickling, 0, 0});
    return all;
}

INSTANTIATE_TEST_SUITE_P(Faults, FaultMatrix, ::testing::ValuesIn(Matrix()), [](const auto& p) {
    return std::string(Info(std::get<0>(p.param)).name) + "_" + CaseName(std::get<1>(p.param).fault);
});

// The console goes away in the middle of each kind of transaction: the
// transaction ends, reports the closed port, and the next TSR_Init opens the
// new device so that the same operation works again.
class HangUp : public ::testing::TestWithParam<Kind> {};

TEST_P(HangUp, MidTransactionThenReopenedByTheNextInit) {
    const Kind kind = GetParam();
    const KindInfo info = Info(kind);
    LibraryRig rig;
    sim::SimulatedConsole& console = rig.Console();
    std::size_t mark = 0;
    rig.LogSince(mark);
    sim::Fault f;
    f.kind = sim::FaultKind::HangUp;
    console.AddFault(info.opcode, f, 1);

    const int result = RunOperation(kind);
    // The setting's execute finds the port closed before it sends anything.
    EXPECT_EQ(result, kind == Kind::Setting ? 1 : 3);
    const std::vector<Event> events = Events::Take();
    ASSERT_FALSE(events.empty());
    EXPECT_EQ(events.front(), (Event{kUnit, 0, info.kind}));
    std::vector<Event> retries;
    int portClosed = 0;
    for (const Event& e : events) {
        if (e == Event{0, 10, 0})
            ++portClosed;
        else if (std::get<1>(e) >= 1 && std::get<1>(e) <= 3)
            retries.push_back(e);
    }
    EXPECT_GE(portClosed, 1);
    EXPECT_EQ(retries,
              (std::vector<Event>{{kUnit, 1, info.kind}, {kUnit, 2, info.kind}, {kUnit, 3, info.kind}}));
    if (kind == Kind::Read) {
        EXPECT_EQ(events.back(), (Event{kUnit, 5, 1}));
    }
    for (const Event& e : events)
        EXPECT_NE(std::get<1>(e), 4) << "nothing was done";
    EXPECT_EQ(Texts(rig.LogSince(mark)), ExpectedTexts(kind, result, true, false));

    // Still closed: the next operation fails at once, without a frame.
    console.ClearFaults();
    EXPECT_EQ(RunOperation(kind), 1);
    Events::Take();

    ASSERT_TRUE(console.Reconnect());
    rig.Init();
    EXPECT_EQ(RunOperation(kind), 0);
    EXPECT_EQ(Events::Take(), ExpectedEvents(kind, 0));
}

INSTANTIATE_TEST_SUITE_P(Faults, HangUp, ::testing::Values(Kind::Read, Kind::Setting, Kind::Position),
                         [](const auto& p) { return std::string(Info(p.param).name); });

} // namespace
} // namespace tsr::test
