#pragma once
// TestEditor: the test module's editor, a small scene of framework elements that edit the test
// client's parameters, so the editor's whole road (view, window, input, edits to the host, frames)
// can be checked through the real module in real windows.
//
// Layout (240 x 120 pixels):
//   - the background panel (the editor itself, a flat raised surface);
//   - the "Level" slider at (20, 30)-(220, 60): a click sets the value at the pointer and starts
//     an edit gesture (beginEdit), every drag that changes the value reports it (one performEdit
//     per change), the release ends the gesture (endEdit); the value maps linearly from the
//     slider's left edge (0) to its right edge (1);
//   - the "Invert" switch at (20, 75)-(60, 105): a click toggles it as one gesture (beginEdit,
//     performEdit, endEdit).
// Both listen to their parameter and redraw (through markDirtyFromAnyThread) when the host
// automates it, also from the audio thread. Nothing in the scene moves with time, so a frame is
// the same whenever it is drawn.
//
// Thread contract: [main-thread], like every editor; parameter notifications [any-thread].

#include <cstdint>

#include "korvo/gui/graphics.h"

namespace vst3test {

class TestGainClient;

class TestEditor final : public korvo::GUIGraphics {
public:
    static constexpr std::int32_t kWidth = 240;
    static constexpr std::int32_t kHeight = 120;
    static constexpr korvo::IntRect kSliderBox{{20, 30}, {220, 60}};
    static constexpr korvo::IntRect kSwitchBox{{20, 75}, {60, 105}};

    explicit TestEditor(TestGainClient& client);
    ~TestEditor() override;

    void reflow(korvo::IntRect availableSpace) override;
    void onDrawPBR(korvo::ImageView<korvo::RGBA> diffuseMap, korvo::ImageView<korvo::L16> depthMap,
                   korvo::ImageView<korvo::RGBA> materialMap,
                   const korvo::Vec<korvo::IntRect>& dirtyRects) override;

private:
    korvo::UIElement* slider_ = nullptr;
    korvo::UIElement* switch_ = nullptr;
};

}  // namespace vst3test
