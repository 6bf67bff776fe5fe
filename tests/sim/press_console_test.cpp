#include "press_console.h"

#include <gtest/gtest.h>

namespace {

using namespace tsr::sim;
using Bytes = std::vector<std::uint8_t>;

Bytes Command(int opcode, int unit, int parameter = 0x18) {
    Bytes f{static_cast<std::uint8_t>(opcode), static_cast<std::uint8_t>(unit),
            static_cast<std::uint8_t>(parameter)};
    f.push_back(Checksum(f.data(), 3));
    return f;
}

Bytes ValueFrame(Bytes values) {
    values.push_back(Checksum(values.data(), values.size()));
    return values;
}

Bytes Join(std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const Bytes& p : parts)
        all.insert(all.end(), p.begin(), p.end());
    return all;
}

const Bytes kAck{0x00, 0xFF};

// Drives the console with a clock of its own.
struct Line {
    explicit Line(ConsoleConfig config = {}) : console(config) {}
    void Send(const Bytes& b) { console.Receive(b.data(), b.size(), nowUs); }
    // Everything due after ms more milliseconds.
    Bytes After(int ms = 0) {
        nowUs += static_cast<std::int64_t>(ms) * 1000;
        Bytes all;
        for (const Output& o : console.Tick(nowUs)) {
            hungUp = hungUp || o.hangUp;
            all.insert(all.end(), o.bytes.begin(), o.bytes.end());
        }
        return all;
    }
    Bytes Ask(const Bytes& frame) {
        Send(frame);
        return After();
    }
    PressConsole console;
    std::int64_t nowUs = 1000000;
    bool hungUp = false;
};

TEST(PressConsoleTest, ChecksumIsTheComplementOfTheSum) {
    EXPECT_EQ(Command(0x02, 1), (Bytes{0x02, 0x01, 0x18, 0xE4}));
    EXPECT_EQ(ValueFrame({0x80}), (Bytes{0x80, 0x7F}));
    EXPECT_EQ(ValueFrame({}), (Bytes{0xFF}));
}

TEST(PressConsoleTest, ReplyLengthsPerOpcode) {
    struct Case {
        int opcode;
        Bytes start; // the reply's first bytes
        std::size_t length;
    } cases[] = {
        {0x02, kAck, 2 + 24 + 1}, {0x03, kAck, 2},         {0x04, kAck, 2}, {0x05, kAck, 2}, {0x06, kAck, 2},
        {0x07, kAck, 2 + 11},     {0x0A, kAck, 4},         {0x24, kAck, 2}, {0x25, kAck, 2}, {0x40, kAck, 2},
        {0x41, kAck, 2},          {0x51, kAck, 4},         {0x52, kAck, 4}, {0x53, kAck, 4}, {0x80, kAck, 2},
        {0x0B, {0x80, 0x00}, 2},  {0x0F, {0x80, 0x00}, 2}, {0x01, kAck, 2}, {0x09, kAck, 2}, {0x50, kAck, 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.opcode);
        Line line;
        Bytes reply = line.Ask(Command(c.opcode, 2));
        ASSERT_EQ(reply.size(), c.length);
        EXPECT_TRUE(std::equal(c.start.begin(), c.start.end(), reply.begin()));
    }
}

TEST(PressConsoleTest, GetKeysSendsEveryKeyAndAChecksum) {
    ConsoleConfig config;
    config.keys = 3;
    Line line(config);
    line.console.Unit(1).keys = {10, 20, 30};
    EXPECT_EQ(line.Ask(Command(0x02, 1)),
              (Bytes{0x00, 0xFF, 10, 20, 30, Checksum(Bytes{10, 20, 30}.data(), 3)}));
    // unit numbers the console does not have, and unknown opcodes, are refused
    EXPECT_EQ(line.Ask(Command(0x02, 5)), (Bytes{0x01, 0xFF}));
    EXPECT_EQ(line.Ask(Command(0x08, 1)), (Bytes{0x01, 0xFF}));
}

