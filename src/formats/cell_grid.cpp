#include "formats/cell_grid.hpp"

#include <algorithm>

#include "screen/vga_palette.hpp"

namespace vidtwine {

DosPalette decodePalette(std::span<const std::uint8_t, 48> bytes) noexcept {
  const auto level = [](std::uint8_t value) {
    const unsigned v = std::min<unsigned>(value, 63);
    return static_cast<std::uint8_t>(v << 2 | v >> 4);
  };
  DosPalette palette{};
  for (std::size_t i = 0; i < palette.size(); ++i) {
    palette[i] = trueColor(level(bytes[3 * i]), level(bytes[3 * i + 1]), level(bytes[3 * i + 2]));
  }
  return palette;
}

CellGrid::CellGrid(VirtualScreen& screen, std::uint32_t width,
                   const std::optional<DosPalette>& palette, bool iceColors)
    : screen_(screen), width_(width) {
  // Entries that differ from the VGA's own colour of the same index.
  std::array<TrueColor, 16> own{};
  if (palette) {
    for (unsigned dos = 0; dos < 16; ++dos) {
      const TrueColor vga = kVgaPalette[screenAttribute(static_cast<std::uint8_t>(dos))];
      own[dos] = (*palette)[dos] != vga ? (*palette)[dos] : kNoTrueColor;
      colored_ = colored_ || own[dos] != kNoTrueColor;
    }
  }
  for (unsigned attribute = 0; attribute < 256; ++attribute) {
    attributes_[attribute] = screenAttribute(static_cast<std::uint8_t>(attribute));
    const unsigned background = attribute >> 4 & (iceColors ? 0x0F : 0x07);
    colors_of_[attribute] = {own[attribute & 0x0F], own[background]};
  }
  // Rows are built in full before they are stored; the buffers grow only as far as the
  // data goes.
  cells_.reserve(std::min<std::uint32_t>(width, 1024));
}

void CellGrid::repeat(std::uint8_t character, std::uint8_t attribute, std::uint64_t count) {
  for (; count != 0; --count)
    put(character, attribute);
}

void CellGrid::flush() {
  screen_.putRow(row_, 0, cells_,
                 colored_ ? std::span<const CellColors>(colors_) : std::span<const CellColors>());
  cells_.clear();
  colors_.clear();
  ++row_;
}

}  // namespace vidtwine
