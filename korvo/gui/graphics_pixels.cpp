// The renderer's pixel conversion: the shown buffer into the window's byte order.
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

void GUIGraphics::convertBox(IntRect rect, PixelOrder pixelOrder) {
    const ImageView<RGBA> shown = shownView();
    // Four pixels at a time as little-endian words r | g << 8 | b << 16 | a << 24.
    const __m128i opaque = _mm_set1_epi32(static_cast<int>(0xFF000000u));
    auto convert4 = [pixelOrder, opaque](__m128i v) {
        switch (pixelOrder) {
            case PixelOrder::BGRA8: {
                const __m128i low = _mm_set1_epi32(0xFF);
                const __m128i r = _mm_slli_epi32(_mm_and_si128(v, low), 16);
                const __m128i b = _mm_and_si128(_mm_srli_epi32(v, 16), low);
                const __m128i g = _mm_and_si128(v, _mm_set1_epi32(0xFF00));
                return _mm_or_si128(_mm_or_si128(r, b), _mm_or_si128(g, opaque));
            }
            case PixelOrder::ARGB8:
                return _mm_or_si128(_mm_slli_epi32(v, 8), _mm_set1_epi32(0xFF));
            case PixelOrder::RGBA8:
            default:
                return _mm_or_si128(v, opaque);
        }
    };
    const IntRect r = rect.intersection(shown.bounds());
    for (std::int32_t y = r.min.y; y < r.max.y; ++y) {
        RGBA* row = shown.row(y);
        std::int32_t x = r.min.x;
        for (; x + 4 <= r.max.x; x += 4) {
            __m128i* p = reinterpret_cast<__m128i*>(row + x);
            _mm_storeu_si128(p, convert4(_mm_loadu_si128(p)));
        }
        for (; x < r.max.x; ++x) {
            const RGBA p = row[x];
            switch (pixelOrder) {
                case PixelOrder::BGRA8:
                    row[x] = RGBA{p.b, p.g, p.r, 255};
                    break;
                case PixelOrder::ARGB8:
                    row[x] = RGBA{255, p.r, p.g, p.b};
                    break;
                case PixelOrder::RGBA8:
                default:
                    row[x].a = 255;
                    break;
            }
        }
    }
}

void GUIGraphics::convertToWindowFormat(PixelOrder pixelOrder) {
    // In bands shared out between the frame's threads (all on this one without a crew: waking
    // the pool costs more than the copy).
    cutShownBands(lateShownRects());
    auto convertBand = [&](std::int32_t i) {
        convertBox(_shownBands[static_cast<std::size_t>(i)], pixelOrder);
    };
    _crew.run(static_cast<std::int32_t>(_shownBands.length()), convertBand);
}

}  // namespace korvo
