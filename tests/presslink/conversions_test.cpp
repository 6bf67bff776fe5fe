#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <vector>

#include "presslink/press_protocol.h"
#include "presslink/unit_control.h"
#include "presslink/unit_setting.h"

namespace tsr {
namespace {

struct IntCase {
    int in;
    int out;
};

TEST(Conversions, PercentToWire) {
    const IntCase cases[] = {{0, 0},           {1, 2},     {50, 128},
                             {60, 153},        {99, 253},  {100, 255},
                             {-5, 0},          {101, 255}, {-2147483647 - 1, 0},
                             {2147483647, 255}};
    for (const IntCase& c : cases)
        EXPECT_EQ(UnitSetting::PercentToWire(c.in), c.out) << c.in << " %";
}

TEST(Conversions, WireToPercent) {
    const IntCase cases[] = {{0, 0}, {1, 0}, {2, 1}, {32, 13}, {128, 50}, {153, 60}, {254, 99}, {255, 100}};
    for (const IntCase& c : cases)
        EXPECT_EQ(UnitSetting::WireToPercent(c.in), c.out) << "wire " << c.in;
}

TEST(Conversions, EveryPercentBelowHundredSurvivesTheWire) {
    for (int p = 0; p <= 99; ++p)
        EXPECT_EQ(UnitSetting::WireToPercent(UnitSetting::PercentToWire(p)), p);
}

TEST(Conversions, InkingUpDuctorByteIsOneBelowWholeProducts) {
    const IntCase cases[] = {{25, 63}, {50, 127}, {75, 191}, {100, 255}, {99, 253},
                             {10, 25}, {0, 0},    {1, 2},    {150, 255}, {-3, 0}};
    for (const IntCase& c : cases)
        EXPECT_EQ(UnitControl::InkingUpDuctorByte(c.in), c.out) << c.in << " %";
}

TEST(Conversions, PercentageKeys) {
    constexpr float kInfinity = std::numeric_limits<float>::infinity();
    struct Case {
        int key;
        float percent;
        int out;
    };
    const Case cases[] = {
        {100, 10.0f, 110},  {100, -50.0f, 50},   {200, 50.0f, 255},  {3, 50.0f, 4},    {0, 90.0f, 0},
        {17, 0.0f, 17},     {255, 0.0f, 255},    {10, -100.0f, 0},   {10, -300.0f, 0}, {1, 50.0f, 1},
        {2, 25.0f, 2},      {50, 1e30f, 255},    {50, -1e30f, 0},    {40, 2.5f, 41},   {0, kInfinity, 0},
        {0, -kInfinity, 0}, {9, kInfinity, 255}, {9, -kInfinity, 0},
    };
    for (const Case& c : cases)
        EXPECT_EQ(UnitSetting::PercentageKey(c.key, c.percent), c.out)
            << c.key << " with " << c.percent << " %";
}

TEST(Conversions, NotANumberLeavesTheKey) {
    EXPECT_EQ(UnitSetting::PercentageKey(77, std::numeric_limits<float>::quiet_NaN()), 77);
}

TEST(Conversions, FrameChecksum) {
    struct Case {
        std::vector<std::uint8_t> bytes;
        std::uint8_t sum;
    };
    const Case cases[] = {
        {{0x02, 0x01, 0x18}, 0xE4},
        {{0x80}, 0x7F},
        {{}, 0xFF},
        {{0x09, 0x02, 0x18}, 0xDC},
        {{0x03, 0x02, 0x18}, 0xE2},
        {{0xFF, 0x01}, 0xFF},
        {{0xFF, 0xFF, 0xFF}, 0x02},
    };
    for (const Case& c : cases)
        EXPECT_EQ(PressProtocol::FrameChecksum(c.bytes.data(), static_cast<int>(c.bytes.size())), c.sum);
}

} // namespace
} // namespace tsr
