// Checks the upper-half tables against the C library's iconv, an independent source of the
// published mappings.
#include "codepage/codepage_tables.hpp"

#include <gtest/gtest.h>
#include <iconv.h>

#include <cstdint>
#include <initializer_list>
#include <ostream>
#include <string>
#include <vector>

namespace vidtwine {
namespace {

constexpr std::uint16_t kUndefined = 0xFFFD;

struct Exception {
  std::uint8_t byte;
  std::uint16_t codePoint;
};

struct PublishedMapping {
  CodepageId id;
  const char* iconvName;
  std::vector<Exception> exceptions;
};

void PrintTo(const PublishedMapping& mapping, std::ostream* out) {
  *out << codepageName(mapping.id) << " vs iconv " << mapping.iconvName;
}

// Decodes single bytes of one code page; undefined bytes give U+FFFD.
class ByteDecoder {
 public:
  explicit ByteDecoder(const char* codepage) : handle_(iconv_open("UTF-16LE", codepage)) {}
  ~ByteDecoder() {
    if (valid()) iconv_close(handle_);
  }
  ByteDecoder(const ByteDecoder&) = delete;
  ByteDecoder& operator=(const ByteDecoder&) = delete;

  bool valid() const { return handle_ != reinterpret_cast<iconv_t>(-1); }

  std::uint16_t decode(std::uint8_t byte) {
    iconv(handle_, nullptr, nullptr, nullptr, nullptr);
    char in = static_cast<char>(byte);
    unsigned char out[8] = {};
    char* inPointer = &in;
    char* outPointer = reinterpret_cast<char*>(out);
    std::size_t inLeft = 1;
    std::size_t outLeft = sizeof out;
    if (iconv(handle_, &inPointer, &inLeft, &outPointer, &outLeft) ==
        static_cast<std::size_t>(-1)) {
      return kUndefined;
    }
    // One UTF-16 unit, or the table could not hold it.
    if (sizeof out - outLeft != 2) return 0;
    return static_cast<std::uint16_t>(out[0] | out[1] << 8);
  }

