#include "press_fixture.h"

#include <chrono>
#include <thread>

namespace tsr::test {
namespace {

using sim::Fault;
using sim::FaultKind;

class ProtocolTest : public PressLinkTest {};

TEST_F(ProtocolTest, GetKeysSendsItsFrameAndTakesTheLongReply) {
    Bytes keys(24);
    for (int i = 0; i < 24; ++i)
        keys[i] = static_cast<std::uint8_t>(10 * i);
    SetKeysOnConsole(1, keys);
    std::int32_t values[24] = {};
    ASSERT_EQ(protocol_->GetKeys(1, values, 24), 0);
    EXPECT_EQ(Hex(CommandFrames().at(0)), "02 01 18 E4");
    for (int i = 0; i < 24; ++i)
        EXPECT_EQ(values[i], keys[i]);
    // frame at level 1, the whole 27-byte reply at level 2
    std::vector<LogEntry> sent, replies;
    for (const LogEntry& e : LogEntries()) {
        if (e.colour == "red")
            sent.push_back(e);
        if (e.colour == "blue")
            replies.push_back(e);
    }
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].body, " 02 01 18 E4");
    ASSERT_EQ(replies.size(), 1u);
    EXPECT_EQ(replies[0].body.size(), 27u * 3);
    EXPECT_EQ(replies[0].body.substr(0, 9), " 00 FF 00");
    EXPECT_TRUE(Events().empty());
}

TEST_F(ProtocolTest, SetDuctorSendsValueAndCommitAtOnce) {
    ASSERT_EQ(protocol_->SetDuctor(2, 0x80), 0);
    const std::vector<Bytes> frames = Frames();
    ASSERT_EQ(frames.size(), 3u);
    EXPECT_EQ(Hex(frames[0]), "09 02 18 DC");
    EXPECT_EQ(Hex(frames[1]), "80 7F");
    EXPECT_EQ(Hex(frames[2]), "03 02 18 E2");
    EXPECT_EQ(sim_->Unit(2).ductor, 0x80);
    // The value frame is followed by the commit frame with no reply read in between.
    std::vector<std::string> order;
    for (const LogEntry& e : LogEntries())
        if (e.colour == "red" || e.colour == "blue")
            order.push_back(e.colour);
    const std::vector<std::string> start = {"red", "blue", "red", "red"};
    ASSERT_GE(order.size(), start.size());
    EXPECT_EQ(std::vector<std::string>(order.begin(), order.begin() + 4), start);
    // Then the answers: the value frame's, unless it came before the commit
    // was sent (a busy machine) and the commit's send dropped it, and the commit's.
    const std::vector<std::string> answers(order.begin() + 4, order.end());
    EXPECT_TRUE(answers == std::vector<std::string>({"blue", "blue"}) ||
                answers == std::vector<std::string>({"blue"}))
        << ::testing::PrintToString(order);
    EXPECT_TRUE(Events().empty());
}

TEST_F(ProtocolTest, ByteTwoIsKeysNumberOrTheOpcodesConstant) {
    config_->SetKeysNumber(0x1234);
    int value = 0;
    std::uint8_t info[PressProtocol::kInfoBytes];
    struct Case {
        int opcode;
        std::function<int()> call;
        int byte2;
    } cases[] = {
        {0x50, [&] { return protocol_->SetDuctorCycle(1, 3); }, 0x04},
        {0x52, [&] { return protocol_->GetMachineType(1, value); }, 0x01},
        {0x80, [&] { return protocol_->ResetCassette(1); }, 0x01},
        {0x0A, [&] { return protocol_->GetDuctor(1, value); }, 0x34},
        {0x04, [&] { return protocol_->Reset(1); }, 0x34},
        {0x07, [&] { return protocol_->GetInfo(1, info); }, 0x34},
        {0x53, [&] { return protocol_->GetMachineSpeed(1, value); }, 0x34},
        {0x40, [&] { return protocol_->DuctorCalibration(1, true); }, 0x34},
        {0x41, [&] { return protocol_->DuctorCalibration(1, false); }, 0x34},
    };
    for (const Case& c : cases) {
        sim_->ClearRecord();
        sim_->Update([](sim::PressConsole& console) { console.ClearFrames(); });
        EXPECT_EQ(c.call(), 0) << std::hex << c.opcode;
        const std::vector<Bytes> frames = CommandFrames();
        ASSERT_FALSE(frames.empty());
        EXPECT_EQ(frames[0][0], c.opcode);
        EXPECT_EQ(frames[0][2], c.byte2) << std::hex << c.opcode;
        EXPECT_EQ(frames[0][3], PressProtocol::FrameChecksum(frames[0].data(), 3));
    }
}

