// What the panel artwork must give a user: every control named legibly beside it, nothing hidden
// under a widget or a value hint, soft relief, glow only on marks, the intended materials.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "tests/artgen/artwork_fixture.h"

namespace velmora::artgen {
namespace {

using korvo::IntRect;
using korvo::RGBA;

const LabelRecord* findLabel(const std::vector<LabelRecord>& labels, const std::string& text) {
    for (const LabelRecord& l : labels)
        if (l.text == text) return &l;
    return nullptr;
}

// The part of the window a widget paints over the background, as circles and boxes.
struct Covered {
    std::string widget;
    IntRect box;  // a box, or the bounds of the circle
    bool circle = false;
    float cx = 0, cy = 0, r = 0;

    bool hits(const IntRect& ink) const {
        const IntRect both = ink.intersection(box);
        if (both.empty()) return false;
        if (!circle) return true;
        for (std::int32_t y = both.min.y; y < both.max.y; ++y)
            for (std::int32_t x = both.min.x; x < both.max.x; ++x) {
                const float dx = static_cast<float>(x) + 0.5f - cx, dy = static_cast<float>(y) + 0.5f - cy;
                if (dx * dx + dy * dy < r * r) return true;
            }
        return false;
    }
};

std::vector<Covered> coveredAreas() {
    std::vector<Covered> out;
    for (const WidgetBox& w : kWidgets) {
        const std::string name(w.name);
        switch (w.kind) {
            case WidgetKind::knob:
            case WidgetKind::panKnob: {
                // Disc and trails stay inside the square's inscribed circle.
                const float cx = 0.5f * static_cast<float>(w.box.min.x + w.box.max.x);
                const float cy = 0.5f * static_cast<float>(w.box.min.y + w.box.max.y);
                const float r = 0.5f * static_cast<float>(std::min(w.box.width(), w.box.height()));
                out.push_back({name, w.box, true, cx, cy, r});
                break;
            }
            case WidgetKind::radioSet:
                // Only the five lights: the names beside them are part of the panel.
                for (int i = 0; i < 5; ++i) {
                    const float cx = static_cast<float>(w.box.min.x) + 0.425f * 28.0f;
                    const float cy = static_cast<float>(w.box.min.y) + 28.0f * (static_cast<float>(i) + 0.5f);
                    const IntRect b{{static_cast<std::int32_t>(cx) - 6, static_cast<std::int32_t>(cy) - 6},
                                    {static_cast<std::int32_t>(cx) + 7, static_cast<std::int32_t>(cy) + 7}};
                    out.push_back({name, b, true, cx, cy, 6.0f});
                }
                break;
            case WidgetKind::dropdown:
                out.push_back({name, kDropdownHeader});
                break;
            case WidgetKind::panorama:
            case WidgetKind::phaseScope:
                break;  // glass: marks on it stay visible
            default:
                out.push_back({name, w.box});
                break;
        }
    }
    return out;
}

TEST_F(ArtworkTest, EveryControlIsNamedWithSevenPixelCapitals) {
    const char* names[] = {"DISTANCE", "STEREO WIDTH", "AMOUNT", "DELAY",     "LOW-PASS",
                           "TILT",     "HEAD",         "SIZE",   "LEVEL PAN", "SPECTRAL PAN",
                           "TEMPO",    "SYNC",         "RATE",   "PHASE",     "SINE",
                           "TRI",      "SQUARE",       "SAW",    "RANDOM",    "PAN",
                           "DISTANCE", "GAIN",         "LEVEL",  "DRY / WET", "TEST MONO"};
    for (const char* name : names) {
        const LabelRecord* l = findLabel(art().labels, name);
        ASSERT_NE(l, nullptr) << name;
        EXPECT_GE(l->capHeight, 7) << name;
    }
    // Titles and scale marks that complete them: the product, the sections, the ends of the
    // sliders and the pan directions.
    for (const char* text :
         {"VELMORA", "PAN", "LFO", "OUTPUT", "MONO TO STEREO", "NEAR", "FAR", "+18", "0", "L", "C", "R"})
        EXPECT_NE(findLabel(art().labels, text), nullptr) << text;
    // Each control label is printed in light paint on the darker panel.
    const korvo::ImageView<RGBA> color = art().color->view();
    for (const LabelRecord& l : art().labels) {
        if (!l.isControlLabel) continue;
        int brightest = 0, darkest = 255;
        for (std::int32_t y = l.ink.min.y; y < l.ink.max.y; ++y)
            for (std::int32_t x = l.ink.min.x; x < l.ink.max.x; ++x) {
                const RGBA p = color.at(x, y);
                const int luma = (p.r * 3 + p.g * 6 + p.b) / 10;
                brightest = std::max(brightest, luma);
                darkest = std::min(darkest, luma);
            }
        EXPECT_GE(brightest - darkest, 60) << l.text;
    }
}

TEST_F(ArtworkTest, NoLabelLiesUnderAWidgetOrAValueHint) {
    const std::vector<Covered> covered = coveredAreas();
    for (const LabelRecord& l : art().labels) {
        for (const Covered& c : covered)
            EXPECT_FALSE(c.hits(l.ink)) << "\"" << l.text << "\" under " << c.widget;
        for (korvo::IntPoint p : kHintPoints)
            EXPECT_TRUE(l.ink.intersection(hintBox(p)).empty())
                << "\"" << l.text << "\" under the hint at " << p.x << ", " << p.y;
        EXPECT_TRUE(l.ink.intersection(IntRect{{0, 0}, {kWidth, kHeight}}) == l.ink)
            << l.text << " leaves the window";
        // Control names are not printed on the display glass either.
        if (!l.isControlLabel) continue;
        for (const WidgetBox& w : kWidgets) {
            if (w.kind == WidgetKind::panorama || w.kind == WidgetKind::phaseScope) {
                EXPECT_TRUE(l.ink.intersection(w.box).empty()) << l.text << " on " << w.name;
            }
        }
    }
}

TEST_F(ArtworkTest, ReliefHasSoftRampsAroundAMidHeightPanel) {
    const korvo::ImageView<RGBA> depth = art().depth->view();
    auto height = [&](std::int32_t x, std::int32_t y) {
        const RGBA p = depth.at(x, y);
        return static_cast<float>(p.r + p.g + p.b) / 3.0f;
    };
    auto inSlope = [](std::int32_t x, std::int32_t y) {
        for (const Slope& s : kSlopes)
            if (s.box.contains(x, y)) return true;
        return false;
    };
    // Where two slopes come within a few pixels of each other the editor's gradients set the step.
    auto betweenSlopes = [](std::int32_t x, std::int32_t y) {
        int near = 0;
        for (const Slope& s : kSlopes) {
            const std::int32_t dx = std::max({s.box.min.x - x, 0, x - (s.box.max.x - 1)});
            const std::int32_t dy = std::max({s.box.min.y - y, 0, y - (s.box.max.y - 1)});
            near += dx <= 3 && dy <= 3;
        }
        return near >= 2;
    };
    // No cliff: the editor's normals come from a 3 x 3 Sobel, so edges need ramps of a few pixels.
    float steepest = 0;
    korvo::IntPoint where;
    for (std::int32_t y = 0; y + 1 < kHeight; ++y)
        for (std::int32_t x = 0; x + 1 < kWidth; ++x) {
            if (inSlope(x, y) || inSlope(x + 1, y) || inSlope(x, y + 1) || betweenSlopes(x, y)) continue;
            const float step = std::max(std::fabs(height(x + 1, y) - height(x, y)),
                                        std::fabs(height(x, y + 1) - height(x, y)));
            if (step > steepest) steepest = step, where = {x, y};
        }
    EXPECT_LE(steepest, 48.0f) << "at " << where.x << ", " << where.y;
    // The panel sits at mid height; the screens are sunk, the rims raised.
    EXPECT_NEAR(height(120, 270), 128.0f, 3.0f);
    EXPECT_LE(height(262, 120), 128.0f - 40.0f);  // panorama glass
    EXPECT_LE(height(520, 330), 128.0f - 40.0f);  // scope glass
    EXPECT_GE(height(398, 297), 128.0f + 10.0f);  // the pan knob's machined ring, at the top
    // Labels are engraved a little.
    const LabelRecord* distance = findLabel(art().labels, "DISTANCE");
    ASSERT_NE(distance, nullptr);
    float lowest = 255;
    for (std::int32_t y = distance->ink.min.y; y < distance->ink.max.y; ++y)
        for (std::int32_t x = distance->ink.min.x; x < distance->ink.max.x; ++x)
            lowest = std::min(lowest, height(x, y));
    EXPECT_LT(lowest, 126.0f);
    EXPECT_GT(lowest, 115.0f);
}

TEST_F(ArtworkTest, OnlyMarksGlowAndOnlyTrimsShine) {
    const korvo::ImageView<RGBA> emissive = art().emissive->view();
    int glowing = 0, brightest = 0;
    for (std::int32_t y = 0; y < kHeight; ++y)
        for (std::int32_t x = 0; x < kWidth; ++x) {
            const RGBA p = emissive.at(x, y);
            ASSERT_TRUE(p.r == p.g && p.g == p.b);  // stored as grey
            glowing += p.r > 0;
            brightest = std::max<int>(brightest, p.r);
        }
    EXPECT_LT(glowing, kWidth * kHeight / 10);  // surfaces do not glow
    EXPECT_LE(brightest, 64);
    // Labels glow faintly, enough to read in the dark.
    for (const LabelRecord& l : art().labels) {
        if (!l.isControlLabel) continue;
        int most = 0;
        for (std::int32_t y = l.ink.min.y; y < l.ink.max.y; ++y)
            for (std::int32_t x = l.ink.min.x; x < l.ink.max.x; ++x)
                most = std::max<int>(most, emissive.at(x, y).r);
        EXPECT_GE(most, 10) << l.text;
        EXPECT_LE(most, 25) << l.text;
    }
    const korvo::ImageView<RGBA> material = art().material->view();
    const RGBA panel = material.at(120, 270), glass = material.at(262, 120), rim = material.at(398, 297);
    EXPECT_GE(panel.r, 150);  // rough, a little metallic
    EXPECT_LE(panel.g, 90);
    EXPECT_LE(glass.r, 50);  // smooth, not metal, specular
    EXPECT_EQ(glass.g, 0);
    EXPECT_GE(glass.b, 120);
    EXPECT_LE(rim.r, 90);  // polished metal
    EXPECT_GE(rim.g, 170);
}

}  // namespace
}  // namespace velmora::artgen
