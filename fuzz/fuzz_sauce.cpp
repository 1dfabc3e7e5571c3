// SAUCE records from arbitrary trailing bytes: read and check them, draw the `-s` box and
// serialise it, and answer a `-q` query taken from the input.
//
// Input layout (missing bytes read as 0):
//   0  bit 0 raw comment, bit 1 CR LF, bit 2 size given to readSauce, bit 3 the ColorFlags
//      bit above the low byte (24-bit colours), bits 4-7 query length
//   1  ColorFlags of the box's colour writer, the low byte
//   2- the query bytes; each below 0xF0 picks a letter of the query alphabet, the others
//      are taken as they are (and usually make the query invalid)
//   .. the rest is the file whose end readSauce examines
#include <algorithm>
#include <cstdint>
#include <string>

#include "codepage/codepage_mapper.hpp"
#include "fuzz_support.hpp"
#include "output/ansi_color_writer.hpp"
#include "output/screen_serializer.hpp"
#include "output/unicode_encoder.hpp"
#include "sauce/sauce_display.hpp"
#include "sauce/sauce_query.hpp"
#include "sauce/sauce_record.hpp"
#include "screen/virtual_screen.hpp"
#include "stream/buffered_writer.hpp"

namespace vidtwine::fuzz {
namespace {

constexpr std::uint64_t kMaxResult = 2147483647;

// CP437 frame characters that begin and end every row of the box.
constexpr std::string_view kLeftFrame = "\xC9\xBA\xC7\xC8";
constexpr std::string_view kRightFrame = "\xBB\xBA\xB6\xBC";

void checkRecord(const SauceRecord& record, std::int64_t size) {
  FUZZ_CHECK(record.dataSize() >= 0 && record.dataSize() <= size - 128);
  FUZZ_CHECK(record.title().value_or("").size() <= 35);
  FUZZ_CHECK(record.author().value_or("").size() <= 20);
  FUZZ_CHECK(record.group().value_or("").size() <= 20);
  FUZZ_CHECK(record.commentCount() >= 0 && record.commentCount() <= 255);
  for (int i = 0; i < record.commentCount(); ++i) {
    const auto line = record.comment(i);
    FUZZ_CHECK(line.has_value() && line->size() <= 64);
  }
  FUZZ_CHECK(!record.comment(-1) && !record.comment(record.commentCount()));
  const int lines = record.fontLines();
  FUZZ_CHECK(lines == -1 || lines == 25 || lines == 43 || lines == 50);
  FUZZ_CHECK(record.codepage() >= -1 && record.codepage() < kCodepageCount);
  FUZZ_CHECK(record.codepageEuro() == 0 || record.codepageEuro() == 4);
  FUZZ_CHECK(record.backgroundMode() >= -1 && record.backgroundMode() <= 1);
}

/// Every row of the box is exactly as wide as the screen: frame at both ends.
void checkBox(const VirtualScreen& screen) {
  FUZZ_CHECK(screen.usedRows() >= 2);
  for (std::uint64_t row = 0; row < screen.usedRows(); ++row) {
    const auto left = static_cast<char>(cellCharacter(screen.cell(row, 0)));
    const auto right = static_cast<char>(cellCharacter(screen.cell(row, kSauceBoxWidth - 1)));
    FUZZ_CHECK(kLeftFrame.find(left) != std::string_view::npos);
    FUZZ_CHECK(kRightFrame.find(right) != std::string_view::npos);
  }
}

}  // namespace
}  // namespace vidtwine::fuzz

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  ::setenv("TZ", "UTC", 1);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace vidtwine;
  using namespace vidtwine::fuzz;

  InputBytes in(data, size);
  const std::uint8_t settings = in.byte();
  const bool rawComment = (settings & 0x01) != 0;
  const bool crlf = (settings & 0x02) != 0;
  const bool sizeGiven = (settings & 0x04) != 0;
  const auto colorFlags =
      ColorFlags::fromBits(static_cast<std::uint16_t>((settings & 0x08) << 5 | in.byte()));
  std::string query;
  for (const std::uint8_t letter : in.take(settings >> 4)) {
    query += letter < 0xF0 ? kSauceQueryAlphabet[letter % kSauceQueryAlphabet.size()]
                           : static_cast<char>(letter);
  }
  const std::span<const std::uint8_t> file = in.rest();

  auto stream = memoryStreamOf(file);
  const auto fileSize = static_cast<std::int64_t>(file.size());
  const auto record = readSauce(*stream, sizeGiven ? fileSize : -1);
  stream.reset();
  if (record == nullptr) return 0;
  checkRecord(*record, fileSize);

  auto screen = VirtualScreen::create(kSauceBoxWidth, 25, 8);
  FUZZ_CHECK(screen != nullptr);
  drawSauce(*screen, *record, rawComment);
  checkBox(*screen);

  AnsiColorWriter output(std::make_unique<BufferedWriter>(openNull(), 4096), UnicodeFormat::Utf8,
                         colorFlags);
  const CodepageMapper mapper(0, MapperFlags(MapperFlag::VgaLookalike));
  const std::int32_t rows = serialize(*screen, output, mapper, SerializeFlags());
  FUZZ_CHECK(static_cast<std::uint64_t>(rows) == std::min(screen->usedRows(), kMaxResult));
  FUZZ_CHECK(output.finish());

  const bool valid = !validateSauceQuery(query).has_value();
  const int queried = querySauce(*record, query, crlf, openNull());
  FUZZ_CHECK(queried == (valid ? 0 : -1));
  return 0;
}
