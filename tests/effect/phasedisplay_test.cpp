#include "effect/phasedisplay.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <numbers>
#include <vector>

#include "korvo/gui/context.h"
#include "tests/effect/display_scene.h"  // LockHeldElsewhere
#include "tests/support/realtime.h"

namespace velmora {
namespace {

using korvo::IntRect;
using korvo::MouseButton;
using korvo::RGBA;

constexpr std::int32_t kW = PhaseDisplay::kDefaultWidth, kH = PhaseDisplay::kDefaultHeight;
constexpr RGBA kBlack{0, 0, 0, 255}, kSentinel{1, 2, 3, 4};
constexpr std::int32_t kBorder = 8;

// One scope outside any editor, drawn into its own raw image; a border of 8 sentinel pixels around
// the element's view shows any write outside it.
struct Scope {
    Scope() {
        phase.setPosition(IntRect{{0, 0}, {kW, kH}});
        korvo::fill(image.view(), kSentinel);
        whole.push(IntRect{{0, 0}, {kW, kH}});
    }
    korvo::ImageView<RGBA> view() {
        return image.view().sub(IntRect{{kBorder, kBorder}, {kBorder + kW, kBorder + kH}});
    }
    void feed(const std::vector<float>& l, const std::vector<float>& r) {
        phase.sendPhaseSamples(l.data(), r.data(), static_cast<std::int32_t>(l.size()), 48000.0f);
    }
    // An animation step; dt = 1 s reads up to 256 pairs and drops everything queued.
    void step(double dt = 1.0) { phase.onAnimate(dt, 0.0); }
    // As the renderer does: the raw layer starts from the lit image (here a plain colour).
    void draw(RGBA background = kBlack) {
        korvo::fill(view(), background);
        phase.onDrawRaw(view(), whole);
    }
    std::size_t takeRawDirty() {
        korvo::Vec<IntRect> rects;
        context.dirtyListRaw.takeAll(rects);
        return rects.length();
    }
    std::int64_t gridSum() const {
        std::int64_t sum = 0;
        for (std::int32_t y = 0; y < kH; ++y)
            for (std::int32_t x = 0; x < kW; ++x) sum += phase.cell(x, y);
        return sum;
    }
    std::int32_t sentinelCount() {
        std::int32_t n = 0;
        for (std::int32_t y = 0; y < image.h(); ++y)
            for (std::int32_t x = 0; x < image.w(); ++x) n += image.view().at(x, y) == kSentinel;
        return n;
    }

