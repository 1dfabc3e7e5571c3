#include "sauce/sauce_query.hpp"

#include <gtest/gtest.h>

#include <string>

#include "output/unicode_writer.hpp"
#include "sauce/sauce_builder.hpp"
#include "sauce/sauce_record.hpp"
#include "support/string_sink.hpp"

namespace vidtwine {
namespace {

using test::SauceBuilder;

using CaptureStream = test::StringSink;

std::unique_ptr<SauceRecord> fullRecord() {
  SauceBuilder builder;
  builder.title = "It's";
  builder.author = "Au\x82|";
  builder.group = "Grp\x01";
  builder.date = "19980305";
  builder.tInfo1 = 80;
  builder.tInfo2 = 25;
  builder.tFlags = 0x01 | 0x04 | 0x10;
  builder.fontName = "IBM VGA 850";
  builder.comments = {"one two", std::string(64, 'x')};
  return test::readSauceFrom(builder.file("art"));
}

std::unique_ptr<SauceRecord> blankRecord() {
  SauceBuilder builder;
  builder.dataType = 0;
  builder.date = "";
  return test::readSauceFrom(builder.file());
}

std::unique_ptr<SauceRecord> asciiRecord() {
  SauceBuilder builder;
  builder.fileType = 0;
  builder.tFlags = 0x01;
  return test::readSauceFrom(builder.file());
}

struct QueryResult {
  int status;
  std::string out;
};

QueryResult query(const SauceRecord& record, std::string_view letters, bool crlf = false) {
  QueryResult result{};
  result.status = querySauce(record, letters, crlf, std::make_unique<CaptureStream>(result.out));
  return result;
}

TEST(SauceQueryTest, PrintsOneLinePerLetter) {
  test::ScopedTimeZone zone("UTC0");
  const auto full = fullRecord();
  const auto blank = blankRecord();
  const auto ascii = asciiRecord();
  ASSERT_TRUE(full && blank && ascii);
  struct Case {
    const SauceRecord* record;
    const char* query;
    bool crlf;
    const char* out;
  };
  const Case cases[] = {
      {full.get(), "", false, ""},
      {full.get(), ":", false, ""},
      {full.get(), "TT", false, "It's\nIt's\n"},
      {full.get(), ":T", false, "'It'\\''s'\n"},
      {full.get(), "T:AG", false, "It's\n'Au\xC3\xA9|'\n'Grp\xE2\x98\xBA'\n"},
      {full.get(), ":TA:G", true, "'It'\\''s'\r\n'Au\xC3\xA9|'\r\nGrp\xE2\x98\xBA\r\n"},
      {full.get(), "D", false, "19980305\n"},
      {full.get(), "C", false,
       "2\none two \nxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxx\n"},
      {full.get(), "twhbsafc", false, "ANSI text\n80\n25\n1\n1\n1\nIBM VGA\n850\n"},
      {blank.get(), "TAGDCtwhbsafc", false, "\n\n\n\n0\n\n\n\n\n\n\n\n\n"},
      {blank.get(), ":TC", false, "''\n'0'\n"},
      {ascii.get(), "tbfc", false, "ASCII text\n\n\n\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.query);
    const QueryResult result = query(*c.record, c.query, c.crlf);
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.out, c.out);
  }
}

TEST(SauceQueryTest, RejectsLettersOutsideTheAlphabetBeforeWriting) {
  const auto record = fullRecord();
  ASSERT_NE(record, nullptr);
  const QueryResult result = query(*record, "TxA");
  EXPECT_EQ(result.status, -1);
  EXPECT_EQ(result.out, "");
  EXPECT_EQ(validateSauceQuery("TxA"), 'x');
  EXPECT_EQ(validateSauceQuery(":TAGDCtwhbsafc"), std::nullopt);
}

TEST(SauceQueryTest, ReportsAFailureThatShowsOnlyWhenTheBufferIsWrittenOut) {
  const auto record = fullRecord();
  ASSERT_NE(record, nullptr);
  // A few bytes stay in the buffer until the end; only then does the device refuse them.
  auto full = FileStream::openPath("/dev/full", OpenMode::Write);
  ASSERT_NE(full, nullptr);
  EXPECT_EQ(querySauce(*record, "T", false, std::move(full)), -1);

  std::string longTitles;
  for (int i = 0; i < 300; ++i) {
    longTitles += 'T';
  }
  full = FileStream::openPath("/dev/full", OpenMode::Write);
  EXPECT_EQ(querySauce(*record, longTitles, false, std::move(full)), -1);
}

TEST(SauceQueryTest, WriterDropsCarriageReturnsAndQuotesLinesWithinOneWrite) {
  std::string out;
  auto unicode =
      std::make_unique<UnicodeWriter>(std::make_unique<CaptureStream>(out), UnicodeFormat::Utf8);
  SauceQueryWriter writer(std::move(unicode), true);
  writer.setQuote(true);
  const std::string_view text = "ab\r\ncd'e\n\n";
  EXPECT_EQ(writer.write(text.data(), text.size()), text.size());
  writer.setQuote(false);
  EXPECT_EQ(writer.write("f'\n", 3), 3U);
  EXPECT_EQ(out, "'ab'\r\n'cd'\\''e'\r\n''\r\nf'\r\n");
}

}  // namespace
}  // namespace vidtwine
