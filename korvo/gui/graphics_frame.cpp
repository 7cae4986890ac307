// The renderer's frame pipeline: draw lists, the PBR and raw layers drawn, lit and shown.
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

// ---- Frame ------------------------------------------------------------------------------------------

void GUIGraphics::collectFrom(UIElement* element) {
    if (!element->isVisible()) return;
    if (hasFlag(element->flags(), ElementFlags::drawsRaw)) _rawDrawList.push(element);
    if (hasFlag(element->flags(), ElementFlags::drawsPBR)) _pbrDrawList.push(element);
    for (UIElement* child : element->children()) collectFrom(child);
}

void GUIGraphics::collectDrawLists() {
    _rawDrawList.clear();
    _pbrDrawList.clear();
    collectFrom(this);
    sortElementsByZ(_rawDrawList.data(), _rawDrawList.length(), true);
    sortElementsByZ(_pbrDrawList.data(), _pbrDrawList.length(), true);
}

void GUIGraphics::onPBRBatch(const UIElement* const*, std::int32_t) noexcept {}

IntRect GUIGraphics::prepareElement(UIElement* element, const Vec<IntRect>& dirty) {
    const IntRect window{{0, 0}, {_bufferWidth, _bufferHeight}};
    const IntRect position = element->position();
    const IntRect clipped = position.intersection(window);
    if (clipped.empty()) return IntRect{};
    Vec<IntRect>& local = element->localRects();
    local.clear();
    for (const IntRect& r : dirty) {
        const IntRect c = r.intersection(clipped);
        if (!c.empty()) local.push(c.translated(-clipped.min.x, -clipped.min.y));
    }
    if (local.empty()) return IntRect{};
    element->setDrawOffset(IntPoint{clipped.min.x - position.min.x, clipped.min.y - position.min.y});
    return clipped;
}

void GUIGraphics::drawPrepared(Layer layer, UIElement* element, IntRect clipped, const Vec<IntRect>& local) {
    if (layer == Layer::pbr) {
        element->onDrawPBR(_diffusePyramid->level(0).view().sub(clipped),
                           _depthPyramid->level(0).view().sub(clipped),
                           _materialPyramid->level(0).view().sub(clipped), local);
    } else {
        element->onDrawRaw(shownView().sub(clipped), local);
    }
}

void GUIGraphics::drawElement(Layer layer, UIElement* element, const Vec<IntRect>& dirty) {
    const IntRect clipped = prepareElement(element, dirty);
    if (!clipped.empty()) drawPrepared(layer, element, clipped, element->localRects());
}

void GUIGraphics::drawRunInParts(Layer layer, UIElement* const* run, std::int32_t count,
                                 const Vec<IntRect>& dirty, UIElement* const* later, std::size_t laterCount) {
    // Parts per shared element: a few per thread, so the threads even out.
    const std::int32_t parts = std::min<std::int32_t>(kMaxParts, 2 * (_crew.helpers() + 1));
    std::int32_t partsUsed = 0;
    _drawJobs.clear();
    for (std::int32_t i = 0; i < count; ++i) {
        UIElement* element = run[i];
        const IntRect clipped = prepareElement(element, dirty);
        if (clipped.empty()) continue;
        const Vec<IntRect>& local = element->localRects();
        std::int64_t total = 0;
        for (const IntRect& r : local) total += area(r);
        if (!element->drawsInParts() || total < kMinSharedArea || partsUsed + parts > kMaxParts) {
            _drawJobs.push(DrawJob{element, clipped, -1});
            continue;
        }
        // Bands of about total / parts pixels, taken from the rectangles in order.
        const std::int64_t target = (total + parts - 1) / parts;
        std::int32_t part = partsUsed;
        std::int64_t filled = 0;
        _partRects[part].clear();
        for (const IntRect& r : local) {
            std::int32_t y = r.min.y;
            while (y < r.max.y) {
                if (filled >= target && part + 1 < partsUsed + parts) {
                    ++part;
                    filled = 0;
                    _partRects[part].clear();
                }
                // The last part takes whatever is left.
                const std::int64_t rows =
                    part + 1 == partsUsed + parts
                        ? r.max.y - y
                        : std::max<std::int64_t>(1, (target - filled + r.width() - 1) / r.width());
                const std::int32_t y1 = rows >= r.max.y - y ? r.max.y : y + static_cast<std::int32_t>(rows);
                _partRects[part].push(IntRect{{r.min.x, y}, {r.max.x, y1}});
                filled += static_cast<std::int64_t>(r.width()) * (y1 - y);
                y = y1;
            }
        }
        for (std::int32_t k = partsUsed; k <= part; ++k) _drawJobs.push(DrawJob{element, clipped, k});
        partsUsed = part + 1;
    }
    // The elements of later runs prepare their drawing meanwhile (it touches none of the layers).
    for (std::size_t i = 0; i < laterCount; ++i) _drawJobs.push(DrawJob{later[i], IntRect{}, kPrepareJob});
    auto drawJob = [this, layer](std::int32_t i) {
        const DrawJob& job = _drawJobs[static_cast<std::size_t>(i)];
        if (job.part == kPrepareJob)
            job.element->prepareDrawing();
        else
            drawPrepared(layer, job.element, job.clipped,
                         job.part < 0 ? job.element->localRects() : _partRects[job.part]);
    };
    _crew.run(static_cast<std::int32_t>(_drawJobs.length()), drawJob);
}

