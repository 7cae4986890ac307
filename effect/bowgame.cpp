// BowGame: board rules, pointer preview and drawing.
#include "effect/bowgame.h"

#include <algorithm>

namespace velmora {

using namespace korvo;

namespace {
constexpr RGBA kLitDiffuse{230, 230, 230, 0};
constexpr RGBA kUnlitDiffuse{100, 118, 120, 0};
constexpr RGBA kLitPreview{230, 230, 230, 50};
constexpr RGBA kUnlitPreview{100, 128, 135, 80};
constexpr RGBA kSolvedHover{240, 245, 250, 40};
constexpr RGBA kMaterial{128, 255, 255, 255};
constexpr std::uint16_t kLitDepth = 28000;
constexpr std::uint16_t kUnlitDepth = 3000;
// A one-pixel groove right of and below every cell keeps neighbouring lights apart.
constexpr RGBA kGrooveDiffuse{52, 60, 64, 0};
constexpr std::uint16_t kGrooveDepth = 0;
}  // namespace

BowGame::BowGame(UIContext* context, ElementFlags flags) : UIElement(context, flags) {}

std::int32_t BowGame::cellWidth() const noexcept {
    return _position.width() / kColumns;
}
std::int32_t BowGame::cellHeight() const noexcept {
    return _position.height() / kRows;
}
std::int32_t BowGame::boardLeft() const noexcept {
    return (_position.width() + 1 - kColumns * cellWidth()) / 2;
}
std::int32_t BowGame::boardTop() const noexcept {
    return (_position.height() - kRows * cellHeight()) / 2;
}

void BowGame::toggle(std::int32_t row, std::int32_t column) noexcept {
    if (row < 0 || row >= kRows || column < 0 || column >= kColumns) return;
    lights[index(row, column)] ^= 1;
}

void BowGame::markPreview(std::int32_t row, std::int32_t column) noexcept {
    if (row < 0 || row >= kRows || column < 0 || column >= kColumns) return;
    preview[index(row, column)] = 1;
}

void BowGame::newGame() noexcept {
    lights.fill(1);
    clearPreview();
}

void BowGame::clearPreview() noexcept {
    preview.fill(0);
}

bool BowGame::allOff() const noexcept {
    for (std::uint8_t l : lights)
        if (l != 0) return false;
    return true;
}

bool BowGame::allOn() const noexcept {
    for (std::uint8_t l : lights)
        if (l == 0) return false;
    return true;
}

bool BowGame::cellAt(std::int32_t x, std::int32_t y, std::int32_t& row, std::int32_t& column) const noexcept {
    const std::int32_t cw = cellWidth(), ch = cellHeight();
    if (cw <= 0 || ch <= 0) return false;  // an element too small to hold a board
    column = (x - boardLeft()) / cw;
    row = (y - boardTop()) / ch;
    return column >= 0 && column < kColumns && row >= 0 && row < kRows;
}

bool BowGame::onMouseClick(std::int32_t x, std::int32_t y, MouseButton button, bool, MouseState) {
    if (button == MouseButton::left) {
        std::int32_t row, column;
        if (cellAt(x, y, row, column))
            forEachInPattern(row, column, [this](std::int32_t r, std::int32_t c) { toggle(r, c); });
    } else {
        newGame();
    }
    setDirtyAll(DirtyLayer::fromFlags);
    return true;
}

void BowGame::onMouseMove(std::int32_t x, std::int32_t y, std::int32_t, std::int32_t, MouseState) {
    clearPreview();
    std::int32_t row, column;
    if (cellAt(x, y, row, column))
        forEachInPattern(row, column, [this](std::int32_t r, std::int32_t c) { markPreview(r, c); });
    setDirtyAll(DirtyLayer::fromFlags);
}

void BowGame::onMouseExit() {
    clearPreview();
    setDirtyAll(DirtyLayer::fromFlags);
}

void BowGame::onDrawPBR(ImageView<RGBA> diffuseMap, ImageView<L16> depthMap, ImageView<RGBA> materialMap,
                        const Vec<IntRect>& dirtyRects) {
    const std::int32_t cw = cellWidth(), ch = cellHeight();
    if (cw <= 0 || ch <= 0) return;
    const std::int32_t left = boardLeft(), top = boardTop();
    // The groove between the cells: a base pixel wide at any scale.
    const std::int32_t groove = std::max<std::int32_t>(1, korvo::scaleCoord(1, scale()));
    const bool on = allOn(), off = allOff();
    const bool solvedHover = on && _mouseOver;
    for (const IntRect& r : dirtyRects) {
        for (std::int32_t row = 0; row < kRows; ++row) {
            for (std::int32_t column = 0; column < kColumns; ++column) {
                // The cell in the maps' frame (shifted when the element reaches past the window).
                const IntRect whole = IntRect::fromXYWH(left + column * cw, top + row * ch, cw, ch)
                                          .translated(-_drawOffset.x, -_drawOffset.y);
                const IntRect cell = whole.intersection(r);
                if (cell.empty()) continue;
                fillBox(diffuseMap, cell, kGrooveDiffuse);
                fillBox(depthMap, cell, L16{kGrooveDepth});
                fillBox(materialMap, cell, kMaterial);
                const IntRect face =
                    IntRect{whole.min, {whole.max.x - groove, whole.max.y - groove}}.intersection(r);
                if (face.empty()) continue;
                const bool lit = light(row, column);
                RGBA diffuse = lit ? kLitDiffuse : kUnlitDiffuse;
                if (solvedHover)
                    diffuse = kSolvedHover;
                else if (!on && !off && previewed(row, column))
                    diffuse = lit ? kLitPreview : kUnlitPreview;
                fillBox(diffuseMap, face, diffuse);
                fillBox(depthMap, face, L16{lit ? kLitDepth : kUnlitDepth});
            }
        }
    }
}

}  // namespace velmora
