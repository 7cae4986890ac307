#include "korvo/dsp/smooth.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

namespace {

using korvo::ExpSmoother;

bool sameBits(float a, float b) {
    return std::memcmp(&a, &b, sizeof a) == 0;
}

TEST(ExpSmoother, TargetEqualToCurrentLeavesItBitIdentical) {
    ExpSmoother s;
    s.initialise(0.1f, 0.05f, 44100.0f);
    const float before = s.current;
    for (int i = 0; i < 100; ++i) EXPECT_TRUE(sameBits(s.nextSample(0.1f), before));
    EXPECT_TRUE(sameBits(s.current, before));
}

TEST(ExpSmoother, TinyDifferenceSnapsToTargetInOneStep) {
    ExpSmoother s;
    s.initialise(0.0f, 0.05f, 44100.0f);
    EXPECT_EQ(s.nextSample(1e-11f), 1e-11f);
    EXPECT_EQ(s.current, 1e-11f);
    // A difference at or above the threshold takes an ordinary step instead.
    s.initialise(0.0f, 0.05f, 44100.0f);
    EXPECT_EQ(s.nextSample(1e-9f), 1e-9f * s.alpha);
}

// Where the plain step is allowed (same sign, at least 2^-10 on both ends) it gives nextSample's
// bits all the way, through the stall short of the target and on the target itself; where it is
// not (a glide to or through zero), stepsPlainlyTo says so.
TEST(ExpSmoother, PlainStepsGiveTheBitsOfTheCheckedStepWhereTheyAreAllowed) {
    const float pairs[][2] = {{2.0f, 30.0f}, {30.0f, 3.0f},         {-0.5f, -0.0009765625f},
                              {1.0f, 1.0f},  {0.0009765625f, 7.0f}, {0.7071f, 0.70710677f}};
    for (const auto& pair : pairs) {
        ExpSmoother checked, plain;
        checked.initialise(pair[0], 0.04f, 48000.0f);
        plain.initialise(pair[0], 0.04f, 48000.0f);
        ASSERT_TRUE(plain.stepsPlainlyTo(pair[1])) << pair[0] << " to " << pair[1];
        for (int i = 0; i < 100000; ++i)
            ASSERT_TRUE(sameBits(plain.nextPlainStep(pair[1]), checked.nextSample(pair[1])))
                << pair[0] << " to " << pair[1] << " step " << i;
    }
    ExpSmoother s;
    s.initialise(0.5f, 0.04f, 48000.0f);
    EXPECT_FALSE(s.stepsPlainlyTo(0.0f));
    EXPECT_FALSE(s.stepsPlainlyTo(-0.5f));
    EXPECT_FALSE(s.stepsPlainlyTo(0.0009f));
}

TEST(ExpSmoother, StepIsDiffTimesAlphaAndConvergesWithTheTimeConstant) {
    ExpSmoother s;
    s.initialise(2.0f, 0.05f, 48000.0f);
    const float first = s.nextSample(3.0f);
    EXPECT_EQ(first, 2.0f + (3.0f - 2.0f) * s.alpha);
    for (int i = 1; i < 2400; ++i) s.nextSample(3.0f);  // one time constant
    EXPECT_NEAR(3.0f - s.current, std::exp(-1.0), 1e-3);
}

}  // namespace
