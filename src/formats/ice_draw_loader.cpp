#include "formats/ice_draw_loader.hpp"

#include <algorithm>

#include "formats/cell_grid.hpp"

namespace vidtwine {

namespace {

constexpr std::size_t kHeaderSize = 12;
constexpr std::size_t kFontSize = 4096;
constexpr std::size_t kPaletteSize = 48;
constexpr LoadError kTruncated = "truncated iCE Draw data";
/// Cells per byte of the file at most; a screen of blanks in one run stays well within.
constexpr std::uint64_t kMaxExpansion = 256;

std::uint32_t word(std::span<const std::uint8_t> data, std::size_t at) noexcept {
  return data[at] | static_cast<std::uint32_t>(data[at + 1]) << 8;
}

}  // namespace

LoadError IceDrawLoader::probe(std::span<const std::uint8_t> data, std::uint32_t& width) {
  if (data.size() < kHeaderSize) return "truncated iCE Draw header";
  const std::uint32_t left = word(data, 4);
  const std::uint32_t right = word(data, 8);
  if (right < left) return "invalid iCE Draw header (window)";
  width = right - left + 1;
  return nullptr;
}

LoadError IceDrawLoader::load(VirtualScreen& screen, std::span<const std::uint8_t> data,
                              LoadReport& report) {
  std::uint32_t width = 0;
  if (const LoadError error = probe(data, width)) return error;
  if (data.size() < kHeaderSize + kFontSize + kPaletteSize) return kTruncated;
  const std::size_t end = data.size() - kFontSize - kPaletteSize;
  const DosPalette palette = decodePalette(data.subspan(end + kFontSize).first<kPaletteSize>());
  report.iceColors = 1;
  report.embeddedFont = true;

  // The window bounds the image, so that runs cannot make more of it than it claims;
  // where its bottom is not below its top, the data alone bounds it.
  const std::uint32_t top = word(data, 6);
  const std::uint32_t bottom = word(data, 10);
  const std::uint64_t rows =
      bottom >= top ? bottom - top + 1u : (end - kHeaderSize) / 2 / width + 1;
  // Runs of up to 65535 cells in six bytes could still make a window of 65536 squared
  // cells from a few hundred kilobytes: the image is bounded by the data's size as well.
  const std::uint64_t total = std::min(rows * width, kMaxExpansion * data.size());
  CellGrid grid(screen, width, palette, true);
  std::size_t at = kHeaderSize;
  while (at + 1 < end && grid.cells() < total) {
    const std::uint8_t character = data[at];
    const std::uint8_t attribute = data[at + 1];
    at += 2;
    if (character == 0x01 && attribute == 0x00) {
      // A run: a 16-bit count, then the cell.
      if (end - at < 4) return kTruncated;
      const std::uint64_t count = std::min<std::uint64_t>(word(data, at), total - grid.cells());
      grid.repeat(data[at + 2], data[at + 3], count);
      at += 4;
    } else {
      grid.put(character, attribute);
    }
  }
  grid.finish();
  return nullptr;
}

}  // namespace vidtwine