void GUIGraphics::drawLayer(Layer layer, const Vec<UIElement*>& all, const Vec<IntRect>& dirty) {
    // Only elements that meet a dirty rectangle draw anything: the others are left out before
    // the runs are made, so a small change wakes no worker for elements that would return at once.
    const IntRect window{{0, 0}, {_bufferWidth, _bufferHeight}};
    Vec<UIElement*>& list = _drawing;
    list.clear();
    for (UIElement* element : all) {
        const IntRect clipped = element->position().intersection(window);
        for (const IntRect& r : dirty)
            if (!r.intersection(clipped).empty()) {
                list.push(element);
                break;
            }
    }
    // Runs of consecutive elements whose positions do not meet are drawn in parallel; runs follow
    // each other in z order, so overlapping elements are drawn lower z first.
    const std::size_t n = list.length();
    std::size_t start = 0;
    while (start < n) {
        std::size_t end = start + 1;
        while (end < n) {
            const IntRect candidate = list[end]->position();
            bool overlaps = false;
            for (std::size_t k = start; k < end && !overlaps; ++k)
                overlaps = !candidate.intersection(list[k]->position()).empty();
            if (overlaps) break;
            ++end;
        }
        const auto count = static_cast<std::int32_t>(end - start);
        UIElement* const* run = list.data() + start;
        if (layer == Layer::pbr) onPBRBatch(run, count);
        if (_crew.active()) {
            // The first PBR run takes the other elements' preparation along.
            const bool first = start == 0 && layer == Layer::pbr;
            drawRunInParts(layer, run, count, dirty, first ? list.data() + end : nullptr,
                           first ? n - end : 0);
        } else {
            auto drawOne = [this, layer, run, &dirty](std::int32_t i) { drawElement(layer, run[i], dirty); };
            _threadPool->runParallel(count, drawOne);
        }
        start = end;
    }
}

void GUIGraphics::drawPBRLayer() {
    if (_pbrRects.empty() || _diffusePyramid->numLevels() == 0) return;
    drawLayer(Layer::pbr, _pbrDrawList, _pbrRects);
}

void GUIGraphics::lightTiles(PixelOrder, ImageView<RGBA> destination) {
    _tiles.clear();
    auto cut = [this](const Vec<IntRect>& rects) {
        for (const IntRect& r : rects) {
            for (std::int32_t y = r.min.y; y < r.max.y; y += kTileSize) {
                const std::int32_t y1 = r.max.y - y > kTileSize ? y + kTileSize : r.max.y;
                for (std::int32_t x = r.min.x; x < r.max.x; x += kTileSize) {
                    const std::int32_t x1 = r.max.x - x > kTileSize ? x + kTileSize : r.max.x;
                    _tiles.push(IntRect{{x, y}, {x1, y1}});
                }
            }
        }
    };
    cut(_litRects);
    _litTileCount = _tiles.length();
    cut(_glowRects);
    if (_tiles.empty() || _diffusePyramid->numLevels() == 0) return;
    // The tiles are shared out in horizontal bands of about equal cost, so the threads finish
    // together even when one tile holds most of the work (a redrawn knob in a small change).
    // Redoing the glow costs about a quarter of lighting a pixel in full. A band costs its own
    // set-up (the column taps of its width), so bands stay above a floor.
    std::int64_t total = 0;
    for (std::size_t i = 0; i < _tiles.length(); ++i)
        total += area(_tiles[i]) * (i < _litTileCount ? kLitCost : kGlowCost);
    const std::int64_t target = std::max<std::int64_t>(total / kPiecesPerFrame, kMinPieceCost);
    _lightPieces.clear();
    for (std::size_t i = 0; i < _tiles.length(); ++i) {
        if (i == _litTileCount) _litPieceCount = _lightPieces.length();
        const IntRect& t = _tiles[i];
        const std::int64_t cost = area(t) * (i < _litTileCount ? kLitCost : kGlowCost);
        const std::int64_t bands = std::min<std::int64_t>((cost + target - 1) / target, t.height());
        const std::int32_t rows = static_cast<std::int32_t>((t.height() + bands - 1) / bands);
        for (std::int32_t y = t.min.y; y < t.max.y; y += rows)
            _lightPieces.push(IntRect{{t.min.x, y}, {t.max.x, std::min(y + rows, t.max.y)}});
    }
    if (_litTileCount == _tiles.length()) _litPieceCount = _lightPieces.length();
    // The colour before the glow is kept only for the lit buffer, which the glow relight redoes.
    const GlowBase* keep = destination.pixels == _litBuffer ? &_glowBase : nullptr;
    // The shown area away from this frame's lighting goes first, on whichever thread takes it.
    const std::int32_t early = destination.pixels == _litBuffer && !_earlyShown.empty() ? 1 : 0;
    auto light = [this, destination, keep, early](std::int32_t i) {
        if (i < early) {
            showEarly(_framePixelOrder);
            return;
        }
        const auto index = static_cast<std::size_t>(i - early);
        if (index < _litPieceCount)
            _compositor->lightTile(destination, _lightPieces[index], *_diffusePyramid, *_materialPyramid,
                                   *_depthPyramid, *_uiContext->skybox, keep);
        else if (keep != nullptr)
            _compositor->relightGlow(destination, _lightPieces[index], *_diffusePyramid, _glowBase);
    };
    runParallel(static_cast<std::int32_t>(_lightPieces.length()) + early, light);
}

