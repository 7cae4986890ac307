#pragma once
// `velmora screenshot OUT.png [--size WxH]`: renders a GUI off-screen through the headless window
// and writes it as an 8-bit RGBA PNG: the effect's editor (--editor, at a preset and settings,
// optionally after playing audio through the effect with the editor open), the widget gallery
// (--widgets) or the framework's demo scene (192 x 128 unless --size is given).
//
// Exit codes as for the other sub-commands: 0 written, 1 the file could not be written, 2 a bad
// request. [main-thread]

#include <ostream>
#include <span>
#include <string>
#include <vector>

#include "korvo/core/nogc.h"
#include "korvo/graphics/image.h"

namespace velmora::cli {

int runScreenshot(std::span<const std::string> args, std::ostream& out, std::ostream& err);

// What `--editor` renders: a preset (name or index) and settings applied as `velmora render` applies
// them, and with `play` the input (empty: the demo signal) run through the effect while the
// editor ticks every 15 ms of audio.
struct EditorShotOptions {
    std::string preset;
    std::vector<std::string> settings;
    bool play = false;
    std::string playInput;
    float scale = 1.0f;     // device pixels per base pixel (--scale)
    bool sizeMenu = false;  // --size-menu X,Y: the size menu opened there (base pixels)
    std::int32_t menuX = 0, menuY = 0;
    bool presetList = false;  // --preset-list: the preset strip's list opened
    bool saveAs = false;      // --save-as NAME: the strip's text field holding NAME
    std::string saveAsName;
};

// Renders the editor (763 x 494 at scale 1, round(763 s) x round(494 s) at scale s; RGBA, alpha 255). Returns
// an exit code; error holds one line on failure.
int renderEditorShot(const EditorShotOptions& options, korvo::HeapPtr<korvo::OwnedImage<korvo::RGBA>>& image,
                     std::string& error);

// The usage text of the sub-command.
const char* screenshotUsage() noexcept;

}  // namespace velmora::cli
