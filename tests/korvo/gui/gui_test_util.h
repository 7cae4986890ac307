#pragma once
// Shared helpers of the GUI tests: an element that records what happens to it.

#include <string>
#include <vector>

#include "korvo/gui/context.h"
#include "korvo/gui/element.h"

namespace korvo::test {

using EventLog = std::vector<std::string>;

// Logs every handler call as "<name>.<event>" and answers clicks, wheels and keys as configured.
class RecordingElement : public UIElement {
public:
    RecordingElement(UIContext* context, std::string name, EventLog* log,
                     ElementFlags flags = ElementFlags::drawsPBR)
        : UIElement(context, flags), name_(std::move(name)), log_(log) {}

    bool handlesClicks = false;
    bool handlesWheel = false;
    bool handlesKeys = false;
    int lastX = -1000, lastY = -1000;

    bool onMouseClick(std::int32_t x, std::int32_t y, MouseButton, bool, MouseState) override {
        log("click");
        lastX = x;
        lastY = y;
        return handlesClicks;
    }
    bool onMouseWheel(std::int32_t x, std::int32_t y, std::int32_t, std::int32_t, MouseState) override {
        log("wheel");
        lastX = x;
        lastY = y;
        return handlesWheel;
    }
    void onMouseMove(std::int32_t x, std::int32_t y, std::int32_t, std::int32_t, MouseState) override {
        log("move");
        lastX = x;
        lastY = y;
    }
    void onMouseDrag(std::int32_t x, std::int32_t y, std::int32_t, std::int32_t, MouseState) override {
        log("drag");
        lastX = x;
        lastY = y;
    }
    void onBeginDrag() override { log("beginDrag"); }
    void onStopDrag() override { log("stopDrag"); }
    void onMouseEnter() override { log("enter"); }
    void onMouseExit() override { log("exit"); }
    void onFocusEnter() override { log("focusEnter"); }
    void onFocusExit() override { log("focusExit"); }
    bool onKeyDown(Key) override {
        log("keyDown");
        return handlesKeys;
    }
    bool onKeyUp(Key) override {
        log("keyUp");
        return handlesKeys;
    }
    void onAnimate(double, double) override { log("animate"); }

private:
    void log(const char* event) {
        if (log_ != nullptr) log_->push_back(name_ + "." + event);
    }
    std::string name_;
    EventLog* log_;
};

inline IntRect box(std::int32_t x0, std::int32_t y0, std::int32_t x1, std::int32_t y1) {
    return IntRect{{x0, y0}, {x1, y1}};
}

}  // namespace korvo::test
