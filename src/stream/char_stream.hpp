// The 16-bit code units that flow from the screen serialiser through the colour writers
// into the Unicode writer, each passed as two bytes in host byte order.
#pragma once

#include <cstdint>

namespace vidtwine::charstream {

/// 0xEE00 plus a cell attribute: the characters that follow have that attribute.
inline constexpr std::uint16_t AttributeMarker = 0xEE00;
/// Back to the terminal's default colours; ends every row when markers are written.
inline constexpr std::uint16_t AttributeReset = 0xEF00;
inline constexpr std::uint16_t ByteOrderMark = 0xFEFF;
inline constexpr std::uint16_t LeftToRightOverride = 0x202D;
inline constexpr std::uint16_t PopDirectionalFormatting = 0x202C;

constexpr bool isMarker(std::uint16_t unit) noexcept {
  return unit >= AttributeMarker && unit <= AttributeReset;
}

}  // namespace vidtwine::charstream
