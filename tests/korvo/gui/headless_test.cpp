#include "korvo/window/headless.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace korvo {
namespace {

// Logs every listener call; the frame buffer is a small image it fills with a marker colour.
class LoggingListener final : public IWindowListener {
public:
    std::vector<std::string> log;
    bool handle = true;
    IntRect bounds;
    OwnedImage<RGBA> buffer{0, 0};
    double lastDt = -1, lastTime = -1;
    std::int32_t lastX = -1, lastY = -1, lastDx = 0, lastDy = 0;

    bool onMouseClick(std::int32_t x, std::int32_t y, MouseButton, bool dbl, MouseState) override {
        log.push_back(dbl ? "doubleClick" : "click");
        lastX = x;
        lastY = y;
        return handle;
    }
    bool onMouseRelease(std::int32_t x, std::int32_t y, MouseButton, MouseState) override {
        log.push_back("release");
        lastX = x;
        lastY = y;
        return handle;
    }
    bool onMouseWheel(std::int32_t, std::int32_t, std::int32_t, std::int32_t, MouseState) override {
        log.push_back("wheel");
        return handle;
    }
    void onMouseMove(std::int32_t x, std::int32_t y, std::int32_t dx, std::int32_t dy, MouseState) override {
        log.push_back("move");
        lastX = x, lastY = y, lastDx = dx, lastDy = dy;
    }
    bool onKeyDown(Key, MouseState) override {
        log.push_back("keyDown");
        return handle;
    }
    bool onKeyUp(Key, MouseState) override {
        log.push_back("keyUp");
        return handle;
    }
    void onDraw(PixelOrder order) override {
        log.push_back("draw" + std::to_string(static_cast<int>(order)));
        fill(buffer.view(), RGBA{static_cast<std::uint8_t>(log.size()), 0, 0, 255});
    }
    ImageView<RGBA> onResize(std::int32_t w, std::int32_t h) override {
        log.push_back("resize" + std::to_string(w) + "x" + std::to_string(h));
        buffer.setSize(w, h);
        return buffer.view();
    }
    void computeDirtyAreas() override { log.push_back("compute"); }
    IntRect dirtyBounds() override {
        log.push_back("bounds");
        return bounds;
    }
    void onCaptureLost() override { log.push_back("captureLost"); }
    void onAnimate(double dt, double time) override {
        log.push_back("animate");
        lastDt = dt;
        lastTime = time;
    }
};

using Log = std::vector<std::string>;

TEST(HeadlessWindow, FirstPaintDeliversTheSizeThenDraws) {
    LoggingListener listener;
    HeadlessWindow window(&listener, 8, 6);
    EXPECT_EQ(window.invalidBox(), (IntRect{{0, 0}, {8, 6}}));
    window.paint();
    EXPECT_EQ(listener.log, (Log{"resize8x6", "draw2"}));
    EXPECT_EQ(window.screen().at(7, 5), (RGBA{2, 0, 0, 255}));
    window.paint();  // nothing invalid: no paint
    EXPECT_EQ(window.paintCount(), 1);
}

TEST(HeadlessWindow, HandledInputRefreshesAndPaintsTheDirtyBox) {
    LoggingListener listener;
    HeadlessWindow window(&listener, 8, 6);
    window.paint();
    listener.log.clear();
    window.mouseMove(3, 4);
    EXPECT_EQ(listener.log, (Log{"move", "compute", "bounds"}));  // empty bounds: no paint
    listener.bounds = IntRect{{1, 1}, {3, 2}};
    listener.log.clear();
    EXPECT_TRUE(window.mouseDown(MouseButton::left));
    EXPECT_EQ(listener.log, (Log{"click", "compute", "bounds", "draw2"}));
    EXPECT_EQ(listener.lastX, 3);  // reported at the last move position
    EXPECT_EQ(listener.lastY, 4);
    EXPECT_EQ(window.lastPaintedBox(), (IntRect{{1, 1}, {3, 2}}));
    EXPECT_EQ(window.screen().at(1, 1), (RGBA{4, 0, 0, 255}));  // updated (the marker is the log length)
    EXPECT_EQ(window.screen().at(0, 0), (RGBA{2, 0, 0, 255}));  // outside the box: as before
    listener.handle = false;
    listener.log.clear();
    EXPECT_FALSE(window.mouseUp(MouseButton::left));
    EXPECT_FALSE(window.wheel(0, 1));
    EXPECT_FALSE(window.keyDown(Key::a));
    window.loseCapture();
    EXPECT_EQ(listener.log, (Log{"release", "wheel", "keyDown", "captureLost"}));  // no refresh
}

TEST(HeadlessWindow, MovesReportDeltasAndClicksBeforeAnyMoveAreAtTheOrigin) {
    LoggingListener listener;
    HeadlessWindow window(&listener, 8, 6);
    window.mouseDown(MouseButton::right);
    EXPECT_EQ(listener.lastX, 0);
    EXPECT_EQ(listener.lastY, 0);
    window.mouseMove(5, 2);
    window.mouseMove(-3, 1);  // past the left edge (dragging) gives negative coordinates
    EXPECT_EQ(listener.lastX, -3);
    EXPECT_EQ(listener.lastDx, -8);
    EXPECT_EQ(listener.lastDy, -1);
}

TEST(HeadlessWindow, TicksEvery15MillisecondsOfTheVirtualClock) {
    LoggingListener listener;
    HeadlessWindow window(&listener, 4, 4);
    window.tick();
    EXPECT_DOUBLE_EQ(listener.lastDt, 0.015);
    EXPECT_DOUBLE_EQ(listener.lastTime, 0.015);
    window.advanceTime(100);
    window.tick();
    EXPECT_DOUBLE_EQ(listener.lastDt, 0.115);
    EXPECT_DOUBLE_EQ(listener.lastTime, 0.130);
    EXPECT_EQ(window.timeMs(), 130u);
    // The window was never painted: a refresh with a dirty box paints it, size first.
    listener.bounds = IntRect{{0, 0}, {2, 2}};
    listener.log.clear();
    window.tick();
    EXPECT_EQ(listener.log, (Log{"animate", "compute", "bounds", "resize4x4", "draw2"}));
    // pumpOneMessage paints pending invalid areas first, otherwise ticks.
    window.invalidate(IntRect{{0, 0}, {1, 1}});
    listener.log.clear();
    window.pumpOneMessage();
    EXPECT_EQ(listener.log, (Log{"draw2"}));
    listener.bounds = IntRect{};
    listener.log.clear();
    window.pumpOneMessage();
    EXPECT_EQ(listener.log, (Log{"animate", "compute", "bounds"}));
}

TEST(HeadlessWindow, ResizeDeliversTheNewSizeAtTheNextPaint) {
    LoggingListener listener;
    HeadlessWindow window(&listener, 4, 4, PixelOrder::BGRA8);
    window.paint();
    window.resize(6, 3);
    listener.log.clear();
    window.paint();
    EXPECT_EQ(listener.log, (Log{"resize6x3", "draw0"}));
    EXPECT_EQ(window.screen().w, 6);
    EXPECT_EQ(window.screen().at(5, 2), (RGBA{2, 0, 0, 255}));
    EXPECT_FALSE(window.isClosed());
    window.close();
    EXPECT_TRUE(window.isClosed());
    EXPECT_EQ(window.nativeHandle(), &window);
}

}  // namespace
}  // namespace korvo
