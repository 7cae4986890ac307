#pragma once
// BowGame: the light-toggling puzzle in a corner of the editor. A board of 4 rows x 5 columns of
// lights; clicking a light toggles it together with the lights up to two cells away along the
// row and the column (a plus sign with arms of two cells, clipped to the board), and the pointer
// previews which lights a click would toggle. It has no parameter and does nothing to the audio.
//
// Geometry for an element of w x h pixels: cellWidth = w / 5, cellHeight = h / 4 and the board is
// centred at boardLeft = (w + 1 - 5 cellWidth) / 2, boardTop = (h - 4 cellHeight) / 2 (integer
// division). The cell under a local point is ((x - boardLeft) / cellWidth, (y - boardTop) /
// cellHeight) with division truncating toward zero, so a point less than one cell left of or
// above the board still counts as column or row 0.
//
// A left click on a cell toggles its pattern; a click of any other button starts a new game (all
// lights on); every click is taken. Drawing goes into the PBR layers only: lit cells are bright
// and raised, unlit ones dark and sunken; previewed cells glow while the board is neither all on
// nor all off; a board with every light on glows as a whole under the pointer.
//
// Thread contract: [main-thread]; drawing runs on a pool thread.

#include <array>
#include <cstdint>

#include "korvo/gui/element.h"

namespace velmora {

class BowGame : public korvo::UIElement {
public:
    static constexpr std::int32_t kRows = 4;
    static constexpr std::int32_t kColumns = 5;
    static constexpr std::int32_t kCells = kRows * kColumns;

    // Starts with every light off and no preview; the editor calls newGame once.
    BowGame(korvo::UIContext* context, korvo::ElementFlags flags = korvo::ElementFlags::drawsPBR);

    // Board geometry in local pixels.
    virtual std::int32_t boardLeft() const noexcept;
    virtual std::int32_t boardTop() const noexcept;
    virtual std::int32_t cellWidth() const noexcept;
    virtual std::int32_t cellHeight() const noexcept;
    // Toggle one light / mark one cell as previewed; cells outside the board are ignored.
    virtual void toggle(std::int32_t row, std::int32_t column) noexcept;
    virtual void markPreview(std::int32_t row, std::int32_t column) noexcept;
    // Every light on, no preview.
    virtual void newGame() noexcept;
    virtual void clearPreview() noexcept;
    virtual bool allOff() const noexcept;
    virtual bool allOn() const noexcept;

    // The cell under a local point: false when it lies outside the board.
    bool cellAt(std::int32_t x, std::int32_t y, std::int32_t& row, std::int32_t& column) const noexcept;
    // Applies `f(row, column)` to every in-board cell of the plus pattern of (row, column).
    template <class F>
    static void forEachInPattern(std::int32_t row, std::int32_t column, F&& f) {
        static constexpr std::int32_t kOffsets[9][2] = {{0, 0},  {0, -1}, {0, 1},  {-1, 0}, {1, 0},
                                                        {0, -2}, {0, 2},  {-2, 0}, {2, 0}};
        for (const auto& o : kOffsets) {
            const std::int32_t r = row + o[0], c = column + o[1];
            if (r >= 0 && r < kRows && c >= 0 && c < kColumns) f(r, c);
        }
    }

    bool light(std::int32_t row, std::int32_t column) const noexcept {
        return lights[index(row, column)] != 0;
    }
    bool previewed(std::int32_t row, std::int32_t column) const noexcept {
        return preview[index(row, column)] != 0;
    }

    bool onMouseClick(std::int32_t x, std::int32_t y, korvo::MouseButton button, bool isDoubleClick,
                      korvo::MouseState mouseState) override;
    void onMouseMove(std::int32_t x, std::int32_t y, std::int32_t dx, std::int32_t dy,
                     korvo::MouseState mouseState) override;
    void onMouseExit() override;
    void onDrawPBR(korvo::ImageView<korvo::RGBA> diffuseMap, korvo::ImageView<korvo::L16> depthMap,
                   korvo::ImageView<korvo::RGBA> materialMap,
                   const korvo::Vec<korvo::IntRect>& dirtyRects) override;

    std::array<std::uint8_t, kCells> lights{};   // index row * 5 + column, row 0 at the top
    std::array<std::uint8_t, kCells> preview{};  // cells a click at the pointer would toggle

private:
    static std::size_t index(std::int32_t row, std::int32_t column) noexcept {
        return static_cast<std::size_t>(row * kColumns + column);
    }
};

}  // namespace velmora
