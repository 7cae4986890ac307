#pragma once
// What the renderer's parts (graphics*.cpp) share: the frame's tuning constants and small box and
// pyramid helpers. Internal to the renderer.

#include <cmath>
#include <cstdint>

#include "korvo/core/nogc.h"
#include "korvo/core/vec.h"
#include "korvo/graphics/image.h"
#include "korvo/graphics/mipmap.h"
#include "korvo/graphics/rect.h"

namespace korvo::renderparts {

inline constexpr std::size_t kBufferAlignment = 16;

// Relative costs of a pixel lit in full and of one whose glow alone is redone, the number of
// lighting pieces a frame aims at, and the least cost worth a piece of its own.
inline constexpr std::int64_t kLitCost = 4, kGlowCost = 1, kPiecesPerFrame = 6, kMinPieceCost = 4 * 1024;

// The shown area is copied and converted in about this many bands, none below the floor.
inline constexpr std::int64_t kShownBands = 4, kMinShownBand = 8192;

// The least area a frame draws or lights for which the workers are held for the whole frame.
inline constexpr std::int64_t kMinCrewArea = 4096;
// The least area a frame shows (raw drawing, copy and conversion only) for which they are.
inline constexpr std::int64_t kMinCrewShownArea = 65536;

// A change of the depth's upper levels alters the ambient occlusion of the pixels around it by a
// hair (a fraction of a level where a control moves). While the layers keep changing (a drag, an
// animation) that relighting waits, for at most this many frames, and is done by the first frame
// that draws nothing new.
inline constexpr std::int32_t kMaxDeferredFrames = 8;

// The least dirty area of an element that draws in parts worth sharing out between threads.
inline constexpr std::int64_t kMinSharedArea = 4096;

inline bool containsBox(const IntRect& outer, const IntRect& inner) noexcept {
    return inner.min.x >= outer.min.x && inner.min.y >= outer.min.y && inner.max.x <= outer.max.x &&
           inner.max.y <= outer.max.y;
}

inline std::int64_t area(const IntRect& r) noexcept {
    return static_cast<std::int64_t>(r.width()) * static_cast<std::int64_t>(r.height());
}

// r grown by m on all four sides (saturating), clipped to `clip`.
inline IntRect grownAndClipped(const IntRect& r, std::int32_t m, const IntRect& clip) noexcept {
    const IntRect g{
        {IntRect::saturate(std::int64_t{r.min.x} - m), IntRect::saturate(std::int64_t{r.min.y} - m)},
        {IntRect::saturate(std::int64_t{r.max.x} + m), IntRect::saturate(std::int64_t{r.max.y} + m)}};
    return g.intersection(clip);
}

// Appends to `out` the parts of r outside every box of `holes`; work is scratch.
inline void subtractBoxes(const IntRect& r, const Vec<IntRect>& holes, Vec<IntRect>& out, Vec<IntRect>& work,
                          Vec<IntRect>& next) noexcept {
    work.clear();
    work.push(r);
    for (const IntRect& h : holes) {
        next.clear();
        for (const IntRect& w : work) {
            const IntRect c = w.intersection(h);
            if (c.empty()) {
                next.push(w);
                continue;
            }
            const IntRect parts[4] = {
                {{w.min.x, w.min.y}, {w.max.x, c.min.y}},  // above
                {{w.min.x, c.min.y}, {c.min.x, c.max.y}},  // left
                {{c.max.x, c.min.y}, {w.max.x, c.max.y}},  // right
                {{w.min.x, c.max.y}, {w.max.x, w.max.y}},  // below
            };
            for (const IntRect& p : parts)
                if (!p.empty()) next.push(p);
        }
        work.clear();
        for (const IntRect& w : next) work.push(w);
        if (work.empty()) return;
    }
    for (const IntRect& w : work) out.push(w);
}

// The filters the pyramids are refreshed with, per level. At 100 % the diffuse pyramid's level 1
// premultiplies by the emissive alpha and every higher level is cubic; the depth's levels 1 and 2
// are boxes and the rest cubic. A scale `extra` whole levels deeper repeats the boxes for as many
// levels, so a level of the scaled pyramid averages the same base pixels as its 100 % counterpart.
inline Filter diffuseFilter(int level, int extra) noexcept {
    return level == 1 ? Filter::premultipliedBox : (level <= 1 + extra ? Filter::box : Filter::cubic);
}
inline Filter depthFilter(int level, int extra) noexcept {
    return level <= 2 + extra ? Filter::box : Filter::cubic;
}

// Whole pyramid levels a scale adds (0 at 100 % and below).
inline int extraLevels(float scale) noexcept {
    const double lg = std::log2(static_cast<double>(scale));
    return lg > 0.5 ? static_cast<int>(std::floor(lg + 0.5)) : 0;
}

template <class COLOR>
inline void resizeMirror(Vec<OwnedImage<COLOR>*>& mirror, const Mipmap<COLOR>& pyramid) {
    const std::size_t upper = pyramid.numLevels() > 1 ? static_cast<std::size_t>(pyramid.numLevels() - 1) : 0;
    for (std::size_t i = upper; i < mirror.length(); ++i) heapDelete(mirror[i]);
    const std::size_t old = mirror.length() < upper ? mirror.length() : upper;
    mirror.resize(upper);
    for (std::size_t i = old; i < upper; ++i) mirror[i] = heapNew<OwnedImage<COLOR>>();
    for (std::size_t i = 0; i < upper; ++i) {
        const OwnedImage<COLOR>& level = pyramid.level(static_cast<int>(i) + 1);
        mirror[i]->setSize(level.w(), level.h());
        fill(mirror[i]->view(), COLOR{});
    }
}

template <class COLOR>
inline void releaseMirror(Vec<OwnedImage<COLOR>*>& mirror) noexcept {
    for (OwnedImage<COLOR>* image : mirror) heapDelete(image);
    mirror.clear();
}

}  // namespace korvo::renderparts
