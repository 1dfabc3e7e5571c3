#include "formats/artworx_loader.hpp"

#include <array>

#include "formats/cell_grid.hpp"

namespace vidtwine {

namespace {

constexpr std::size_t kVersionSize = 1;
constexpr std::size_t kPaletteSize = 64 * 3;
constexpr std::size_t kFontSize = 4096;
constexpr std::size_t kImageOffset = kVersionSize + kPaletteSize + kFontSize;

// The 16 of the 64 EGA palette registers that text mode uses.
constexpr std::array<std::uint8_t, 16> kUsedEntries = {0,  1,  2,  3,  4,  5,  20, 7,
                                                       56, 57, 58, 59, 60, 61, 62, 63};

}  // namespace

LoadError ArtworxLoader::load(VirtualScreen& screen, std::span<const std::uint8_t> data,
                              LoadReport& report) {
  if (data.size() < kImageOffset) return "truncated ArtWorx header";
  std::array<std::uint8_t, 48> used{};
  for (std::size_t i = 0; i < kUsedEntries.size(); ++i) {
    for (std::size_t c = 0; c < 3; ++c)
      used[3 * i + c] = data[kVersionSize + 3 * std::size_t{kUsedEntries[i]} + c];
  }
  report.iceColors = 1;
  report.embeddedFont = true;
  CellGrid grid(screen, screen.width(), decodePalette(used), true);
  const std::span<const std::uint8_t> image = data.subspan(kImageOffset);
  for (std::size_t at = 0; at + 1 < image.size(); at += 2)
    grid.put(image[at], image[at + 1]);
  grid.finish();
  return nullptr;
}

}  // namespace vidtwine
