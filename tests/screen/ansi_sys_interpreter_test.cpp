#include "screen/ansi_sys_interpreter.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstring>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace vidtwine {
namespace {

std::unique_ptr<MemoryStream> memoryWith(std::string_view bytes) {
  auto stream = MemoryStream::create(bytes.size() + 1);
  stream->write(bytes.data(), bytes.size());
  return stream;
}

std::string contentsOf(const MemoryStream& stream) {
  const auto bytes = stream.contents();
  return {reinterpret_cast<const char*>(bytes.data()), bytes.size()};
}

struct Rendered {
  std::unique_ptr<VirtualScreen> screen;
  std::int32_t result;
  std::string metadata;
};

Rendered render(std::string_view input, std::int32_t width = 80, std::int32_t height = 25) {
  Rendered rendered{VirtualScreen::create(width, height, std::min(width, 8)), 0, {}};
  EXPECT_NE(rendered.screen, nullptr);
  auto stream = memoryWith(input);
  auto metadata = MemoryStream::create(1 << 16);
  rendered.result = AnsiSysInterpreter::run(*rendered.screen, metadata.get(), *stream);
  rendered.metadata = contentsOf(*metadata);
  return rendered;
}

std::string rowText(const VirtualScreen& screen, std::uint64_t row) {
  std::string text;
  for (std::uint32_t column = 0; column < screen.width(); ++column) {
    text += static_cast<char>(cellCharacter(screen.cell(row, column)));
  }
  return text.substr(0, text.find_last_not_of(' ') + 1);
}

/// A step of a xorshift generator: reproducible input without a seed to keep.
void nextRandom(std::uint32_t& state) {
  state ^= state << 13;
  state ^= state >> 17;
  state ^= state << 5;
}

/// The attribute of the cell just before the cursor.
CellAttribute lastAttribute(const VirtualScreen& screen) {
  return cellAttribute(screen.cell(screen.row(), screen.column() - 1));
}

/// Renders `input` whole and fed a byte at a time, and expects the same screens.
void expectAsWhenReadByteByByte(const std::string& input, std::int32_t width) {
  const Rendered whole = render(input, width, 25);
  auto screen = VirtualScreen::create(width, 25, 8);
  auto metadata = MemoryStream::create(1 << 16);
  AnsiSysFeed feed(*screen, metadata.get(), nullptr);
  for (const char byte : input)
    feed.feed({reinterpret_cast<const std::uint8_t*>(&byte), 1});
  EXPECT_EQ(whole.metadata, contentsOf(*metadata));
  // Read again in pieces of 13 bytes into a buffer given to the interpreter, onto a screen
  // given its first rows' storage.
  std::vector<std::byte> firstRows(4096);
  auto pieces = VirtualScreen::create(width, 25, 8, firstRows);
  auto stream = memoryWith(input);
  std::array<std::byte, 13> buffer;
  AnsiSysInterpreter::run(*pieces, nullptr, *stream, Dialect::AnsiSys, nullptr, buffer);
  for (const VirtualScreen* other : {screen.get(), pieces.get()}) {
    ASSERT_EQ(whole.screen->usedRows(), other->usedRows());
    EXPECT_EQ(whole.screen->row(), other->row());
    EXPECT_EQ(whole.screen->column(), other->column());
    EXPECT_EQ(whole.screen->rendition(), other->rendition());
    for (std::uint64_t row = 0; row < other->usedRows(); ++row) {
      // Rows that hold only blanks store nothing, however they were read.
      EXPECT_EQ(whole.screen->rowCells(row).empty(), other->rowCells(row).empty()) << row;
      for (std::uint32_t column = 0; column < other->width(); ++column)
        ASSERT_EQ(whole.screen->cell(row, column), other->cell(row, column)) << row;
    }
  }
}

TEST(AnsiSysInterpreterTest, SelectGraphicRendition) {
  struct Case {
    std::string_view input;
    CellAttribute attribute;
  };
  const Case cases[] = {
      {"\x1b[1;33;44mX", 0x4B},
      {"\x1b[1;33;44mX\x1b[7mX", 0x3C},
      {"\x1b[31mX\x1b[mX", 0x07},
      {"\x1b[31mX\x1b[0mX", 0x07},
      {"\x1b[5mX", 0x87},
      {"\x1b[6mX", 0x87},
      {"\x1b[5;25mX", 0x07},
      {"\x1b[8mX", 0x00},
      {"\x1b[8;28mX", 0x07},
      {"\x1b[1;2mX", 0x07},
      {"\x1b[1;22mX", 0x07},
      {"\x1b[7;27mX", 0x07},
      {"\x1b[32;41mX\x1b[39;49mX", 0x07},
      {"\x1b[37;40;1mX", 0x0F},
      {"\x1b[38;48;99;3mX", 0x07},  // unknown codes are ignored
      {"\x1b[31;;mX", 0x07},        // empty parameters are 0: reset
      {"\x1b[4294967327mX", 0x01},  // 2^32 + 31 wraps to 31
      {"\x1b[00000000034mX", 0x04},
      {"\x1b[=?>32mX", 0x02},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(std::string(c.input)));
    const Rendered rendered = render(c.input);
    EXPECT_EQ(rendered.result, static_cast<std::int32_t>(c.input.size()));
    EXPECT_EQ(lastAttribute(*rendered.screen), c.attribute);
  }
}