TEST_F(ProtocolTest, ShortKeyFrameKeepsKeysNumberInTheCommand) {
    const std::int32_t values[10] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 300};
    ASSERT_EQ(protocol_->SetKeys(1, values, 10), 0);
    const std::vector<Bytes> frames = Frames();
    ASSERT_GE(frames.size(), 3u);
    EXPECT_EQ(Hex(frames[0]), "01 01 18 E5");
    Bytes expected = {1, 2, 3, 4, 5, 6, 7, 8, 9, 0x2C};
    expected.push_back(PressProtocol::FrameChecksum(expected.data(), 10));
    EXPECT_EQ(frames[1], expected);
    EXPECT_EQ(frames[2][0], 0x03);
    EXPECT_EQ(Events(), (std::vector<Event>{{1, 4, 1}}));
}

TEST_F(ProtocolTest, UnitGoesOutAsItsLowByte) {
    int value = 0;
    EXPECT_EQ(protocol_->GetDuctor(300, value), 0);
    EXPECT_EQ(CommandFrames().at(0)[1], 0x2C);
}

TEST_F(ProtocolTest, BadReplyIsAnsweredByAResend) {
    sim_->AddFault(0x0A, Fault{FaultKind::BadAnswer});
    sim_->Update([](sim::PressConsole& c) { c.Unit(3).ductor = 0x42; });
    int value = 0;
    ASSERT_EQ(protocol_->GetDuctor(3, value), 0);
    EXPECT_EQ(value, 0x42);
    EXPECT_EQ(Opcodes(), (std::vector<int>{0x0A, 0x0A}));
    EXPECT_EQ(Events(), (std::vector<Event>{{3, 1, 2}}));
}

TEST_F(ProtocolTest, BadReplyEveryTimeGivesTwo) {
    sim_->AddFault(0x51, Fault{FaultKind::BadAnswer}, -1);
    int value = 0;
    EXPECT_EQ(protocol_->GetDuctorCycle(1, value), 2);
    EXPECT_EQ(Events(), (std::vector<Event>{{1, 1, 3}, {1, 2, 3}, {1, 3, 3}}));
}

TEST_F(ProtocolTest, StrayBytesAfterTheAcknowledgementAreDropped) {
    Fault stray{FaultKind::StrayBytes};
    stray.stray = {0x55, 0xAA};
    sim_->AddFault(0x04, stray);
    EXPECT_EQ(protocol_->Reset(1), 0);
    // stray bytes that come later are discarded by the next send
    Fault late{FaultKind::StrayBytes};
    late.delayMs = 30;
    sim_->AddFault(0x04, late);
    EXPECT_EQ(protocol_->Reset(1), 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(80));
    sim_->Update([](sim::PressConsole& c) { c.Unit(1).ductor = 0x10; });
    int value = 0;
    EXPECT_EQ(protocol_->GetDuctor(1, value), 0);
    EXPECT_EQ(value, 0x10);
    EXPECT_TRUE(Events().empty());
}

TEST_F(ProtocolTest, NoAnswerGivesThreeFramesThreeEventsAndThree) {
    sim_->AddFault(0x02, Fault{FaultKind::NoAnswer}, -1);
    std::int32_t values[24];
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(protocol_->GetKeys(2, values, 24), 3);
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(Opcodes(), (std::vector<int>{0x02, 0x02, 0x02}));
    EXPECT_EQ(Events(), (std::vector<Event>{{2, 1, 1}, {2, 2, 1}, {2, 3, 1}}));
    EXPECT_GE(took, std::chrono::milliseconds(1450));
}

TEST_F(ProtocolTest, PositionCommandPausesAfterEachFailedAttempt) {
    sim_->AddFault(0x06, Fault{FaultKind::NoAnswer}, -1);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(protocol_->WorkingPosition(1), 3);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(3 * 690));
    EXPECT_EQ(Events(), (std::vector<Event>{{1, 1, 0}, {1, 2, 0}, {1, 3, 0}}));
}

TEST_F(ProtocolTest, CompletionReplyIsAwaited) {
    sim_->SetUnit(1, sim_->Unit(1));
    sim_->Update([](sim::PressConsole& c) { c.SetMovementMs(300); });
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(protocol_->ZeroPosition(1), 0);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(290));
    EXPECT_TRUE(sim_->WaitIdle(1000));
}

// Bytes sent unasked, one at a time with a gap between them.
void Trickle(sim::SimulatedConsole& console, int count, int gapMs) {
    for (int i = 0; i < count; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(gapMs));
        console.Send({static_cast<std::uint8_t>(i)});
    }
}

TEST_F(ProtocolTest, ArrivingBytesKeepTheWaitGoingPastTheTimeOut) {
    std::thread sender(Trickle, std::ref(*sim_), 120, 4);
    std::uint8_t buffer[PressProtocol::kReplyBufferSize];
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(protocol_->ReadRaw(buffer, 120, 200), 120);
    EXPECT_GT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(400));
    sender.join();
    for (int i = 0; i < 120; ++i)
        EXPECT_EQ(buffer[i], i);
}

