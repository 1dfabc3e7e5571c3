#include "sauce/sauce_display.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "sauce/sauce_builder.hpp"

namespace vidtwine {
namespace {

using test::SauceBuilder;

constexpr CellAttribute kFrame = 0x4F;  // white on blue
constexpr CellAttribute kLabel = 0x4B;  // yellow on blue
constexpr CellAttribute kValue = 0x74;  // blue on light gray

std::string repeat(std::string_view text, int times) {
  std::string result;
  for (int i = 0; i < times; ++i) {
    result += text;
  }
  return result;
}

std::string rightTrimmed(std::string text) {
  text.erase(text.find_last_not_of(' ') + 1);
  return text;
}

std::string leftTrimmed(std::string text) {
  text.erase(0, text.find_first_not_of(' ') == std::string::npos ? text.size()
                                                                 : text.find_first_not_of(' '));
  return text;
}

/// A comment line that keeps no trailing space: padded with NUL bytes instead.
std::string nulPadded(std::string line) {
  line.resize(64, '\0');
  return line;
}

std::unique_ptr<VirtualScreen> drawn(const SauceBuilder& builder, bool rawComment = false) {
  const auto record = test::readSauceFrom(builder.file());
  EXPECT_NE(record, nullptr);
  auto screen = VirtualScreen::create(80, 25, 8);
  if (record) drawSauce(*screen, *record, rawComment);
  return screen;
}

std::string rowText(const VirtualScreen& screen, std::uint64_t row) {
  std::string text;
  for (std::uint32_t column = 0; column < 80; ++column) {
    text += static_cast<char>(cellCharacter(screen.cell(row, column)));
  }
  return text;
}

bool isCommentRow(const VirtualScreen& screen, std::uint64_t row) {
  // Column 11 is part of the value in a comment row, of the label in a field row.
  return rowText(screen, row)[0] == '\xBA' && cellAttribute(screen.cell(row, 11)) == kValue;
}

/// The box row by row: "Label: value" for fields, "--" for separators, "header", "footer".
std::vector<std::string> describe(const VirtualScreen& screen) {
  std::vector<std::string> rows;
  for (std::uint64_t row = 0; row < screen.usedRows(); ++row) {
    const std::string text = rowText(screen, row);
    if (text[0] == '\xC9') {
      rows.push_back("header");
    } else if (text[0] == '\xC8') {
      rows.push_back("footer");
    } else if (text[0] == '\xC7') {
      rows.push_back("--");
    } else if (isCommentRow(screen, row)) {
      rows.push_back(leftTrimmed(text.substr(1, 10)) + rightTrimmed(text.substr(12, 65)));
    } else {
      rows.push_back(leftTrimmed(text.substr(1, 18)) + rightTrimmed(text.substr(20, 52)));
    }
  }
  return rows;
}

/// The values of the comment rows, without the padding behind them.
std::vector<std::string> commentValues(const VirtualScreen& screen) {
  std::vector<std::string> values;
  for (std::uint64_t row = 0; row < screen.usedRows(); ++row) {
    if (isCommentRow(screen, row))
      values.push_back(rightTrimmed(rowText(screen, row).substr(12, 65)));
  }
  return values;
}

TEST(SauceDisplayTest, DrawsRowsOfEightyColumnsInFrameLabelAndValueColours) {
  SauceBuilder builder;
  builder.dataType = 0;
  builder.title = "Hi";
  builder.date = "";
  builder.comments = {" note"};
  const auto screen = drawn(builder, true);
  ASSERT_EQ(screen->usedRows(), 9U);
  EXPECT_EQ(rowText(*screen, 0),
            "\xC9\xCD\xCD\xCD\xCD\xB5 SAUCE \xC6" + repeat("\xCD", 65) + "\xBB");
  EXPECT_EQ(rowText(*screen, 1),
            "\xBA" + repeat(" ", 11) + "Title:  Hi" + repeat(" ", 50 + 7) + "\xBA");
  EXPECT_EQ(rowText(*screen, 4), "\xC7" + repeat("\xC4", 78) + "\xB6");
  EXPECT_EQ(rowText(*screen, 7), "\xBA Comment:   note" + repeat(" ", 60 + 2) + "\xBA");
  EXPECT_EQ(rowText(*screen, 8), "\xC8" + repeat("\xCD", 51) +
                                     "\xB5 \x03  vidtwine v2.0  \x0E \xC6\xCD\xCD\xCD\xCD\xBC");

  const auto attributesOf = [&](std::uint64_t row) {
    std::vector<CellAttribute> attributes;
    for (std::uint32_t column = 0; column < 80; ++column) {
      attributes.push_back(cellAttribute(screen->cell(row, column)));
    }
    return attributes;
  };
  std::vector<CellAttribute> field(80, kFrame);
  std::fill(field.begin() + 1, field.begin() + 19, kLabel);
  std::fill(field.begin() + 19, field.begin() + 72, kValue);
  EXPECT_EQ(attributesOf(1), field);
  std::vector<CellAttribute> comment(80, kFrame);
  std::fill(comment.begin() + 1, comment.begin() + 11, kLabel);
  std::fill(comment.begin() + 11, comment.begin() + 77, kValue);
  EXPECT_EQ(attributesOf(7), comment);
  EXPECT_EQ(attributesOf(0), std::vector<CellAttribute>(80, kFrame));
}

TEST(SauceDisplayTest, ShowsARowForEveryKnownField) {
  test::ScopedTimeZone zone("UTC0");
  struct Case {
    const char* name;
    SauceBuilder builder;
    std::vector<std::string> rows;
  };
  SauceBuilder untyped;
  untyped.dataType = 0;
  untyped.title = "Hi";
  untyped.date = "";
  SauceBuilder ansi = untyped;
  ansi.dataType = 1;
  ansi.fileType = 1;
  SauceBuilder widthOnly = ansi;
  widthOnly.tInfo1 = 80;
  SauceBuilder heightOnly = ansi;
  heightOnly.tInfo2 = 25;
  SauceBuilder full;
  full.title = std::string(35, 'T');
  full.author = "Someone";
  full.group = "Crew";
  full.date = "19980305";
  full.tInfo1 = 80;
  full.tInfo2 = 25;
  full.tFlags = 0x01 | 0x04 | 0x10;
  full.fontName = "IBM VGA50 858";
  SauceBuilder flagsZero = full;
  flagsZero.tFlags = 0x02 | 0x08;
  SauceBuilder untypedFont = untyped;
  untypedFont.fontName = "IBM VGA 850";
  SauceBuilder unsupported = full;
  unsupported.fileType = 9;

  const std::vector<std::string> head = {"header", "Title: Hi", "Author: <Unknown>",
                                         "Date: <Unknown>", "--"};
  const auto with = [&](std::vector<std::string> rows) {
    rows.insert(rows.begin(), head.begin(), head.end());
    rows.push_back("footer");
    return rows;
  };
  const std::vector<std::string> fullHead = {"header",
                                             "Title: " + std::string(35, 'T'),
                                             "Author: Someone",
                                             "Group: Crew",
                                             "Date: 05 Mar 1998",
                                             "--"};
  const auto withFull = [&](std::vector<std::string> rows) {
    rows.insert(rows.begin(), fullHead.begin(), fullHead.end());
    rows.push_back("footer");
    return rows;
  };
  const Case cases[] = {
      {"untyped", untyped, with({"File type: <Unspecified>"})},
      {"ansi", ansi,
       with({"File type: ANSI text", "Background mode: blinking (default)",
             "Font: <IBM VGA (default)>", "Codepage: <437 (default)>"})},
      {"width only", widthOnly,
       with({"File type: ANSI text", "Width: 80", "Background mode: blinking (default)",
             "Font: <IBM VGA (default)>", "Codepage: <437 (default)>"})},
      {"height only", heightOnly,
       with({"File type: ANSI text", "Height: 25", "Background mode: blinking (default)",
             "Font: <IBM VGA (default)>", "Codepage: <437 (default)>"})},
      {"full", full,
       withFull({"File type: ANSI text", "Size: 80 x 25", "Background mode: bright colors",
                 "Letter spacing: spaced (9px VGA)", "Pixel aspect: square pixels",
                 "Font: IBM VGA50", "Codepage: 858"})},
      {"flags zero", flagsZero,
       withFull({"File type: ANSI text", "Size: 80 x 25", "Background mode: blinking (default)",
                 "Letter spacing: unspaced (8px VGA)", "Pixel aspect: rectangular pixels",
                 "Font: IBM VGA50", "Codepage: 858"})},
      {"untyped with font", untypedFont,
       with({"File type: <Unspecified>", "Font: IBM VGA", "Codepage: 850"})},
      {"unsupported", unsupported, withFull({"File type: <Unsupported>"})},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(describe(*drawn(c.builder)), c.rows);
  }
}

TEST(SauceDisplayTest, RawCommentShowsTheStoredLinesOneRowEach) {
  SauceBuilder builder;
  builder.comments = {"  indented", "", repeat("word ", 12) + "word"};
  const auto screen = drawn(builder, true);
  const std::vector<std::string> rows = describe(*screen);
  const std::vector<std::string> comments(rows.end() - 4, rows.end() - 1);
  EXPECT_EQ(comments,
            (std::vector<std::string>{"Comment:   indented", "", repeat("word ", 12) + "word"}));
}

TEST(SauceDisplayTest, ReflowsTheCommentIntoWholeWords) {
  const std::string words62 = repeat("aa ", 20) + "b ";  // a row of 62 ending in a space
  const std::string rowOf61 = repeat("aa ", 20) + "b";
  struct Case {
    const char* name;
    std::vector<std::string> lines;
    std::vector<std::string> rows;
  };
  const Case cases[] = {
      {"short lines keep their breaks", {"one two", "three"}, {"one two", "three"}},
      {"runs of spaces stay", {"a   b"}, {"a   b"}},
      {"word split at 64 joined on the next row",
       {repeat("word ", 11) + "breakthro", "ugh the end"},
       {rightTrimmed(repeat("word ", 11)), "breakthrough the end"}},
      {"word split at 64 joined on the same row",
       {"    " + repeat("aa ", 19) + "ant", "hem is sung"},
       {repeat("aa ", 19) + "anthem", "is sung"}},
      {"no joining when the next line begins with a space",
       {repeat("aa ", 21) + "b", " next"},
       {rightTrimmed(repeat("aa ", 21)), "b next"}},
      {"joining when it does not",
       {repeat("aa ", 21) + "b", "next"},
       {rightTrimmed(repeat("aa ", 21)), "bnext"}},
      {"64 letters, then words",
       {std::string(64, 'x'), "hello world"},
       {std::string(64, 'x'), "hello world"}},
      {"lines of 62 or more run on", {words62, "c dd"}, {words62 + "c", "dd"}},
      {"a plain line ending in a letter runs into the next",
       {nulPadded(repeat("aa ", 20) + "bb"), nulPadded("cc")},
       {repeat("aa ", 20) + "bbcc"}},
      {"block line in a paragraph flushes it",
       {repeat("aa ", 21), "\xDB\xDB text", "more words"},
       {rightTrimmed(repeat("aa ", 21)), "\xDB\xDB text", "more words"}},
      {"empty line between paragraphs", {"para one", "", "para two"}, {"para one", "", "para two"}},
      {"empty first line", {"", "text"}, {"", "text"}},
      {"space at column 64 loses no line",
       {repeat("aa ", 20) + "bbb ", "next line", "end"},
       {repeat("aa ", 20) + "bbb", "next line", "end"}},
      {"exact fit, one word, more lines follow",
       {words62, nulPadded("cd"), "more"},
       {rowOf61, "cd", "more"}},
      {"exact fit, one word, last line", {words62, nulPadded("cd")}, {words62 + "cd"}},
      // Padded with spaces, the word keeps one behind it, which makes it complete.
      {"exact fit, one word and a space, more lines follow",
       {words62, "cd", "more"},
       {words62 + "cd", "more"}},
      {"exact fit, one word and a space, last line", {words62, "cd"}, {rowOf61, "cd"}},
      {"exact fit, two words, more lines follow",
       {words62, "cd ef", "more"},
       {words62 + "cd", "ef", "more"}},
      {"exact fit, two words, last line", {words62, "cd ef"}, {rowOf61, "cd ef"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SauceBuilder builder;
    builder.comments = c.lines;
    const auto screen = drawn(builder);
    EXPECT_EQ(commentValues(*screen), c.rows);
    // Every comment row is one row of the box: header, 7 fields, 2 separators, footer.
    EXPECT_EQ(screen->usedRows(), 11 + c.rows.size());
    EXPECT_EQ(rowText(*screen, 10).substr(0, 9), "\xBA Comment");
  }
}

TEST(SauceDisplayTest, ReflowLosesNoTextWhereverTheLinesAreCut) {
  // Text of words of 1 to 12 letters with single and double spaces, cut into 64-column
  // lines at every possible offset of the first cut.
  std::string text;
  unsigned seed = 7;
  for (int word = 0; word < 120; ++word) {
    seed = seed * 1103515245U + 12345U;
    text += std::string(1 + (seed >> 16) % 12, static_cast<char>('a' + word % 26));
    text += (seed >> 8) % 5 == 0 ? "  " : " ";
  }
  const auto letters = [](const std::vector<std::string>& pieces) {
    std::string all;
    for (const std::string& piece : pieces) {
      for (const char c : piece) {
        if (c != ' ') all += c;
      }
    }
    return all;
  };
  for (std::size_t first = 1; first <= 64; ++first) {
    SCOPED_TRACE(first);
    SauceBuilder builder;
    builder.comments.push_back(text.substr(0, first));
    for (std::size_t at = first; at < text.size(); at += 64) {
      builder.comments.push_back(text.substr(at, 64));
    }
    const auto screen = drawn(builder);
    const std::vector<std::string> rows = commentValues(*screen);
    EXPECT_EQ(letters(rows), letters({text}));
    for (const std::string& row : rows)
      EXPECT_LE(row.size(), 64U);
  }
}

}  // namespace
}  // namespace vidtwine
