#include "effect/panorama.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "korvo/widgets/bitmapfont.h"
#include "tests/effect/display_scene.h"
#include "tests/support/realtime.h"

namespace velmora {
namespace {

using korvo::MouseButton;
using test::DisplayScene;
using Log = std::vector<std::string>;

// The host's view of edits: "begin 6", "set 0", "end 6".
class EditLog final : public korvo::IHostCommand {
public:
    Log log;
    void beginParameterEdit(std::int32_t i) noexcept override { log.push_back("begin " + std::to_string(i)); }
    void automateParameter(std::int32_t i, float) noexcept override {
        log.push_back("set " + std::to_string(i));
    }
    void endParameterEdit(std::int32_t i) noexcept override { log.push_back("end " + std::to_string(i)); }
    bool requestResize(std::int32_t, std::int32_t) noexcept override { return false; }
    korvo::HostKind hostKind() const noexcept override { return korvo::HostKind::unknown; }
};

class PanoramaTest : public ::testing::Test {
protected:
    PanoramaTest() { client.setHostCommand(&edits); }

    korvo::FloatParameter& param(Param i) { return static_cast<korvo::FloatParameter&>(client.parameter(i)); }
    void zoomTo(std::int32_t index) {  // by wheel notches
        while (p->zoomIndex() != index) p->onMouseWheel(0, 0, 0, p->zoomIndex() < index ? 1 : -1, {});
    }
    float fromListener(PanoramaDisplay::Point q) const {
        return std::hypot(q.x - p->listenerPoint().x, q.y - p->listenerPoint().y);
    }

