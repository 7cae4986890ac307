// Every processor's fast form against its plain per-frame form, bit for bit: random settings that
// jump, creep or hold long enough for every glide to stall, in blocks of 1, 7, 64, 333, 512 and
// 1300 frames in random order, with noise, signed zeros and subnormals at the input. After every
// block the outputs and the glides' values must carry the same bits.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

#include "effect/dsp/distance.h"
#include "effect/dsp/lfo.h"
#include "effect/dsp/psypan.h"
#include "effect/dsp/stereogenerator.h"
#include "effect/dsp/tiltfilter.h"
#include "effect/dsp/width.h"

namespace {

constexpr std::int32_t kSizes[] = {1, 7, 64, 333, 512, 1300};
constexpr std::int32_t kMaxFrames = 1300;
constexpr int kBlocks = 300;

// Random settings and their automation: a setting jumps, creeps or holds. A hold lasts long
// enough (65 blocks, about half a second) for the glides to stall on their targets.
class Automation {
public:
    explicit Automation(unsigned seed) : random_(seed) {}

    float unit() { return std::uniform_real_distribution<float>(0.0f, 1.0f)(random_); }
    float between(float low, float high) { return low + (high - low) * unit(); }
    std::int32_t size() { return kSizes[std::uniform_int_distribution<int>(0, 5)(random_)]; }
    // True while the settings are to hold still.
    bool holding(int block) const { return block % 100 >= 35; }

    // Moves `value` within [low, high]: held, a jump (sometimes onto one of the special values),
    // or a small step.
    float next(int block, float value, float low, float high, std::initializer_list<float> special = {}) {
        if (holding(block)) return value;
        const float roll = unit();
        if (roll < 0.08f && special.size() > 0)
            return special
                .begin()[std::uniform_int_distribution<std::size_t>(0, special.size() - 1)(random_)];
        if (roll < 0.2f) return between(low, high);
        if (roll < 0.5f) return std::clamp(value + (unit() - 0.5f) * 0.02f * (high - low), low, high);
        return value;
    }

    // A block of input: noise with stretches of signed zeros and subnormals.
    std::vector<float> input(std::int32_t frames) {
        std::vector<float> v(static_cast<std::size_t>(frames));
        const int kind = std::uniform_int_distribution<int>(0, 9)(random_);
        for (float& x : v) {
            x = between(-0.7f, 0.7f);
            if (kind == 0) x = unit() < 0.5f ? -0.0f : 0.0f;
            if (kind == 1) x = (unit() < 0.5f ? -1.0f : 1.0f) * 1e-41f;
        }
        return v;
    }

private:
    std::mt19937 random_;
};

bool sameBits(const std::vector<float>& a, const std::vector<float>& b) {
    return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size() * sizeof(float)) == 0;
}

TEST(PlainForms, PannerFastFormGivesThePlainFormsBits) {
    for (float rate : {48000.0f, 44100.0f}) {
        velmora::PsychoacousticPanner fast, plain;
        fast.reset(rate, kMaxFrames);
        plain.reset(rate, kMaxFrames);
        Automation a(static_cast<unsigned>(rate));
        float pan = 0.3f, head = 1.0f, spectral = 1.0f, level = 1.0f, gain = 0.5f;
        for (int block = 0; block < kBlocks; ++block) {
            pan = a.next(block, pan, -1.2f, 1.2f, {0.0f, 1.0f, -1.0f});
            head = a.next(block, head, 0.0f, 2.0f, {0.0f});
            spectral = a.next(block, spectral, 0.0f, 2.0f, {0.0f});
            level = a.next(block, level, 0.0f, 2.0f, {0.0f});
            gain = a.next(block, gain, 0.0f, 2.0f, {0.0f, 0.5f});
            const std::int32_t n = a.size();
            std::vector<float> l = a.input(n), r = a.input(n), pl = l, pr = r;
            fast.processBlock(l.data(), r.data(), pan, head, spectral, level, gain, n);
            plain.processBlockPlain(pl.data(), pr.data(), pan, head, spectral, level, gain, n);
            ASSERT_TRUE(sameBits(l, pl) && sameBits(r, pr)) << "rate " << rate << " block " << block;
            ASSERT_EQ(fast.currentDelayLeft(), plain.currentDelayLeft()) << block;
            ASSERT_EQ(fast.currentDelayRight(), plain.currentDelayRight()) << block;
            ASSERT_EQ(fast.currentGainLeft(), plain.currentGainLeft()) << block;
            ASSERT_EQ(fast.currentGainRight(), plain.currentGainRight()) << block;
            ASSERT_EQ(fast.leftShelf().coefficients(), plain.leftShelf().coefficients()) << block;
            ASSERT_EQ(fast.rightShelf().coefficients(), plain.rightShelf().coefficients()) << block;
        }
    }
}

