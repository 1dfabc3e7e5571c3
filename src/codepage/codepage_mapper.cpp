#include "codepage/codepage_mapper.hpp"

#include "codepage/codepage_tables.hpp"

namespace vidtwine {
namespace {

constexpr std::uint16_t kHouse = 0x2302;
constexpr std::uint16_t kEuroSign = 0x20AC;
constexpr std::uint16_t kBrokenBar = 0x00A6;
constexpr std::uint16_t kCurrencySign = 0x00A4;
constexpr std::uint8_t kPipeBar = 0x7C;
constexpr std::uint8_t kDelete = 0x7F;

constexpr std::uint16_t lookalike(std::uint16_t codePoint) noexcept {
  for (const CodePointReplacement& replacement : kVgaLookalikes) {
    if (codePoint == replacement.from) return replacement.to;
  }
  return codePoint;
}

}  // namespace

CodepageMapper::CodepageMapper(CodepageId id, MapperFlags flags) noexcept {
  const bool vgaLookalike = flags.has(MapperFlag::VgaLookalike);
  const ControlGlyphTable& controls = controlGlyphTable(id);
  const UpperHalfTable& upperHalf = upperHalfTable(id, vgaLookalike);

  // VGA fonts draw the pipe bar broken; a code page with a broken bar of its own keeps 0x7C
  // solid so that the two stay apart.
  brokenBar_ = !flags.has(MapperFlag::PlainBar);
  bool barSearch = brokenBar_ && !flags.has(MapperFlag::BrokenBar);
  bool euroSearch = false;
  if (flags.has(MapperFlag::Euro)) {
    euroByte_ = fixedEuroByte(id);
    euroSearch = euroByte_ == 0;
  }
  // The euro takes the place of the code page's first generic currency sign.
  for (std::size_t i = 0; i < upperHalf.size() && (barSearch || euroSearch); ++i) {
    if (barSearch && upperHalf[i] == kBrokenBar) {
      brokenBar_ = false;
      barSearch = false;
    }
    if (euroSearch && upperHalf[i] == kCurrencySign) {
      euroByte_ = static_cast<std::uint8_t>(0x80 + i);
      euroSearch = false;
    }
  }

  for (std::size_t b = 0; b < 0x20; ++b) {
    table_[b] = controls[b];
  }
  for (std::size_t b = 0x20; b < 0x80; ++b) {
    table_[b] = static_cast<std::uint16_t>(b);
  }
  for (std::size_t b = 0x80; b < 0x100; ++b) {
    table_[b] = upperHalf[b - 0x80];
  }
  if (vgaLookalike) {
    for (std::uint16_t& codePoint : table_) {
      codePoint = lookalike(codePoint);
    }
  }
  if (brokenBar_) table_[kPipeBar] = kBrokenBar;
  if (euroByte_ != 0) table_[euroByte_] = kEuroSign;
  table_[kDelete] = kHouse;
}

}  // namespace vidtwine