    VelmoraClient client;
    EditLog edits;
    DisplayScene scene{client};
    PanoramaDisplay* p = scene.panorama();
    const std::int32_t x0 = DisplayScene::kPanoramaBox.min.x, y0 = DisplayScene::kPanoramaBox.min.y;
};

TEST_F(PanoramaTest, DistanceSixIsTheListenerAndFarDistancesTheRim) {
    EXPECT_FLOAT_EQ(p->usableRadius(), 91.0f);  // 238 x 141: min(119, 127) - 28
    EXPECT_EQ(p->zoomIndex(), 1);
    for (std::int32_t zoom = 0; zoom < 4; ++zoom) {
        zoomTo(zoom);
        EXPECT_FLOAT_EQ(p->zoomFactor(), static_cast<float>(zoom + 1));
        for (float pan : {-1.0f, 0.0f, 0.7f})
            EXPECT_NEAR(fromListener(p->pointFromPanDistance(6.0f, pan)), 0.0f, 1e-4f);
    }
    zoomTo(1);  // x2: -9 and below on the rim
    for (float d : {-9.0f, -15.0f, -24.0f})
        EXPECT_NEAR(fromListener(p->pointFromPanDistance(d, 0.4f)), 91.0f, 1e-3f);
    EXPECT_LT(fromListener(p->pointFromPanDistance(-8.5f, 0.4f)), 90.0f);
    zoomTo(3);  // x4: -1.5 and below
    for (float d : {-1.5f, -24.0f})
        EXPECT_NEAR(fromListener(p->pointFromPanDistance(d, -0.4f)), 91.0f, 1e-3f);
    EXPECT_LT(fromListener(p->pointFromPanDistance(-1.0f, -0.4f)), 90.0f);
    // Pan 0 straight up from L = (119, 123), +1 to the right.
    zoomTo(0);
    EXPECT_NEAR(p->pointFromPanDistance(-24.0f, 0.0f).y, 32.0f, 1e-4f);
    EXPECT_NEAR(p->pointFromPanDistance(-24.0f, 1.0f).x, 210.0f, 1e-4f);
}

TEST_F(PanoramaTest, PointsMapBackToPanAndDistance) {
    for (std::int32_t zoom = 0; zoom < 4; ++zoom) {
        zoomTo(zoom);
        for (float d : {5.0f, 0.0f, -1.0f}) {
            for (float pan : {-80.0f, 0.0f, 33.0f, 90.0f}) {
                const auto q = p->pointFromPanDistance(d, pan / 90.0f);
                const auto back = p->panDistanceFromPoint(q.x, q.y);
                EXPECT_NEAR(back.panDegrees, pan, 0.02f) << zoom << " " << d;
                EXPECT_NEAR(back.distance, d, 0.01f) << zoom << " " << pan;
            }
        }
    }
    // On the listener the angle is undefined: the pan stays, the distance is +6.
    param(kPan).setFromEditor(37.0);
    const auto atListener = p->panDistanceFromPoint(119.0f, 123.0f);
    EXPECT_FLOAT_EQ(atListener.panDegrees, 37.0f);
    EXPECT_FLOAT_EQ(atListener.distance, 6.0f);
}

TEST_F(PanoramaTest, TiltColours) {
    using korvo::RGBA;
    EXPECT_EQ(p->colorFromTilt(0.0f), (RGBA{220, 220, 255, 255}));
    EXPECT_EQ(p->colorFromTilt(6.0f), (RGBA{180, 220, 255, 255}));
    EXPECT_EQ(p->colorFromTilt(40.0f), (RGBA{140, 220, 255, 255}));
    EXPECT_EQ(p->colorFromTilt(-3.0f), (RGBA{220, 220, 235, 255}));
    EXPECT_EQ(p->colorFromTilt(-12.0f), (RGBA{220, 220, 175, 255}));
    EXPECT_EQ(p->colorFromTilt(std::numeric_limits<float>::quiet_NaN()), (RGBA{220, 220, 255, 255}));
}

TEST_F(PanoramaTest, ClicksAreTakenNearTheHalfDiscOnly) {
    // Rmax + 30 = 121 pixels from L = (119, 123).
    EXPECT_FALSE(p->onMouseClick(119, 123 - 121, MouseButton::left, false, {}));
    EXPECT_FALSE(p->onMouseClick(119 - 100, 123 - 70, MouseButton::left, false, {}));  // 122 away
    EXPECT_FALSE(p->onMouseClick(119, 142, MouseButton::left, false, {}));             // below the element
    EXPECT_TRUE(edits.log.empty());
    EXPECT_TRUE(p->onMouseClick(119, 123 - 120, MouseButton::left, false, {}));
    auto& window = scene.open();
    EXPECT_FALSE(window.click(x0 + 2, y0 + 2));
    EXPECT_TRUE(window.click(x0 + 119, y0 + 60));
}

TEST_F(PanoramaTest, ClickDragAndReleaseEditInOrder) {
    auto& window = scene.open();
    window.mouseMove(x0 + 119 + 45, y0 + 123 - 45);  // 45 degrees, sqrt(2) x 45 pixels from L
    ASSERT_TRUE(window.mouseDown(MouseButton::left));
    EXPECT_EQ(edits.log,
              (Log{"begin 6", "begin 0", "set 6", "set 0", "end 6", "end 0", "begin 6", "begin 0"}));
    EXPECT_NEAR(param(kPan).value(), 45.0, 1e-4);
    EXPECT_NEAR(param(kDistance).value(), (std::sqrt(2.0) * 45.0 / 91.0 / 2.0 - 1.0) * -30.0 - 24.0, 1e-3);
    edits.log.clear();
    // Below and left of the listener: pan -90; far away: distance -24 (the parameter clamps).
    window.mouseMove(x0 - 200, y0 + 300);
    EXPECT_EQ(edits.log, (Log{"set 6", "set 0"}));
    EXPECT_DOUBLE_EQ(param(kPan).value(), -90.0);
    EXPECT_DOUBLE_EQ(param(kDistance).value(), -24.0);
    window.mouseMove(x0 + 500, y0 + 123);
    EXPECT_DOUBLE_EQ(param(kPan).value(), 90.0);
    edits.log.clear();
    window.mouseUp(MouseButton::left);
    EXPECT_EQ(edits.log, (Log{"end 0", "end 6"}));
}

TEST_F(PanoramaTest, DoubleClickAndAltClickReset) {
    auto& window = scene.open();
    param(kPan).setFromEditor(-60.0);
    param(kDistance).setFromEditor(-10.0);
    zoomTo(3);
    edits.log.clear();
    window.mouseMove(x0 + 60, y0 + 60);
    ASSERT_TRUE(window.mouseDown(MouseButton::left, {}, true));
    window.mouseUp(MouseButton::left);
    EXPECT_EQ(edits.log, (Log{"begin 6", "set 6", "end 6", "begin 0", "set 0", "end 0", "begin 6", "begin 0",
                              "end 0", "end 6"}));
    EXPECT_DOUBLE_EQ(param(kPan).value(), 0.0);
    EXPECT_DOUBLE_EQ(param(kDistance).value(), 0.0);
    EXPECT_EQ(p->zoomIndex(), 3);  // a double click keeps the zoom
    param(kPan).setFromEditor(20.0);
    korvo::MouseState alt;
    alt.alt = true;
    ASSERT_TRUE(window.mouseDown(MouseButton::left, alt));
    window.mouseUp(MouseButton::left, alt);
    EXPECT_DOUBLE_EQ(param(kPan).value(), 0.0);
    EXPECT_EQ(p->zoomIndex(), 1);  // Alt also brings the zoom back to x2
}

TEST_F(PanoramaTest, WheelIsTakenAtTheEndsWithoutChange) {
    EXPECT_FALSE(p->onMouseWheel(10, 10, 3, 0, {}));  // horizontal only: not ours
    zoomTo(3);
    korvo::Vec<korvo::IntRect> rects;
    scene.uiContext().dirtyListRaw.takeAll(rects);
    EXPECT_TRUE(p->onMouseWheel(10, 10, 0, 1, {}));
    EXPECT_EQ(p->zoomIndex(), 3);
    EXPECT_EQ(scene.uiContext().dirtyListRaw.length(), 0u);
    zoomTo(0);
    EXPECT_TRUE(p->onMouseWheel(10, 10, 0, -1, {}));
    EXPECT_EQ(p->zoomIndex(), 0);
}

TEST_F(PanoramaTest, FeedFollowsTheAudioAndABusyLockLosesOneState) {
    p->sendPanoramaState(48000.0f, 0.5f, 3.0f, -12.0f, 0.25f);
    p->onAnimate(0.015, 0.0);
    EXPECT_FLOAT_EQ(p->lastState().pan, 0.25f);
    EXPECT_FLOAT_EQ(p->lastState().distance, -12.0f);
    EXPECT_FLOAT_EQ(p->lastState().tilt, 3.0f);
    EXPECT_FLOAT_EQ(p->lastState().gain, 0.5f);
    {
        test::LockHeldElsewhere busy(p->stateFifo().lockForTesting());
        p->sendPanoramaState(48000.0f, 1.0f, 0.0f, 5.0f, -1.0f);  // dropped
    }
    p->onAnimate(0.015, 0.015);
    EXPECT_FLOAT_EQ(p->lastState().pan, 0.25f);  // the previous state stays
    p->sendPanoramaState(48000.0f, 1.0f, 0.0f, 5.0f, -0.5f);
    p->onAnimate(0.015, 0.03);
    EXPECT_FLOAT_EQ(p->lastState().pan, -0.5f);
    // After a pause in the ticks (16 states, 0.17 s) it goes on from the last 50 ms: 5 states.
    for (int i = 0; i < 16; ++i)
        p->sendPanoramaState(48000.0f, 1.0f, 0.0f, 0.0f, static_cast<float>(i) / 16.0f);
    p->onAnimate(0.015, 0.2);
    EXPECT_FLOAT_EQ(p->lastState().pan, 11.0f / 16.0f);
}

// Without an editor's render workers, whose start-up would disturb the process-wide probe.
TEST(Panorama, AutomationOnTheAudioThreadOnlyRaisesAFlag) {
    VelmoraClient client;
    korvo::UIContext context;
    auto param = [&](Param i) { return static_cast<korvo::FloatParameter*>(&client.parameter(i)); };
    PanoramaDisplay p(&context, param(kPan), param(kDistance), param(kTilt), param(kOutputLevel));
    p.setPosition(DisplayScene::kPanoramaBox);
    auto source = [&] {
        return p.pointFromPanDistance(static_cast<float>(param(kDistance)->value()),
                                      static_cast<float>(param(kPan)->value()) / 90.0f);
    };
    const PanoramaDisplay::Point before = source();
    korvo::test::RealtimeProbe probe;
    client.parameter(kPan).setNormalizedFromHost(0.8);
    client.parameter(kOutputLevel).setNormalizedFromHost(0.1);
    EXPECT_EQ(probe.allocations(), 0u);
    EXPECT_EQ(probe.blockingLocks(), 0u);
    EXPECT_EQ(context.dirtyListPBR.length() + context.dirtyListRaw.length(), 0u);
    p.animate(0.015, 0.0);  // the editor's tick marks it, the raw layer only
    EXPECT_EQ(context.dirtyListPBR.length(), 0u);
    // Where the source was and where it goes, within the display and short of all of it.
    korvo::Vec<korvo::IntRect> rects;
    context.dirtyListRaw.takeAll(rects);
    ASSERT_FALSE(rects.empty());
    std::int64_t marked = 0;
    for (const korvo::IntRect& r : rects) {
        EXPECT_EQ(r.intersection(DisplayScene::kPanoramaBox), r);
        marked += std::int64_t{r.width()} * r.height();
    }
    EXPECT_LT(marked,
              std::int64_t{DisplayScene::kPanoramaBox.width()} * DisplayScene::kPanoramaBox.height() / 2);
    for (const PanoramaDisplay::Point q : {before, source()}) {
        const auto x = DisplayScene::kPanoramaBox.min.x + static_cast<std::int32_t>(q.x);
        const auto y = DisplayScene::kPanoramaBox.min.y + static_cast<std::int32_t>(q.y);
        EXPECT_TRUE(std::any_of(rects.begin(), rects.end(),
                                [&](const korvo::IntRect& r) { return r.contains(x, y); }))
            << x << "," << y;
    }
}

int brightness(korvo::ImageView<korvo::RGBA> image, std::int32_t x, std::int32_t y) {
    return image.at(x, y).r + image.at(x, y).g + image.at(x, y).b;
}

TEST_F(PanoramaTest, DrawsTheSourceTheHoverPreviewAndNothingOutside) {
    auto& window = scene.open();
    // Defaults at zoom x2: the source 0.4 Rmax = 36.4 pixels above L.
    const std::int32_t dotX = x0 + 119, dotY = y0 + 123 - 36;
    EXPECT_GT(brightness(window.screen(), dotX, dotY), brightness(window.screen(), x0 + 200, y0 + 40) + 200);
    // Hovering shows where a click would put the source; leaving hides it.
    const int before = brightness(window.screen(), x0 + 60, y0 + 70);
    window.mouseMove(x0 + 60, y0 + 70);
    EXPECT_GT(brightness(window.screen(), x0 + 60, y0 + 70), before + 50);
    window.mouseMove(x0 + 300, 150);
    EXPECT_EQ(brightness(window.screen(), x0 + 60, y0 + 70), before);

    // A state full of NaN draws no audio marks and nothing outside the element.
    korvo::OwnedImage<korvo::RGBA> reference(window.width(), window.height());
    korvo::copyBox(window.screen(), reference.view());
    const float nan = std::numeric_limits<float>::quiet_NaN();
    p->sendPanoramaState(48000.0f, nan, nan, nan, nan);
    window.tick();
    ASSERT_TRUE(std::isnan(p->lastState().pan));
    for (std::int32_t y = 0; y < window.height(); ++y) {
        for (std::int32_t x = 0; x < window.width(); ++x) {
            if (DisplayScene::kPanoramaBox.contains(x, y)) continue;
            ASSERT_EQ(window.screen().at(x, y), reference.view().at(x, y)) << x << "," << y;
        }
    }
    EXPECT_GT(brightness(window.screen(), dotX, dotY), brightness(window.screen(), x0 + 200, y0 + 40) + 200);
}

// Dragging the source is drawn by the frame after each move, not a tick later; the tick after it
// has nothing left to draw, and the far corner of the display keeps its pixels.
TEST_F(PanoramaTest, ADragIsDrawnByTheFrameAfterItsMove) {
    auto& window = scene.open();
    const std::int32_t dotX = x0 + 119, dotY = y0 + 123 - 36;
    korvo::OwnedImage<korvo::RGBA> before(window.width(), window.height());
    korvo::copyBox(window.screen(), before.view());
    const int there = brightness(window.screen(), dotX - 40, dotY + 10);
    window.mouseMove(dotX, dotY);
    window.mouseDown(MouseButton::left);
    window.mouseMove(dotX - 40, dotY + 10, korvo::MouseState{.left = true});
    EXPECT_GT(brightness(window.screen(), dotX - 40, dotY + 10), there + 200);  // no tick in between
    korvo::OwnedImage<korvo::RGBA> moved(window.width(), window.height());
    korvo::copyBox(window.screen(), moved.view());
    window.tick();
    for (std::int32_t y = y0; y < y0 + 141; ++y)
        for (std::int32_t x = x0; x < x0 + 238; ++x)
            ASSERT_EQ(window.screen().at(x, y), moved.view().at(x, y));
    window.mouseUp(MouseButton::left);
    for (std::int32_t y = y0; y < y0 + 30; ++y)
        for (std::int32_t x = x0 + 200; x < x0 + 238; ++x)
            ASSERT_EQ(window.screen().at(x, y), before.view().at(x, y)) << x << "," << y;
}

TEST_F(PanoramaTest, ZoomLabelNamesTheZoomInTheBitmapFont) {
    auto& window = scene.open();
    window.mouseMove(x0 + 119, y0 + 60);  // the wheel goes to the element under the pointer
    const std::int32_t tx = DisplayScene::kPanoramaBox.max.x - 39, ty = DisplayScene::kPanoramaBox.max.y - 13;
    const char* labels[4] = {"x1", "x2", "x3", "x4"};
    for (std::int32_t zoom : {3, 0, 2, 1}) {
        while (p->zoomIndex() != zoom) window.wheel(0, p->zoomIndex() < zoom ? 1 : -1);
        korvo::OwnedImage<korvo::RGBA> text(16, 8);
        korvo::fill(text.view(), korvo::RGBA{});
        korvo::drawBitmapText(text.view(), 0, 0, labels[zoom], korvo::RGBA{255, 255, 255, 255},
                              korvo::BitmapFontSize::small8x8);
        // Every inked pixel of the label stands well above every pixel between its strokes.
        int darkestInk = 3 * 255, brightestGap = 0;
        for (std::int32_t y = 0; y < 8; ++y)
            for (std::int32_t x = 0; x < 16; ++x) {
                const int b = brightness(window.screen(), tx + x, ty + y);
                if (text.view().at(x, y).r != 0)
                    darkestInk = std::min(darkestInk, b);
                else
                    brightestGap = std::max(brightestGap, b);
            }
        EXPECT_GT(darkestInk, brightestGap + 100) << labels[zoom];
    }
}

}  // namespace
}  // namespace velmora