// Stereo, mono (one input buffer) and in place (the outputs are the inputs).
TEST(PlainForms, DistanceFastFormGivesThePlainFormsBits) {
    enum class Wiring { stereo, mono, inPlace };
    for (Wiring wiring : {Wiring::stereo, Wiring::mono, Wiring::inPlace}) {
        velmora::DistanceModel fast, plain;
        fast.reset(48000.0f);
        plain.reset(48000.0f);
        Automation a(3u + static_cast<unsigned>(wiring));
        float distance = -12.0f;
        for (int block = 0; block < kBlocks; ++block) {
            distance = a.next(block, distance, -24.0f, 6.0f, {0.0f, -24.0f, 6.0f});
            const std::int32_t n = a.size();
            const std::vector<float> inL = a.input(n), inR = wiring == Wiring::mono ? inL : a.input(n);
            std::vector<float> l(inL.size()), r(inL.size()), pl(inL.size()), pr(inL.size());
            float fastGain = 0.0f, plainGain = 0.0f;
            if (wiring == Wiring::inPlace) {
                l = pl = inL;
                r = pr = inR;
                fastGain = fast.processBlock(l.data(), r.data(), distance, l.data(), r.data(), n);
                plainGain = plain.processBlockPlain(pl.data(), pr.data(), distance, pl.data(), pr.data(), n);
            } else {
                const float* right = wiring == Wiring::mono ? inL.data() : inR.data();
                fastGain = fast.processBlock(inL.data(), right, distance, l.data(), r.data(), n);
                plainGain = plain.processBlockPlain(inL.data(), right, distance, pl.data(), pr.data(), n);
            }
            ASSERT_EQ(fastGain, plainGain);
            ASSERT_TRUE(sameBits(l, pl) && sameBits(r, pr)) << "wiring " << int(wiring) << " block " << block;
            for (int c = 0; c < 2; ++c) {
                ASSERT_EQ(fast.lowpass(c).coefficients(), plain.lowpass(c).coefficients()) << block;
                ASSERT_EQ(fast.lowcut(c).coefficients(), plain.lowcut(c).coefficients()) << block;
                ASSERT_EQ(fast.shelf(c).coefficients(), plain.shelf(c).coefficients()) << block;
            }
        }
    }
}

TEST(PlainForms, TiltFastFormGivesThePlainFormsBits) {
    for (float rate : {44100.0f, 96000.0f}) {
        velmora::TiltFilter fast, plain;
        fast.reset(rate, kMaxFrames);
        plain.reset(rate, kMaxFrames);
        Automation a(static_cast<unsigned>(rate) + 1u);
        float tilt = 3.0f;
        for (int block = 0; block < kBlocks; ++block) {
            tilt = a.next(block, tilt, -6.0f, 6.0f, {0.0f, 0.004f});
            const std::int32_t n = a.size();
            std::vector<float> l = a.input(n), r = a.input(n), pl = l, pr = r;
            fast.processBlock(l.data(), r.data(), tilt, n);
            plain.processBlockPlain(pl.data(), pr.data(), tilt, n);
            ASSERT_TRUE(sameBits(l, pl) && sameBits(r, pr)) << "rate " << rate << " block " << block;
            ASSERT_EQ(fast.gainA().current, plain.gainA().current) << block;
            ASSERT_EQ(fast.gainB().current, plain.gainB().current) << block;
        }
    }
}

