#pragma once
// Mipmap: a pyramid of images, level 0 full size and level i of size (w0 >> i, h0 >> i), that the
// compositor samples for blurred lighting and reflections. Instances for RGBA and L16.
//
// Levels are regenerated only where something changed: updateLevel takes the rectangle that
// changed in level - 1, regenerates the matching rectangle of `level` and returns it, so a caller
// chains it from level 1 upwards:
//
//   IntRect r = dirty;                                  // in level-0 pixels
//   for (int i = 1; i < mip.numLevels(); ++i) r = mip.updateLevel(Filter::box, r, i);
//
// Thread contract: [main-thread] for setSize and construction (they allocate); updateLevel and
// sampleBilinear allocate nothing and may run on pool workers for disjoint rectangles of a level
// (reading level - 1 while nobody writes it).

#include <cstdint>
#include <type_traits>

#include "korvo/core/vec.h"
#include "korvo/graphics/image.h"

namespace korvo {

// Downsampling filter of one level from the level below.
enum class Filter : std::int32_t {
    box = 0,               // 2 x 2 average: (sum + 2) >> 2 per channel
    cubic = 1,             // 4 x 4 taps, weights 1 3 3 1 in each direction: (sum + 32) >> 6
    alphaWeightedBox = 2,  // RGBA: 2 x 2, colour weighted by alpha (L16: as box)
    premultipliedBox = 3,  // RGBA: 2 x 2, colour multiplied by alpha: (sum c*a + 512) >> 10 (L16: as box)
};

// Four channels of a bilinear sample, each 0..255.
struct RGBAf {
    float r = 0, g = 0, b = 0, a = 0;
};

template <class COLOR>
class Mipmap {
public:
    static constexpr int kMaxLevels = 14;  // the sampling scale table has 14 entries

    Mipmap() noexcept = default;
    // Levels sized for `image` (see setSize); the image becomes level 0 (the mipmap owns it) and
    // the upper levels are generated: box filter for levels 1 and 2, cubic from level 3 on.
    // [main-thread]
    Mipmap(int maxLevel, OwnedImage<COLOR>* image) noexcept;
    ~Mipmap();
    Mipmap(const Mipmap&) = delete;
    Mipmap& operator=(const Mipmap&) = delete;

    // Number of levels n: the sizes (w >> i, h >> i) with both non-zero, at most maxLevel + 1 and
    // at most 14; a negative maxLevel gives none. Level i becomes (w >> i, h >> i); surplus levels
    // of an earlier size are destroyed. Contents are undefined afterwards. [main-thread]
    void setSize(int maxLevel, std::int32_t w, std::int32_t h) noexcept;

    // Regenerates the part of `level` affected by a change of `updateRect` (coordinates of level
    // - 1) with the given filter, and returns that part (empty when nothing was done, also for a
    // level outside 1..n - 1 or a filter value above 3).
    //   1. box filters grow the rectangle to (x0, y0, x1 + 1, y1 + 1), cubic to
    //      (x0 - 1, y0 - 1, x1 + 2, y1 + 2);
    //   2. every coordinate is halved, rounding toward zero;
    //   3. an empty result is returned as is; if level - 1 is narrower or lower than 2 pixels the
    //      result is (0, 0, w / 2, h / 2); otherwise it is clipped to (0, 0, w / 2, h / 2).
    IntRect updateLevel(Filter quality, IntRect updateRect, int level) noexcept;

    // Bilinear sample of `level` (clamped to the existing levels) at (x, y) in level-0 pixels:
    // the position is scaled by 2^-level, moved by -0.5 and clamped to [0, w - 1.001] x
    // [0, h - 1.001], so samples outside the image return its edge pixels (a NaN coordinate counts as
    // 0). An empty mipmap gives 0.
    RGBAf sampleBilinear(int level, float x, float y) const noexcept requires std::is_same_v<COLOR, RGBA>;
    float sampleBilinear(int level, float x, float y) const noexcept requires std::is_same_v<COLOR, L16>;

    int numLevels() const noexcept { return static_cast<int>(levels_.length()); }
    OwnedImage<COLOR>& level(int i) noexcept { return *levels_[static_cast<std::size_t>(i)]; }
    const OwnedImage<COLOR>& level(int i) const noexcept { return *levels_[static_cast<std::size_t>(i)]; }

private:
    Vec<OwnedImage<COLOR>*> levels_;
};

// Computes the pixels of `rect` (destination coordinates) of `destination` from `source`, the
// level below, with the filter. Source taps outside the source are clamped to its edge; the
// rectangle is clipped to the destination. Used by updateLevel.
template <class COLOR>
void downsample(Filter quality, const ImageView<COLOR>& source, const ImageView<COLOR>& destination,
                IntRect rect) noexcept;

extern template class Mipmap<RGBA>;
extern template class Mipmap<L16>;

}  // namespace korvo