    korvo::UIContext context;
    PhaseDisplay phase{&context};
    korvo::OwnedImage<RGBA> image{kW + 2 * kBorder, kH + 2 * kBorder};
    korvo::Vec<IntRect> whole;
};

std::vector<float> constant(std::int32_t n, float v) {
    return std::vector<float>(static_cast<std::size_t>(n), v);
}
std::vector<float> sine(std::int32_t n, float amplitude, double phase = 0.0, std::int64_t start = 0) {
    std::vector<float> x(static_cast<std::size_t>(n));
    for (std::int32_t i = 0; i < n; ++i)
        x[static_cast<std::size_t>(i)] =
            amplitude *
            static_cast<float>(
                std::sin(2.0 * std::numbers::pi * 330.0 * static_cast<double>(start + i) / 48000.0 + phase));
    return x;
}

TEST(PhaseDisplay, FeedStoresOnePairInFourWithoutAllocatingAndDropsBusyBlocks) {
    Scope s;
    std::vector<float> left(1300), right(1300);
    for (std::size_t i = 0; i < left.size(); ++i) left[i] = static_cast<float>(i), right[i] = -left[i];
    korvo::test::RealtimeProbe probe;
    s.feed(left, right);
    EXPECT_EQ(probe.allocations(), 0u);
    EXPECT_EQ(probe.blockingLocks(), 0u);
    ASSERT_EQ(s.phase.sampleFifo().count(), 325);  // frames 3, 7, ..., 1299
    std::vector<PhaseDisplay::Pair> out(256);
    ASSERT_EQ(s.phase.sampleFifo().readOldestAndDrop(out.data(), 256, 0.0, 0), 256);
    for (std::size_t k : {0u, 1u, 200u, 255u}) {
        EXPECT_FLOAT_EQ(out[k].a, static_cast<float>(4 * k + 3));
        EXPECT_FLOAT_EQ(out[k].b, -static_cast<float>(4 * k + 3));
    }
    const auto block = sine(512, 0.5f);
    {
        test::LockHeldElsewhere busy(s.phase.sampleFifo().lockForTesting());
        s.feed(block, block);  // lost
    }
    EXPECT_EQ(s.phase.sampleFifo().count(), 325);
    s.phase.onMouseClick(3, 3, MouseButton::right, false, {});  // switched off: ignored
    s.feed(block, block);
    EXPECT_EQ(s.phase.sampleFifo().count(), 325);
    s.phase.onMouseClick(3, 3, MouseButton::right, false, {});
    s.feed(block, block);
    s.phase.sendPhaseSamples(nullptr, block.data(), 512, 48000.0f);  // no channel: nothing stored
    EXPECT_EQ(s.phase.sampleFifo().count(), 325 + 128);
}

TEST(PhaseDisplay, AfterAPauseInTheTicksItShowsWhatPlaysNow) {
    Scope s;
    std::vector<float> ramp(96000), zeros(96000, 0.0f);  // two seconds nobody looks at
    for (std::size_t i = 0; i < ramp.size(); ++i) ramp[i] = static_cast<float>(i) * 1e-5f;
    s.feed(ramp, zeros);
    s.step(0.015);
    ASSERT_EQ(s.phase.pointCount(), 256);
    EXPECT_GE(s.phase.points()[0].a, static_cast<float>(96000 - 2400 - 4) * 1e-5f);  // the last 50 ms
}

TEST(PhaseDisplay, SplatsBetweenConsecutivePoints) {
    // Two stored pairs of a mono 0.5: side 0, mid 1, the batch's peak, so scale 58.5 puts both at
    // (69, 127.5): five splats with fx = 0, fy = 8.
    Scope s;
    s.feed(constant(8, 0.5f), constant(8, 0.5f));
    s.step();
    ASSERT_EQ(s.phase.pointCount(), 2);
    s.draw();
    EXPECT_EQ(s.phase.cell(69, 127), 5 * ((15 * 7) >> 4));
    EXPECT_EQ(s.phase.cell(69, 128), 5 * ((15 * 8) >> 4));
    EXPECT_EQ(s.gridSum(), 30 + 35);
    EXPECT_EQ(s.view().at(69, 128), (RGBA{35, 35, 35, 255}));  // added as light
    // Bright mode: cells fade by 26, splats are twice as strong; negative mid is drawn upward.
    s.phase.onMouseClick(0, 0, MouseButton::left, false, {});
    s.feed(constant(8, -0.5f), constant(8, -0.5f));
    s.step();
    s.draw();
    EXPECT_EQ(s.phase.cell(69, 127), 4);
    EXPECT_EQ(s.phase.cell(69, 10), 5 * ((15 * 7) >> 3));
    EXPECT_EQ(s.phase.cell(69, 11), 5 * ((15 * 8) >> 3));
    // A single-point batch plots nothing.
    s.feed(constant(4, 0.5f), constant(4, 0.25f));
    s.step();
    ASSERT_EQ(s.phase.pointCount(), 1);
    s.draw();
    EXPECT_EQ(s.gridSum(), (65 - 26) + (75 - 26));
}

TEST(PhaseDisplay, SilenceSitsAtTheCentreAndStopsRedrawingAfterTwentySteps) {
    Scope s;
    std::int32_t marked = 0;
    for (std::int32_t i = 0; i < 30; ++i) {
        s.feed(constant(1024, 0.0f), constant(1024, 0.0f));
        s.step();
        ASSERT_EQ(s.phase.pointCount(), 256);
        if (s.takeRawDirty() > 0) ++marked, s.draw();
    }
    EXPECT_EQ(marked, 20);
    // One saturated cell at (69, 69), shown at the caps; nothing else.
    EXPECT_GT(s.phase.cell(69, 69), 255);
    EXPECT_EQ(s.gridSum(), s.phase.cell(69, 69));
    EXPECT_EQ(s.view().at(69, 69), (RGBA{210, 210, 255, 255}));
    EXPECT_EQ(s.view().at(70, 69), kBlack);
    // Sound wakes it at once; light never darkens what lies underneath.
    s.feed(sine(1024, 0.5f), sine(1024, 0.3f, 1.0));
    s.step();
    EXPECT_EQ(s.takeRawDirty(), 1u);
    s.draw(RGBA{250, 250, 240, 255});
    for (std::int32_t y = 0; y < kH; ++y)
        for (std::int32_t x = 0; x < kW; ++x) ASSERT_EQ(s.view().at(x, y).r, 250) << x << "," << y;
}

TEST(PhaseDisplay, RightClickBlanksWithinTwentyFramesAndASecondBringsItBack) {
    Scope s;
    std::int64_t t = 0;
    auto play = [&](std::int32_t ticks) {
        for (std::int32_t i = 0; i < ticks; ++i, t += 720) {
            s.feed(sine(720, 0.5f, 0.0, t), sine(720, 0.5f, 0.8, t));
            s.step(0.015);
            if (s.takeRawDirty() > 0) s.draw();
        }
    };
    play(10);
    EXPECT_GT(s.gridSum(), 1000);
    EXPECT_TRUE(s.phase.onMouseClick(10, 10, MouseButton::right, false, {}));
    std::int32_t frames = 0;
    for (; s.gridSum() > 0 && frames < 40; ++frames) play(1);
    EXPECT_LE(frames, 20);
    for (std::int32_t y = 0; y < kH; ++y)
        for (std::int32_t x = 0; x < kW; ++x) ASSERT_EQ(s.view().at(x, y), kBlack) << x << "," << y;
    play(25);  // then it rests
    EXPECT_EQ(s.takeRawDirty(), 0u);
    EXPECT_TRUE(s.phase.onMouseClick(10, 10, MouseButton::right, false, {}));
    play(2);
    EXPECT_GT(s.gridSum(), 100);
}

TEST(PhaseDisplay, NonFiniteAndHugeSamplesStayOutOfTheGrid) {
    const auto clean = sine(1024, 0.4f), cleanRight = sine(1024, 0.2f, 0.5);
    Scope a;  // reference: the clean block on a fresh scope
    a.feed(clean, cleanRight);
    a.step();
    a.draw();
    ASSERT_GT(a.gridSum(), 0);

    Scope b;  // a poisoned block first: NaN, infinities and huge values among finite samples
    auto left = clean, right = cleanRight;
    const float inf = std::numeric_limits<float>::infinity();
    const float poison[] = {std::numeric_limits<float>::quiet_NaN(), inf, -inf, 1e30f, -3e38f, 3e38f};
    for (std::size_t i = 3, k = 0; i < left.size(); i += 16, ++k)
        left[i] = poison[k % 6], right[i] = poison[(k + 2) % 6];
    left[7] = 3e38f, right[7] = -3e38f;  // the side overflows
    b.feed(left, right);
    b.step();
    b.draw();
    const std::int32_t sentinels = (kW + 2 * kBorder) * (kH + 2 * kBorder) - kW * kH;
    EXPECT_EQ(b.sentinelCount(), sentinels);  // nothing drawn outside the element
    EXPECT_GT(b.gridSum(), 0);                // the finite points are drawn
    for (std::int32_t i = 0; i < 20; ++i) b.step(), b.draw();
    ASSERT_EQ(b.gridSum(), 0);
    b.feed(clean, cleanRight);  // the next clean block draws exactly as on a fresh scope
    b.step();
    b.draw();
    for (std::int32_t y = 0; y < kH; ++y)
        for (std::int32_t x = 0; x < kW; ++x)
            ASSERT_EQ(b.phase.cell(x, y), a.phase.cell(x, y)) << x << "," << y;
}

TEST(PhaseDisplay, ClicksToggleModesAndTheIndicatorSquares) {
    Scope s;
    korvo::OwnedImage<RGBA> diffuse(kW, kH), material(kW, kH);
    korvo::OwnedImage<korvo::L16> depth(kW, kH);
    const RGBA grey{90, 90, 90, 0}, on{32, 192, 192, 192}, off{192, 32, 150, 192};
    auto pixel = [&](std::int32_t x, std::int32_t y) {
        korvo::fill(diffuse.view(), grey);
        s.phase.onDrawPBR(diffuse.view(), depth.view(), material.view(), s.whole);
        return diffuse.view().at(x, y);
    };
    EXPECT_EQ(pixel(122, 118), on);
    EXPECT_EQ(pixel(124, 120), on);
    EXPECT_EQ(pixel(125, 121), grey);
    EXPECT_EQ(pixel(117, 119), grey);
    EXPECT_TRUE(s.phase.onMouseClick(50, 50, MouseButton::left, false, {}));
    EXPECT_EQ(s.context.dirtyListPBR.length(), 1u);  // the squares live in the PBR layer
    EXPECT_EQ(pixel(117, 119), on);
    EXPECT_TRUE(s.phase.onMouseClick(50, 50, MouseButton::right, false, {}));
    EXPECT_EQ(pixel(123, 119), off);
    EXPECT_EQ(pixel(117, 119), grey);  // no bright square while switched off
    EXPECT_TRUE(s.phase.onMouseClick(50, 50, MouseButton::middle, false, {}));  // taken, ignored
    EXPECT_TRUE(s.phase.isBright() && s.phase.isDisabled());
}

}  // namespace
}  // namespace velmora
