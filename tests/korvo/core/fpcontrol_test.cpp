#include "korvo/core/fpcontrol.h"

#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>

using korvo::FPControl;

namespace {
// A host that enabled denormals and unmasked the divide-by-zero exception.
constexpr std::uint32_t hostMXCSR = 0x1D80;  // invalid, denormal, overflow, underflow, precision masked
constexpr std::uint16_t hostFPUCW = 0x27B;   // zero-divide unmasked, 53-bit precision

int guardedWithEarlyReturn(bool early, std::uint32_t& seenMXCSR) {
    FPControl guard;
    seenMXCSR = FPControl::readMXCSR();
    if (early) return 1;
    return 2;
}

float flushThroughFilter(float x) {
    volatile float input = x;
    volatile float coefficient = 0.5f;
    return input * coefficient;  // a denormal input gives 0 with DAZ/FTZ
}
}  // namespace

TEST(FPControl, SetsThePluginEnvironmentAndRestoresTheHostsOnEveryPath) {
    const std::uint32_t savedMXCSR = FPControl::readMXCSR();
    const std::uint16_t savedFPUCW = FPControl::readFPUCW();
    FPControl::writeMXCSR(hostMXCSR);
    FPControl::writeFPUCW(hostFPUCW);
    for (bool early : {true, false}) {
        std::uint32_t inside = 0;
        guardedWithEarlyReturn(early, inside);
        EXPECT_EQ(inside & 0xFFC0u, 0x9FC0u) << "FTZ, DAZ, all masks, nearest";
        EXPECT_EQ(FPControl::readMXCSR() & 0xFFC0u, hostMXCSR & 0xFFC0u);
        EXPECT_EQ(FPControl::readFPUCW(), hostFPUCW);
    }
    {
        FPControl guard;
        EXPECT_EQ(FPControl::readFPUCW(), 0x37F);
    }
    FPControl::writeMXCSR(savedMXCSR);
    FPControl::writeFPUCW(savedFPUCW);
}

TEST(FPControl, DenormalsBecomeZeroInsideTheGuard) {
    const float denormal = FLT_MIN / 4.0f;
    {
        FPControl guard;
        EXPECT_EQ(flushThroughFilter(denormal), 0.0f);
    }
    const std::uint32_t saved = FPControl::readMXCSR();
    FPControl::writeMXCSR(0x1F80);  // denormals enabled
    EXPECT_NE(flushThroughFilter(denormal), 0.0f);
    FPControl::writeMXCSR(saved);
}