TEST(AnsiSysInterpreterTest, CursorCommands) {
  struct Case {
    std::string_view input;
    std::uint64_t row;
    std::uint32_t column;
  };
  // Ten line feeds first put the window's top at text row 0 and the cursor on row 10.
  const Case cases[] = {
      {"\x1b[H", 0, 0},         {"\x1b[1;1H", 0, 0},
      {"\x1b[0;0f", 0, 0},      {"\x1b[5H", 4, 0},
      {"\x1b[;5H", 0, 4},       {"\x1b[3;7f", 2, 6},
      {"\x1b[99;999H", 24, 79}, {"\x1b[4294967297;2H", 0, 1},  // 2^32 + 1 wraps to row 1
      {"\x1b[A", 9, 0},         {"\x1b[3A", 7, 0},
      {"\x1b[0B", 11, 0},       {"\x1b[99B", 24, 0},
      {"\x1b[5C", 10, 5},       {"\x1b[5C\x1b[2D", 10, 3},
      {"\x1b[999C", 10, 79},    {"\x1b[5;5H\x1b[s\x1b[H\x1b[u", 4, 4},
      {"\x1b[u", 0, 0},  // nothing saved: the window's top left corner
      {"\x1b[12;?3H", 11, 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(std::string(c.input)));
    const Rendered rendered = render(std::string(10, '\n') + std::string(c.input));
    EXPECT_EQ(rendered.screen->row(), c.row);
    EXPECT_EQ(rendered.screen->column(), c.column);
  }
}

TEST(AnsiSysInterpreterTest, SavedCursorIsWindowRelative) {
  // Saved on window row 1, restored after the window scrolled by 30 rows.
  const Rendered rendered = render("\n\x1b[s" + std::string(30, '\n') + "\x1b[u", 80, 25);
  EXPECT_EQ(rendered.screen->windowRow(), 1u);
  EXPECT_EQ(rendered.screen->row(), 31u - 24u + 1u);
}

