// Maps one code-page byte to the Unicode code unit that shows the same character.
#pragma once

#include <array>
#include <cstdint>

#include "codepage/codepage_names.hpp"
#include "stream/bit_flags.hpp"

namespace vidtwine {

enum class MapperFlag : std::uint8_t {
  PlainBar = 0x01,      ///< the pipe bar always stays U+007C (wins over BrokenBar)
  BrokenBar = 0x02,     ///< the pipe bar always becomes U+00A6
  Euro = 0x04,          ///< U+20AC at the code page's euro byte
  VgaLookalike = 0x08,  ///< code points whose glyphs look like the VGA font
};
using MapperFlags = BitFlags<MapperFlag>;

/// Every decision that depends on the code page and the flags is taken at construction,
/// so that `map` is one table lookup per screen cell.
class CodepageMapper final {
 public:
  CodepageMapper(CodepageId id, MapperFlags flags) noexcept;

  std::uint16_t map(std::uint8_t byte) const noexcept { return table_[byte]; }
  /// The unit of every byte, for writers that encode many at once.
  const std::array<std::uint16_t, 256>& table() const noexcept { return table_; }

  /// The byte that maps to U+20AC, or 0 for none.
  std::uint8_t euroByte() const noexcept { return euroByte_; }
  /// Whether 0x7C maps to U+00A6.
  bool brokenBar() const noexcept { return brokenBar_; }

 private:
  std::array<std::uint16_t, 256> table_{};
  std::uint8_t euroByte_ = 0;
  bool brokenBar_ = false;
};

}  // namespace vidtwine
