#pragma once
// Stand-ins for the effect's editor in the displays' tests.
// - DisplayScene: a small GUIGraphics with a plain dark background and the panorama and the phase
//   scope in boxes of their editor sizes (238 x 141 and 139 x 134), bound to a VelmoraClient's
//   parameters, drawn through the headless window.
// - DisplayEditor: the two displays without a window or render workers (no threads to disturb the
//   real-time probes), attached to the client's feed the way the effect's editor attaches them;
//   EditorClient is a VelmoraClient whose createGraphics makes one.

#include <atomic>
#include <cstdint>
#include <thread>

#include "effect/main.h"
#include "effect/panorama.h"
#include "effect/phasedisplay.h"
#include "korvo/gui/context.h"
#include "korvo/gui/graphics.h"
#include "korvo/window/headless.h"

namespace velmora::test {

class DisplayScene final : public korvo::GUIGraphics {
public:
    static constexpr std::int32_t kWidth = 400;
    static constexpr std::int32_t kHeight = 160;
    static constexpr korvo::IntRect kPanoramaBox{{5, 8}, {243, 149}};
    static constexpr korvo::IntRect kPhaseBox{{255, 12}, {394, 146}};
    static constexpr korvo::RGBA kBackground{28, 32, 38, 0};

    explicit DisplayScene(VelmoraClient& client)
        : GUIGraphics(kWidth, kHeight, korvo::ElementFlags::drawsPBR) {
        auto param = [&](Param index) {
            return static_cast<korvo::FloatParameter*>(&client.parameter(index));
        };
        panorama_ = addChild(korvo::makeHeap<PanoramaDisplay>(&uiContext(), param(kPan), param(kDistance),
                                                              param(kTilt), param(kOutputLevel)));
        panorama_->setPosition(kPanoramaBox);
        phase_ = addChild(korvo::makeHeap<PhaseDisplay>(&uiContext()));
        phase_->setPosition(kPhaseBox);
        setWindowFactory(&korvo::HeadlessWindow::create);
    }

    // The children keep the boxes they were given.
    void reflow(korvo::IntRect box) override { _position = box; }
    void onDrawPBR(korvo::ImageView<korvo::RGBA> diffuse, korvo::ImageView<korvo::L16> depth,
                   korvo::ImageView<korvo::RGBA> material, const korvo::Vec<korvo::IntRect>& rects) override {
        for (const korvo::IntRect& r : rects) {
            korvo::fillBox(diffuse, r, kBackground);
            korvo::fillBox(depth, r, korvo::L16{20000});
            korvo::fillBox(material, r, korvo::RGBA{170, 60, 80, 255});
        }
    }

    // Opens the headless window and draws the first frame.
    korvo::HeadlessWindow& open() {
        openUI(nullptr, nullptr, korvo::HostKind::unknown, korvo::WindowBackend::win32);
        auto& w = *static_cast<korvo::HeadlessWindow*>(window());
        w.paint();
        w.tick();
        return w;
    }

    PanoramaDisplay* panorama() const noexcept { return panorama_; }
    PhaseDisplay* phase() const noexcept { return phase_; }

private:
    PanoramaDisplay* panorama_ = nullptr;
    PhaseDisplay* phase_ = nullptr;
};

// Holds a mutex on another thread while it lives: the framework's mutex is recursive, so a lock
// taken on the test's own thread would not make a try-lock there fail.
class LockHeldElsewhere {
public:
    explicit LockHeldElsewhere(korvo::UncheckedMutex& mutex)
        : holder_([this, &mutex] {
              mutex.lock();
              held_.store(true, std::memory_order_release);
              while (!done_.load(std::memory_order_acquire)) std::this_thread::yield();
              mutex.unlock();
          }) {
        while (!held_.load(std::memory_order_acquire)) std::this_thread::yield();
    }
    ~LockHeldElsewhere() {
        done_.store(true, std::memory_order_release);
        holder_.join();
    }

private:
    std::atomic<bool> held_{false};
    std::atomic<bool> done_{false};
    std::thread holder_;
};

class DisplayEditor final : public korvo::IGraphics {
public:
    explicit DisplayEditor(VelmoraClient& client) : client_(client) {
        auto param = [&](Param i) { return static_cast<korvo::FloatParameter*>(&client.parameter(i)); };
        panorama_ = korvo::makeHeap<PanoramaDisplay>(&context_, param(kPan), param(kDistance), param(kTilt),
                                                     param(kOutputLevel));
        phase_ = korvo::makeHeap<PhaseDisplay>(&context_);
        client_.attachDisplays(panorama_.get(), phase_.get());
    }
    ~DisplayEditor() override { client_.attachDisplays(nullptr, nullptr); }
    void* openUI(void*, void*, korvo::HostKind, korvo::WindowBackend) override { return nullptr; }
    void closeUI() override {}
    void getGUISize(std::int32_t* w, std::int32_t* h) override { *w = *h = 0; }
    PanoramaDisplay* panorama() const noexcept { return panorama_.get(); }
    PhaseDisplay* phase() const noexcept { return phase_.get(); }

private:
    VelmoraClient& client_;
    korvo::UIContext context_;
    korvo::HeapPtr<PanoramaDisplay> panorama_;
    korvo::HeapPtr<PhaseDisplay> phase_;
};

class EditorClient final : public VelmoraClient {
public:
    korvo::HeapPtr<korvo::IGraphics> createGraphics() override {
        return korvo::HeapPtr<korvo::IGraphics>(korvo::heapNew<DisplayEditor>(*this));
    }
    DisplayEditor* editor() const noexcept { return static_cast<DisplayEditor*>(graphics()); }
};

}  // namespace velmora::test
