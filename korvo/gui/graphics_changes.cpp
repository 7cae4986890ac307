// The renderer's change tracking: the layers kept before drawing, narrowed to the pixels that
// really changed, the pyramids refreshed from them, and what their changes reach.
#include "korvo/gui/graphics.h"

#include <emmintrin.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <thread>

#include "korvo/client/params.h"
#include "korvo/core/fpcontrol.h"
#include "korvo/gui/graphicsparts.h"
#include "korvo/window/factory.h"

namespace korvo {

using namespace renderparts;

void GUIGraphics::keepLayersBeforeDrawing() {
    _keptArea = 0;
    if (_pbrRects.empty() || _diffusePyramid->numLevels() == 0) return;
    // The layers of a new size hold no drawing yet, and the lit buffer no lighting of them.
    const bool drawnBefore = _layersDrawn;
    _layersDrawn = true;
    if (!drawnBefore) return;
    std::int64_t total = 0;
    for (const IntRect& r : _pbrRects) total += area(r);
    // Large changes (the first frame, a whole-editor redraw) are lit as they are.
    if (total > _comparedArea) return;
    _keptDiffuse.resize(static_cast<std::size_t>(total));
    _keptMaterial.resize(static_cast<std::size_t>(total));
    _keptDepth.resize(static_cast<std::size_t>(total));
    const ImageView<RGBA> diffuse = _diffusePyramid->level(0).view(),
                          material = _materialPyramid->level(0).view();
    const ImageView<L16> depth = _depthPyramid->level(0).view();
    std::size_t at = 0;
    for (const IntRect& r : _pbrRects)
        for (std::int32_t y = r.min.y; y < r.max.y; ++y) {
            const auto n = static_cast<std::size_t>(r.width());
            std::memcpy(static_cast<void*>(_keptDiffuse.data() + at), diffuse.row(y) + r.min.x,
                        n * sizeof(RGBA));
            std::memcpy(static_cast<void*>(_keptMaterial.data() + at), material.row(y) + r.min.x,
                        n * sizeof(RGBA));
            std::memcpy(static_cast<void*>(_keptDepth.data() + at), depth.row(y) + r.min.x, n * sizeof(L16));
            at += n;
        }
    _keptArea = total;
}

void GUIGraphics::narrowToChangedPixels() {
    for (Vec<IntRect>& list : _pyramidRects) list.clear();
    if (_keptArea == 0) {
        for (Vec<IntRect>& list : _pyramidRects)
            for (const IntRect& r : _pbrRects) list.push(r);
        return;
    }
    // A lit pixel reads the diffuse and material colour of its own position only, and the depth
    // around it: the 3 x 3 neighbourhood (normal, curvature) and the cast shadow's walk of 10 steps
    // up both diagonals. So a changed depth alters the lighting of pixels up to 10 to either side,
    // 1 above and 10 below it, and nothing farther at level 0 (never more than the margin: the
    // frame shows no more than that). What the changes alter in the upper levels is found by
    // updatePyramids.
    const IntRect window{{0, 0}, {_bufferWidth, _bufferHeight}};
    const ImageView<RGBA> diffuse = _diffusePyramid->level(0).view(),
                          material = _materialPyramid->level(0).view();
    const ImageView<L16> depth = _depthPyramid->level(0).view();
    _litRectsOverlapping.clear();
    std::size_t at = 0;
    for (const IntRect& r : _pbrRects) {
        IntRect colour{}, relief{};
        const auto n = static_cast<std::size_t>(r.width());
        for (std::int32_t y = r.min.y; y < r.max.y; ++y, at += n) {
            const RGBA* d = diffuse.row(y) + r.min.x;
            const RGBA* m = material.row(y) + r.min.x;
            const L16* z = depth.row(y) + r.min.x;
            if (std::memcmp(d, _keptDiffuse.data() + at, n * sizeof(RGBA)) != 0 ||
                std::memcmp(m, _keptMaterial.data() + at, n * sizeof(RGBA)) != 0) {
                std::size_t first = 0, last = n - 1;
                while (d[first] == _keptDiffuse[at + first] && m[first] == _keptMaterial[at + first]) ++first;
                while (d[last] == _keptDiffuse[at + last] && m[last] == _keptMaterial[at + last]) --last;
                colour = colour.expandedBy(IntRect{{r.min.x + static_cast<std::int32_t>(first), y},
                                                   {r.min.x + static_cast<std::int32_t>(last) + 1, y + 1}});
            }
            const L16* kz = _keptDepth.data() + at;
            if (std::memcmp(z, kz, n * sizeof(L16)) != 0) {
                std::size_t first = 0, last = n - 1;
                while (z[first].l == kz[first].l) ++first;
                while (z[last].l == kz[last].l) --last;
                relief = relief.expandedBy(IntRect{{r.min.x + static_cast<std::int32_t>(first), y},
                                                   {r.min.x + static_cast<std::int32_t>(last) + 1, y + 1}});
            }
        }
        if (!colour.empty()) {
            _litRectsOverlapping.push(colour);
            _pyramidRects[0].push(colour);
        }
        if (!relief.empty()) {
            // Pixels whose level-0 lighting reads a changed depth: its 3 x 3 neighbourhood, and
            // the shadow walk's steps to either side and below.
            const std::int32_t walk = _compositor->shadowReach();
            const IntRect reach{{relief.min.x - walk, relief.min.y - 1},
                                {relief.max.x + walk, relief.max.y + walk}};
            const IntRect lit = reach.intersection(grownAndClipped(r, _litMargin, window));
            if (!lit.empty()) _litRectsOverlapping.push(lit);
            _pyramidRects[1].push(relief);
        }
    }
    settleLitRects(window);
    // The shown area stays as computed: it is refreshed from the lit image (whatever changed).
}

void GUIGraphics::updatePyramids() {
    for (Vec<IntRect>& reach : _reachRects) reach.clear();
    if (_pbrRects.empty() || _diffusePyramid->numLevels() == 0) return;
    const int extra = extraLevels(drawScale());
    // Levels below the first one the lighting samples are only steps to the higher ones.
    const int firstGlow = _compositor->glowLevels().first,
              firstOcclusion = _compositor->occlusionLevels().first;
    auto update = [this, extra, firstGlow, firstOcclusion](std::int32_t index) {
        Vec<IntRect>& rects = _pyramidRects[index];
        Vec<IntRect>& reach = _reachRects[index];
        if (index == 0) {
            for (int level = 1; level < _diffusePyramid->numLevels(); ++level) {
                const Filter quality = diffuseFilter(level, extra);
                for (IntRect& r : rects) {
                    r = _diffusePyramid->updateLevel(quality, r, level);
                    if (level >= firstGlow)
                        noteChangedTexels(_diffusePyramid->level(level),
                                          *_diffuseMirror[static_cast<std::size_t>(level - 1)], level, r,
                                          reach);
                }
            }
        } else {
            for (int level = 1; level < _depthPyramid->numLevels(); ++level) {
                const Filter quality = depthFilter(level, extra);
                for (IntRect& r : rects) {
                    r = _depthPyramid->updateLevel(quality, r, level);
                    if (level >= firstOcclusion)
                        noteChangedTexels(_depthPyramid->level(level),
                                          *_depthMirror[static_cast<std::size_t>(level - 1)], level, r,
                                          reach);
                }
            }
        }
    };
    runParallel(2, update);
}

template <class COLOR>

void GUIGraphics::noteChangedTexels(const OwnedImage<COLOR>& level, OwnedImage<COLOR>& mirror, int levelIndex,
                                    IntRect updated, Vec<IntRect>& reach) noexcept {
    const ImageView<COLOR> now = level.view(), before = mirror.view();
    updated = updated.intersection(now.bounds());
    if (updated.empty()) return;
    // Bounding box of the texels that differ from what the lit image was made with.
    IntRect changed{{updated.max.x, updated.max.y}, {updated.min.x, updated.min.y}};
    const auto rowBytes = static_cast<std::size_t>(updated.width()) * sizeof(COLOR);
    for (std::int32_t y = updated.min.y; y < updated.max.y; ++y) {
        const COLOR* a = now.row(y) + updated.min.x;
        COLOR* b = before.row(y) + updated.min.x;
        if (std::memcmp(a, b, rowBytes) == 0) continue;
        std::int32_t first = 0, last = updated.width() - 1;
        while (a[first] == b[first]) ++first;
        while (a[last] == b[last]) --last;
        changed.min.x = std::min(changed.min.x, updated.min.x + first);
        changed.max.x = std::max(changed.max.x, updated.min.x + last + 1);
        changed.min.y = std::min(changed.min.y, y);
        changed.max.y = y + 1;
        std::memcpy(static_cast<void*>(b + first), a + first,
                    static_cast<std::size_t>(last - first + 1) * sizeof(COLOR));
    }
    if (changed.empty()) return;
    // Pixel x samples this level at u = (x + 0.5) / s - 0.5, s = 2^level (clamped into
    // [0, w - 1.001]), and reads texels floor(u) and floor(u) + 1: texel i is read when
    // i - 1 <= u < i + 1, that is by x in [s i - s / 2, s i + 3 s / 2), and the texels next to the
    // last edge also by every pixel beyond it.
    const std::int32_t s = std::int32_t{1} << levelIndex, half = s / 2;
    IntRect pixels{{changed.min.x * s - half, changed.min.y * s - half},
                   {changed.max.x * s + half, changed.max.y * s + half}};
    if (changed.max.x >= now.w - 1) pixels.max.x = _bufferWidth;
    if (changed.max.y >= now.h - 1) pixels.max.y = _bufferHeight;
    pixels = pixels.intersection(IntRect{{0, 0}, {_bufferWidth, _bufferHeight}});
    if (!pixels.empty()) reach.push(pixels);
}

void GUIGraphics::takePendingGlow() {
    _glowRects.clear();
    if (_pendingGlowRects.empty()) return;
    const IntRect window{{0, 0}, {_bufferWidth, _bufferHeight}};
    _scratchRects.clear();
    for (const IntRect& r : _pendingGlowRects) {
        const IntRect c = r.intersection(window);
        if (!c.empty()) _scratchRects.push(c);
    }
    Vec<IntRect>& disjoint = _litRectsOverlapping;  // free again once the lit area is made
    disjoint.clear();
    makeDisjoint(_scratchRects, disjoint);
    // Pixels lit in full this frame get their glow with the rest.
    for (const IntRect& r : disjoint)
        subtractBoxes(r, _litRects, _glowRects, _subtractScratch[0], _subtractScratch[1]);
}

}  // namespace korvo