TEST(AnsiSysInterpreterTest, Erasing) {
  struct Case {
    std::string_view command;
    std::string_view rows[3];
    std::uint64_t row;
    std::uint32_t column;
  };
  const Case cases[] = {
      {"\x1b[J", {"abcde", "ab", ""}, 1, 2},
      {"\x1b[1J", {"", "  cde", "abcde"}, 1, 2},
      {"\x1b[2J", {"", "", ""}, 0, 0},
      {"\x1b[K", {"abcde", "ab", "abcde"}, 1, 2},
      {"\x1b[1K", {"abcde", "  cde", "abcde"}, 1, 2},
      {"\x1b[2K", {"abcde", "", "abcde"}, 1, 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(std::string(c.command)));
    const Rendered rendered =
        render("abcde\r\nabcde\r\nabcde\x1b[2;3H" + std::string(c.command), 5, 25);
    for (std::uint64_t row = 0; row < 3; ++row) {
      EXPECT_EQ(rowText(*rendered.screen, row), c.rows[row]);
    }
    EXPECT_EQ(rendered.screen->row(), c.row);
    EXPECT_EQ(rendered.screen->column(), c.column);
  }
}

TEST(AnsiSysInterpreterTest, Modes) {
  struct Case {
    std::string_view input;
    std::uint32_t width;
    bool wrap;
    std::string_view metadata;
  };
  const Case cases[] = {
      {"\x1b[=7l", 100, false, ""},
      {"\x1b[?7l", 100, false, ""},
      {"\x1b[?7l\x1b[7h", 100, true, ""},
      {"\x1b[=1h", 40, true, "m_resetwidth=40\nm_resetheight=25\n"},
      {"\x1b[0l", 40, true, "m_resetwidth=40\nm_resetheight=25\n"},
      {"\x1b[0l\x1b[=3h", 80, true,
       "m_resetwidth=40\nm_resetheight=25\nm_resetwidth=80\nm_resetheight=25\n"},
      {"\x1b[=13h\x1b[4l", 100, true, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(std::string(c.input)));
    const Rendered rendered = render(c.input, 100, 50);
    EXPECT_EQ(rendered.screen->width(), c.width);
    EXPECT_EQ(rendered.screen->height(), c.width == 100 ? 50u : 25u);
    EXPECT_EQ(rendered.screen->wrapMode(), c.wrap);
    EXPECT_EQ(rendered.metadata, c.metadata);
  }
}

TEST(AnsiSysInterpreterTest, ModeSwitchWithoutMetadataStream) {
  auto screen = VirtualScreen::create(80, 25, 8);
  auto input = memoryWith("\x1b[1h");
  EXPECT_EQ(AnsiSysInterpreter::run(*screen, nullptr, *input), 4);
  EXPECT_EQ(screen->width(), 40u);
}

TEST(AnsiSysInterpreterTest, NinthParameterStopsTheRun) {
  const Rendered accepted = render("\x1b[1;2;3;4;5;6;7;8mX");
  EXPECT_EQ(accepted.result, 19);

  const Rendered rejected = render("ab\x1b[1;2;3;4;5;6;7;8;9mX");
  EXPECT_EQ(rejected.result, -1);
  EXPECT_EQ(rowText(*rejected.screen, 0), "ab");
  EXPECT_EQ(rejected.screen->currentAttribute(), 0x07);
}

TEST(AnsiSysInterpreterTest, BrokenAndCutOffSequences) {
  struct Case {
    std::string_view input;
    std::string_view text;
  };
  const Case cases[] = {
      {"\x1b[\rab", "ab"},     // CR ends the sequence and is swallowed
      {"\x1b\x1b[2J", "[2J"},  // the second ESC is dropped
      {"a\x1bxb", "ab"},       // ESC and the byte after it are dropped
      {"\x1b[31\x80X", "X"},   // a high byte ends the sequence
      {"\x9b"
       "31mX",
       "\x9b"
       "31mX"},  // 0x9B is an ordinary character
      {"ab\x1b", "ab"},
      {"ab\x1b[", "ab"},
      {"ab\x1b[1;3", "ab"},
      {"ab\x1b[?", "ab"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(std::string(c.input)));
    const Rendered rendered = render(c.input);
    EXPECT_EQ(rendered.result, static_cast<std::int32_t>(c.input.size()));
    EXPECT_EQ(rowText(*rendered.screen, 0), c.text);
    EXPECT_EQ(rendered.screen->currentAttribute(), 0x07);
  }
}

