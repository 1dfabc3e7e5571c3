// The 16 colours of the VGA text mode, and the nearest of them or of a terminal palette
// to any 24-bit colour.
#pragma once

#include <array>
#include <cstdint>

#include "screen/virtual_screen.hpp"

namespace vidtwine {

/// The VGA's default text-mode palette in the screen's colour order (SGR order: black,
/// red, green, brown, blue, magenta, cyan, gray, then the bright eight). The DAC levels of
/// the IBM VGA BIOS are 0, 0x2A and 0x3F of 63, that is 0x00, 0xAA and 0xFF; brown is the
/// CGA's yellow with its green halved to 0x55, and the bright colours add 0x55.
inline constexpr std::array<TrueColor, 16> kVgaPalette = {
    trueColor(0x00, 0x00, 0x00), trueColor(0xAA, 0x00, 0x00), trueColor(0x00, 0xAA, 0x00),
    trueColor(0xAA, 0x55, 0x00), trueColor(0x00, 0x00, 0xAA), trueColor(0xAA, 0x00, 0xAA),
    trueColor(0x00, 0xAA, 0xAA), trueColor(0xAA, 0xAA, 0xAA), trueColor(0x55, 0x55, 0x55),
    trueColor(0xFF, 0x55, 0x55), trueColor(0x55, 0xFF, 0x55), trueColor(0xFF, 0xFF, 0x55),
    trueColor(0x55, 0x55, 0xFF), trueColor(0xFF, 0x55, 0xFF), trueColor(0x55, 0xFF, 0xFF),
    trueColor(0xFF, 0xFF, 0xFF)};

/// Colour 3 as some CGA monitors showed it: dark yellow instead of brown.
inline constexpr TrueColor kVgaDarkYellow = trueColor(0xAA, 0xAA, 0x00);

/// The 24-bit value of a VGA colour 0-15, with the dark-yellow switch applied.
constexpr TrueColor vgaColor(unsigned index, bool darkYellow) noexcept {
  return (index & 0x0F) == 3 && darkYellow ? kVgaDarkYellow : kVgaPalette[index & 0x0F];
}

/// The 24-bit value of an entry 16-255 of the xterm 256-colour palette: the 6x6x6 cube
/// with the levels 0, 95, 135, 175, 215, 255, then 24 grays from 8 in steps of 10.
constexpr TrueColor xtermColor(unsigned index) noexcept {
  if (index >= 232) {
    const auto gray = static_cast<std::uint8_t>(8 + 10 * (index - 232));
    return trueColor(gray, gray, gray);
  }
  const unsigned cube = index - 16;
  const auto level = [](unsigned step) {
    return static_cast<std::uint8_t>(step == 0 ? 0 : 55 + 40 * step);
  };
  return trueColor(level(cube / 36), level(cube / 6 % 6), level(cube % 6));
}

/// The colours of the 256 palette indices as art uses them (`38;5;n`): the VGA colours,
/// then the xterm palette. A table, as art picks them at random.
inline constexpr auto kIndexedColors = [] {
  std::array<TrueColor, 256> colors{};
  for (unsigned n = 0; n < colors.size(); ++n)
    colors[n] = n < 16 ? kVgaPalette[n] : xtermColor(n);
  return colors;
}();

/// The nearest of the VGA colours first..last - 1 (0-16) to `color`.
unsigned nearestVgaColor(TrueColor color, unsigned first = 0, unsigned last = 16) noexcept;
/// The nearest entry 16-255 of the xterm palette to `color`; never 0-15, which terminal
/// themes change.
unsigned nearestXtermColor(TrueColor color) noexcept;

}  // namespace vidtwine