TEST_F(ProtocolTest, TricklingBytesDoNotRenewTheIdleBudget) {
    // 40 ms between bytes: every gap spends about four empty waits of the fifty.
    std::thread sender(Trickle, std::ref(*sim_), 27, 40);
    std::uint8_t buffer[PressProtocol::kReplyBufferSize];
    EXPECT_EQ(protocol_->ReadRaw(buffer, 27, 500), 0);
    sender.join();
}

TEST_F(ProtocolTest, ReadRawDropsTheRestOfTheLastChunk) {
    sim_->Send({1, 2, 3, 4, 5});
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    std::uint8_t buffer[8] = {};
    EXPECT_EQ(protocol_->ReadRaw(buffer, 3, 100), 3);
    EXPECT_EQ(Hex(Bytes(buffer, buffer + 3)), "01 02 03");
    EXPECT_EQ(serial_.BytesWaiting(), 0);
    EXPECT_EQ(protocol_->ReadRaw(buffer, 2, 50), 0);
}

TEST_F(ProtocolTest, ShortReplyNeverCompletes) {
    sim_->AddFault(0x07, Fault{FaultKind::ShortAnswer}, -1);
    std::uint8_t info[PressProtocol::kInfoBytes];
    EXPECT_EQ(protocol_->GetInfo(1, info), 3); // the reply never completes
    EXPECT_EQ(Events(), (std::vector<Event>{{1, 1, 0}, {1, 2, 0}, {1, 3, 0}}));
}

TEST_F(ProtocolTest, ClosedChannelSendsNothing) {
    serial_.Close();
    int value = 0;
    std::int32_t keys[24];
    EXPECT_EQ(protocol_->GetDuctor(1, value), 1);
    EXPECT_EQ(protocol_->SetKeys(1, keys, 24), 1);
    EXPECT_EQ(protocol_->SwitchMode(1, true), 1);
    EXPECT_TRUE(Events().empty());
    EXPECT_EQ(protocol_->Unsupported(4), 1);
    EXPECT_EQ(Events(), (std::vector<Event>{{4, 3, 0}}));
    std::uint8_t buffer[4];
    EXPECT_EQ(protocol_->ReadRaw(buffer, 2, 500), 0);
    EXPECT_EQ(Events(), (std::vector<Event>{{0, 10, 0}}));
    EXPECT_TRUE(sim_->Frames().empty());
}

TEST_F(ProtocolTest, ConsoleVanishingMidTransactionEndsIt) {
    Fault hangUp{FaultKind::HangUp};
    sim_->AddFault(0x0A, hangUp);
    int value = 0;
    EXPECT_EQ(protocol_->GetDuctor(1, value), 3);
    const std::vector<Event> events = Events();
    EXPECT_EQ(events.back(), (Event{1, 3, 2}));
    EXPECT_NE(std::find(events.begin(), events.end(), Event{0, 10, 0}), events.end());
}

TEST_F(ProtocolTest, SwitchModeNormalCourse) {
    EXPECT_EQ(protocol_->SwitchMode(1, false), 0);
    const std::vector<Bytes> frames = CommandFrames();
    ASSERT_EQ(frames.size(), 2u);
    EXPECT_EQ(Hex(frames[0]), "0B 01 18 DB");
    EXPECT_EQ(frames[1], frames[0]);
    EXPECT_TRUE(Events().empty());
    // mode replies show only as raw chunks
    for (const LogEntry& e : LogEntries())
        EXPECT_NE(e.colour, "blue");
}

// Answers each mode frame by hand with the given first bytes.
void AnswerModeFrames(sim::SimulatedConsole& console, std::vector<std::uint8_t> firsts) {
    for (std::size_t i = 0; i < firsts.size(); ++i) {
        if (!console.WaitForFrames(i + 1, 3000))
            return;
        console.Send({firsts[i], 0x00});
    }
}

TEST_F(ProtocolTest, SwitchModeUnexpectedSecondAnswer) {
    sim_->AddFault(0x0F, Fault{FaultKind::NoAnswer}, -1);
    std::thread answer(AnswerModeFrames, std::ref(*sim_), std::vector<std::uint8_t>{0x80, 0x55});
    EXPECT_EQ(protocol_->SwitchMode(2, true), 0);
    answer.join();
    EXPECT_EQ(Opcodes(), (std::vector<int>{0x0F, 0x0F}));
    EXPECT_EQ(Events(), (std::vector<Event>{{2, 0, 2}}));
}

TEST_F(ProtocolTest, SwitchModeWithoutAnswerGivesTwoAfterThreeWaits) {
    sim_->AddFault(0x0B, Fault{FaultKind::NoAnswer}, -1);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(protocol_->SwitchMode(1, false), 2);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(5900));
    EXPECT_EQ(Opcodes(), (std::vector<int>{0x0B}));
    EXPECT_TRUE(Events().empty());
}

} // namespace
} // namespace tsr::test