TEST(PressConsoleTest, SetKeysTakesValuesAtCommit) {
    Line line;
    Bytes values(24);
    for (int i = 0; i < 24; ++i)
        values[i] = static_cast<std::uint8_t>(100 + i);
    EXPECT_EQ(line.Ask(Command(0x01, 2)), kAck);
    // a full frame is answered at once
    EXPECT_EQ(line.Ask(ValueFrame(values)), kAck);
    EXPECT_TRUE(line.console.Unit(2).keysPending);
    EXPECT_EQ(line.console.Unit(2).keys, Bytes(24, 0));
    EXPECT_EQ(line.Ask(Command(0x03, 2)), kAck);
    EXPECT_EQ(line.console.Unit(2).keys, values);
    EXPECT_EQ(line.console.Unit(2).commits, 1);
    // the reply after the commit comes on its own, a little later
    EXPECT_EQ(line.After(19), Bytes{});
    EXPECT_EQ(line.After(1), kAck);
    EXPECT_EQ(line.console.Frames().size(), 3u);
    EXPECT_TRUE(line.console.Frames()[1].value);
}

TEST(PressConsoleTest, ShorterKeyFrameEndsAtAGap) {
    Line line;
    line.console.Unit(1).keys.assign(24, 7);
    line.Ask(Command(0x01, 1, 24));
    Bytes ten{1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
    EXPECT_EQ(line.Ask(ValueFrame(ten)), Bytes{});
    EXPECT_EQ(line.After(9), Bytes{});
    EXPECT_EQ(line.After(1), kAck);
    line.Ask(Command(0x03, 1));
    Bytes expected = ten;
    expected.resize(24, 7);
    EXPECT_EQ(line.console.Unit(1).keys, expected);
    EXPECT_EQ(line.console.Frames()[1].bytes.size(), 11u);
}

TEST(PressConsoleTest, KeyFrameMayArriveInPieces) {
    Line line;
    line.Ask(Command(0x01, 1));
    Bytes frame = ValueFrame(Bytes(24, 0x42));
    line.Send(Bytes(frame.begin(), frame.begin() + 10));
    EXPECT_EQ(line.After(5), Bytes{});
    line.Send(Bytes(frame.begin() + 10, frame.end()));
    EXPECT_EQ(line.After(), kAck);
}

TEST(PressConsoleTest, DuctorValueAndCommitInOneChunk) {
    Line line;
    EXPECT_EQ(line.Ask(Command(0x09, 2)), kAck);
    // as the library sends them: value frame and commit without a pause; only
    // the commit is answered, then the reply after it
    EXPECT_EQ(line.Ask(Join({ValueFrame({0x80}), Command(0x03, 2)})), kAck);
    EXPECT_EQ(line.console.Unit(2).ductor, 0x80);
    EXPECT_EQ(line.After(19), Bytes{});
    EXPECT_EQ(line.After(1), kAck);
    EXPECT_EQ(line.Ask(Command(0x0A, 2)), (Bytes{0x00, 0xFF, 0x80, 0x7F}));

    line.Ask(Command(0x50, 2, 0x04));
    line.Ask(Join({ValueFrame({8}), Command(0x03, 2)}));
    EXPECT_EQ(line.console.Unit(2).ductorCycle, 8);
    line.After(20);
    EXPECT_EQ(line.Ask(Command(0x51, 2)), (Bytes{0x00, 0xFF, 8, 0xF7}));
}

TEST(PressConsoleTest, BadChecksumsAreNotAnswered) {
    Line line;
    EXPECT_EQ(line.Ask({0x02, 0x01, 0x18, 0x00}), Bytes{});
    ASSERT_EQ(line.console.Frames().size(), 1u);
    EXPECT_FALSE(line.console.Frames()[0].checksumOk);
    // the next good frame is answered
    EXPECT_EQ(line.Ask(Command(0x04, 1)), kAck);

    line.Ask(Command(0x09, 1));
    EXPECT_EQ(line.Ask({0x80, 0x00}), Bytes{});
    line.Ask(Command(0x03, 1));
    EXPECT_EQ(line.console.Unit(1).ductor, 0);
}

TEST(PressConsoleTest, CompletionRepliesFollowTheMovementTime) {
    ConsoleConfig config;
    config.movementMs = 300;
    for (int opcode : {0x05, 0x06, 0x24, 0x25}) {
        SCOPED_TRACE(opcode);
        Line line(config);
        EXPECT_EQ(line.Ask(Command(opcode, 1)), kAck);
        if (opcode == 0x06) {
            EXPECT_EQ(line.console.Unit(1).position, Position::Moving);
        }
        EXPECT_EQ(line.After(299), Bytes{});
        EXPECT_EQ(line.After(1), kAck);
        if (opcode == 0x06) {
            EXPECT_EQ(line.console.Unit(1).position, Position::Working);
        }
    }
    Line line(config);
    line.Ask(Command(0x25, 1));
    line.After(300);
    EXPECT_EQ(line.console.Unit(1).keyExecutions, 1);
}

TEST(PressConsoleTest, ModeSwitchAnswers80Then81) {
    Line line;
    EXPECT_EQ(line.Ask(Command(0x0B, 1)), (Bytes{0x80, 0x00}));
    EXPECT_EQ(line.console.Unit(1).mode, Mode::Normal);
    EXPECT_EQ(line.Ask(Command(0x0B, 1)), (Bytes{0x81, 0x01}));
    EXPECT_EQ(line.console.Unit(1).mode, Mode::Calibration);
    // another command in between starts the switch over
    EXPECT_EQ(line.Ask(Command(0x0F, 1)), (Bytes{0x80, 0x01}));
    line.Ask(Command(0x0A, 1));
    EXPECT_EQ(line.Ask(Command(0x0F, 1)), (Bytes{0x80, 0x01}));
    EXPECT_EQ(line.Ask(Command(0x0F, 1)), (Bytes{0x81, 0x00}));
    EXPECT_EQ(line.console.Unit(1).mode, Mode::Normal);
}

TEST(PressConsoleTest, InfoCarriesUnitKeysAndStatus) {
    Line line;
    line.console.Unit(3).status[0] = 0xA5; // data byte 3
    line.Ask(Command(0x40, 3));
    Bytes reply = line.Ask(Command(0x07, 3));
    ASSERT_EQ(reply.size(), 13u);
    EXPECT_EQ(reply[2], 3);
    EXPECT_EQ(reply[3], 24);
    EXPECT_EQ(reply[5], 0xA5);
    EXPECT_EQ(reply[11], 0x02 | 0x10); // zero position, ductor calibration on
    EXPECT_EQ(reply[12], Checksum(reply.data() + 2, 10));
}

TEST(PressConsoleTest, FaultsChangeTheAnswer) {
    struct Case {
        FaultKind kind;
        Bytes reply;
        bool applied; // the commit took the values
    } cases[] = {
        {FaultKind::NoAnswer, {}, false},
        {FaultKind::BadAnswer, {0x01, 0xFF}, false},
        {FaultKind::ShortAnswer, {0x00}, true},
        {FaultKind::StrayBytes, {0x00, 0xFF, 0x55, 0xAA}, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.kind));
        Line line;
        line.Ask(Command(0x09, 1));
        line.Ask(ValueFrame({0x33}));
        Fault fault;
        fault.kind = c.kind;
        line.console.AddFault(0x03, fault);
        EXPECT_EQ(line.Ask(Command(0x03, 1)), c.reply);
        EXPECT_EQ(line.console.Unit(1).ductor, c.applied ? 0x33 : 0);
        line.After(100);
        // once only
        EXPECT_EQ(line.Ask(Command(0x03, 1)), kAck);
    }
}

