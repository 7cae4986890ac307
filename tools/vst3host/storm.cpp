#include "tools/vst3host/storm.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <deque>
#include <memory>

#include "tools/vst3host/editor.h"
#include "tools/vst3host/gestures.h"
#include "tools/vst3host/host.h"
#include "tools/vst3host/random.h"
#include "tools/vst3host/stormaudio.h"
#include "tools/vst3host/system.h"

namespace vst3host {

namespace {

// Where Velmora's controls sit in its editor at 100 % (763 x 494): sliders, knobs, switches, the
// bow game, the phase scope, the panorama, the LFO's wave buttons and tempo menu, the preset strip
// and the logo. Scaled to the view's size; for another plug-in they are just more random points.
constexpr std::int32_t kLayoutWidth = 763, kLayoutHeight = 494;
struct Area {
    std::int32_t x0, y0, x1, y1;
};
constexpr Area kControls[] = {
    {47, 114, 76, 257},   {689, 114, 718, 257}, {30, 291, 95, 356},   {672, 291, 737, 356},
    {685, 426, 722, 454}, {10, 395, 115, 479},  {195, 292, 239, 336}, {146, 331, 180, 365},
    {254, 331, 288, 365}, {195, 426, 239, 470}, {344, 300, 452, 408}, {334, 416, 368, 450},
    {382, 412, 416, 446}, {430, 416, 464, 450}, {492, 318, 631, 452}, {143, 88, 381, 229},
    {596, 96, 630, 130},  {596, 149, 630, 183}, {596, 202, 630, 236}, {596, 251, 630, 285},
    {522, 260, 556, 294}, {516, 101, 563, 140}, {438, 108, 497, 248}, {517, 201, 561, 245},
    {527, 146, 552, 182}, {472, 6, 758, 30},    {24, 6, 88, 62},
};

const char* const kKeys[] = {"0",     "1",     "2",         "5",    "7",    "9",    "enter", "escape",
                             "space", "tab",   "backspace", "left", "right", "up",  "down",  "delete",
                             "home",  "end",   "pageup",    "a",    "z",     "m",   "f1"};

constexpr std::int32_t kWarmUpCycles = 10;
// The heap is flat when it grew by at most this much per cycle, or when its high mark rose in at
// most a quarter of the cycles: a cache filled once (at a moment that depends on the timers) raises
// it in one cycle, a leak in every cycle it leaks in (the figures are exact bytes of blocks in use,
// however few leak).
constexpr double kFlatBytesPerCycle = 64.0;
constexpr std::int32_t kRisingCyclesPart = 4;

class Storm {
public:
    Storm(const StormOptions& options, StormReport& report)
        : options_(options), report_(report), random_(options.seed) {}

    bool run() {
        std::string error;
        if (!module_.load(options_.modulePath, error)) return setupFailed("cannot load " + options_.modulePath + ": " + error);
        v::PClassInfo info{};
        if (module_.factory()->countClasses() < 1 || module_.factory()->getClassInfo(0, &info) != v::kResultOk)
            return setupFailed("the module has no class");
        plugin_ = std::make_unique<Plugin>(module_.factory(), info.cid, &host_);
        if (!plugin_->ok()) return setupFailed("createInstance or a face failed");
        plugin_->controller->setComponentHandler(&handler_);
        if (plugin_->prepare(StormAudio::kRate, StormAudio::kFrames) != v::kResultOk)
            return setupFailed("the instance refused stereo at 48 kHz");
        collectParameters();
        makeAutomation();
        if (!openEditor()) return setupFailed("the editor did not open: " + failure_);
        audio_ = std::make_unique<StormAudio>(*plugin_, automation_, options_.allocationCount,
                                              options_.checkFiniteOutput);
        if (!audio_->start()) return setupFailed("no audio thread");

        const std::uint64_t end = monotonicMs() + static_cast<std::uint64_t>(options_.seconds * 1000.0);
        bool ok = true;
        while (ok && monotonicMs() < end) {
            ++report_.actions;
            ok = action() && scanCalls(false);
        }
        release();
        closeEditor();
        ok = ok && scanCalls(true);
        if (!ok) for (const std::string& line : recent_) report_.recentSteps += line + "\n";
        if (ok) cycleHeap();
        audio_->stop();
        plugin_->processor->setProcessing(0);
        plugin_->component->setActive(0);
        report_.gestures = gestures_.gestures();
        report_.edits = gestures_.edits();
        finish();
        plugin_.reset();
        return report_.failed() == 0;
    }

private:
    struct Point {
        std::int32_t x, y;
    };

