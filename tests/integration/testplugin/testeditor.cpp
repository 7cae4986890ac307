#include "tests/integration/testplugin/testeditor.h"

#include "korvo/client/params.h"
#include "korvo/gui/bufferedelement.h"
#include "tests/integration/testplugin/testclient.h"

namespace vst3test {

using namespace korvo;

namespace {

// Redraws its element whenever the parameter changes, from whatever thread the change comes.
class Redrawer final : public IParameterListener {
public:
    explicit Redrawer(UIElement& element) noexcept : element_(element) {}
    void onParameterChanged(Parameter&) noexcept override { element_.markDirtyFromAnyThread(); }
    void onBeginParameterEdit(Parameter&) noexcept override {}
    void onEndParameterEdit(Parameter&) noexcept override {}

private:
    UIElement& element_;
};

// A horizontal slider for a float parameter.
class Slider final : public UIBufferedElementPBR {
public:
    Slider(UIContext* context, Parameter& parameter)
        : UIBufferedElementPBR(context, ElementFlags::drawsPBR), parameter_(parameter), redrawer_(*this) {
        parameter_.addListener(&redrawer_);
    }
    ~Slider() override { parameter_.removeListener(&redrawer_); }

    bool onMouseClick(std::int32_t x, std::int32_t, MouseButton button, bool, MouseState) override {
        if (button != MouseButton::left) return false;
        parameter_.beginEdit();
        lastSet_ = -1.0;
        setFromX(x);
        return true;
    }
    void onMouseDrag(std::int32_t x, std::int32_t, std::int32_t, std::int32_t, MouseState) override {
        setFromX(x);
    }
    void onStopDrag() override { parameter_.endEdit(); }

    void redrawCachePBR(ImageView<RGBA> diffuse, ImageView<L16> depth, ImageView<RGBA> material,
                        ImageView<L8> od, ImageView<L8> oz, ImageView<L8> om) override {
        const std::int32_t w = diffuse.w, h = diffuse.h;
        const auto filled = static_cast<std::int32_t>(parameter_.getNormalized() * w + 0.5);
        const IntRect track{{0, 0}, {w, h}}, bar{{0, 4}, {filled, h - 4}};
        fillBox(diffuse, track, RGBA{28, 30, 36, 0});
        fillBox(depth, track, L16{5000});
        fillBox(material, track, RGBA{220, 0, 60, 255});
        fillBox(diffuse, bar, RGBA{230, 150, 40, 0});
        fillBox(depth, bar, L16{11000});
        fillBox(material, bar, RGBA{90, 160, 200, 255});
        fill(od, L8{255});
        fill(oz, L8{255});
        fill(om, L8{255});
    }

private:
    void setFromX(std::int32_t x) {
        const std::int32_t w = _position.width();
        double v = w > 0 ? static_cast<double>(x) / static_cast<double>(w) : 0.0;
        v = v < 0.0 ? 0.0 : (v > 1.0 ? 1.0 : v);
        // One report per change: a move that lands on the same value tells the host nothing.
        if (v == lastSet_) return;
        lastSet_ = v;
        parameter_.setFromEditorNormalized(v);
    }

    Parameter& parameter_;
    Redrawer redrawer_;
    double lastSet_ = -1.0;
};

// An on/off switch for a bool parameter.
class Switch final : public UIBufferedElementPBR {
public:
    Switch(UIContext* context, BoolParameter& parameter)
        : UIBufferedElementPBR(context, ElementFlags::drawsPBR), parameter_(parameter), redrawer_(*this) {
        parameter_.addListener(&redrawer_);
    }
    ~Switch() override { parameter_.removeListener(&redrawer_); }

    bool onMouseClick(std::int32_t, std::int32_t, MouseButton button, bool, MouseState) override {
        if (button != MouseButton::left) return false;
        parameter_.beginEdit();
        parameter_.setFromEditor(!parameter_.value());
        parameter_.endEdit();
        return true;
    }

    void redrawCachePBR(ImageView<RGBA> diffuse, ImageView<L16> depth, ImageView<RGBA> material,
                        ImageView<L8> od, ImageView<L8> oz, ImageView<L8> om) override {
        const bool on = parameter_.value();
        const IntRect all{{0, 0}, {diffuse.w, diffuse.h}}, cap{{4, 4}, {diffuse.w - 4, diffuse.h - 4}};
        fillBox(diffuse, all, RGBA{50, 52, 60, 0});
        fillBox(depth, all, L16{9000});
        fillBox(material, all, RGBA{180, 0, 60, 255});
        fillBox(diffuse, cap, on ? RGBA{60, 220, 120, 255} : RGBA{90, 40, 40, 0});  // alpha: glows when on
        fillBox(depth, cap, L16{on ? std::uint16_t{10000} : std::uint16_t{14000}});
        fill(od, L8{255});
        fill(oz, L8{255});
        fill(om, L8{255});
    }

private:
    BoolParameter& parameter_;
    Redrawer redrawer_;
};

}  // namespace

TestEditor::TestEditor(TestGainClient& client) : GUIGraphics(kWidth, kHeight, ElementFlags::drawsPBR) {
    slider_ = addChild(heapNew<Slider>(&uiContext(), client.parameter(kLevel)));
    switch_ = addChild(heapNew<Switch>(&uiContext(), static_cast<BoolParameter&>(client.parameter(kInvert))));
}

TestEditor::~TestEditor() {
    // The elements unregister from the client's parameters while the editor still exists.
    for (UIElement* child : _children) heapDelete(child);
    _children.clear();
}

void TestEditor::reflow(IntRect availableSpace) {
    _position = availableSpace;
    slider_->reflow(kSliderBox);
    switch_->reflow(kSwitchBox);
}

void TestEditor::onDrawPBR(ImageView<RGBA> diffuseMap, ImageView<L16> depthMap, ImageView<RGBA> materialMap,
                           const Vec<IntRect>& dirtyRects) {
    for (const IntRect& r : dirtyRects) {
        fillBox(diffuseMap, r, RGBA{96, 100, 112, 0});
        fillBox(depthMap, r, L16{8000});
        fillBox(materialMap, r, RGBA{160, 10, 90, 255});
    }
}

}  // namespace vst3test