void GUIGraphics::drawRawLayer() {
    const Vec<IntRect>& rects = lateShownRects();
    if (rects.empty()) return;
    drawLayer(Layer::raw, _rawDrawList, rects);
}

void GUIGraphics::showEarly(PixelOrder pixelOrder) {
    const ImageView<RGBA> lit = litView(), shown = shownView();
    for (const IntRect& r : _earlyShown) copyBox(lit.sub(r), shown.sub(r));
    // The raw elements one after the other in z order, on this thread.
    for (UIElement* element : _rawDrawList) {
        const IntRect clipped = prepareElement(element, _earlyShown);
        if (!clipped.empty()) drawPrepared(Layer::raw, element, clipped, element->localRects());
    }
    for (const IntRect& r : _earlyShown) convertBox(r, pixelOrder);
}

void GUIGraphics::deferLitRects() {
    // What this frame lit has its new occlusion; what the occlusion changes reach beyond it joins
    // what waits already, as disjoint boxes.
    _scratchRects.clear();
    for (const IntRect& r : _deferredLitRects)
        subtractBoxes(r, _litRects, _scratchRects, _subtractScratch[0], _subtractScratch[1]);
    if (!_pbrRects.empty())
        for (const IntRect& r : _reachRects[1])
            subtractBoxes(r, _litRects, _scratchRects, _subtractScratch[0], _subtractScratch[1]);
    _deferredLitRects.clear();
    makeDisjoint(_scratchRects, _deferredLitRects);
    _deferredFrames = _deferredLitRects.empty() ? 0 : _deferredFrames + 1;
}

void GUIGraphics::drawFrame(PixelOrder pixelOrder) {
    if (_bufferWidth > 0 && _bufferHeight > 0) {
        // The frame's parts run on this thread and on the helpers alike: all under the plug-in's
        // floating-point setting, so no pixel depends on which thread computed it.
        FPControl guard;
        // A frame that draws or lights enough PBR pixels, or shows a large raw change (the displays
        // at a high scale), holds the workers for its parallel steps (a small one costs less done
        // as before than the hand-over).
        std::int64_t work = 0, shownArea = 0;
        for (const Vec<IntRect>* list : {&_pbrRects, &_litRects, &_pendingGlowRects})
            for (const IntRect& r : *list) work += area(r);
        for (const IntRect& r : _shownRects) shownArea += area(r);
        if (work >= kMinCrewArea || shownArea >= kMinCrewShownArea) _crew.begin(*_threadPool);
        collectDrawLists();
        keepLayersBeforeDrawing();
        drawPBRLayer();
        narrowToChangedPixels();
        takePendingGlow();
        updatePyramids();
        // What shows no pixel lit this frame is copied, drawn raw and converted while it lights.
        splitShownArea();
        _framePixelOrder = pixelOrder;
        lightTiles(pixelOrder, litView());
        // What this frame's pyramid changes reach beyond its lit area is relit later: only the
        // glow, next frame, where the diffuse levels changed (pixels whose glow this frame redid
        // already have the new one); in full where the occlusion (depth levels) did, once the
        // layers rest (deferLitRects).
        _pendingLitRects.clear();
        _pendingGlowRects.clear();
        deferLitRects();
        if (!_pbrRects.empty()) {
            for (const IntRect& r : _reachRects[0]) {
                _scratchRects.clear();
                subtractBoxes(r, _litRects, _scratchRects, _subtractScratch[0], _subtractScratch[1]);
                for (const IntRect& part : _scratchRects)
                    subtractBoxes(part, _glowRects, _pendingGlowRects, _subtractScratch[0],
                                  _subtractScratch[1]);
            }
        }
        const ImageView<RGBA> lit = litView(), shown = shownView();
        cutShownBands(lateShownRects());
        auto copyBand = [&](std::int32_t i) {
            const IntRect& r = _shownBands[static_cast<std::size_t>(i)];
            copyBox(lit.sub(r), shown.sub(r));
        };
        _crew.run(static_cast<std::int32_t>(_shownBands.length()), copyBand);
        drawRawLayer();
        convertToWindowFormat(pixelOrder);
        _crew.end();
        _earlyShown.clear();
    }
    _rawRects.clear();
    _pbrRects.clear();
}

}  // namespace korvo
