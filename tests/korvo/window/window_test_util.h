#pragma once
// Shared by the real-window tests: a listener that logs every call in order, fills its buffer with
// a chosen colour on each draw, answers dirtyBounds with a chosen box once, and records the
// floating-point setting it runs under.

#include <cstdint>
#include <string>
#include <vector>

#include "korvo/core/fpcontrol.h"
#include "korvo/graphics/image.h"
#include "korvo/window/window.h"

namespace korvo::test {

struct FPState {
    std::uint32_t mxcsr;  // without the sticky status flags
    std::uint16_t fpucw;
    bool operator==(const FPState&) const = default;
};

inline FPState currentFPState() {
    return FPState{FPControl::readMXCSR() & 0xFFC0u, FPControl::readFPUCW()};
}

// What a host might run with: rounding toward zero, denormals kept, 53-bit x87 precision.
inline constexpr FPState kHostFPState{0x7F80u, 0x27F};
inline constexpr FPState kPluginFPState{FPControl::pluginMXCSR & 0xFFC0u, FPControl::pluginFPUCW};

// Sets the host's setting for the scope and puts the previous one back.
class HostFPScope {
public:
    HostFPScope() : saved_(currentFPState()) {
        FPControl::writeMXCSR(kHostFPState.mxcsr);
        FPControl::writeFPUCW(kHostFPState.fpucw);
    }
    ~HostFPScope() {
        FPControl::writeMXCSR(saved_.mxcsr);
        FPControl::writeFPUCW(saved_.fpucw);
    }

private:
    FPState saved_;
};

class LoggingListener final : public IWindowListener {
public:
    std::vector<std::string> log;
    bool handle = true;  // answer for clicks, releases, wheels and keys
    IntRect nextBounds;  // returned by the next dirtyBounds, then cleared
    RGBA fillColor{10, 20, 30, 255};
    OwnedImage<RGBA> buffer{0, 0};
    std::vector<FPState> fpStates;  // one per listener call
    std::int32_t lastX = -1000, lastY = -1000, lastDx = 0, lastDy = 0, lastWheelY = -1000;
    MouseState lastState;
    Key lastKey = Key::unsupported;
    bool lastDoubleClick = false;
    MouseButton lastButton = MouseButton::left;
    int animations = 0;
    double lastDt = -1, lastTime = -1;

    // Log entries that start with `prefix`, in order.
    std::vector<std::string> entries(const std::string& prefix) const {
        std::vector<std::string> out;
        for (const std::string& e : log)
            if (e.rfind(prefix, 0) == 0) out.push_back(e);
        return out;
    }
    // Log without the refresh sequences' "compute" and "bounds", and without "animate".
    std::vector<std::string> inputLog() const {
        std::vector<std::string> out;
        for (const std::string& e : log)
            if (e != "compute" && e != "bounds" && e != "animate") out.push_back(e);
        return out;
    }
    void clear() {
        log.clear();
        fpStates.clear();
        animations = 0;  // ticks while a window opened must not count towards a later wait
    }

    bool onMouseClick(std::int32_t x, std::int32_t y, MouseButton button, bool isDoubleClick,
                      MouseState state) override {
        note(isDoubleClick ? "doubleClick" : "click");
        lastX = x, lastY = y, lastButton = button, lastDoubleClick = isDoubleClick, lastState = state;
        return handle;
    }
    bool onMouseRelease(std::int32_t x, std::int32_t y, MouseButton button, MouseState state) override {
        note("release");
        lastX = x, lastY = y, lastButton = button, lastState = state;
        return handle;
    }
    bool onMouseWheel(std::int32_t x, std::int32_t y, std::int32_t, std::int32_t deltaY,
                      MouseState state) override {
        note("wheel");
        lastX = x, lastY = y, lastWheelY = deltaY, lastState = state;
        return handle;
    }
    void onMouseMove(std::int32_t x, std::int32_t y, std::int32_t dx, std::int32_t dy,
                     MouseState state) override {
        note("move");
        lastX = x, lastY = y, lastDx = dx, lastDy = dy, lastState = state;
    }
    bool onKeyDown(Key key, MouseState modifiers) override {
        note("keyDown");
        lastKey = key;
        lastKeyModifiers = modifiers;
        return handle;
    }
    bool onKeyUp(Key key, MouseState modifiers) override {
        note("keyUp");
        lastKey = key;
        lastKeyModifiers = modifiers;
        return handle;
    }
    bool onTextInput(std::string_view text) override {
        note("text");
        lastText = std::string(text);
        return handleText;
    }
    MouseState lastKeyModifiers;
    std::string lastText;
    bool handleText = true;
    void onDraw(PixelOrder order) override {
        note("draw" + std::to_string(static_cast<int>(order)));
        fill(buffer.view(), fillColor);
    }
    ImageView<RGBA> onResize(std::int32_t w, std::int32_t h) override {
        note("resize" + std::to_string(w) + "x" + std::to_string(h));
        buffer.setSize(w, h);
        fill(buffer.view(), fillColor);
        return buffer.view();
    }
    void computeDirtyAreas() override { note("compute"); }
    IntRect dirtyBounds() override {
        note("bounds");
        const IntRect b = nextBounds;
        nextBounds = IntRect{};
        return b;
    }
    void onCaptureLost() override { note("captureLost"); }
    void onMonitorScaleChanged(float scale) override {
        note("monitorScale");
        lastMonitorScale = scale;
    }
    float lastMonitorScale = 0.0f;
    void onAnimate(double dt, double time) override {
        note("animate");
        ++animations;
        lastDt = dt;
        lastTime = time;
    }

private:
    void note(std::string entry) {
        log.push_back(std::move(entry));
        fpStates.push_back(currentFPState());
    }
};

}  // namespace korvo::test
