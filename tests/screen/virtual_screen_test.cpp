#include "screen/virtual_screen.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace vidtwine {
namespace {

std::unique_ptr<VirtualScreen> makeScreen(std::int32_t width = 80, std::int32_t height = 25,
                                          std::int32_t tabWidth = 8) {
  auto screen = VirtualScreen::create(width, height, tabWidth);
  EXPECT_NE(screen, nullptr);
  return screen;
}

void put(VirtualScreen& screen, std::string_view text) {
  for (const char c : text)
    screen.putChar(static_cast<std::uint8_t>(c));
}

/// The characters of a row, trailing spaces removed.
std::string rowText(const VirtualScreen& screen, std::uint64_t row) {
  std::string text;
  for (std::uint32_t column = 0; column < screen.width(); ++column) {
    text += static_cast<char>(cellCharacter(screen.cell(row, column)));
  }
  return text.substr(0, text.find_last_not_of(' ') + 1);
}

struct Position {
  std::uint64_t row;
  std::uint32_t column;
};

void expectCursor(const VirtualScreen& screen, Position expected) {
  EXPECT_EQ(screen.row(), expected.row);
  EXPECT_EQ(screen.column(), expected.column);
}

TEST(VirtualScreenTest, CreateChecksGeometry) {
  struct Case {
    std::int32_t width, height, tabWidth;
    bool valid;
  };
  const Case cases[] = {{80, 25, 8, true},    {80, 255, 8, true},  {1, 1, 1, true},
                        {300, 25, 255, true}, {80, 25, 81, false}, {80, 0, 8, false},
                        {80, 256, 8, false},  {80, -1, 8, false},  {0, 25, 0, false},
                        {-5, 25, 1, false},   {80, 25, 0, false},  {80, 25, -3, false},
                        {300, 25, 256, false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.width << "x" << c.height << " tab " << c.tabWidth);
    EXPECT_EQ(VirtualScreen::create(c.width, c.height, c.tabWidth) != nullptr, c.valid);
  }
}

TEST(VirtualScreenTest, StartsEmptyWithDefaultRendition) {
  auto screen = makeScreen();
  EXPECT_EQ(screen->usedRows(), 0u);
  expectCursor(*screen, {0, 0});
  EXPECT_TRUE(screen->wrapMode());
  EXPECT_EQ(screen->currentAttribute(), 0x07);
  EXPECT_EQ(screen->cell(0, 0), kBlankCell);
}

TEST(VirtualScreenTest, FullRowWaitsForNextCharacterToWrap) {
  const std::string full(80, 'a');
  {
    SCOPED_TRACE("CR LF after a full row adds no empty row");
    auto screen = makeScreen();
    put(*screen, full + "\r\nb");
    EXPECT_EQ(screen->usedRows(), 2u);
    EXPECT_EQ(rowText(*screen, 1), "b");
  }
  {
    SCOPED_TRACE("LF alone at the pending wrap leaves one empty row");
    auto screen = makeScreen();
    put(*screen, full + "\nb");
    EXPECT_EQ(screen->usedRows(), 3u);
    EXPECT_EQ(rowText(*screen, 1), "");
    EXPECT_EQ(rowText(*screen, 2), "b");
  }
  {
    SCOPED_TRACE("the 81st character goes to the next row");
    auto screen = makeScreen();
    put(*screen, full);
    expectCursor(*screen, {0, 80});
    put(*screen, "b");
    expectCursor(*screen, {1, 1});
    EXPECT_EQ(rowText(*screen, 1), "b");
  }
}

TEST(VirtualScreenTest, WrapOffDropsCharactersPastTheMargin) {
  auto screen = makeScreen(10);
  screen->setWrap(false);
  put(*screen, "0123456789XYZ");
  EXPECT_EQ(rowText(*screen, 0), "0123456789");
  expectCursor(*screen, {0, 10});
  put(*screen, "\rab");
  EXPECT_EQ(rowText(*screen, 0), "ab23456789");
  EXPECT_EQ(screen->usedRows(), 1u);
}

TEST(VirtualScreenTest, ControlCharacters) {
  struct Case {
    const char* name;
    std::string input;
    bool wrap;
    Position cursor;
    std::uint64_t usedRows;
  };
  const Case cases[] = {
      {"NUL BEL ESC are ignored", std::string("\0\a\x1b", 3), true, {0, 0}, 0},
      {"BS steps back", "abc\b", true, {0, 2}, 1},
      {"BS stops at column 0", "\b\b", true, {0, 0}, 0},
      {"BS at pending wrap wraps", "0123456789\b", true, {1, 0}, 1},
      {"BS at pending wrap wraps with wrap off", "0123456789\b", false, {1, 0}, 1},
      {"LF keeps the column", "abc\n", true, {1, 3}, 1},
      {"CR cancels the pending wrap", "0123456789\r", true, {0, 0}, 1},
      {"other control bytes are characters", "\x01\x0c\x1a\x7f", true, {0, 4}, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto screen = makeScreen(10);
    screen->setWrap(c.wrap);
    put(*screen, c.input);
    expectCursor(*screen, c.cursor);
    EXPECT_EQ(screen->usedRows(), c.usedRows);
  }
}

TEST(VirtualScreenTest, HighBytesAreOrdinaryCharacters) {
  auto screen = makeScreen();
  screen->putChar(0xFF);
  screen->putChar(0x9B);
  EXPECT_EQ(screen->cell(0, 0), 0xFF07);
  EXPECT_EQ(screen->cell(0, 1), 0x9B07);
}

TEST(VirtualScreenTest, TabStops) {
  struct Case {
    const char* name;
    std::int32_t width;
    std::uint32_t startColumn;
    bool wrap;
    Position cursor;
    std::uint64_t usedRows;
  };
  const Case cases[] = {
      {"to the next stop", 80, 3, true, {0, 8}, 1},
      {"at a stop writes a whole tab", 80, 8, true, {0, 16}, 1},
      {"stops at the margin when the width is a multiple", 80, 78, true, {0, 80}, 1},
      {"continues on the next row otherwise", 76, 72, true, {1, 8}, 2},
      {"stops at the margin with wrap off", 76, 72, false, {0, 76}, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto screen = makeScreen(c.width);
    screen->setWrap(c.wrap);
    screen->setBackground(4);
    screen->moveTo(c.startColumn, 0);
    put(*screen, "\t");
    expectCursor(*screen, c.cursor);
    EXPECT_EQ(screen->usedRows(), c.usedRows);
    // The spaces carry the current background.
    EXPECT_EQ(screen->cell(0, c.startColumn), 0x2047);
  }
}

TEST(VirtualScreenTest, TabAtPendingWrap) {
  auto screen = makeScreen(16);
  put(*screen, std::string(16, 'a'));
  screen->setWrap(false);
  put(*screen, "\t");
  expectCursor(*screen, {0, 16});
  EXPECT_EQ(screen->usedRows(), 1u);

  screen->setWrap(true);
  put(*screen, "\t");
  expectCursor(*screen, {1, 8});
  EXPECT_EQ(screen->usedRows(), 2u);
}

TEST(VirtualScreenTest, TabWiderThanANarrowedScreenStopsAtTheMargin) {
  auto screen = makeScreen(80, 25, 60);
  screen->resize(40, 25);
  put(*screen, "ab\t");
  expectCursor(*screen, {0, 40});
  put(*screen, "\t");
  expectCursor(*screen, {1, 40});
  EXPECT_EQ(screen->usedRows(), 2u);

  screen->resize(80, 25);
  put(*screen, "\r\n\t");
  expectCursor(*screen, {2, 60});
}

TEST(VirtualScreenTest, AttributeFromRendition) {
  struct Case {
    const char* name;
    std::function<void(VirtualScreen&)> setup;
    CellAttribute expected;
  };
  const Case cases[] = {
      {"colours",
       [](VirtualScreen& s) {
         s.setForeground(3);
         s.setBackground(4);
       },
       0x43},
      {"colours are taken modulo 8", [](VirtualScreen& s) { s.setForeground(10); }, 0x02},
      {"bold and blink",
       [](VirtualScreen& s) {
         s.setBold(true);
         s.setBlink(true);
       },
       0x8F},
      {"reverse swaps the colours only",
       [](VirtualScreen& s) {
         s.setForeground(3);
         s.setBackground(4);
         s.setBold(true);
         s.setReverse(true);
       },
       0x3C},
      {"concealed takes the background",
       [](VirtualScreen& s) {
         s.setForeground(2);
         s.setBackground(1);
         s.setConcealed(true);
       },
       0x11},
      {"concealed keeps the intensity",
       [](VirtualScreen& s) {
         s.setBold(true);
         s.setConcealed(true);
       },
       0x08},
      {"reverse and concealed take the foreground",
       [](VirtualScreen& s) {
         s.setForeground(2);
         s.setBackground(1);
         s.setReverse(true);
         s.setConcealed(true);
       },
       0x22},
      {"switching off",
       [](VirtualScreen& s) {
         s.setBold(true);
         s.setReverse(true);
         s.setConcealed(true);
         s.setBlink(true);
         s.setBold(false);
         s.setReverse(false);
         s.setConcealed(false);
         s.setBlink(false);
       },
       0x07},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto screen = makeScreen();
    c.setup(*screen);
    EXPECT_EQ(screen->currentAttribute(), c.expected);
    put(*screen, "x");
    EXPECT_EQ(screen->cell(0, 0), 0x7800 | c.expected);
  }
}

TEST(VirtualScreenTest, ResetAttributesKeepsWrapModeAndWrittenCells) {
  auto screen = makeScreen();
  screen->setWrap(false);
  screen->setForeground(1);
  screen->setBold(true);
  put(*screen, "x");
  screen->resetAttributes();
  EXPECT_EQ(screen->currentAttribute(), 0x07);
  EXPECT_FALSE(screen->wrapMode());
  EXPECT_EQ(screen->cell(0, 0), 0x7809);
}

TEST(VirtualScreenTest, RelativeMovementStaysInTheWindow) {
  struct Case {
    const char* name;
    std::function<void(VirtualScreen&)> action;
    Position cursor;
    std::uint32_t windowRow;
  };
  // Each case starts at row 5, column 3 of a 10x8 window whose top is text row 2.
  const Case cases[] = {
      {"up", [](VirtualScreen& s) { s.cursorUp(2); }, {3, 3}, 1},
      {"up clamped at the window top", [](VirtualScreen& s) { s.cursorUp(100); }, {2, 3}, 0},
      {"down clamped at the window bottom",
       [](VirtualScreen& s) { s.cursorDown(0xFFFFFFFF); },
       {9, 3},
       7},
      {"right clamped at the last column", [](VirtualScreen& s) { s.cursorRight(50); }, {5, 9}, 3},
      {"left clamped at column 0", [](VirtualScreen& s) { s.cursorLeft(50); }, {5, 0}, 3},
      {"zero does nothing", [](VirtualScreen& s) { s.cursorDown(0); }, {5, 3}, 3},
      {"moveTo clamps", [](VirtualScreen& s) { s.moveTo(999, 99); }, {9, 9}, 7},
      {"moveTo is window relative", [](VirtualScreen& s) { s.moveTo(1, 0); }, {2, 1}, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto screen = makeScreen(10, 8);
    put(*screen, "\n\n\n\n\n\n\n\n\n");  // window scrolled down by 2
    screen->moveTo(3, 3);
    ASSERT_EQ(screen->row(), 5u);
    c.action(*screen);
    expectCursor(*screen, c.cursor);
    EXPECT_EQ(screen->windowRow(), c.windowRow);
    EXPECT_EQ(screen->usedRows(), 0u);
  }
}

TEST(VirtualScreenTest, RelativeMovementPerformsThePendingWrap) {
  struct Case {
    const char* name;
    std::function<void(VirtualScreen&)> action;
    Position cursor;
  };
  const Case cases[] = {
      {"right", [](VirtualScreen& s) { s.cursorRight(2); }, {1, 2}},
      {"left", [](VirtualScreen& s) { s.cursorLeft(2); }, {1, 0}},
      {"down", [](VirtualScreen& s) { s.cursorDown(1); }, {2, 0}},
      {"up", [](VirtualScreen& s) { s.cursorUp(1); }, {0, 0}},
      {"up by 0 does not wrap", [](VirtualScreen& s) { s.cursorUp(0); }, {0, 10}},
      {"right by 0 does not wrap", [](VirtualScreen& s) { s.cursorRight(0); }, {0, 10}},
  };
  for (const bool wrap : {true, false}) {
    for (const Case& c : cases) {
      SCOPED_TRACE(std::string(c.name) + (wrap ? ", wrap on" : ", wrap off"));
      auto screen = makeScreen(10);
      screen->setWrap(wrap);
      put(*screen, "0123456789");
      c.action(*screen);
      expectCursor(*screen, c.cursor);
    }
  }
  auto screen = makeScreen(10);
  put(*screen, "0123456789");
  screen->moveTo(4, 0);  // dropped, not performed
  expectCursor(*screen, {0, 4});
}

TEST(VirtualScreenTest, LineFeedOnTheLastWindowRowScrolls) {
  auto screen = makeScreen(80, 25);
  for (int i = 0; i < 40; ++i)
    screen->lineFeed();
  EXPECT_EQ(screen->row(), 40u);
  EXPECT_EQ(screen->windowRow(), 24u);
  screen->moveTo(0, 0);
  EXPECT_EQ(screen->row(), 16u);
}

TEST(VirtualScreenTest, OnlyWrittenRowsCount) {
  auto screen = makeScreen();
  put(*screen, "a\r\n\r\n\r\n");
  EXPECT_EQ(screen->usedRows(), 1u);
  screen->cursorDown(3);
  EXPECT_EQ(screen->usedRows(), 1u);
  put(*screen, " ");  // a blank is a character too
  EXPECT_EQ(screen->usedRows(), 7u);
}

TEST(VirtualScreenTest, Erasing) {
  struct Case {
    const char* name;
    void (VirtualScreen::*erase)();
    std::vector<std::string> rows;
  };
  // Rows 0..3 hold "abcde"; the window is rows 1..3 and the cursor sits at row 2, column 2.
  const Case cases[] = {
      {"to line end", &VirtualScreen::eraseToLineEnd, {"abcde", "abcde", "ab", "abcde"}},
      {"to line start", &VirtualScreen::eraseToLineStart, {"abcde", "abcde", "  cde", "abcde"}},
      {"line", &VirtualScreen::eraseLine, {"abcde", "abcde", "", "abcde"}},
      {"to screen end", &VirtualScreen::eraseToScreenEnd, {"abcde", "abcde", "ab", ""}},
      {"to screen start", &VirtualScreen::eraseToScreenStart, {"abcde", "", "  cde", "abcde"}},
      {"screen from the window top", &VirtualScreen::eraseScreen, {"abcde", "", "", ""}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto screen = makeScreen(5, 3, 1);
    put(*screen, "abcde\r\nabcde\r\nabcde\r\nabcde");
    screen->moveTo(2, 1);
    screen->setBackground(4);
    (screen.get()->*c.erase)();
    for (std::uint64_t row = 0; row < 4; ++row)
      EXPECT_EQ(rowText(*screen, row), c.rows[row]);
    expectCursor(*screen, {2, 2});
    EXPECT_EQ(screen->usedRows(), 4u);
    // Erased cells are plain blanks, whatever the rendition.
    EXPECT_EQ(screen->cell(2, 4), c.rows[2].size() > 4 ? 0x6507 : kBlankCell);
  }
}

TEST(VirtualScreenTest, ErasingAtPendingWrap) {
  auto screen = makeScreen(5, 3, 1);
  put(*screen, "abcde");
  screen->eraseToLineEnd();
  EXPECT_EQ(rowText(*screen, 0), "abcde");
  screen->eraseToLineStart();
  EXPECT_EQ(rowText(*screen, 0), "");
}

TEST(VirtualScreenTest, ErasingRowsNeverWrittenChangesNothing) {
  auto screen = makeScreen();
  for (int i = 0; i < 30; ++i)
    screen->lineFeed();
  screen->eraseScreen();
  screen->eraseToScreenStart();
  screen->eraseLine();
  EXPECT_EQ(screen->usedRows(), 0u);
  EXPECT_TRUE(screen->rowCells(30).empty());
}

TEST(VirtualScreenTest, ResizeHeightKeepsTheCursorRow) {
  auto screen = makeScreen(80, 30);
  for (int i = 0; i < 20; ++i)
    screen->lineFeed();
  screen->resize(80, 10);
  EXPECT_EQ(screen->height(), 10u);
  EXPECT_EQ(screen->windowRow(), 9u);
  EXPECT_EQ(screen->row(), 20u);
  screen->moveTo(0, 0);
  EXPECT_EQ(screen->row(), 11u);

  const std::pair<std::int32_t, std::uint32_t> clamped[] = {{0, 1}, {1, 1}, {2, 2}, {1000, 255}};
  for (const auto& [requested, expected] : clamped) {
    screen->resize(80, requested);
    EXPECT_EQ(screen->height(), expected);
  }
}

TEST(VirtualScreenTest, ResizeWidthKeepsText) {
  auto screen = makeScreen(10);
  put(*screen, "0123456789\r\n\r\nabc");
  screen->resize(40, 25);
  EXPECT_EQ(screen->width(), 40u);
  EXPECT_EQ(rowText(*screen, 0), "0123456789");
  EXPECT_EQ(screen->rowCells(0).size(), 10u);  // the cells after them are blank
  EXPECT_EQ(screen->cell(0, 39), kBlankCell);

  put(*screen, "defghijklmnop");
  screen->resize(4, 25);
  EXPECT_EQ(rowText(*screen, 0), "0123");
  EXPECT_EQ(rowText(*screen, 2), "abcd");
  expectCursor(*screen, {2, 4});  // pending wrap at the new margin

  for (const std::int32_t ignored : {-1, 0}) {
    screen->resize(ignored, 25);
    EXPECT_EQ(screen->width(), 4u);
  }
}

TEST(VirtualScreenTest, SaveCursor) {
  struct Case {
    const char* name;
    std::string input;
    bool wrap;
    std::pair<std::int32_t, std::int32_t> saved;
  };
  const Case cases[] = {
      {"inside a row", "\n\nabc", true, {3, 2}},
      {"pending wrap, wrap on", "\n0123456789", true, {0, 2}},
      {"pending wrap on the last window row", "\n\n\n\n0123456789", true, {0, 3}},
      {"pending wrap, wrap off", "\n0123456789", false, {9, 1}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto screen = makeScreen(10, 4);
    screen->setWrap(c.wrap);
    put(*screen, c.input);
    EXPECT_EQ(screen->saveCursor(), c.saved);
  }
}

TEST(VirtualScreenTest, LineFeedsCostNoRowStorage) {
  auto screen = makeScreen(1024, 25, 8);
  std::string feeds;
  for (int i = 0; i < 1'000'000; ++i)
    feeds += "\r\n";
  screen->putText({reinterpret_cast<const std::uint8_t*>(feeds.data()), feeds.size()});
  put(*screen, "x");
  EXPECT_EQ(screen->usedRows(), 1'000'001u);
  EXPECT_TRUE(screen->rowCells(0).empty());
  EXPECT_TRUE(screen->rowCells(999'999).empty());
  EXPECT_EQ(screen->rowCells(1'000'000).size(), 1u);
  EXPECT_EQ(screen->cell(1'000'000, 0), 0x7807);

  screen->resize(2048, 25);  // only the stored row is reallocated
  EXPECT_TRUE(screen->rowCells(500'000).empty());
  EXPECT_EQ(screen->cell(1'000'000, 0), 0x7807);
}

TEST(VirtualScreenTest, RowsStoreCellsUpToTheLastWrittenColumn) {
  static constexpr ScreenCell kLoaded[] = {0x6107, 0x6207};
  static constexpr ScreenCell kLoadedBlanks[] = {kBlankCell, kBlankCell, kBlankCell};
  struct Case {
    const char* name;
    std::function<void(VirtualScreen&)> write;
    std::size_t stored;
  };
  const Case cases[] = {
      {"text", [](VirtualScreen& s) { put(s, "abc"); }, 3},
      {"leading blanks", [](VirtualScreen& s) { put(s, "   x"); }, 4},
      {"blanks alone", [](VirtualScreen& s) { put(s, "  \t "); }, 0},
      {"coloured blanks",
       [](VirtualScreen& s) {
         s.setBackground(1);
         put(s, "  ");
       },
       2},
      {"blanks in a 24-bit colour",
       [](VirtualScreen& s) {
         s.setTrueBackground(trueColor(0, 0, 0));
         put(s, "  ");
       },
       2},
      {"after cursor travel",
       [](VirtualScreen& s) {
         s.cursorRight(30);
         put(s, "x");
       },
       31},
      {"overwritten", [](VirtualScreen& s) { put(s, "abcdef\rxy"); }, 6},
      {"erased to the end",
       [](VirtualScreen& s) {
         put(s, "abcdef");
         s.moveTo(2, 0);
         s.eraseToLineEnd();
       },
       2},
      {"a loader's row", [](VirtualScreen& s) { s.putRow(0, 3, kLoaded); }, 5},
      {"a loader's row past the width", [](VirtualScreen& s) { s.putRow(0, 39, kLoaded); }, 40},
      {"a loader's blanks", [](VirtualScreen& s) { s.putRow(0, 3, kLoadedBlanks); }, 0},
      {"a loader's blanks over text",
       [](VirtualScreen& s) {
         put(s, "ab");
         s.putRow(0, 1, kLoadedBlanks);
       },
       4},
      {"a loader's blanks made in place",
       [](VirtualScreen& s) {
         s.putRowWith(0, 5, 2, [](std::span<ScreenCell> cells) {
           std::fill(cells.begin(), cells.end(), kBlankCell);
         });
       },
       0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto screen = makeScreen(40);
    c.write(*screen);
    EXPECT_EQ(screen->rowCells(0).size(), c.stored);
    EXPECT_EQ(screen->cell(0, static_cast<std::uint32_t>(c.stored)), kBlankCell);
  }
}

TEST(VirtualScreenTest, ManyShortRowsOnAVeryWideScreenStayShort) {
  auto screen = makeScreen(65535, 25, 8);
  std::string text;
  for (int i = 0; i < 20'000; ++i)
    text += "x\r\n";
  screen->putText({reinterpret_cast<const std::uint8_t*>(text.data()), text.size()});
  ASSERT_EQ(screen->usedRows(), 20'000u);
  for (std::uint64_t row = 0; row < 20'000; ++row) {
    ASSERT_EQ(screen->rowCells(row).size(), 1u) << row;
  }
  EXPECT_EQ(screen->cell(19'999, 65534), kBlankCell);
}

TEST(VirtualScreenTest, TrueColoursGoToTheCellsWrittenWithThem) {
  constexpr TrueColor kInk = trueColor(1, 2, 3);
  constexpr TrueColor kPaper = trueColor(4, 5, 6);
  struct Case {
    const char* name;
    TrueColor ink, paper;
    bool reverse, concealed;
    CellColors cells;
  };
  const Case cases[] = {
      {"ink", kInk, kNoTrueColor, false, false, {kInk, kNoTrueColor}},
      {"paper", kNoTrueColor, kPaper, false, false, {kNoTrueColor, kPaper}},
      {"reverse swaps them", kInk, kPaper, true, false, {kPaper, kInk}},
      {"reverse of ink alone", kInk, kNoTrueColor, true, false, {kNoTrueColor, kInk}},
      {"concealed shows the paper", kInk, kPaper, false, true, {kPaper, kPaper}},
      {"reverse and concealed show the ink", kInk, kPaper, true, true, {kInk, kInk}},
      {"none", kNoTrueColor, kNoTrueColor, true, true, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto screen = makeScreen(10);
    screen->setTrueForeground(c.ink);
    screen->setTrueBackground(c.paper);
    screen->setReverse(c.reverse);
    screen->setConcealed(c.concealed);
    EXPECT_EQ(screen->trueColors(), (CellColors{c.ink, c.paper}));
    put(*screen, "ab");
    screen->setTrueForeground(kNoTrueColor);
    screen->setTrueBackground(kNoTrueColor);
    put(*screen, "c");
    EXPECT_EQ(screen->cellColors(0, 0), c.cells);
    EXPECT_EQ(screen->cellColors(0, 1), c.cells);
    EXPECT_EQ(screen->cellColors(0, 2), CellColors{});
    EXPECT_EQ(screen->cellColors(0, 3), CellColors{});
    EXPECT_EQ(screen->cellColors(1, 0), CellColors{});
    EXPECT_EQ(screen->rowColors(0).size(), c.cells == CellColors{} ? 0u : 3u);
  }
}

TEST(VirtualScreenTest, ErasingAndOverwritingDropTrueColours) {
  struct Case {
    const char* name;
    std::function<void(VirtualScreen&)> action;
    const char* text;
    const char* coloured;  // 'c' where a cell keeps its 24-bit colour
  };
  // "abcde" in a 24-bit colour; the pen has none afterwards, the cursor is at column 2.
  const Case cases[] = {
      {"to line end", [](VirtualScreen& s) { s.eraseToLineEnd(); }, "ab", "cc..."},
      {"to line start", [](VirtualScreen& s) { s.eraseToLineStart(); }, "  cde", "..ccc"},
      {"line", [](VirtualScreen& s) { s.eraseLine(); }, "", "....."},
      {"overwritten", [](VirtualScreen& s) { put(s, "x"); }, "abxde", "cc.cc"},
      {"written again past an erased end",
       [](VirtualScreen& s) {
         s.eraseToLineEnd();
         s.moveTo(4, 0);
         put(s, "y");
       },
       "ab  y", "cc..."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    // Wide enough for the colours to be painted eight cells at a time.
    auto screen = makeScreen(40);
    screen->setTrueBackground(trueColor(9, 9, 9));
    put(*screen, "abcde");
    screen->setTrueBackground(kNoTrueColor);
    screen->moveTo(2, 0);
    c.action(*screen);
    EXPECT_EQ(rowText(*screen, 0), c.text);
    for (std::uint32_t column = 0; column < 5; ++column) {
      EXPECT_EQ(screen->cellColors(0, column) != CellColors{}, c.coloured[column] == 'c')
          << "column " << column;
    }
  }
}

TEST(VirtualScreenTest, NarrowingCutsRowsForGood) {
  struct Case {
    const char* name;
    std::function<void(VirtualScreen&)> steps;
    std::vector<std::string> rows;
  };
  // Each case starts with "0123456789" on row 0 of a width-10 screen and ends widened to
  // 10 again; the text is written in a 24-bit colour throughout.
  const Case cases[] = {
      {"one narrowing", [](VirtualScreen& s) { s.resize(4, 25); }, {"0123"}},
      {"widening only", [](VirtualScreen& s) { s.resize(20, 25); }, {"0123456789"}},
      {"several narrowings",
       [](VirtualScreen& s) {
         for (const std::int32_t width : {6, 3, 8, 5})
           s.resize(width, 25);
       },
       {"012"}},
      {"rows written between narrowings",
       [](VirtualScreen& s) {
         s.resize(6, 25);
         put(s, "\r\nabcdef");
         s.resize(8, 25);
         put(s, "\r\nABCDEFGH");
         s.resize(3, 25);
       },
       {"012", "abc", "ABC"}},
      {"a row written after a narrowing keeps what later ones leave",
       [](VirtualScreen& s) {
         s.resize(4, 25);
         s.resize(10, 25);
         put(s, "\r\nabcdefghij");
         s.resize(6, 25);
       },
       {"0123", "abcdef"}},
      {"a row used after a narrowing",
       [](VirtualScreen& s) {
         s.resize(4, 25);
         s.moveTo(1, 0);
         put(s, "x");
       },
       {"0x23"}},
      {"writing past a cut leaves blanks",
       [](VirtualScreen& s) {
         s.resize(4, 25);
         s.resize(10, 25);
         s.moveTo(7, 0);
         put(s, "y");
       },
       {"0123   y"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto screen = makeScreen(10);
    screen->setTrueForeground(trueColor(7, 7, 7));
    put(*screen, "0123456789");
    c.steps(*screen);
    screen->resize(10, 25);
    ASSERT_EQ(screen->usedRows(), c.rows.size());
    for (std::uint64_t row = 0; row < c.rows.size(); ++row) {
      const std::string& text = c.rows[row];
      EXPECT_EQ(rowText(*screen, row), text);
      EXPECT_EQ(screen->rowCells(row).size(), text.size());
      for (std::uint32_t column = 0; column < 10; ++column) {
        const bool written = column < text.size() && text[column] != ' ';
        EXPECT_EQ(screen->cellColors(row, column) != CellColors{}, written) << row << "," << column;
        if (!written) {
          EXPECT_EQ(screen->cell(row, column), kBlankCell) << row << "," << column;
        }
      }
    }
  }
}

TEST(VirtualScreenTest, PutTextMatchesPutChar) {
  std::string input;
  std::uint32_t state = 12345;
  for (int i = 0; i < 20000; ++i) {
    state = state * 1103515245u + 12345u;
    input += static_cast<char>(state >> 24);
  }
  auto one = makeScreen(33, 7, 5);
  auto bulk = makeScreen(33, 7, 5);
  put(*one, input);
  bulk->putText({reinterpret_cast<const std::uint8_t*>(input.data()), input.size()});
  ASSERT_EQ(one->usedRows(), bulk->usedRows());
  expectCursor(*bulk, {one->row(), one->column()});
  for (std::uint64_t row = 0; row < one->usedRows(); ++row) {
    for (std::uint32_t column = 0; column < 33; ++column) {
      ASSERT_EQ(one->cell(row, column), bulk->cell(row, column)) << row << "," << column;
    }
  }
}

}  // namespace
}  // namespace vidtwine

namespace vidtwine {
namespace {

// A run that outgrows the row's first storage, starting in the middle of a stored row.
TEST(VirtualScreenGrowth, LongRunsKeepEveryCell) {
  auto screen = VirtualScreen::create(300, 25, 8);
  std::string text = "start";
  screen->putText({reinterpret_cast<const std::uint8_t*>(text.data()), text.size()});
  std::string run;
  for (int i = 0; i < 250; ++i)
    run += static_cast<char>('A' + i % 26);
  screen->putText({reinterpret_cast<const std::uint8_t*>(run.data()), run.size()});
  const std::string expected = text + run;
  for (std::uint32_t column = 0; column < expected.size(); ++column)
    ASSERT_EQ(cellCharacter(screen->cell(0, column)), static_cast<std::uint8_t>(expected[column]))
        << column;
  EXPECT_EQ(screen->rowCells(0).size(), expected.size());
}

}  // namespace
}  // namespace vidtwine
