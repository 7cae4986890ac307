#include "korvo/gui/highlightpower.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>

namespace korvo {
namespace {

float runtimePow(float s, float e) {
    return static_cast<float>(std::pow(static_cast<double>(s), static_cast<double>(e)));
}

// Compares every active lane with the runtime's pow, bit for bit; returns the mismatches.
int mismatches(const std::vector<float>& s, const std::vector<float>& e, const std::vector<int>& masks) {
    std::vector<float> out(s.size(), -7.0f);
    specularPowers(s.data(), e.data(), masks.data(), static_cast<int>(masks.size()), out.data());
    int bad = 0;
    for (std::size_t g = 0; g < masks.size(); ++g)
        for (int l = 0; l < 4; ++l) {
            const std::size_t i = 4 * g + static_cast<std::size_t>(l);
            if (masks[g] == 0) {
                EXPECT_EQ(out[i], -7.0f) << "a group without lanes was written";
                continue;
            }
            if (!(masks[g] & (1 << l))) continue;
            const float want = runtimePow(s[i], e[i]);
            if (std::memcmp(&want, &out[i], sizeof want) != 0 && bad++ < 5)
                ADD_FAILURE() << s[i] << " ^ " << e[i] << ": " << out[i] << " instead of " << want;
        }
    return bad;
}

TEST(SpecularPowers, SameFloatAsTheRuntimeOverTheCompositorsRange) {
    // Bases over (0.001, 1] (and a little above 1, as rounding gives), with every exponent of the
    // roughness table and random ones; a million lanes, some groups partly or wholly inactive.
    std::vector<float> s, e;
    std::vector<int> masks;
    std::uint32_t seed = 17;
    auto next = [&seed] {
        seed = seed * 1664525u + 1013904223u;
        return seed;
    };
    for (int g = 0; g < 250000; ++g) {
        for (int l = 0; l < 4; ++l) {
            const std::uint32_t r = next();
            float base;
            switch (r & 3) {
                case 0:  // uniform
                    base = 0.001f + static_cast<float>(next() >> 8) * (0.999f / 16777216.0f);
                    break;
                case 1:  // close to 1, where high exponents keep the value large
                    base = 1.0f - static_cast<float>(next() >> 8) * (0.05f / 16777216.0f);
                    break;
                case 2:  // any float bit pattern in [0.001, 1]
                    base = std::fmin(std::fmax(std::ldexp(1.0f + static_cast<float>(next() >> 9) / 8388608.0f,
                                                          -static_cast<int>(next() % 10) - 1),
                                               0.001f),
                                     1.0f);
                    break;
                default:  // just above 1
                    base = 1.0f + static_cast<float>(next() % 64) * 0x1p-23f;
                    break;
            }
            const int k = static_cast<int>(next() % 256);
            const float exponent = (r >> 8) & 1 ? static_cast<float>(0.8 * std::exp(5.5 * (1.0 - k / 255.0)))
                                                : static_cast<float>(next() >> 8) * (200.0f / 16777216.0f);
            s.push_back(base);
            e.push_back(exponent);
        }
        const std::uint32_t m = next() % 20;
        masks.push_back(m == 0 ? 0 : m < 4 ? static_cast<int>(next() % 16) : 15);
    }
    EXPECT_EQ(mismatches(s, e, masks), 0);
}

TEST(SpecularPowers, UnderflowSubnormalAndExactCases) {
    // 0.3^196 underflows to 0; results in the float subnormal range and at the normal range's
    // edge; exact powers; 1 to any power.
    const std::vector<float> s = {0.3f, 0.001f, 0.6f, 0.64f,       0.5f,  0.25f,
                                  1.0f, 1.0f,   0.9f, 0.60653066f, 0.58f, 0.7f};
    const std::vector<float> e = {196.0f, 196.0f, 180.0f, 196.0f, 2.0f,   0.5f,
                                  196.0f, 0.8f,   1.0f,   174.0f, 160.0f, 0.0f};
    EXPECT_EQ(mismatches(s, e, {15, 15, 15}), 0);
    std::vector<float> out(4);
    specularPowers(s.data(), e.data(), std::vector<int>{15}.data(), 1, out.data());
    EXPECT_EQ(out[0], 0.0f);
    std::vector<float> exact(12);
    specularPowers(s.data(), e.data(), std::vector<int>{0, 15, 15}.data(), 3, exact.data());
    EXPECT_EQ(exact[4], 0.25f);
    EXPECT_EQ(exact[5], 0.5f);
    EXPECT_EQ(exact[6], 1.0f);
    EXPECT_EQ(exact[11], 1.0f);
}

}  // namespace
}  // namespace korvo