TEST(PlainForms, GeneratorFastFormGivesThePlainFormsBits) {
    for (float rate : {48000.0f, 44100.0f}) {
        velmora::StereoGenerator fast, plain;
        fast.reset(rate, 0.04f, kMaxFrames);
        plain.reset(rate, 0.04f, kMaxFrames);
        Automation a(static_cast<unsigned>(rate) + 2u);
        float amount = 0.5f, delayMs = 6.0f, lowpassHz = 2100.0f;
        for (int block = 0; block < kBlocks; ++block) {
            amount = a.next(block, amount, 0.0f, 1.0f, {0.0f, 1.0f});
            delayMs = a.next(block, delayMs, 3.0f, 12.0f);
            lowpassHz = a.next(block, lowpassHz, 200.0f, 22000.0f);
            const std::int32_t n = a.size();
            std::vector<float> l = a.input(n), r = a.input(n), pl = l, pr = r;
            fast.processBlock(l.data(), r.data(), amount, delayMs, lowpassHz, n);
            plain.processBlockPlain(pl.data(), pr.data(), amount, delayMs, lowpassHz, n);
            ASSERT_TRUE(sameBits(l, pl) && sameBits(r, pr)) << "rate " << rate << " block " << block;
            for (int t = 0; t < velmora::StereoGenerator::kNumTaps; ++t)
                ASSERT_EQ(fast.tap(t).current, plain.tap(t).current) << block;
            ASSERT_EQ(fast.amount().current, plain.amount().current) << block;
        }
    }
}

TEST(PlainForms, WidthFastFormGivesThePlainFormsBits) {
    korvo::ExpSmoother fast, plain;
    fast.initialise(1.0f, 0.04f, 48000.0f);
    plain = fast;
    Automation a(9u);
    float target = 1.5f;
    for (int block = 0; block < kBlocks; ++block) {
        target = a.next(block, target, 0.0f, 2.0f, {0.0f, 1.0f, 2.0f});
        const std::int32_t n = a.size();
        std::vector<float> l = a.input(n), r = a.input(n), pl = l, pr = r;
        velmora::applyWidth(l.data(), r.data(), fast, target, n);
        velmora::applyWidthPlain(pl.data(), pr.data(), plain, target, n);
        ASSERT_TRUE(sameBits(l, pl) && sameBits(r, pr)) << block;
        ASSERT_EQ(fast.current, plain.current) << block;
    }
}

// Blocks the chain skips (no modulation) and blocks it modulates, with the tremolo, in every shape
// and rate mode, the host playing, jumping and stopped.
TEST(PlainForms, LfoFastFormsGiveThePlainFormsBits) {
    velmora::LFO fast, plain;
    fast.reset(48000.0f, 77u);
    plain.reset(48000.0f, 77u);
    Automation a(11u);
    velmora::LFOSettings settings;
    korvo::HostTiming timing{120.0, 0, true};
    float depth = 0.5f;
    for (int block = 0; block < kBlocks; ++block) {
        if (!a.holding(block) && a.unit() < 0.2f) {
            settings.wave = static_cast<velmora::LFOWave>(block % 5);
            settings.synced = a.unit() < 0.5f;
            settings.tempoIndex = block % 12;
            settings.phaseDegrees = a.between(-180.0f, 180.0f);
            settings.freqHz = a.between(0.05f, 10.0f);
            timing.hostIsPlaying = a.unit() < 0.8f;
            if (a.unit() < 0.2f) timing.timeInSamples += 48000;  // a jump in the song
        }
        depth = a.next(block, depth, -1.0f, 1.0f, {0.0f});
        const std::int32_t n = a.size();
        fast.beginBlock(settings, timing, n);
        plain.beginBlock(settings, timing, n);
        if (block % 4 == 0) {
            fast.skip(settings, n);
            plain.skipPlain(settings, n);
        } else {
            std::vector<float> l = a.input(n), r = a.input(n), pl = l, pr = r;
            for (std::int32_t done = 0; done < n;) {
                const velmora::LFOSegment s = fast.nextSegment(settings, n - done);
                const velmora::LFOSegment p = plain.nextSegment(settings, n - done);
                ASSERT_EQ(s.frames, p.frames);
                ASSERT_EQ(s.value, p.value) << block;
                ASSERT_EQ(s.rampStart, p.rampStart) << block;
                ASSERT_EQ(fast.applyTremolo(s, depth, l.data() + done, r.data() + done),
                          plain.applyTremoloPlain(p, depth, pl.data() + done, pr.data() + done));
                done += s.frames;
            }
            ASSERT_TRUE(sameBits(l, pl) && sameBits(r, pr)) << block;
            ASSERT_EQ(fast.gainDepth.current, plain.gainDepth.current) << block;
        }
        timing.timeInSamples += n;
    }
}

}  // namespace