TEST(PressConsoleTest, DelayStrayLaterAndHangUp) {
    Line line;
    Fault delay{FaultKind::Delay, 120, {}};
    line.console.AddFault(0x06, delay);
    EXPECT_EQ(line.Ask(Command(0x06, 1)), Bytes{});
    EXPECT_EQ(line.After(119), Bytes{});
    EXPECT_EQ(line.After(1), kAck);
    EXPECT_EQ(line.After(50), kAck); // the completion moved as well

    Fault stray{FaultKind::StrayBytes, 30, {0x12}};
    line.console.AddFault(0x0A, stray);
    EXPECT_EQ(line.Ask(Command(0x0A, 1)), (Bytes{0x00, 0xFF, 0x00, 0xFF}));
    EXPECT_EQ(line.After(30), Bytes{0x12});

    Fault hangUp{FaultKind::HangUp, 0, {}};
    line.console.AddFault(0x02, hangUp);
    EXPECT_EQ(line.Ask(Command(0x02, 1)), Bytes{});
    EXPECT_TRUE(line.hungUp);
}

TEST(PressConsoleTest, FaultsForTheNextFramesAndForValueFrames) {
    Line line;
    Fault none{FaultKind::NoAnswer, 0, {}};
    line.console.AddFault(kAnyFrame, none, 2);
    EXPECT_EQ(line.Ask(Command(0x0A, 1)), Bytes{});
    EXPECT_EQ(line.Ask(Command(0x51, 1)), Bytes{});
    EXPECT_EQ(line.Ask(Command(0x0A, 1)).size(), 4u);

    line.console.AddFault(0x0A, none, -1);
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(line.Ask(Command(0x0A, 1)), Bytes{});
    EXPECT_EQ(line.Ask(Command(0x51, 1)).size(), 4u);
    line.console.ClearFaults();
    EXPECT_EQ(line.Ask(Command(0x0A, 1)).size(), 4u);

    line.console.AddFault(kValueFrame, none);
    EXPECT_EQ(line.Ask(Command(0x09, 1)), kAck);
    EXPECT_EQ(line.Ask(ValueFrame({9})), Bytes{});
    EXPECT_EQ(line.console.Unit(1).ductorPending, false);
}

