#include "effect/dsp/distance.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <vector>

#include "tests/effect/dsp/signal_util.h"
#include "tests/support/realtime.h"

namespace {

using korvo::BiquadCoeffs;
using velmora::DistanceModel;
namespace vt = velmora::test;

// Steady-state gain in dB of a sine through the left channel at distance d.
double measuredGainDb(float d, float rate, double hz) {
    DistanceModel model;
    model.reset(rate);
    const int frames = static_cast<int>(rate);  // 1 s: the 40 ms glides have long settled
    const auto in = vt::sine(hz, rate, frames);
    std::vector<float> outL(in.size()), outR(in.size());
    for (int pos = 0; pos < frames; pos += 512) {
        const int n = std::min(512, frames - pos);
        model.processBlock(in.data() + pos, in.data() + pos, d, outL.data() + pos, outR.data() + pos, n);
    }
    const size_t tail = static_cast<size_t>(frames / 4);
    return vt::toDb(vt::rms(outL, in.size() - tail, tail) / vt::rms(in, in.size() - tail, tail));
}

TEST(DistanceModel, NeutralDistanceIsExactlyTransparent) {
    const auto t = DistanceModel::designTargets(0.0f, 44100.0f);
    EXPECT_EQ(t.gain, 1.0f);
    EXPECT_EQ(t.lowpass, BiquadCoeffs::identity());
    EXPECT_EQ(t.lowcut, BiquadCoeffs::identity());
    EXPECT_EQ(t.shelf, BiquadCoeffs::identity());

    DistanceModel model;
    model.reset(44100.0f);
    const auto inL = vt::sine(1000.0, 44100.0, 700), inR = vt::sine(77.0, 44100.0, 700);
    std::vector<float> outL(700), outR(700);
    EXPECT_EQ(model.processBlock(inL.data(), inR.data(), 0.0f, outL.data(), outR.data(), 700), 1.0f);
    EXPECT_EQ(outL, inL);
    EXPECT_EQ(outR, inR);
}

TEST(DistanceModel, FarthestSettingAt44100) {
    const auto t = DistanceModel::designTargets(-24.0f, 44100.0f);
    EXPECT_NEAR(t.gain, std::pow(10.0, -31.68 / 20.0), 1e-7);
    EXPECT_NEAR(-t.lowpass.a1, 0.86418, 1e-5);
    EXPECT_NEAR(t.lowpass.b0, 1.0 - 0.86418, 1e-5);
    EXPECT_NEAR(t.lowcut.a1, 0.005512, 1e-6);
    EXPECT_NEAR(t.lowcut.b0, 1.0 - 0.005512, 1e-6);
    EXPECT_EQ(t.shelf, BiquadCoeffs::identity());
    for (const auto& c : {t.lowpass, t.lowcut}) {
        EXPECT_EQ(c.b1, 0.0);
        EXPECT_EQ(c.b2, 0.0);
        EXPECT_EQ(c.a2, 0.0);
        EXPECT_EQ(c.b0, static_cast<double>(static_cast<float>(c.b0)));
        EXPECT_EQ(c.a1, static_cast<double>(static_cast<float>(c.a1)));
    }
    // The lowpass removes the treble; the low-cut trims the bass by (1 - q) / (1 + q).
    EXPECT_NEAR(measuredGainDb(-24.0f, 44100.0f, 60.0), vt::toDb((1 - 0.005512) / (1 + 0.005512)), 0.02);
    EXPECT_LT(measuredGainDb(-24.0f, 44100.0f, 10000.0), -15.0);
}

TEST(DistanceModel, MiddleAndTinyDistances) {
    const auto mid = DistanceModel::designTargets(-12.0f, 44100.0f);
    EXPECT_NEAR(-mid.lowpass.a1, 0.53978, 1e-5);
    EXPECT_NEAR(mid.lowcut.a1, 0.000054, 2e-6);
    EXPECT_NEAR(mid.gain, std::pow(10.0, -15.84 / 20.0), 1e-6);

    const auto tiny44 = DistanceModel::designTargets(-0.001f, 44100.0f);
    EXPECT_NEAR(-tiny44.lowpass.a1, 1.2e-8, 0.5e-8);
    const auto tiny96 = DistanceModel::designTargets(-0.001f, 96000.0f);
    EXPECT_NEAR(-tiny96.lowpass.a1, 0.29233, 1e-5);
    EXPECT_LT(measuredGainDb(-0.001f, 96000.0f, 20000.0), -1.0);  // audible treble loss d = 0 lacks
    EXPECT_NEAR(measuredGainDb(0.0f, 96000.0f, 20000.0), 0.0, 1e-4);
}

TEST(DistanceModel, CloserRaisesLevelAndBass) {
    const auto t = DistanceModel::designTargets(6.0f, 44100.0f);
    EXPECT_NEAR(vt::toDb(t.gain), 4.8, 1e-5);
    EXPECT_EQ(t.lowpass, BiquadCoeffs::identity());
    EXPECT_EQ(t.lowcut, BiquadCoeffs::identity());
    EXPECT_NE(t.shelf, BiquadCoeffs::identity());
    EXPECT_NEAR(measuredGainDb(6.0f, 44100.0f, 20.0), 2.7, 0.05);
    EXPECT_NEAR(measuredGainDb(6.0f, 44100.0f, 250.0), 1.35, 0.02);  // half the shelf at its corner
    EXPECT_NEAR(measuredGainDb(6.0f, 44100.0f, 8000.0), 0.0, 0.02);
    EXPECT_NEAR(vt::toDb(DistanceModel::designTargets(3.0f, 48000.0f).gain), 2.4, 1e-5);
}

TEST(DistanceModel, MonoInputSharesOneBufferButKeepsTwoOutputs) {
    DistanceModel mono, stereo;
    mono.reset(48000.0f);
    stereo.reset(48000.0f);
    const auto in = vt::sine(3000.0, 48000.0, 4096);
    const auto copy = in;
    std::vector<float> ml(in.size()), mr(in.size()), sl(in.size()), sr(in.size());
    for (int pos = 0; pos < 4096; pos += 512) {
        const float gm = mono.processBlock(in.data() + pos, in.data() + pos, -10.0f, ml.data() + pos,
                                           mr.data() + pos, 512);
        const float gs = stereo.processBlock(in.data() + pos, copy.data() + pos, -10.0f, sl.data() + pos,
                                             sr.data() + pos, 512);
        EXPECT_EQ(gm, gs);
    }
    EXPECT_EQ(ml, sl);
    EXPECT_EQ(mr, sr);
    EXPECT_EQ(ml, mr);
    EXPECT_NE(ml, in);
}

TEST(DistanceModel, FiltersGlideFromIdentityAfterReset) {
    DistanceModel model;
    model.reset(44100.0f);
    std::vector<float> in(7, 0.0f), outL(7), outR(7);
    // An empty block designs the targets but moves nothing.
    EXPECT_NEAR(model.processBlock(in.data(), in.data(), -24.0f, outL.data(), outR.data(), 0),
                std::pow(10.0, -31.68 / 20.0), 1e-7);
    EXPECT_EQ(model.lowpass(0).coefficients(), BiquadCoeffs::identity());
    model.processBlock(in.data(), in.data(), -24.0f, outL.data(), outR.data(), 7);
    const auto target = DistanceModel::designTargets(-24.0f, 44100.0f);
    const double a = model.lowpass(0).glideAlpha[6];
    EXPECT_EQ(model.lowpass(1).b0, 1.0 + (target.lowpass.b0 - 1.0) * a);
    EXPECT_EQ(model.lowcut(1).a1, target.lowcut.a1 * a);
    EXPECT_EQ(model.shelf(0).coefficients(), BiquadCoeffs::identity());
}

TEST(DistanceModel, ProcessBlockNeitherAllocatesNorLocks) {
    DistanceModel model;
    model.reset(48000.0f);
    const auto in = vt::sine(500.0, 48000.0, 512);
    std::vector<float> l(512), r(512);
    korvo::test::RealtimeProbe probe;
    for (float d : {-24.0f, -3.0f, 0.0f, 2.0f, 6.0f})
        model.processBlock(in.data(), in.data(), d, l.data(), r.data(), 512);
    EXPECT_EQ(probe.allocations(), 0u);
    EXPECT_EQ(probe.blockingLocks(), 0u);
    EXPECT_EQ(probe.tryLocks(), 0u);
}

}  // namespace