 private:
  iconv_t handle_;
};

class UpperHalfAgainstIconv : public testing::TestWithParam<PublishedMapping> {};

TEST_P(UpperHalfAgainstIconv, MatchesPublishedMappingExceptWhereListed) {
  const PublishedMapping& mapping = GetParam();
  ByteDecoder decoder(mapping.iconvName);
  if (!decoder.valid()) {
    GTEST_SKIP() << "iconv does not know " << mapping.iconvName << "; table of code page "
                 << codepageName(mapping.id) << " not checked";
  }
  UpperHalfTable expected{};
  for (std::size_t i = 0; i < expected.size(); ++i) {
    expected[i] = decoder.decode(static_cast<std::uint8_t>(0x80 + i));
  }
  for (const Exception& exception : mapping.exceptions) {
    expected[exception.byte - 0x80u] = exception.codePoint;
  }
  const UpperHalfTable& actual = upperHalfTable(mapping.id, false);
  for (std::size_t i = 0; i < expected.size(); ++i) {
    EXPECT_EQ(actual[i], expected[i]) << "byte 0x" << std::hex << 0x80 + i;
  }
}

std::vector<Exception> undefinedBytes(std::initializer_list<std::uint8_t> bytes) {
  std::vector<Exception> exceptions;
  for (std::uint8_t byte : bytes) {
    exceptions.push_back({byte, kUndefined});
  }
  return exceptions;
}

std::vector<Exception> operator+(std::vector<Exception> a, const std::vector<Exception>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Codepages, UpperHalfAgainstIconv, testing::Values(
    PublishedMapping{0, "CP437", {}},
    // iconv's ASMO-708 is ISO 8859-6, not the DOS layout, so 708 is looked up by its DOS name.
    PublishedMapping{1, "CP708", {}},
    // No glyph for the C1 controls.
    PublishedMapping{2, "CP720", undefinedBytes({0x80, 0x81, 0x84, 0x86, 0x8D, 0x8E, 0x8F, 0x90})},
    PublishedMapping{3, "CP737", {}},
    PublishedMapping{4, "CP775", {}},
    // No glyph for the C1 controls.
    PublishedMapping{5, "ISO-8859-1", undefinedBytes({
        0x80, 0x81, 0x82, 0x83, 0x84, 0x85, 0x86, 0x87, 0x88, 0x89, 0x8A, 0x8B, 0x8C, 0x8D, 0x8E, 0x8F,
        0x90, 0x91, 0x92, 0x93, 0x94, 0x95, 0x96, 0x97, 0x98, 0x99, 0x9A, 0x9B, 0x9C, 0x9D, 0x9E, 0x9F})},
    PublishedMapping{6, "CP850", {}},
    PublishedMapping{7, "CP852", {}},
    PublishedMapping{8, "CP855", {}},
    PublishedMapping{9, "CP857", undefinedBytes({0xD5, 0xE7, 0xF2})},
    PublishedMapping{10, "CP860", {}},
    PublishedMapping{11, "CP861", {}},
    PublishedMapping{12, "CP862", {}},
    PublishedMapping{13, "CP863", {}},
    PublishedMapping{14, "CP864", undefinedBytes({0x9B, 0x9C, 0xA6, 0xA7, 0xFF}) +
        std::vector<Exception>{{0x9F, 0xFE73}, {0xD7, 0xFEC3}, {0xD8, 0xFEC7}, {0xF1, 0xFE7C}}},
    PublishedMapping{15, "CP865", {}},
    PublishedMapping{16, "CP869", undefinedBytes({0x80, 0x81, 0x82, 0x83, 0x84, 0x85, 0x87, 0x93, 0x94}) +
        std::vector<Exception>{{0x88, 0x0387}, {0xEF, 0x00B4}}},
    // Kamenicky: CP437 with the Czech and Slovak letters.
    PublishedMapping{17, "CP437", {
        {0x80, 0x010C}, {0x83, 0x010F}, {0x85, 0x010E}, {0x86, 0x0164}, {0x87, 0x010D}, {0x88, 0x011B},
        {0x89, 0x011A}, {0x8A, 0x0139}, {0x8B, 0x00CD}, {0x8C, 0x013E}, {0x8D, 0x013A}, {0x8F, 0x00C1},
        {0x91, 0x017E}, {0x92, 0x017D}, {0x95, 0x00D3}, {0x96, 0x016F}, {0x97, 0x00DA}, {0x98, 0x00FD},
        {0x9B, 0x0160}, {0x9C, 0x013D}, {0x9D, 0x00DD}, {0x9E, 0x0158}, {0x9F, 0x0165}, {0xA4, 0x0148},
        {0xA5, 0x0147}, {0xA6, 0x016E}, {0xA7, 0x00D4}, {0xA8, 0x0161}, {0xA9, 0x0159}, {0xAA, 0x0155},
        {0xAB, 0x0154}, {0xAD, 0x00A7}}},
    // Mazovia: CP437 with the Polish letters.
    PublishedMapping{18, "CP437", {
        {0x86, 0x0105}, {0x8D, 0x0107}, {0x8F, 0x0104}, {0x90, 0x0118}, {0x91, 0x0119}, {0x92, 0x0142},
        {0x95, 0x0106}, {0x98, 0x015A}, {0x9C, 0x0141}, {0x9E, 0x015B}, {0xA0, 0x0179}, {0xA1, 0x017B},
        {0xA3, 0x00D3}, {0xA4, 0x0144}, {0xA5, 0x0143}, {0xA6, 0x017A}, {0xA7, 0x017C}}},
    PublishedMapping{19, "CP866", {}}),
    [](const testing::TestParamInfo<PublishedMapping>& param) {
      return std::string("Codepage") + codepageName(param.param.id);
    });
// clang-format on

}  // namespace
}  // namespace vidtwine
