// The bow game through the headless window: rules at corners and edges, preview, drawing.
#include "effect/bowgame.h"

#include <gtest/gtest.h>

#include <string>

#include "tests/korvo/widgets/widget_test_util.h"

namespace velmora {
namespace {

using korvo::test::Harness;

// The board as text, one row per line, '#' lit.
std::string board(const BowGame& g) {
    std::string s;
    for (int r = 0; r < BowGame::kRows; ++r) {
        for (int c = 0; c < BowGame::kColumns; ++c) s += g.light(r, c) ? '#' : '.';
        s += '\n';
    }
    return s;
}

struct Game {
    // 105 x 84 as in the editor: cells 21 x 21, board at (0, 0).
    Game() : h(140, 100) {
        game = h.panel.addChild(korvo::makeHeap<BowGame>(&h.panel.uiContext()));
        game->setPosition(korvo::IntRect{{10, 8}, {115, 92}});
        game->newGame();
        h.open();
    }
    // Left click at the centre of cell (row, column).
    void clickCell(int row, int column) {
        h.window->click(10 + game->boardLeft() + column * game->cellWidth() + 10,
                        8 + game->boardTop() + row * game->cellHeight() + 10);
    }
    Harness h;
    BowGame* game = nullptr;
};

TEST(BowGame, GeometryCentresTheBoardWithIntegerCells) {
    korvo::UIContext context;
    BowGame g(&context);
    g.setPosition(korvo::IntRect{{0, 0}, {105, 84}});
    EXPECT_EQ(g.cellWidth(), 21);
    EXPECT_EQ(g.cellHeight(), 21);
    EXPECT_EQ(g.boardLeft(), 0);
    EXPECT_EQ(g.boardTop(), 0);
    g.setPosition(korvo::IntRect{{0, 0}, {108, 87}});
    EXPECT_EQ(g.boardLeft(), 2);  // (108 + 1 - 105) / 2
    EXPECT_EQ(g.boardTop(), 1);   // (87 - 84) / 2
    std::int32_t row = -1, column = -1;
    EXPECT_TRUE(g.cellAt(1, 0, row, column));  // less than a cell left of and above the board: cell 0
    EXPECT_EQ(row, 0);
    EXPECT_EQ(column, 0);
    EXPECT_FALSE(g.cellAt(2 + 105, 40, row, column));
    EXPECT_FALSE(g.cellAt(50, 1 + 84, row, column));
    // An element too small to hold cells has no cell anywhere and draws nothing.
    g.setPosition(korvo::IntRect{{0, 0}, {4, 3}});
    EXPECT_FALSE(g.cellAt(0, 0, row, column));
}

TEST(BowGame, ClicksTogglePlusPatternsClippedAtCornersAndEdges) {
    Game t;
    t.clickCell(0, 0);  // corner: itself, two right, two down
    EXPECT_EQ(board(*t.game), "...##\n.####\n.####\n#####\n");
    t.game->newGame();
    t.clickCell(1, 4);  // right edge: columns 2..4 of row 1 and rows 0..3 of column 4 (6 cells)
    EXPECT_EQ(board(*t.game), "####.\n##...\n####.\n####.\n");
    t.game->newGame();
    t.clickCell(2, 2);  // inside: the full plus of nine cells
    EXPECT_EQ(board(*t.game), "##.##\n##.##\n.....\n##.##\n");
    t.clickCell(2, 2);  // the same click undoes it
    EXPECT_TRUE(t.game->allOn());
}

TEST(BowGame, ClicksOutsideTheBoardAreTakenAndChangeNothingOtherButtonsStartANewGame) {
    Game t;
    t.clickCell(0, 0);
    const std::string before = board(*t.game);
    // 108 x 87 leaves pixels right of and below the cells.
    t.game->setPosition(korvo::IntRect{{10, 8}, {118, 95}});
    EXPECT_TRUE(t.h.window->click(10 + 2 + 105 + 0, 30));  // right of the cells
    EXPECT_TRUE(t.h.window->click(40, 8 + 1 + 84 + 1));    // below the cells
    EXPECT_EQ(board(*t.game), before);
    EXPECT_TRUE(t.h.window->click(40, 40, korvo::MouseButton::right));
    EXPECT_TRUE(t.game->allOn());
}

TEST(BowGame, PointerPreviewsThePatternAndDrawsItOnlyWhileTheBoardIsMixed) {
    Game t;
    t.h.window->mouseMove(10 + 5, 8 + 5);  // over cell (0, 0)
    EXPECT_TRUE(t.game->previewed(0, 2));
    EXPECT_FALSE(t.game->previewed(1, 1));
    // All on: the whole board glows under the pointer instead of the preview.
    EXPECT_EQ(t.h.diffuseAt(10 + 5, 8 + 5), (korvo::RGBA{240, 245, 250, 40}));
    EXPECT_EQ(t.h.diffuseAt(10 + 21 * 3 + 5, 8 + 21 * 3 + 5), (korvo::RGBA{240, 245, 250, 40}));
    t.clickCell(3, 4);  // mixed board now; the pointer is over (3, 4)
    EXPECT_EQ(t.h.diffuseAt(10 + 21 * 4 + 5, 8 + 21 * 3 + 5),
              (korvo::RGBA{100, 128, 135, 80}));                               // previewed, unlit
    EXPECT_EQ(t.h.diffuseAt(10 + 5, 8 + 5), (korvo::RGBA{230, 230, 230, 0}));  // lit, not previewed
    EXPECT_EQ(t.h.depthAt(10 + 5, 8 + 5), 28000);
    EXPECT_EQ(t.h.depthAt(10 + 21 * 4 + 5, 8 + 21 * 3 + 5), 3000);
    EXPECT_EQ(t.h.materialAt(10 + 5, 8 + 5), (korvo::RGBA{128, 255, 255, 255}));
    t.h.window->mouseMove(130, 98);  // leave: no preview
    for (int r = 0; r < BowGame::kRows; ++r)
        for (int c = 0; c < BowGame::kColumns; ++c) EXPECT_FALSE(t.game->previewed(r, c));
    EXPECT_EQ(t.h.diffuseAt(10 + 21 * 4 + 5, 8 + 21 * 3 + 5), (korvo::RGBA{100, 118, 120, 0}));
}

}  // namespace
}  // namespace velmora