    bool setupFailed(const std::string& what) {
        if (audio_ != nullptr) audio_->stop();
        report_.checks.push_back({"the storm ran", false, what});
        return false;
    }
    bool fail(const std::string& what) {
        if (failure_.empty()) failure_ = what;
        return false;
    }
    void note(const std::string& what) {
        recent_.push_back(what);
        if (recent_.size() > 32) recent_.pop_front();
    }
    static std::string at(Point p) { return std::to_string(p.x) + "," + std::to_string(p.y); }

    // The parameters a host automates, and the program parameter.
    void collectParameters() {
        const v::int32 count = plugin_->controller->getParameterCount();
        for (v::int32 i = 0; i < count; ++i) {
            v::ParameterInfo info{};
            if (plugin_->controller->getParameterInfo(i, info) != v::kResultOk) continue;
            if ((info.flags & v::kIsProgramChange) != 0)
                programId_ = info.id;
            else if ((info.flags & v::kCanAutomate) != 0)
                automatable_.push_back(info.id);
        }
    }

    v::ParamID anyAutomatable() {
        return automatable_[static_cast<std::size_t>(random_.below(static_cast<std::int32_t>(automatable_.size())))];
    }

    // 64 blocks of host automation: most move one to three parameters (a point or a short ramp
    // each), a few are empty, as blocks between automation points are.
    void makeAutomation() {
        for (int b = 0; b < 64; ++b) {
            auto changes = std::make_unique<ParameterChanges>();
            const std::int32_t queues = automatable_.empty() || random_.chance(0.2) ? 0 : random_.between(1, 3);
            for (std::int32_t q = 0; q < queues; ++q) {
                const v::ParamID id = anyAutomatable();
                double value = random_.unit();
                for (std::int32_t p = 0, points = random_.between(1, 3); p < points; ++p) {
                    changes->add(id, p * (StormAudio::kFrames / points), value);
                    value = std::clamp(value + (random_.unit() - 0.5) * 0.2, 0.0, 1.0);
                }
            }
            automation_.push_back(std::move(changes));
        }
    }

    bool openEditor() {
        editor_ = std::make_unique<EditorHost>();
        std::string error;
        if (!editor_->open(plugin_->controller, error)) {
            editor_.reset();
            return fail(error);
        }
        ++report_.viewsOpened;
        editor_->run(20);
        return true;
    }

    void closeEditor() {
        if (editor_ == nullptr) return;
        editor_->close();
        editor_.reset();
    }

    // A point on a control most of the time, else anywhere in the editor.
    Point target() {
        const v::ViewRect size = editor_->size();
        const std::int32_t width = size.right - size.left, height = size.bottom - size.top;
        if (random_.chance(0.25)) return {random_.below(width), random_.below(height)};
        const Area& a = random_.pick(kControls);
        const std::int32_t x = random_.between(a.x0, a.x1 - 1), y = random_.between(a.y0, a.y1 - 1);
        return {std::min(width - 1, x * width / kLayoutWidth), std::min(height - 1, y * height / kLayoutHeight)};
    }
    Point near(Point p, std::int32_t reach) {
        const v::ViewRect size = editor_->size();
        return {std::clamp(p.x + random_.between(-reach, reach) / 3, 0, size.right - size.left - 1),
                std::clamp(p.y + random_.between(-reach, reach), 0, size.bottom - size.top - 1)};
    }

