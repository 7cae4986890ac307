#pragma once
// Where the editor's widgets, value hints and depth slopes sit, in window pixels (max exclusive).
// The artwork is drawn around these boxes: labels beside them, wells and rims under them.
//
// Thread contract: constants, [any-thread].

#include <array>
#include <cstdint>
#include <string_view>

#include "korvo/graphics/rect.h"

namespace velmora::artgen {

inline constexpr std::int32_t kWidth = 763;  // editor window
inline constexpr std::int32_t kHeight = 494;
inline constexpr std::int32_t kSkyWidth = 1024;
inline constexpr std::int32_t kSkyHeight = 768;
inline constexpr std::int32_t kLogoWidth = 64;
inline constexpr std::int32_t kLogoHeight = 56;

constexpr korvo::IntRect box(std::int32_t x0, std::int32_t y0, std::int32_t x1, std::int32_t y1) {
    return korvo::IntRect{{x0, y0}, {x1, y1}};
}

enum class WidgetKind {
    logo,
    label,
    slider,
    knob,
    panKnob,
    onOffSwitch,
    bowGame,
    phaseScope,
    panorama,
    dropdown,
    radioSet
};

struct WidgetBox {
    std::string_view name;
    WidgetKind kind;
    korvo::IntRect box;
};

// The widgets, in the editor's order. The drop-down's box is its open list; closed, it shows only
// its header (kDropdownHeader).
inline constexpr std::array<WidgetBox, 27> kWidgets{{
    {"logo", WidgetKind::logo, box(24, 6, 88, 62)},
    {"subtitle", WidgetKind::label, box(516, 34, 711, 47)},
    {"Distance", WidgetKind::slider, box(47, 114, 76, 257)},
    {"Output Level", WidgetKind::slider, box(689, 114, 718, 257)},
    {"Stereo Width", WidgetKind::knob, box(30, 291, 95, 356)},
    {"Dry / Wet", WidgetKind::knob, box(672, 291, 737, 356)},
    {"Test Mono", WidgetKind::onOffSwitch, box(685, 426, 722, 454)},
    {"bow game", WidgetKind::bowGame, box(10, 395, 115, 479)},
    {"M-to-S Amount.", WidgetKind::knob, box(195, 292, 239, 336)},
    {"M-to-S Delay", WidgetKind::knob, box(146, 331, 180, 365)},
    {"M-to-S Lowpass", WidgetKind::knob, box(254, 331, 288, 365)},
    {"Tilt", WidgetKind::knob, box(195, 426, 239, 470)},
    {"Pan", WidgetKind::panKnob, box(344, 300, 452, 408)},
    {"Head size", WidgetKind::knob, box(334, 416, 368, 450)},
    {"Level pan", WidgetKind::knob, box(382, 412, 416, 446)},
    {"Spectral Pan", WidgetKind::knob, box(430, 416, 464, 450)},
    {"phase scope", WidgetKind::phaseScope, box(492, 318, 631, 452)},
    {"panorama", WidgetKind::panorama, box(143, 88, 381, 229)},
    {"LFO > Pan", WidgetKind::knob, box(596, 96, 630, 130)},
    {"LFO > Distance", WidgetKind::knob, box(596, 149, 630, 183)},
    {"LFO > Gain", WidgetKind::knob, box(596, 202, 630, 236)},
    {"LFO > Tilt", WidgetKind::knob, box(596, 251, 630, 285)},
    {"LFO Phase", WidgetKind::knob, box(522, 260, 556, 294)},
    {"LFO Tempo", WidgetKind::dropdown, box(516, 101, 563, 421)},
    {"LFO Wave", WidgetKind::radioSet, box(438, 108, 497, 248)},
    {"LFO Freq", WidgetKind::knob, box(517, 201, 561, 245)},
    {"LFO Synced", WidgetKind::onOffSwitch, box(527, 146, 552, 182)},
}};

// The drop-down's header row: its box height over (12 choices + 1), rounded up.
inline constexpr korvo::IntRect kDropdownHeader = box(516, 101, 563, 126);

inline constexpr std::int32_t kHintWidth = 40;
inline constexpr std::int32_t kHintHeight = 22;
// Value hints: each box has its top-left corner 2 pixels left of its point.
inline constexpr std::array<korvo::IntPoint, 18> kHintPoints{{
    {79, 186},
    {722, 156},
    {45, 355},
    {686, 355},
    {199, 355},
    {145, 294},
    {253, 294},
    {244, 397},
    {380, 406},
    {333, 465},
    {381, 461},
    {429, 465},
    {479, 265},
    {475, 209},
    {554, 102},
    {554, 155},
    {554, 208},
    {554, 257},
}};
constexpr korvo::IntRect hintBox(korvo::IntPoint p) {
    return box(p.x - 2, p.y, p.x - 2 + kHintWidth, p.y + kHintHeight);
}

// The four boxes whose depth the editor replaces by vertical gradients (top value, bottom value,
// 16-bit depth) with the curve t^exponent.
struct Slope {
    korvo::IntRect box;
    std::uint16_t top;
    std::uint16_t bottom;
    float exponent;
};
inline constexpr std::array<Slope, 4> kSlopes{{
    {box(0, 466, 763, 494), 16962, 0, 2.0f},
    {box(300, 0, 463, 90), 52919, 18962, 0.5f},
    {box(645, 67, 763, 380), 62819, 17962, 0.7f},
    {box(403, 100, 643, 250), 16962, 25000, 1.4f},
}};

}  // namespace velmora::artgen
