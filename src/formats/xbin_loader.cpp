#include "formats/xbin_loader.hpp"

#include <optional>

#include "formats/cell_grid.hpp"

namespace vidtwine {

namespace {

constexpr std::size_t kHeaderSize = 11;
constexpr std::size_t kPaletteSize = 48;
constexpr std::uint8_t kMaxFontHeight = 32;
constexpr LoadError kTruncated = "truncated XBin data";

std::uint32_t word(const std::uint8_t* bytes) noexcept {
  return bytes[0] | static_cast<std::uint32_t>(bytes[1]) << 8;
}

/// The compressed image: runs of up to 64 cells, each led by a byte whose top two bits
/// say which of character and attribute are given once for the whole run.
LoadError decompress(CellGrid& grid, std::span<const std::uint8_t> data, std::uint64_t total) {
  std::size_t at = 0;
  while (grid.cells() < total) {
    if (at == data.size()) return kTruncated;
    const std::uint8_t lead = data[at++];
    const unsigned count = (lead & 0x3F) + 1u;
    if (grid.cells() + count > total) return "XBin compressed run past the end of the image";
    const std::size_t left = data.size() - at;
    switch (lead >> 6) {
      case 0:  // pairs as they are
        if (left < 2 * std::size_t{count}) return kTruncated;
        for (unsigned i = 0; i < count; ++i, at += 2)
          grid.put(data[at], data[at + 1]);
        break;
      case 1: {  // one character, an attribute per cell
        if (left < 1 + std::size_t{count}) return kTruncated;
        const std::uint8_t character = data[at++];
        for (unsigned i = 0; i < count; ++i)
          grid.put(character, data[at++]);
        break;
      }
      case 2: {  // one attribute, a character per cell
        if (left < 1 + std::size_t{count}) return kTruncated;
        const std::uint8_t attribute = data[at++];
        for (unsigned i = 0; i < count; ++i)
          grid.put(data[at++], attribute);
        break;
      }
      default:  // one cell repeated
        if (left < 2) return kTruncated;
        grid.repeat(data[at], data[at + 1], count);
        at += 2;
        break;
    }
  }
  return nullptr;
}

}  // namespace

LoadError XBinLoader::probe(std::span<const std::uint8_t> data, XBinHeader& header) {
  static constexpr std::uint8_t kSignature[] = {'X', 'B', 'I', 'N', 0x1A};
  if (data.size() < kHeaderSize) return "truncated XBin header";
  if (!std::equal(std::begin(kSignature), std::end(kSignature), data.begin())) {
    return "no XBin signature";
  }
  header.width = word(&data[5]);
  header.height = word(&data[7]);
  header.fontHeight = data[9];
  header.flags = data[10];
  if (header.width == 0) return "invalid XBin header (width 0)";
  if ((header.flags & XBinHeader::kFont) != 0 &&
      (header.fontHeight == 0 || header.fontHeight > kMaxFontHeight)) {
    return "invalid XBin header (font height)";
  }
  return nullptr;
}

LoadError XBinLoader::load(VirtualScreen& screen, std::span<const std::uint8_t> data,
                           LoadReport& report) {
  XBinHeader header;
  if (const LoadError error = probe(data, header)) return error;
  std::span<const std::uint8_t> rest = data.subspan(kHeaderSize);

  std::optional<DosPalette> palette;
  if ((header.flags & XBinHeader::kPalette) != 0) {
    if (rest.size() < kPaletteSize) return kTruncated;
    palette = decodePalette(rest.first<kPaletteSize>());
    rest = rest.subspan(kPaletteSize);
  }
  if ((header.flags & XBinHeader::kFont) != 0) {
    const std::size_t glyphs = (header.flags & XBinHeader::k512Characters) != 0 ? 512 : 256;
    const std::size_t fontSize = glyphs * header.fontHeight;
    if (rest.size() < fontSize) return kTruncated;
    rest = rest.subspan(fontSize);
    report.embeddedFont = true;
  }
  const bool ice = (header.flags & XBinHeader::kNonBlink) != 0;
  report.iceColors = ice ? 1 : 0;

  const std::uint64_t total = std::uint64_t{header.width} * header.height;
  CellGrid grid(screen, header.width, palette, ice);
  if ((header.flags & XBinHeader::kCompressed) != 0) {
    if (const LoadError error = decompress(grid, rest, total)) return error;
  } else {
    // Checked first, so that a header that claims more than is there costs nothing.
    if (rest.size() / 2 < total) return kTruncated;
    for (std::uint64_t i = 0; i < total; ++i)
      grid.put(rest[2 * i], rest[2 * i + 1]);
  }
  grid.finish();
  return nullptr;
}

}  // namespace vidtwine
