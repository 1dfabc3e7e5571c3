#include "sauce/sauce_record.hpp"

#include <gtest/gtest.h>

#include "codepage/codepage_names.hpp"
#include "sauce/sauce_builder.hpp"

namespace vidtwine {
namespace {

using test::readSauceFrom;
using test::SauceBuilder;

TEST(SauceRecordTest, FindsRecordOnlyWhereTheBytesHoldIt) {
  SauceBuilder plain;
  SauceBuilder twoComments;
  twoComments.comments = {"first", "second"};
  SauceBuilder version01;
  version01.version = "01";
  SauceBuilder badCommentId;
  badCommentId.comments = {"line"};
  badCommentId.commentId = "COMNX";
  SauceBuilder announcedOnly;  // Comments says 2, but nothing stands in front of the record
  announcedOnly.commentCount = 2;

  struct Case {
    const char* name;
    std::string bytes;
    std::optional<std::int64_t> dataSize;  // none: no record
  };
  const Case cases[] = {
      {"127 bytes", plain.record().substr(1), std::nullopt},
      {"record alone", plain.record(), 0},
      {"record after text", plain.file("hello"), 5},
      {"version 01", version01.file("text"), std::nullopt},
      {"no SAUCE at all", std::string(300, 'x'), std::nullopt},
      {"comments, 261 bytes", twoComments.file(), 0},
      {"comments, one byte short", twoComments.file().substr(1), std::nullopt},
      {"comments after text", twoComments.file("abc"), 3},
      {"block without COMNT", badCommentId.file("text"), std::nullopt},
      {"announced comments missing", announcedOnly.file(std::string(200, 'x')), std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const auto record = readSauceFrom(c.bytes);
    ASSERT_EQ(record != nullptr, c.dataSize.has_value());
    if (record) {
      EXPECT_EQ(record->dataSize(), *c.dataSize);
    }
  }
}

TEST(SauceRecordTest, UsesTheSizeGivenInsteadOfAskingTheStream) {
  const std::string bytes = SauceBuilder{}.file("abcd");
  auto stream = test::memoryStreamOf(bytes);
  EXPECT_EQ(readSauce(*stream, 127), nullptr);
  const auto record = readSauce(*stream, static_cast<std::int64_t>(bytes.size()));
  ASSERT_NE(record, nullptr);
  EXPECT_EQ(record->dataSize(), 4);
}

TEST(SauceRecordTest, CleansTextFields) {
  struct Case {
    std::string raw;
    char padding;
    std::optional<std::string> title;
  };
  const Case cases[] = {
      {std::string(35, ' '), ' ', std::nullopt},
      {std::string("\0Hello", 6), ' ', std::nullopt},
      {"  Hello", ' ', "  Hello"},
      {"Hello\t", ' ', "Hello "},
      {"Hello", '\0', "Hello"},
      {std::string("Hi\0there", 8), ' ', "Hi"},
      {"a\x07"
       "b\x08"
       "c\x0A"
       "d\x0D"
       "e\x1B"
       "f",
       ' ', "a b c d e f"},
      {"\x01\x0C\x1F\x80\xFF", ' ', "\x01\x0C\x1F\x80\xFF"},
      {std::string(35, 'T'), ' ', std::string(35, 'T')},
  };
  for (const Case& c : cases) {
    SauceBuilder builder;
    builder.title = c.raw;
    builder.padding = c.padding;
    const auto record = readSauceFrom(builder.file());
    ASSERT_NE(record, nullptr);
    EXPECT_EQ(record->title(), c.title) << c.raw;
  }
}

TEST(SauceRecordTest, KeepsOneTrailingSpaceOfACommentLine) {
  SauceBuilder builder;
  builder.comments = {
      "abc",  // padded with 61 spaces
      std::string("abc") + std::string(61, '\0'),
      std::string(64, ' '),
      std::string(64, 'x'),
      std::string(63, 'y') + " ",
      "  two words  ",
      "tab\t",
  };
  const auto record = readSauceFrom(builder.file());
  ASSERT_NE(record, nullptr);
  ASSERT_EQ(record->commentCount(), 7);
  EXPECT_EQ(record->comment(0), "abc ");
  EXPECT_EQ(record->comment(1), "abc");
  EXPECT_EQ(record->comment(2), "");
  EXPECT_EQ(record->comment(3), std::string(64, 'x'));
  EXPECT_EQ(record->comment(4), std::string(63, 'y') + " ");
  EXPECT_EQ(record->comment(5), "  two words ");
  EXPECT_EQ(record->comment(6), "tab  ");  // the TAB is content, then one padding space
  EXPECT_EQ(record->comment(-1), std::nullopt);
  EXPECT_EQ(record->comment(7), std::nullopt);
}

TEST(SauceRecordTest, ParsesTheDateAsLocalMidnight) {
  struct Case {
    const char* field;
    std::int64_t utc;  // seconds at 00:00 UTC, or -1
  };
  const Case cases[] = {
      {"19980305", 889056000}, {"  980305", 889056000}, {"  050101", 1104537600}, {"19690101", -1},
      {"19990231", 920419200}, {"00000000", 943920000}, {"        ", -1},         {"1 980305", -1},
      {"199803 5", 889056000}, {"199803x5", 889056000}, {"199803xx", -1},
  };
  {
    test::ScopedTimeZone utc("UTC0");
    for (const Case& c : cases) {
      SauceBuilder builder;
      builder.date = c.field;
      const auto record = readSauceFrom(builder.file());
      ASSERT_NE(record, nullptr);
      EXPECT_EQ(record->date(), c.utc) << c.field;
    }
  }
  // Local time, standard time even in summer: midnight CET is 23:00 UTC the day before.
  test::ScopedTimeZone berlin("CET-1CEST,M3.5.0,M10.5.0/3");
  for (const auto& [field, expected] :
       {std::pair{"19980305", 889056000 - 3600}, std::pair{"19980701", 899164800 + 86400 - 3600}}) {
    SauceBuilder builder;
    builder.date = field;
    EXPECT_EQ(readSauceFrom(builder.file())->date(), expected) << field;
  }
}

TEST(SauceRecordTest, TakesTheCodepageAndLinesFromTheFontName) {
  struct Case {
    std::uint8_t dataType;
    std::string fontName;
    std::optional<std::string_view> font;
    std::optional<std::string_view> codepageText;
    CodepageId codepage;
    int euro;
    int fontLines;
  };
  const CodepageId cp850 = codepageByName("850");
  const Case cases[] = {
      {1, "IBM VGA 437", "IBM VGA", "437", 0, 0, 25},
      {1, "IBM VGA50 858", "IBM VGA50", "858", cp850, 4, 50},
      {1, "IBM VGA25G 866", "IBM VGA25G", "866", codepageByName("866"), 0, 25},
      {1, "IBM EGA 850", "IBM EGA", "850", cp850, 0, 25},
      {1, "IBM EGA43 437", "IBM EGA43", "437", 0, 0, 43},
      {1, "IBM EGA43", "IBM EGA43", "<437 (implicit)>", 0, 0, 43},
      {1, "IBM VGA 4370", "IBM VGA 4370", "<437 (implicit)>", 0, 0, 25},
      {1, "IBM VGA 999", "IBM VGA", "999", -1, 0, 25},
      {1, "Amiga Topaz 1", "Amiga Topaz 1", "<Other (unknown)>", -1, 0, -1},
      {1, "", "<IBM VGA (default)>", "<437 (default)>", -1, 0, -1},
      {0, "IBM VGA 850", "IBM VGA", "850", -1, 0, 25},
      {0, "IBM VGA", "IBM VGA", "<437 (implicit)>", -1, 0, 25},
      {0, "Amiga Topaz 1", "Amiga Topaz 1", std::nullopt, -1, 0, -1},
      {0, "", std::nullopt, std::nullopt, -1, 0, -1},
      {2, "IBM VGA 850", std::nullopt, std::nullopt, -1, 0, -1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.dataType) + " '" + c.fontName + "'");
    SauceBuilder builder;
    builder.dataType = c.dataType;
    builder.fontName = c.fontName;
    const auto record = readSauceFrom(builder.file());
    ASSERT_NE(record, nullptr);
    EXPECT_EQ(record->font(), c.font);
    EXPECT_EQ(record->codepageText(), c.codepageText);
    EXPECT_EQ(record->codepage(), c.codepage);
    EXPECT_EQ(record->codepageEuro(), c.euro);
    EXPECT_EQ(record->fontLines(), c.fontLines);
  }
}

TEST(SauceRecordTest, DerivesValuesByDataAndFileType) {
  struct Case {
    std::uint8_t dataType;
    std::uint8_t fileType;
    std::uint8_t tFlags;
    std::string_view typeName;
    int width, height, background, spacing, aspect;
  };
  // TFlags: bit 0 non-blink, bits 1-2 letter spacing, bits 3-4 aspect ratio.
  const Case cases[] = {
      {0, 0, 0x1F, "<Unspecified>", 80, 25, -1, -1, -1},
      {1, 0, 0x01, "ASCII text", 80, 25, -1, -1, -1},
      {1, 1, 0x01, "ANSI text", 80, 25, 1, -1, -1},
      {1, 2, 0x00, "ANSiMation", 80, 25, 0, -1, -1},
      {1, 1, 0x02 | 0x08, "ANSI text", 80, 25, 0, 0, 0},
      {1, 1, 0x04 | 0x10, "ANSI text", 80, 25, 0, 1, 1},
      {1, 1, 0x06 | 0x18, "ANSI text", 80, 25, 0, -1, -1},
      {1, 5, 0x1F, "<Unsupported>", -1, -1, -1, -1, -1},
      {3, 1, 0x1F, "<Unsupported>", -1, -1, -1, -1, -1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.typeName);
    SauceBuilder builder;
    builder.dataType = c.dataType;
    builder.fileType = c.fileType;
    builder.tFlags = c.tFlags;
    builder.tInfo1 = 80;
    builder.tInfo2 = 25;
    const auto record = readSauceFrom(builder.file());
    ASSERT_NE(record, nullptr);
    EXPECT_EQ(record->typeName(), c.typeName);
    EXPECT_EQ(record->width(), c.width);
    EXPECT_EQ(record->height(), c.height);
    EXPECT_EQ(record->backgroundMode(), c.background);
    EXPECT_EQ(record->letterSpacing(), c.spacing);
    EXPECT_EQ(record->aspectRatio(), c.aspect);
  }
}

TEST(SauceRecordTest, UnsupportedTypeKeepsItsTextsAndComments) {
  SauceBuilder builder;
  builder.dataType = 1;
  builder.fileType = 5;
  builder.title = "T";
  builder.author = "A";
  builder.group = "G";
  builder.comments = {"c"};
  const auto record = readSauceFrom(builder.file());
  ASSERT_NE(record, nullptr);
  EXPECT_EQ(record->title(), "T");
  EXPECT_EQ(record->author(), "A");
  EXPECT_EQ(record->group(), "G");
  EXPECT_NE(record->date(), -1);
  EXPECT_EQ(record->comment(0), "c ");
}

TEST(SauceRecordTest, ZeroWidthOrHeightIsNone) {
  SauceBuilder builder;
  builder.tInfo1 = 0;
  builder.tInfo2 = 0x1234;
  const auto record = readSauceFrom(builder.file());
  ASSERT_NE(record, nullptr);
  EXPECT_EQ(record->width(), -1);
  EXPECT_EQ(record->height(), 0x1234);
}

}  // namespace
}  // namespace vidtwine