    void press(int button) {
        editor_->mouseButton(button, true);
        held_ = button;
    }
    // Lets go of what is held (after the storm, and between actions that hold something).
    void release() {
        if (held_ != 0 && editor_ != nullptr) editor_->mouseButton(held_, false);
        held_ = 0;
        if (editor_ != nullptr)
            for (const char* key : {"shift", "ctrl"})
                if (heldKey_ == key) editor_->key(key, false);
        heldKey_.clear();
    }

    bool action() {
        const std::int32_t roll = random_.below(100);
        if (roll < 14) {
            Point p = target();
            note("move to " + at(p));
            editor_->mouseMove(p.x, p.y);
            for (std::int32_t k = random_.below(3); k > 0; --k) {
                p = near(p, 12);
                editor_->mouseMove(p.x, p.y);
            }
        } else if (roll < 28) {
            const Point p = target();
            const bool twice = random_.chance(0.2);
            note(std::string(twice ? "double click at " : "click at ") + at(p));
            editor_->mouseMove(p.x, p.y);
            for (int n = twice ? 2 : 1; n > 0; --n) {
                editor_->mouseButton(1, true);
                editor_->mouseButton(1, false);
            }
        } else if (roll < 48) {
            return drag();
        } else if (roll < 56) {
            const Point p = target();
            const int notches = random_.chance(0.5) ? random_.between(1, 3) : -random_.between(1, 3);
            note("wheel " + std::to_string(notches) + " at " + at(p));
            editor_->mouseMove(p.x, p.y);
            editor_->wheel(notches);
        } else if (roll < 62) {
            return contextMenu();
        } else if (roll < 72) {
            std::string keys;
            for (std::int32_t k = random_.between(1, 4); k > 0; --k) {
                const char* key = random_.pick(kKeys);
                keys += std::string(" ") + key;
                editor_->key(key, true);
                editor_->key(key, false);
            }
            note("keys" + keys);
        } else if (roll < 76) {
            typeNumber();
        } else if (roll < 80) {
            return interruptGesture(true);
        } else if (roll < 82) {
            return interruptGesture(false);
        } else if (roll < 85) {
            note("close and open the editor");
            closeEditor();
            if (!scanCalls(true)) return false;
            return openEditor();
        } else if (roll < 90) {
            if (automatable_.empty()) return true;
            note("host automation writes");
            for (std::int32_t k = random_.between(1, 5); k > 0; --k) {
                plugin_->controller->setParamNormalized(anyAutomatable(), random_.unit());
                ++report_.automationWrites;
            }
            editor_->run(10);
        } else if (roll < 92) {
            if (programId_ < 0) return true;
            const double value = random_.unit();
            note("program change to " + std::to_string(value));
            plugin_->controller->setParamNormalized(static_cast<v::ParamID>(programId_), value);
            editor_->run(10);
        } else if (roll < 94) {
            return stateRoundTrip();
        } else {
            const auto ms = static_cast<std::uint32_t>(random_.between(10, 60));
            note("let the editor run " + std::to_string(ms) + " ms");
            editor_->run(ms);
        }
        return true;
    }

    // Down on a control, a few moves (mostly up and down, as knobs and sliders take them), up;
    // sometimes with shift or ctrl held for fine steps.
    bool drag() {
        Point p = target();
        const std::int32_t moves = random_.between(1, 8);
        if (random_.chance(0.15)) {
            heldKey_ = random_.chance(0.5) ? "shift" : "ctrl";
            editor_->key(heldKey_, true);
        }
        note("drag from " + at(p) + " in " + std::to_string(moves) + " moves" +
             (heldKey_.empty() ? "" : " with " + heldKey_));
        editor_->mouseMove(p.x, p.y);
        press(1);
        for (std::int32_t k = 0; k < moves; ++k) {
            p = near(p, 60);
            editor_->mouseMove(p.x, p.y);
        }
        release();
        return true;
    }

