// Settings, palette and the code-unit loop shared by both colour writers.
#pragma once

#include <array>
#include <cstdint>
#include <cstring>

#include "stream/bit_flags.hpp"
#include "stream/char_stream.hpp"
#include "stream/stream.hpp"

namespace vidtwine {

enum class ColorFlag : std::uint8_t {
  NoColors = 0x01,            ///< markers and resets are dropped
  DefaultColors = 0x02,       ///< the terminal's default colours stand for gray on black
  ReverseForBrightBg = 0x04,  ///< background bit 3 shown with reverse (8 colours only)
  BlinkForBrightBg = 0x08,    ///< background bit 3 shown with blink
  IntenseColors = 0x10,       ///< 16 explicit colours
  ExactColors = 0x20,         ///< 256-colour palette (wins over IntenseColors)
  DarkYellow = 0x40,          ///< colour 3 as index 142 instead of 130
  FullSgr = 0x80,             ///< switch attributes off one by one instead of resetting
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

/// The writeSome step of a colour writer: hands each run of ordinary code units in `data`
/// to `target` with one write and calls `handleMarker(unit)` for each attribute marker or
/// reset. Returns the bytes consumed: it stops after a run the target did not take whole
/// (counting the whole units it took) or before a marker whose handler returns false.
template <typename HandleMarker>
std::uint64_t writeColorUnits(Stream& target, const std::byte* data, std::uint64_t n,
                              HandleMarker&& handleMarker) {
  const std::uint64_t units = n / 2;
  std::uint64_t index = 0;
  while (index < units) {
    std::uint16_t unit;
    std::memcpy(&unit, data + index * 2, sizeof unit);
    if (charstream::isMarker(unit)) {
      if (!handleMarker(unit)) break;
      ++index;
      continue;
    }
    std::uint64_t end = index + 1;
    for (; end < units; ++end) {
      std::memcpy(&unit, data + end * 2, sizeof unit);
      if (charstream::isMarker(unit)) break;
    }
    const std::uint64_t runBytes = (end - index) * 2;
    const std::uint64_t taken = target.write(data + index * 2, runBytes);
    index += taken / 2;
    if (taken != runBytes) break;
  }
  return index * 2;
}

}  // namespace vidtwine