TEST(PressConsoleTest, LateOrPartialInputIsTakenAsCommands) {
    Line line;
    EXPECT_EQ(line.Ask(Command(0x09, 1)), kAck);
    // no value frame in time: the next bytes are a command frame again
    line.After(line.console.Config().valueWaitMs);
    EXPECT_EQ(line.Ask(Command(0x0A, 1)).size(), 4u);

    line.Send({0x0A, 0x01});
    EXPECT_EQ(line.After(50), Bytes{});
    EXPECT_EQ(line.Ask(Command(0x0A, 1)).size(), 4u); // the stale half frame was dropped
}

TEST(PressConsoleTest, ValueWaitCountsFromWhenTheAcknowledgementWentOut) {
    Line line;
    line.Send(Command(0x09, 1));
    // this side comes to send 300 ms late, and the library's thread is held up 400 ms more
    EXPECT_EQ(line.After(300), kAck);
    line.nowUs += 400000;
    line.Send(ValueFrame({0x21}));
    EXPECT_EQ(line.Ask(Command(0x03, 1)), kAck);
    EXPECT_EQ(line.console.Unit(1).ductor, 0x21);
}

TEST(PressConsoleTest, PacingTakesTheLineTimeEachWay) {
    ConsoleConfig config;
    config.pacing = true;
    Line line(config);
    constexpr std::int64_t kByte = PressConsole::kByteTimeUs;
    const std::int64_t sent = line.nowUs;
    line.Send(Command(0x0A, 1));
    EXPECT_FALSE(line.console.Idle());
    // The frame is in after four characters; the answer starts a moment
    // later and each byte is out one character time after the one before.
    line.nowUs = sent + 4 * kByte - 1;
    EXPECT_EQ(line.After(), Bytes{});
    EXPECT_TRUE(line.console.Frames().empty());
    const std::int64_t firstOut = sent + 4 * kByte + config.processingUs + kByte;
    line.nowUs = firstOut - 1;
    EXPECT_EQ(line.After(), Bytes{});
    ASSERT_EQ(line.console.Frames().size(), 1u);
    EXPECT_EQ(line.console.Frames()[0].timeUs, sent); // when its first byte began
    line.nowUs = firstOut;
    EXPECT_EQ(line.After(), Bytes{0x00});
    line.nowUs = firstOut + 3 * kByte - 1;
    EXPECT_EQ(line.After(), (Bytes{0xFF, 0x00}));
    EXPECT_FALSE(line.console.Idle());
    line.nowUs = firstOut + 3 * kByte;
    EXPECT_EQ(line.After(), Bytes{0xFF});
    EXPECT_TRUE(line.console.Idle());
}

TEST(PressConsoleTest, PacedRepliesFollowEachOtherWithoutOverlap) {
    ConsoleConfig config;
    config.pacing = true;
    config.movementMs = 0;
    Line line(config);
    constexpr std::int64_t kByte = PressConsole::kByteTimeUs;
    const std::int64_t sent = line.nowUs;
    line.Send(Command(0x25, 1));
    // acknowledgement and completion: four bytes one after another, none early
    const std::int64_t firstOut = sent + 4 * kByte + config.processingUs + kByte;
    const Bytes expected{0x00, 0xFF, 0x00, 0xFF};
    for (std::size_t i = 0; i < expected.size(); ++i) {
        SCOPED_TRACE(i);
        line.nowUs = firstOut + static_cast<std::int64_t>(i) * kByte - 1;
        EXPECT_EQ(line.After(), Bytes{});
        line.nowUs += 1;
        EXPECT_EQ(line.After(), Bytes{expected[i]});
    }
    EXPECT_TRUE(line.console.Idle());
}

TEST(PressConsoleTest, ReplyAfterACommitCountsFromTheAcknowledgementGoingOut) {
    Line line;
    line.Send(Command(0x03, 1));
    // this side comes to send 5 ms late: the reply after the commit keeps its 20 ms
    EXPECT_EQ(line.After(5), kAck);
    EXPECT_EQ(line.After(19), Bytes{});
    EXPECT_FALSE(line.console.Idle());
    EXPECT_EQ(line.After(1), kAck);
    EXPECT_TRUE(line.console.Idle());
}

