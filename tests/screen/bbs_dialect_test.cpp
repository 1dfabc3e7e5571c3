// The BBS dialect of the interpreter: what it reads differently from ANSI.SYS.
#include <gtest/gtest.h>

#include "support/screen_text.hpp"

#include <algorithm>
#include <string>
#include <string_view>
#include <vector>

#include "screen/ansi_sys_interpreter.hpp"
#include "screen/vga_palette.hpp"

namespace vidtwine {
namespace {

struct Bbs {
  std::unique_ptr<VirtualScreen> screen;
  std::int32_t result = 0;
  InterpreterReport report;
};

Bbs render(std::string_view input) {
  Bbs bbs{VirtualScreen::create(20, 5, 8), 0, {}};
  auto stream = MemoryStream::create(input.size() + 1);
  stream->write(input.data(), input.size());
  bbs.result = AnsiSysInterpreter::run(*bbs.screen, nullptr, *stream, Dialect::Bbs, &bbs.report);
  return bbs;
}

using test::screenText;

TEST(BbsDialect, CursorEditingMusicAndLineEnds) {
  struct Case {
    std::string_view input;
    std::string_view text;
  };
  const Case cases[] = {
      {"ab\ncd", "ab|cd"},                    // LF returns
      {"ab\rc", "cb"},                        // CR alone
      {"abcdef\x1b[3GX", "abXdef"},           // column
      {"a\r\nb\x1b[1dX", "aX|b"},             // row
      {"ab\x1b[2EX\x1b[FY", "ab|Y|X"},        // next and previous line
      {"abcdef\x1b[3G\x1b[2@X", "abX cdef"},  // insert characters
      {"abcdef\x1b[2G\x1b[2PX", "aXef"},      // delete characters
      {"abcdef\x1b[2G\x1b[3XX", "aX  ef"},    // erase characters
      {"1\n2\n3\x1b[2;1H\x1b[L", "1||2|3"},   // insert a line
      {"1\n2\n3\x1b[1;1H\x1b[2M", "3||"},     // delete lines
      {"a\x1b[MF T120 CDE\x0e"
       "b",
       "ab"},  // music
      {"a\x1b[NMB L8 C\x0e"
       "b",
       "ab"},                                          // music
      {"a\x1b[MF CD\x1b[1mb", "ab"},                   // ESC ends a music string
      {"a\x1b[?25l\x1b[6n\x1b[?25hb\x1b[5zc", "abc"},  // queries and unknowns
      {"\x1b[1;2;3;4;5;6;7;8;9;10;11;12;13;14;15;16;17;18;19;20mok", "ok"},
  };
  for (const auto& c : cases) {
    const Bbs bbs = render(c.input);
    EXPECT_EQ(bbs.result, static_cast<std::int32_t>(c.input.size())) << c.input;
    EXPECT_EQ(screenText(*bbs.screen), c.text) << c.input;
  }
}

TEST(BbsDialect, ColoursOfEveryForm) {
  struct Case {
    std::string_view input;
    CellAttribute attribute;
    CellColors colors;
  };
  const TrueColor orange = trueColor(255, 128, 0);
  const Case cases[] = {
      {"\x1b[91mX", 0x09, {}},
      {"\x1b[104mX", 0xC7, {}},
      {"\x1b[38;2;255;128;0mX", 0x07, {orange, kNoTrueColor}},
      {"\x1b[48:2::255:128:0mX", 0x07, {kNoTrueColor, orange}},
      {"\x1b[38:2:255:128:0mX", 0x07, {orange, kNoTrueColor}},
      {"\x1b[38;5;9mX", 0x07, {kVgaPalette[9], kNoTrueColor}},
      {"\x1b[38:5:196mX", 0x07, {xtermColor(196), kNoTrueColor}},
      {"\x1b[1;255;128;0tX", 0x07, {orange, kNoTrueColor}},
      {"\x1b[0;255;128;0tX", 0x07, {kNoTrueColor, orange}},
      {"\x1b[38;2;999;128;0;1mX", 0x0F, {trueColor(255, 128, 0), kNoTrueColor}},
      {"\x1b[38;2;1;2;3m\x1b[32mX", 0x02, {}},
      {"\x1b[48;2;1;2;3m\x1b[49mX", 0x07, {}},
      {"\x1b[38;2;1;2;3;48;2;4;5;6;7mX", 0x70, {trueColor(4, 5, 6), trueColor(1, 2, 3)}},
      {"\x1b[38;2;1;2;3m\x1b[0mX", 0x07, {}},
      {"\x1b[99999999999999;31mX", 0x01, {}},
  };
  for (const auto& c : cases) {
    const Bbs bbs = render(c.input);
    EXPECT_EQ(cellAttribute(bbs.screen->cell(0, 0)), c.attribute) << c.input;
    EXPECT_EQ(bbs.screen->cellColors(0, 0), c.colors) << c.input;
  }
}

/// Every cell and its colours, and the report, after `input` is fed in pieces of `piece`
/// bytes (a sequence fed whole is read in one go, one cut into pieces part by part).
std::string fedInPieces(std::string_view input, std::size_t piece, std::int32_t width = 20) {
  auto screen = VirtualScreen::create(width, 5, 8);
  InterpreterReport report;
  AnsiSysFeed feed(*screen, nullptr, &report, Dialect::Bbs);
  const auto* bytes = reinterpret_cast<const std::uint8_t*>(input.data());
  for (std::size_t at = 0; at < input.size(); at += piece)
    EXPECT_TRUE(feed.feed({bytes + at, std::min(piece, input.size() - at)}));
  std::string dump = std::to_string(report.iceColors);
  for (std::uint64_t row = 0; row < screen->usedRows(); ++row) {
    // Rows that hold only blanks store nothing, however they were read.
    dump += screen->rowCells(row).empty() ? " |" : " |+";
    for (std::uint32_t column = 0; column < screen->width(); ++column) {
      const CellColors colors = screen->cellColors(row, column);
      dump += ' ' + std::to_string(screen->cell(row, column)) + ':' +
              std::to_string(colors.foreground) + ':' + std::to_string(colors.background);
    }
  }
  return dump;
}

TEST(BbsDialect, SequencesReadWholeAsWhenCutIntoPieces) {
  const std::string_view inputs[] = {
      "\x1b[38;2;10;200;3mA\x1b[48:2::1:2:3mB\x1b[0;9;99;255tC\x1b[1;7;8;9tD  ",
      "\x1b[?33h\x1b[5;44mA\x1b[?33l\x1b[?7lB\x1b[?25lC\x1b[6nD    ",
      "\x1b[1?2;3mA\x1b[3,4mB\x1b[=5mC\x1b[>1mD\x1b[1234;31mE\x1b[99999mF     ",
      "\x1b[1;2;3;4;5;6;7;8;9;10;11;12;13;14;15;16;17;18;31mA\x1b[;;;;;;;;;;;;;;;;;;;32mB    ",
      "ab\ncd\x1b[2;3HX\x1b[MF T120\x0e\x1b[2MY\x1b[3@Z\x1b[2PQ\x1b[4XR\x1b[2LS\x1b[5GT     ",
      "\x1b[31\rA\x1b[38;5;200mB\x1b[38:5:12mC\x1b[39;49mD\x1b[92;103mE\x1b[mF\x1b[G    ",
      "\x1b[38;5;mA\x1b[48;5;1234mB\x1b[38;5;12345mC\x1b[?48;5;3mD\x1b[48;5;255mE     ",
      "\x1b[48;5;300mA\x1b[38;5;1;2;3mB\x1b[1;1;2;3;4tC\x1b[2;1;2;3tD\x1b[?38;2;1;2;3mE\x1b[7m"
      "\x1b[48;2;9;8;7mF\x1b[0;300;2;1tG\x1b[38;2;1;2mH\x1b[48;5;9mI     ",
      "\x1b[38;2;1000;2;3mA\x1b[1;12345;1;1tB\x1b[48;2;;;mC\x1b[38;2;1:2;3mD\x1b[0;1;2;3;tE\x1b[1;"
      "1;1;12345tF",
      // Sequences of 32 and 33 bytes, a number of five digits.
      "\x1b[38;2;100;100;100;48;2;200;2;1;1mA\x1b[38;2;100;100;100;48;2;200;2;1;12mB"
      "\x1b[12345;31mC",
  };
  for (const std::string_view text : inputs) {
    // Blanks after the art, as the whole reading wants room beyond each sequence.
    const std::string input = std::string(text) + std::string(40, ' ');
    const std::string whole = fedInPieces(input, input.size());
    for (const std::size_t piece : {std::size_t{1}, std::size_t{3}, std::size_t{7}})
      EXPECT_EQ(fedInPieces(input, piece), whole) << input << " in pieces of " << piece;
  }
}

TEST(BbsDialect, ArtActsAsWhenCutIntoPieces) {
  // Whole, text and the sequences between its runs go through a lane of the cursor's row
  // that paints 24-bit colours and keeps what short sequences do; in small pieces, every
  // sequence is read the general way.
  std::string_view list =
      "38;2;10;200;3m|48;2;1;22;255m|0;9;99;255t|1;7;8;9t|38;5;200m|48;5;9m|38;2;1000;1;1m|"
      "38;2;123;4;0128m|0;201;199;98t|"
      "38:2::1:2:3m|1;38;5;3m|MT120 C\x0e|0m|m|1;33;44m|7m|27m|8m|28m|92;103m|39;49m|1;97;104m|"
      "5C|D|12C|3A|2B|7;3H|s|u|?7l|2J";
  std::vector<std::string_view> sequences;
  for (;;) {
    const std::size_t bar = list.find('|');
    sequences.push_back(list.substr(0, bar));
    if (bar == std::string_view::npos) break;
    list.remove_prefix(bar + 1);
  }
  constexpr std::string_view kText =
      "  klmnopqrstuvwxyz0123456789ABCDEFGHIJ\x7f\xdb\x01"
      "abcdefghij";
  constexpr std::size_t kLengths[] = {0, 1, 3, 15, 16, 17, 40};
  std::uint32_t state = 2463534242u;
  for (int round = 0; round < 4; ++round) {
    std::string input;
    for (int i = 0; i < 1'500; ++i) {
      state ^= state << 13;
      state ^= state >> 17;
      state ^= state << 5;
      input += "\x1b[";
      input += sequences[state % sequences.size()];
      input += kText.substr((state >> 16) % 8, kLengths[(state >> 8) % std::size(kLengths)]);
      if ((state >> 24) % 9 == 0) input += (state >> 28) % 2 == 0 ? "\r\n" : "\n";
    }
    const std::int32_t width = 80 + round;
    const std::string whole = fedInPieces(input, input.size(), width);
    for (const std::size_t piece : {std::size_t{1}, std::size_t{100}})
      EXPECT_EQ(fedInPieces(input, piece, width), whole) << "round " << round << ", " << piece;
  }
}

TEST(BbsDialect, IceColourSwitchesAreReported) {
  EXPECT_EQ(render("a").report.iceColors, -1);
  EXPECT_EQ(render("\x1b[?33ha").report.iceColors, 1);
  EXPECT_EQ(render("\x1b[?33h\x1b[?33la").report.iceColors, 0);
  // Wrapping is switched as in the other dialect.
  EXPECT_EQ(screenText(*render("\x1b[?7l0123456789012345678901234").screen),
            "01234567890123456789");
}

}  // namespace
}  // namespace vidtwine