TEST(AnsiSysInterpreterTest, EmptyInput) {
  const Rendered rendered = render("");
  EXPECT_EQ(rendered.result, 0);
  EXPECT_EQ(rendered.screen->usedRows(), 0u);
  EXPECT_EQ(rendered.screen->column(), 0u);
}

TEST(AnsiSysInterpreterTest, SequencesAcrossReadBlocks) {
  // Long enough to need several reads; sequences straddle every likely block boundary.
  constexpr std::string_view kLine = "\x1b[1;31mR\x1b[0;32mg\r\n";
  std::string input;
  while (input.size() < 300'000)
    input += kLine;
  const Rendered rendered = render(input);
  EXPECT_EQ(rendered.result, static_cast<std::int32_t>(input.size()));
  const std::uint64_t rows = rendered.screen->usedRows();
  EXPECT_EQ(rows, input.size() / kLine.size());
  for (std::uint64_t row = 0; row < rows; ++row) {
    ASSERT_EQ(rendered.screen->cell(row, 0), 0x5209) << row;
    ASSERT_EQ(rendered.screen->cell(row, 1), 0x6702) << row;
  }
}

/// Delivers some bytes, then reports a read error.
class FailingInput final : public Stream {
 public:
  FailingInput() : Stream(StreamKind::Reader) {}
  StreamStatus status() const override { return StreamStatus::Error; }

 private:
  std::uint64_t readSome(std::byte* buffer, std::uint64_t n) override {
    const std::uint64_t count = std::min<std::uint64_t>(n, 3 - delivered_);
    std::memcpy(buffer, "abc" + delivered_, count);
    delivered_ += count;
    return count;
  }
  std::uint64_t delivered_ = 0;
};

TEST(AnsiSysInterpreterTest, ReadErrorFailsTheRun) {
  auto screen = VirtualScreen::create(80, 25, 8);
  FailingInput input;
  EXPECT_EQ(AnsiSysInterpreter::run(*screen, nullptr, input), -1);
  EXPECT_EQ(rowText(*screen, 0), "abc");
}

TEST(AnsiSysInterpreterTest, BinaryJunkKeepsTheScreenConsistent) {
  // Biased towards the bytes that drive the parser.
  constexpr std::string_view kPicks = "\x1b[;0123456789mHJKABCDsuhl=?\t\b\r\n";
  std::uint32_t state = 2463534242u;
  for (int round = 0; round < 20; ++round) {
    std::string input;
    for (int i = 0; i < 50'000; ++i) {
      nextRandom(state);
      const char pick = kPicks[state % kPicks.size()];
      input += (state >> 8) % 4 == 0 ? static_cast<char>(state >> 24) : pick;
    }
    auto screen = VirtualScreen::create(1 + static_cast<std::int32_t>(state % 120),
                                        1 + static_cast<std::int32_t>(state % 60), 1);
    auto stream = memoryWith(input);
    const std::int32_t result = AnsiSysInterpreter::run(*screen, nullptr, *stream);
    EXPECT_TRUE(result == -1 || result == static_cast<std::int32_t>(input.size()));
    EXPECT_LE(screen->column(), screen->width());
    EXPECT_LT(screen->windowRow(), screen->height());
    EXPECT_GE(screen->row(), screen->windowRow());
  }
}

TEST(AnsiSysInterpreterTest, RepeatedSequencesActAsWhenReadByteByByte) {
  // Sequences that recur are carried out from what their first reading did, runs of saves
  // and of positions at once; fed a byte at a time, every one is read in full. Both
  // readings must leave the same screen.
  constexpr std::string_view kSequences[] = {
      "1;33;44m", "0;5;7m",  "8;28m",     "31;;m",    "38;48;99m", "1;2;22m",  "m",
      "0m",       "3A",      "2B",        "5C",       "D",         "7;3H",     ";9f",
      "0A",       "1;5B",    "999C",      "12D",      "0C",        "9999999B", "4294967295A",
      "H",        "s",       "u",         "2J",       "K",         "1K",       "?7l",
      "7h",       "=1h",     "3h",        "5,6H",     "99",        "1;\x1b",   "12345678m",
      "s\x1b[s",  "s\x1b[u", "3H\x1b[3H", "K\x1b[7C", "K\x1b[12C"};
  // Only what a lane of the cursor's row carries out, so that its runs go on long enough to
  // cross the windows in which it looks ahead.
  constexpr std::string_view kLaneSequences[] = {"1;33;44m", "0;5;7m", "m",    "5C", "D",   "12D",
                                                 "3A",       "s",      "7;3H", "0m", "?7l", "?7h"};
  // Runs of text of the lengths that are written in one step, in several or in none, with
  // characters below 0x20 that are written rather than acted on.
  constexpr std::string_view kText =
      "abcdefghij\x01\x02\x7f\xdb\xb0klmnopqrstuvwxyz0123456789ABCDEFGHIJ";
  constexpr std::string_view kLaneText =
      "  klmnopqrstuvwxyz0123456789ABCDEFGHIJ\x7f\xdb"
      "abcdefghij";
  constexpr std::size_t kLengths[] = {0, 1, 2, 4, 15, 16, 17, 40};
  std::uint32_t state = 88172645u;
  for (int round = 0; round < 12; ++round) {
    const bool lane = round >= 8;
    using Sequences = std::span<const std::string_view>;
    const Sequences sequences = lane ? Sequences(kLaneSequences) : Sequences(kSequences);
    std::string input;
    for (int i = 0; i < 3'000; ++i) {
      nextRandom(state);
      input += "\x1b[";
      input += sequences[state % sequences.size()];
      input += (lane ? kLaneText : kText)
                   .substr((state >> 16) % 8, kLengths[(state >> 8) % std::size(kLengths)]);
      if ((state >> 24) % 9 == 0) input += "\r\n";
    }
    expectAsWhenReadByteByByte(input, lane ? 80 + round : 40 + round);
  }
}

TEST(AnsiSysInterpreterTest, NewRowsAndWrapsActAsWhenReadByteByByte) {
  // The lane makes a new row's storage for its first run, and wraps at the margin itself;
  // a row of only blanks on black must still store nothing.
  const std::string after(70, 'e');
  const std::string row(80, 'a');
  const std::string inputs[] = {
      "\x1b[0m   \r\nX" + after,
      "\r\n  \r\n" + after,
      "\x1b[44m  \r\n" + after,
      "\x1b[1m \r\n" + after,
      "\x1b[3B\x1b[5C \x01" + after,
      row + "bc" + after,
      "\x1b[?7l" + row + "bc\r\nd" + after,
      row + row + " " + row + after,
  };
  for (const std::string& input : inputs) {
    SCOPED_TRACE(testing::PrintToString(input.substr(0, 24)));
    expectAsWhenReadByteByByte(input, 80);
  }
}

TEST(AnsiSysInterpreterTest, EveryByteAfterTheParametersActsAsWhenReadByteByByte) {
  // Whether a byte ends a sequence is found for eight bytes at once; read one at a time,
  // each byte is looked at by itself.
  constexpr std::string_view kParameters[] = {"", "5", "1;3", "12;;4", "1234567", "31;;"};
  for (int byte = 0; byte < 256; ++byte) {
    for (const std::string_view parameters : kParameters) {
      SCOPED_TRACE(testing::PrintToString(std::string(parameters)) + " then " +
                   std::to_string(byte));
      // Twice: the second time, what the first reading did is carried out.
      std::string part = "ab\x1b[";
      part += parameters;
      part += static_cast<char>(byte);
      part += "cd";
      // Long enough for the whole of it to be read in one window of bytes.
      expectAsWhenReadByteByByte(part + part + "\x1b[1;31m" + std::string(64, 'e'), 80);
    }
  }
}

}  // namespace
}  // namespace vidtwine
