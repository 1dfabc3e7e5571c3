// Character and attribute pairs of binary text, placed row by row onto a screen.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "screen/virtual_screen.hpp"

namespace vidtwine {

/// 16 colours in the PC's order (1 blue, 4 red), as 24-bit values.
using DosPalette = std::array<TrueColor, 16>;

/// The screen's attribute for a PC text-mode attribute: the red and blue bits of both
/// colours change places.
constexpr CellAttribute screenAttribute(std::uint8_t dos) noexcept {
  const auto swap = [](unsigned colour) {
    return (colour & 0x0A) | (colour & 1) << 2 | (colour >> 2 & 1);
  };
  return static_cast<CellAttribute>(swap(dos & 0x0F) | swap(dos >> 4 & 0x0F) << 4);
}

/// A palette of 16 entries of three 6-bit values; values beyond 63 count as 63. Each
/// becomes (v << 2) | (v >> 4), so that 63 is 255 and 42 is 170 as on the VGA.
DosPalette decodePalette(std::span<const std::uint8_t, 48> bytes) noexcept;

/// Fills rows of `width` cells from column 0 and row 0 on. With a palette, cells get
/// 24-bit colours wherever an entry differs from the VGA's own colour, so that art in
/// the default palette stays attribute-only. `iceColors` decides whether bit 7 is part
/// of the background's palette index.
class CellGrid final {
 public:
  CellGrid(VirtualScreen& screen, std::uint32_t width, const std::optional<DosPalette>& palette,
           bool iceColors);

  void put(std::uint8_t character, std::uint8_t attribute) {
    cells_.push_back(static_cast<ScreenCell>(character << 8 | attributes_[attribute]));
    if (colored_) colors_.push_back(colors_of_[attribute]);
    if (cells_.size() == width_) flush();
  }
  /// `count` copies of a cell.
  void repeat(std::uint8_t character, std::uint8_t attribute, std::uint64_t count);
  /// Stores a started row.
  void finish() {
    if (!cells_.empty()) flush();
  }
  /// Cells placed so far.
  std::uint64_t cells() const noexcept { return row_ * width_ + cells_.size(); }

 private:
  void flush();

  VirtualScreen& screen_;
  std::uint32_t width_;
  bool colored_ = false;
  std::uint64_t row_ = 0;
  std::array<CellAttribute, 256> attributes_{};
  std::array<CellColors, 256> colors_of_{};
  std::vector<ScreenCell> cells_;
  std::vector<CellColors> colors_;
};

}  // namespace vidtwine
