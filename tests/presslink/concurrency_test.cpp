#include "press_fixture.h"

#include <atomic>
#include <thread>
#include <utility>

namespace tsr::test {
namespace {

class ConcurrencyTest : public PressLinkTest {};

// Two threads drive the press at once: every operation's frames stay together.
TEST_F(ConcurrencyTest, TwoThreadsNeverInterleaveFrames) {
    std::atomic<bool> go{false};
    auto setter = [&] {
        while (!go)
            std::this_thread::yield();
        std::int32_t values[24] = {};
        for (int i = 0; i < 8; ++i)
            setting_->SetNewKeyAbsolute(1, values, 24);
    };
    auto reader = [&] {
        while (!go)
            std::this_thread::yield();
        std::int32_t values[24];
        int percent = 0;
        for (int i = 0; i < 8; ++i) {
            setting_->GetKeys(2, values, 24);
            setting_->SetNewDuctorRelative(3, 1);
            setting_->GetDuctor(2, percent);
        }
    };
    std::thread a(setter);
    std::thread b(reader);
    go = true;
    a.join();
    b.join();
    // whole operations: 01 V 03 25 for unit 1; 02; 0A 09 V 03 24 for unit 3; 0A
    const std::vector<sim::Frame> frames = sim_->Frames();
    std::size_t i = 0;
    int setters = 0, readers = 0;
    auto expect = [&](int opcode, int unit) {
        ASSERT_LT(i, frames.size());
        if (opcode < 0) {
            EXPECT_TRUE(frames[i].value) << "frame " << i;
        } else {
            EXPECT_FALSE(frames[i].value) << "frame " << i;
            EXPECT_EQ(frames[i].bytes[0], opcode) << "frame " << i;
            EXPECT_EQ(frames[i].bytes[1], unit) << "frame " << i;
        }
        ++i;
    };
    while (i < frames.size() && !HasFailure()) {
        const sim::Frame& f = frames[i];
        if (f.bytes[0] == 0x01 && f.bytes[1] == 1) {
            for (auto [op, unit] : {std::pair{0x01, 1}, {-1, 1}, {0x03, 1}, {0x25, 1}})
                expect(op, unit);
            ++setters;
        } else if (f.bytes[0] == 0x02) {
            expect(0x02, 2);
            ++readers;
        } else if (f.bytes[0] == 0x0A && f.bytes[1] == 3) {
            for (auto [op, unit] : {std::pair{0x0A, 3}, {0x09, 3}, {-1, 3}, {0x03, 3}, {0x24, 3}})
                expect(op, unit);
        } else {
            expect(0x0A, 2);
        }
    }
    EXPECT_EQ(setters, 8);
    EXPECT_EQ(readers, 8);
    EXPECT_EQ(i, frames.size());
}

} // namespace
} // namespace tsr::test
