#include "korvo/window/window.h"

#include <gtest/gtest.h>

namespace korvo {
namespace {

TEST(WindowWheel, NotchesTruncateTowardZero) {
    EXPECT_EQ(wheelNotches(120), 1);
    EXPECT_EQ(wheelNotches(-120), -1);
    EXPECT_EQ(wheelNotches(60), 0);  // a high-resolution wheel's half step
    EXPECT_EQ(wheelNotches(-60), 0);
    EXPECT_EQ(wheelNotches(239), 1);
    EXPECT_EQ(wheelNotches(360), 3);
}

}  // namespace
}  // namespace korvo
