// The renderer's dirty areas: the dirty rectangles made disjoint, the PBR, raw, lit and shown
// areas of a frame, and the shown area cut for the frame's threads.
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

// ---- Dirty areas ------------------------------------------------------------------------------------

namespace {
// Overlapping rectangles whose bounding box is hardly larger than what they cover together become
// that box: a few more pixels drawn instead of many thin fragments (each with its own setup).
constexpr std::size_t kMostCoalesced = 64;
void coalesceOverlapping(Vec<IntRect>& rects) {
    if (rects.length() > kMostCoalesced) return;
    bool merged = true;
    while (merged) {
        merged = false;
        for (std::size_t i = 0; i < rects.length() && !merged; ++i) {
            for (std::size_t j = i + 1; j < rects.length(); ++j) {
                const IntRect a = rects[i], b = rects[j], c = a.intersection(b);
                if (c.empty()) continue;
                const IntRect box = a.expandedBy(b);
                const std::int64_t covered = area(a) + area(b) - area(c);
                if (4 * (area(box) - covered) > covered) continue;
                rects[i] = box;
                rects.swapRemove(j);
                merged = true;
                break;
            }
        }
    }
}
}  // namespace

void GUIGraphics::makeDisjoint(Vec<IntRect>& source, Vec<IntRect>& output) {
    coalesceOverlapping(source);
    for (std::size_t i = 0; i < source.length(); ++i) {
        const IntRect a = source[i];
        if (a.empty() || area(a) < 1) continue;
        bool keep = true;
        std::size_t j = i + 1;
        while (j < source.length()) {
            const IntRect b = source[j];
            const IntRect c = a.intersection(b);
            if (c.empty()) {
                ++j;
                continue;
            }
            if (containsBox(a, b)) {
                source.swapRemove(j);
                continue;
            }
            keep = false;
            if (containsBox(b, a)) break;
            const IntRect parts[4] = {
                {{a.min.x, a.min.y}, {a.max.x, c.min.y}},  // top
                {{a.min.x, c.min.y}, {c.min.x, c.max.y}},  // left
                {{c.max.x, c.min.y}, {a.max.x, c.max.y}},  // right
                {{a.min.x, c.max.y}, {a.max.x, a.max.y}},  // bottom
            };
            for (const IntRect& p : parts)
                if (!p.empty()) source.push(p);
            break;
        }
        if (keep) output.push(a);
    }
}

// The lit area of this frame: what the changes need (already in _litRectsOverlapping) plus what an
// earlier frame left to relight, within the window, made disjoint.
void GUIGraphics::settleLitRects(const IntRect& window) {
    for (const IntRect& r : _pendingLitRects) {
        const IntRect c = r.intersection(window);
        if (!c.empty()) _litRectsOverlapping.push(c);
    }
    _litRects.clear();
    _scratchRects.clear();
    for (const IntRect& r : _litRectsOverlapping) _scratchRects.push(r);
    makeDisjoint(_scratchRects, _litRects);
}

void GUIGraphics::computeDirtyAreas() {
    if (_bufferWidth <= 0 || _bufferHeight <= 0) {
        // Nothing can be drawn yet: leave the rectangles in the lists for the first real frame.
        _rawRects.clear();
        _pbrRects.clear();
        _litRects.clear();
        _shownRectsOverlapping.clear();
        _shownRects.clear();
        return;
    }
    const IntRect window{{0, 0}, {_editorWidth, _editorHeight}};
    // Rectangles may come from anywhere (off-window, huge): clip them to the window right away.
    auto takeClipped = [&](DirtyList& list, Vec<IntRect>& rects) {
        _scratchRects.clear();
        list.takeAll(_scratchRects);
        for (const IntRect& r : _scratchRects) {
            const IntRect c = r.intersection(window);
            if (!c.empty()) rects.push(c);
        }
        _scratchRects.clear();
        for (const IntRect& r : rects) _scratchRects.push(r);
        rects.clear();
        makeDisjoint(_scratchRects, rects);
    };
    takeClipped(_uiContext->dirtyListRaw, _rawRects);
    takeClipped(_uiContext->dirtyListPBR, _pbrRects);
    // The occlusion relighting put off: done by a frame that draws nothing new, or at last by one
    // that does.
    if (!_deferredLitRects.empty() && (_pbrRects.empty() || _deferredFrames >= kMaxDeferredFrames)) {
        for (const IntRect& r : _deferredLitRects) _pendingLitRects.push(r);
        _deferredLitRects.clear();
        _deferredFrames = 0;
    }

    _litRectsOverlapping.clear();
    for (const IntRect& r : _pbrRects) {
        const IntRect g = grownAndClipped(r, _litMargin, window);
        if (!g.empty()) _litRectsOverlapping.push(g);
    }
    settleLitRects(window);

    _shownRectsOverlapping.clear();
    for (const IntRect& r : _litRects) _shownRectsOverlapping.push(r);
    for (const IntRect& r : _pendingGlowRects) {
        const IntRect c = r.intersection(window);
        if (!c.empty()) _shownRectsOverlapping.push(c);
    }
    for (const IntRect& r : _rawRects) _shownRectsOverlapping.push(r);
    _shownRects.clear();
    _scratchRects.clear();
    for (const IntRect& r : _shownRectsOverlapping) _scratchRects.push(r);
    makeDisjoint(_scratchRects, _shownRects);
}

IntRect GUIGraphics::dirtyBounds() const noexcept {
    IntRect bounds{};
    for (const IntRect& r : _shownRectsOverlapping) bounds = bounds.expandedBy(r);
    return bounds;
}

void GUIGraphics::splitShownArea() {
    _earlyShown.clear();
    _lateShown.clear();
    if (!_crew.active() || (_litRects.empty() && _glowRects.empty())) return;
    auto meets = [](const IntRect& r, const Vec<IntRect>& list) {
        for (const IntRect& l : list)
            if (!r.intersection(l).empty()) return true;
        return false;
    };
    for (const IntRect& r : _shownRects) {
        if (meets(r, _litRects) || meets(r, _glowRects))
            _lateShown.push(r);
        else
            _earlyShown.push(r);
    }
}

void GUIGraphics::cutShownBands(const Vec<IntRect>& rects) {
    _shownBands.clear();
    std::int64_t total = 0;
    for (const IntRect& r : rects) total += area(r);
    const std::int64_t target = std::max<std::int64_t>(total / kShownBands, kMinShownBand);
    for (const IntRect& r : rects) {
        const std::int32_t rows = static_cast<std::int32_t>(
            std::clamp<std::int64_t>(target / std::max(1, r.width()), 1, std::max(1, r.height())));
        for (std::int32_t y = r.min.y; y < r.max.y; y += rows)
            _shownBands.push(IntRect{{r.min.x, y}, {r.max.x, std::min(y + rows, r.max.y)}});
    }
}

}  // namespace korvo
