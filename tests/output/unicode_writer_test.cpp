#include "output/unicode_writer.hpp"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace vidtwine {
namespace {

std::string hostBytes(const std::vector<std::uint16_t>& units) {
  std::string bytes(units.size() * 2, '\0');
  std::memcpy(bytes.data(), units.data(), bytes.size());
  return bytes;
}

struct Chain {
  explicit Chain(UnicodeFormat format, std::uint64_t limit = 1 << 20) {
    auto memory = MemoryStream::create(limit);
    output = memory.get();
    writer = std::make_unique<UnicodeWriter>(std::move(memory), format);
  }
  std::uint64_t write(const std::string& bytes) {
    return writer->write(bytes.data(), bytes.size());
  }
  std::string contents() const {
    const auto bytes = output->contents();
    return {reinterpret_cast<const char*>(bytes.data()), bytes.size()};
  }

  MemoryStream* output;
  std::unique_ptr<Stream> writer;
};

struct EncodingCase {
  std::uint16_t unit;
  std::string utf8;
  std::string utf16be;
  std::string utf16le;
};

TEST(UnicodeWriter, EncodesEachUnitInAllThreeFormats) {
  const EncodingCase cases[] = {
      {0x0041, "\x41", {"\x00\x41", 2}, {"\x41\x00", 2}},
      {0x0000, {"\x00", 1}, {"\x00\x00", 2}, {"\x00\x00", 2}},
      {0x007F, "\x7F", {"\x00\x7F", 2}, {"\x7F\x00", 2}},
      {0x0080, "\xC2\x80", {"\x00\x80", 2}, {"\x80\x00", 2}},
      {0x00A6, "\xC2\xA6", {"\x00\xA6", 2}, {"\xA6\x00", 2}},
      {0x07FF, "\xDF\xBF", "\x07\xFF", "\xFF\x07"},
      {0x0800, "\xE0\xA0\x80", {"\x08\x00", 2}, {"\x00\x08", 2}},
      {0x2302, "\xE2\x8C\x82", "\x23\x02", "\x02\x23"},
      {0x20AC, "\xE2\x82\xAC", "\x20\xAC", "\xAC\x20"},
      {0xD800, "\xED\xA0\x80", {"\xD8\x00", 2}, {"\x00\xD8", 2}},
      {0xFEFF, "\xEF\xBB\xBF", "\xFE\xFF", "\xFF\xFE"},
      {0xFFFF, "\xEF\xBF\xBF", "\xFF\xFF", "\xFF\xFF"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << "unit " << std::hex << c.unit);
    const std::pair<UnicodeFormat, const std::string*> formats[] = {
        {UnicodeFormat::Utf8, &c.utf8},
        {UnicodeFormat::Utf16Be, &c.utf16be},
        {UnicodeFormat::Utf16Le, &c.utf16le}};
    for (const auto& [format, expected] : formats) {
      Chain chain(format);
      EXPECT_EQ(chain.write(hostBytes({c.unit})), 2u);
      EXPECT_EQ(chain.contents(), *expected);
    }
  }
}

TEST(UnicodeWriter, LeavesAnOddTrailingByteUnconsumed) {
  Chain chain(UnicodeFormat::Utf8);
  EXPECT_EQ(chain.write(hostBytes({'A', 'B'}).substr(0, 3)), 2u);
  EXPECT_EQ(chain.write(std::string(1, 'C')), 0u);
  EXPECT_EQ(chain.write(std::string()), 0u);
  EXPECT_EQ(chain.contents(), "A");
}

TEST(UnicodeWriter, LongWriteEqualsUnitByUnitWrites) {
  // Long enough to span several internal batches, with 1-, 2- and 3-byte forms mixed, and
  // runs of every length of ASCII, which may be encoded several at a time, each ended by a
  // unit that is not (from 0x8000 up too, negative as a signed unit).
  std::vector<std::uint16_t> units;
  for (std::uint32_t i = 0; i < 5000; ++i)
    units.push_back(static_cast<std::uint16_t>(i * 37));
  for (const unsigned end : {0x0080, 0x07FF, 0x2591, 0x8000, 0xFFFF}) {
    for (unsigned length = 0; length < 40; ++length) {
      for (unsigned i = 0; i < length; ++i)
        units.push_back(static_cast<std::uint16_t>(0x20 + (i * 7 + length) % 0x60));
      units.push_back(static_cast<std::uint16_t>(end));
    }
  }
  for (const auto format : {UnicodeFormat::Utf8, UnicodeFormat::Utf16Be, UnicodeFormat::Utf16Le}) {
    Chain whole(format);
    Chain single(format);
    const std::string bytes = hostBytes(units);
    EXPECT_EQ(whole.write(bytes), bytes.size());
    for (std::size_t i = 0; i < bytes.size(); i += 2)
      single.write(bytes.substr(i, 2));
    EXPECT_EQ(whole.contents(), single.contents());
  }
}

TEST(UnicodeWriter, EncodesEveryUnitAlsoWhenUnitsShareATableSlot) {
  // All 65536 units twice, in an order that makes many of them meet in the writer's table.
  std::vector<std::uint16_t> units;
  std::string expected;
  for (std::uint32_t i = 0; i < 2 * 65536; ++i) {
    const auto unit = static_cast<std::uint16_t>(i * 40503u);
    units.push_back(unit);
    if (unit < 0x80) {
      expected += static_cast<char>(unit);
    } else if (unit < 0x800) {
      expected += static_cast<char>(0xC0 | unit >> 6);
      expected += static_cast<char>(0x80 | (unit & 0x3F));
    } else {
      expected += static_cast<char>(0xE0 | unit >> 12);
      expected += static_cast<char>(0x80 | (unit >> 6 & 0x3F));
      expected += static_cast<char>(0x80 | (unit & 0x3F));
    }
  }
  Chain chain(UnicodeFormat::Utf8, 1 << 20);
  EXPECT_EQ(chain.write(hostBytes(units)), units.size() * 2);
  EXPECT_TRUE(chain.contents() == expected);
}

TEST(UnicodeWriter, CountsOnlyUnitsTheTargetTookWhole) {
  // "A" (1 byte), U+00E9 (2 bytes), U+20AC (3 bytes) into room for 4 bytes: the euro sign
  // is cut, so only the first two units count.
  Chain utf8(UnicodeFormat::Utf8, 4);
  EXPECT_EQ(utf8.write(hostBytes({'A', 0x00E9, 0x20AC, 'B'})), 4u);
  EXPECT_EQ(utf8.output->status(), StreamStatus::Error);
  EXPECT_EQ(utf8.write(hostBytes({'C'})), 0u);

  Chain utf16(UnicodeFormat::Utf16Le, 5);
  EXPECT_EQ(utf16.write(hostBytes({'A', 'B', 'C'})), 4u);
  EXPECT_EQ(utf16.write(hostBytes({'D'})), 0u);
}

TEST(UnicodeWriter, ConsumesNothingOnceTheFileRefusesWrites) {
  auto file = FileStream::openPath("/dev/full", OpenMode::Write);
  ASSERT_NE(file, nullptr);
  UnicodeWriter writer(std::move(file), UnicodeFormat::Utf8);
  const std::string bytes = hostBytes({'A', 'B'});
  EXPECT_EQ(writer.write(bytes.data(), bytes.size()), 0u);
  EXPECT_EQ(writer.status(), StreamStatus::Error);
  EXPECT_EQ(writer.write(bytes.data(), bytes.size()), 0u);
}

}  // namespace
}  // namespace vidtwine
