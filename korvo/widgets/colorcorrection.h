#pragma once
// UIColorCorrection: a per-channel tone curve applied to the raw layer (which holds the lit
// picture and everything drawn raw before it). Placed as the editor's last child over the whole
// window, it grades the final image.
//
// Each channel has a row of levels (black, gamma, gain, contrast) turned into a 256-entry table:
// for x = i / 255,
//   t = clamp((x + (1 - x) * black) * gain, 0, 1),  y = clamp(t^(1 / gamma), 0, 1),
//   s = y^2 (3 - 2y),  out = y (1 - contrast) + s contrast,  table[i] = trunc(out * 255 + 0.5)
// (an out that is not a number, from non-finite levels, counts as 0; out is clamped to 0..1).
// (0, 1, 1, 0) is the identity.
//
// Thread contract: [main-thread]; onDrawRaw runs on a pool thread.

#include <array>
#include <cstdint>

#include "korvo/gui/element.h"

namespace korvo {

class UIColorCorrection : public UIElement {
public:
    struct Levels {
        float black = 0.0f;
        float gamma = 1.0f;
        float gain = 1.0f;
        float contrast = 0.0f;
    };

    // Starts with identity tables.
    explicit UIColorCorrection(UIContext* context);

    // One row for all three channels.
    void setLevels(float black, float gamma, float gain, float contrast);
    // Rows for red, green and blue, as (black, gamma, gain, contrast) each.
    void setLevelsMatrix(const float levels[3][4]);
    // The per-channel form: rebuilds the tables and marks the element dirty.
    void setLevels(Levels red, Levels green, Levels blue);
    // The same as twelve values: (black, gamma, gain, contrast) for red, then green, then blue.
    void setLevels(const float levels[12]);

    const std::array<std::uint8_t, 256>& table(int channel) const noexcept { return _tables[channel]; }

    // Builds one table from a row of levels.
    static void buildTable(Levels levels, std::array<std::uint8_t, 256>& table) noexcept;

    void onDrawRaw(ImageView<RGBA> rawMap, const Vec<IntRect>& dirtyRects) override;
    // A table lookup per pixel.
    bool drawsInParts() const noexcept override { return true; }

private:
    std::array<std::uint8_t, 256> _tables[3];
};

}  // namespace korvo