    // A right click: the plug-in's menu (in its window or through the host's). Escape closes it,
    // or a click lands on it, or it stays open for what comes next.
    bool contextMenu() {
        const Point p = target();
        const std::size_t menusBefore = handler_.menus.size();
        editor_->mouseMove(p.x, p.y);
        editor_->mouseButton(3, true);
        editor_->mouseButton(3, false);
        report_.menus += static_cast<std::int64_t>(handler_.menus.size() - menusBefore);
        const std::int32_t then = random_.below(10);
        note("right click at " + at(p) + (then < 5 ? ", escape" : then < 8 ? ", click on the menu" : ""));
        if (then < 5) {
            editor_->key("escape", true);
            editor_->key("escape", false);
        } else if (then < 8) {
            const Point q = near(p, 40);
            editor_->mouseMove(q.x, q.y);
            editor_->mouseButton(1, true);
            editor_->mouseButton(1, false);
        }
        return true;
    }

    // Digits (a sign, a point, a mistake taken back) and enter or escape, as typed into a value.
    void typeNumber() {
        std::string typed;
        auto type = [&](const char* key) {
            typed += std::string(" ") + key;
            editor_->key(key, true);
            editor_->key(key, false);
        };
        if (random_.chance(0.3)) {
            const Point p = target();
            editor_->mouseMove(p.x, p.y);
            editor_->mouseButton(1, true);
            editor_->mouseButton(1, false);
            typed += " (clicked " + at(p) + ")";
        }
        for (std::int32_t k = random_.between(1, 5); k > 0; --k) {
            static const char* const kDigits[] = {"0", "1", "2", "3", "4", "5", "6", "7", "8", "9"};
            type(random_.pick(kDigits));
            if (random_.chance(0.15)) type("backspace");
        }
        type(random_.chance(0.7) ? "enter" : "escape");
        note("typed" + typed);
    }

    // A gesture cut short: a button down on a control, a move, then the editor goes (closed, or
    // detached) with the button still held. It comes back, the mouse moves on and lets go over a
    // window that never saw the press.
    bool interruptGesture(bool closeIt) {
        Point p = target();
        note(std::string(closeIt ? "close" : "detach") + " the editor in a drag from " + at(p));
        editor_->mouseMove(p.x, p.y);
        press(random_.chance(0.9) ? 1 : 3);
        p = near(p, 40);
        editor_->mouseMove(p.x, p.y);
        ++report_.closedMidGesture;
        if (closeIt) {
            closeEditor();
            if (!scanCalls(true)) return false;
            if (!openEditor()) return false;
        } else {
            editor_->detach();
            if (!scanCalls(true)) return false;
            std::string error;
            if (!editor_->reattach(error)) return fail("the editor did not attach again: " + error);
            editor_->run(20);
        }
        p = near(p, 40);
        editor_->mouseMove(p.x, p.y);
        release();
        return true;
    }

    // The host saves the state and restores it while audio plays (an undo, a project reload).
    bool stateRoundTrip() {
        note("state saved and restored");
        MemoryStream stream;
        if (plugin_->getState(stream) != v::kResultOk) return fail("getState failed");
        stream.rewind();
        if (plugin_->setState(stream) != v::kResultOk) return fail("setState refused the instance's own state");
        editor_->run(10);
        return true;
    }

    // The handler's new calls through the ledger; with the editor closed or detached, no gesture
    // may still be open.
    bool scanCalls(bool editorGone) {
        const bool ok = gestures_.take(handler_.calls) && (!editorGone || gestures_.editorGone());
        handler_.calls.clear();
        return ok;
    }

    // Warm-up cycles first (caches the first editors fill), then the counted ones.
    bool cycleHeap() {
        if (options_.cycles <= 0) return true;
        for (std::int32_t c = 0; c < kWarmUpCycles; ++c)
            if (!cycle()) return false;
        if (!heapBytesInUse(heapBefore_)) return true;
        std::uint64_t high = heapBefore_;
        for (std::int32_t c = 0; c < options_.cycles; ++c) {
            if (!cycle()) return false;
            heapBytesInUse(heapAfter_);
            if (heapAfter_ > high) ++heapRises_;
            high = std::max(high, heapAfter_);
        }
        heapMeasured_ = true;
        return true;
    }
    bool cycle() {
        if (!openEditor()) return false;
        editor_->run(20);
        closeEditor();
        return scanCalls(true);
    }

