#pragma once
// The picture a real window shows against the editor rendered off-screen in this process at the
// start-up state: the fewest pixels that differ, over both subtitles (which one the module's
// editor shows depends on where it was allocated).
#include <cstdint>

#include "effect/gui.h"
#include "effect/main.h"
#include "korvo/widgets/label.h"
#include "tools/offscreen/screenshot.h"
#include "tests/support/pictures.h"
#include "tools/vst3host/editor.h"

namespace vst3it {

inline int pixelsDifferingFromTheOffScreenEditor(const vst3host::Image& real, float scale) {
    velmora::VelmoraClient client;
    auto* gui = dynamic_cast<velmora::VelmoraGUI*>(client.ensureGraphics());
    if (gui == nullptr) return -1;
    if (scale != 1.0f) gui->setScale(scale);
    int best = -1;
    for (const char* subtitle : velmora::VelmoraGUI::kSubtitles) {
        gui->subtitle()->setText(subtitle);
        const korvo::HeapPtr<korvo::OwnedImage<korvo::RGBA>> headless = korvo::renderScreenshot(*gui);
        if (headless->w() != real.width || headless->h() != real.height) return -1;
        const int different = korvo::test::comparePictures(
                                  korvo::test::pixelsOf(real.width, real.height, real.rgba),
                                  korvo::test::pixelsOf(headless->view()), korvo::test::Channels::colour)
                                  .differing;
        if (best < 0 || different < best) best = different;
    }
    return best;
}

}  // namespace vst3it
