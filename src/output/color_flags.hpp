// Settings and palette shared by both colour writers.
#pragma once

#include <array>
#include <cstdint>

#include "stream/bit_flags.hpp"

namespace vidtwine {

enum class ColorFlag : std::uint16_t {
  NoColors = 0x01,            ///< markers and resets are dropped
  DefaultColors = 0x02,       ///< the terminal's default colours stand for gray on black
  ReverseForBrightBg = 0x04,  ///< background bit 3 shown with reverse (8 colours only)
  BlinkForBrightBg = 0x08,    ///< background bit 3 shown with blink
  IntenseColors = 0x10,       ///< 16 explicit colours
  ExactColors = 0x20,         ///< 256-colour palette (wins over IntenseColors)
  DarkYellow = 0x40,          ///< colour 3 as index 142 instead of 130
  FullSgr = 0x80,             ///< switch attributes off one by one instead of resetting
  DirectColors = 0x100,       ///< 24-bit colours (wins over ExactColors)
};
using ColorFlags = BitFlags<ColorFlag>;

/// xterm 256-colour indexes that approximate the 16 CGA/VGA colours. Entry 3 is the
/// dark-yellow variant; writers use 130 there unless DarkYellow is set.
inline constexpr std::array<std::uint8_t, 16> kExactPalette = {16,  124, 34, 142, 19, 127, 37, 248,
                                                               240, 203, 83, 227, 63, 207, 87, 231};

inline constexpr std::uint8_t kBrownIndex = 130;

/// The palette index of a 4-bit colour value, with the dark-yellow switch applied.
constexpr std::uint8_t exactPaletteIndex(unsigned value, bool darkYellow) noexcept {
  const std::uint8_t index = kExactPalette[value & 0x0F];
  return (index == 142 && !darkYellow) ? kBrownIndex : index;
}

}  // namespace vidtwine