TEST(PressConsoleTest, KeyFrameGapIsJudgedWhereItWasOnTheLine) {
    // The frame and a command 30 ms behind it are looked at only together,
    // as when the console's thread was held up: the gap still ends the frame.
    Line line;
    line.Ask(Command(0x01, 1));
    const Bytes twenty = ValueFrame(Bytes(20, 0x33));
    line.Send(twenty);
    line.nowUs += 30000;
    line.Send(Command(0x03, 1));
    EXPECT_EQ(line.After(), Join({kAck, kAck}));
    const std::vector<Frame> frames = line.console.Frames();
    ASSERT_EQ(frames.size(), 3u);
    EXPECT_TRUE(frames[1].value);
    EXPECT_EQ(frames[1].bytes, twenty);
    EXPECT_EQ(frames[2].bytes, Command(0x03, 1));
    EXPECT_EQ(line.console.Unit(1).keys[19], 0x33);
}

TEST(PressConsoleTest, LateAcknowledgementAfterANewerFrameIsOnlyAStrayReply) {
    Line line;
    line.console.AddFault(0x09, Fault{FaultKind::Delay, 650, {}});
    EXPECT_EQ(line.Ask(Command(0x09, 1)), Bytes{});
    // the library gives up waiting and sends the frame again, then value and commit
    EXPECT_EQ(line.After(510), Bytes{});
    EXPECT_EQ(line.Ask(Command(0x09, 1)), kAck);
    EXPECT_EQ(line.Ask(Join({ValueFrame({0x44}), Command(0x03, 1)})), kAck);
    EXPECT_EQ(line.After(20), kAck);
    EXPECT_EQ(line.console.Unit(1).ductor, 0x44);
    // the held-back acknowledgement of the first frame
    EXPECT_EQ(line.After(120), kAck);
    EXPECT_TRUE(line.console.Idle());
    // the next frame is a command again, not a value frame
    EXPECT_EQ(line.Ask(Command(0x0A, 1)), (Bytes{0x00, 0xFF, 0x44, 0xBB}));
}

} // namespace

namespace {

// Faults that the program's command line sets: per unit, and every n-th reply.
TEST(PressConsoleFaults, AUnitFaultHitsOnlyThatUnitsFrames) {
    Line line;
    Fault silent;
    silent.kind = FaultKind::NoAnswer;
    silent.unit = 2;
    line.console.AddFault(kAnyFrame, silent, -1);
    Fault late;
    late.kind = FaultKind::Delay;
    late.delayMs = 700;
    late.unit = 3;
    line.console.AddFault(kAnyFrame, late, -1);

    const Bytes ductor{0x00, 0xFF, 0x00, 0xFF}; // ductor 0 and its check byte
    EXPECT_EQ(line.Ask(Command(0x0A, 1)), ductor);
    EXPECT_EQ(line.Ask(Command(0x0A, 2)), Bytes{});
    EXPECT_EQ(line.After(2000), Bytes{});
    EXPECT_EQ(line.Ask(Command(0x0A, 3)), Bytes{});
    EXPECT_EQ(line.After(699), Bytes{});
    EXPECT_EQ(line.After(1), ductor);
    // A silent unit's settings never arrive: its command is not acknowledged.
    EXPECT_EQ(line.Ask(Command(0x09, 2)), Bytes{});
    EXPECT_EQ(line.Ask(ValueFrame({0x80})), Bytes{});
    EXPECT_EQ(line.Ask(Command(0x03, 2)), Bytes{});
    EXPECT_EQ(line.After(100), Bytes{});
    EXPECT_EQ(line.console.Unit(2).ductor, 0);
}

TEST(PressConsoleFaults, EveryNthReplyCarriesAWrongLastByte) {
    ConsoleConfig config;
    config.badChecksumEvery = 2;
    Line line(config);
    const Bytes good{0x00, 0xFF, 0x00, 0xFF};
    const Bytes bad{0x00, 0xFF, 0x00, 0x00};
    EXPECT_EQ(line.Ask(Command(0x0A, 1)), good);
    EXPECT_EQ(line.Ask(Command(0x0A, 1)), bad);
    EXPECT_EQ(line.Ask(Command(0x0A, 1)), good);
    EXPECT_EQ(line.Ask(Command(0x04, 1)), (Bytes{0x00, 0x00})); // a bare acknowledgement loses its FF
}

} // namespace