    void finish() {
        std::vector<StormCheck>& checks = report_.checks;
        char line[256];
        std::snprintf(line, sizeof line, "%lld actions, %lld editors opened, %lld of them left in a gesture",
                      static_cast<long long>(report_.actions), static_cast<long long>(report_.viewsOpened),
                      static_cast<long long>(report_.closedMidGesture));
        checks.push_back({"no crash, every call returned", failure_.empty(), failure_.empty() ? line : failure_});
        std::snprintf(line, sizeof line, "%lld gestures, %lld performEdit calls, none outside a gesture or left open",
                      static_cast<long long>(gestures_.gestures()), static_cast<long long>(gestures_.edits()));
        checks.push_back({"edits in balanced gestures", gestures_.failure().empty(),
                          gestures_.failure().empty() ? line : gestures_.failure()});
        const std::int64_t offThread = handler_.callsOffThread.load();
        checks.push_back({"component handler called on the UI thread only", offThread == 0,
                          offThread == 0 ? "yes" : std::to_string(offThread) + " calls from another thread"});

        report_.processCalls = audio_->processCalls();
        std::string audio = std::to_string(report_.processCalls) + " blocks with automation, " +
                            std::to_string(report_.automationWrites) + " automation writes on the UI thread";
        bool audioOk = report_.processCalls > 0;
        if (audio_->failedCall() >= 0) {
            audioOk = false;
            audio = "process call " + std::to_string(audio_->failedCall()) + " returned " +
                    std::to_string(audio_->failedResult());
        } else if (audio_->nonFiniteCall() >= 0) {
            audioOk = false;
            audio = "block " + std::to_string(audio_->nonFiniteCall()) + ", channel " +
                    std::to_string(audio_->nonFiniteChannel()) + ", frame " +
                    std::to_string(audio_->nonFiniteFrame()) + " is not finite";
        }
        checks.push_back({options_.checkFiniteOutput ? "process ok and every output sample finite" : "process ok",
                          audioOk, audio});
        if (options_.allocationCount != nullptr)
            checks.push_back({"no allocation in process", audio_->allocations() == 0,
                              std::to_string(audio_->allocations()) + " allocations on the audio thread"});
        if (!heapMeasured_) return;
        const double perCycle = (static_cast<double>(heapAfter_) - static_cast<double>(heapBefore_)) /
                                static_cast<double>(options_.cycles);
        std::snprintf(line, sizeof line,
                      "%llu bytes in use before, %llu after %d open-close cycles (%+.1f per cycle; the high mark rose "
                      "in %d cycles)",
                      static_cast<unsigned long long>(heapBefore_), static_cast<unsigned long long>(heapAfter_),
                      static_cast<int>(options_.cycles), perCycle, static_cast<int>(heapRises_));
        const bool flat = perCycle <= kFlatBytesPerCycle || heapRises_ * kRisingCyclesPart <= options_.cycles;
        checks.push_back({"heap flat over the editor's open-close cycles", flat, line});
    }

    const StormOptions& options_;
    StormReport& report_;
    Random random_;
    Module module_;
    HostApplication host_{"vst3host storm"};
    ComponentHandler handler_;
    std::unique_ptr<Plugin> plugin_;
    std::unique_ptr<EditorHost> editor_;
    std::unique_ptr<StormAudio> audio_;
    std::vector<std::unique_ptr<ParameterChanges>> automation_;
    std::vector<v::ParamID> automatable_;
    std::int64_t programId_ = -1;
    GestureLedger gestures_;
    int held_ = 0;         // the mouse button held down, 0 for none
    std::string heldKey_;  // the modifier held down, empty for none
    std::uint64_t heapBefore_ = 0, heapAfter_ = 0;
    std::int32_t heapRises_ = 0;  // cycles after which the most bytes in use so far was higher
    bool heapMeasured_ = false;
    std::string failure_;         // the first call that did not work
    std::deque<std::string> recent_;
};

}  // namespace

bool runStorm(const StormOptions& options, StormReport& report) {
    report = StormReport{};
    Storm storm(options, report);
    return storm.run();
}

}  // namespace vst3host
