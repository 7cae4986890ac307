#pragma once
// Off-screen rendering of an editor: opens it in a headless window, lets the window deliver the
// size and one animation tick (which draws everything marked dirty by openUI), copies the shown
// pixels (RGBA byte order, alpha 255) and closes the window again.
//
// Thread contract: [main-thread].

#include <cstdint>

#include "korvo/core/nogc.h"
#include "korvo/graphics/image.h"
#include "korvo/gui/graphics.h"

namespace korvo {

// Renders `gui` at its own size (getGUISize). The editor's window factory is replaced by the
// headless one for the duration of the call.
HeapPtr<OwnedImage<RGBA>> renderScreenshot(GUIGraphics& gui);

// Renders the framework demo scene (DemoScene) at the given size.
HeapPtr<OwnedImage<RGBA>> renderDemoScreenshot(std::int32_t width, std::int32_t height);

}  // namespace korvo
