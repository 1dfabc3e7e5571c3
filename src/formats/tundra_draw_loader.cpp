#include "formats/tundra_draw_loader.hpp"

#include <algorithm>
#include <string_view>

#include "screen/vga_palette.hpp"

namespace vidtwine {

namespace {

constexpr std::string_view kSignature = "\x18TUNDRA24";
constexpr LoadError kTruncated = "truncated TundraDraw data";

enum Command : std::uint8_t { kPosition = 1, kForeground = 2, kBackground = 4, kBoth = 6 };

std::uint32_t bigEndian(const std::uint8_t* bytes) noexcept {
  return static_cast<std::uint32_t>(bytes[0]) << 24 | static_cast<std::uint32_t>(bytes[1]) << 16 |
         static_cast<std::uint32_t>(bytes[2]) << 8 | bytes[3];
}

/// A file colour as the nearest VGA colour's index (screen order) and, where it is not
/// that colour exactly, the 24-bit value.
struct Colour {
  unsigned index;
  TrueColor exact;
};

Colour colourOf(std::uint32_t rgb) noexcept {
  const TrueColor color =
      trueColor(static_cast<std::uint8_t>(rgb >> 16), static_cast<std::uint8_t>(rgb >> 8),
                static_cast<std::uint8_t>(rgb));
  const unsigned index = nearestVgaColor(color);
  return {index, kVgaPalette[index] == color ? kNoTrueColor : color};
}

}  // namespace

LoadError TundraDrawLoader::load(VirtualScreen& screen, std::span<const std::uint8_t> data,
                                 LoadReport& report) {
  if (data.size() < kSignature.size() ||
      !std::equal(kSignature.begin(), kSignature.end(), data.begin(),
                  [](char a, std::uint8_t b) { return static_cast<std::uint8_t>(a) == b; })) {
    return "no TundraDraw signature";
  }
  report.iceColors = 1;
  const std::uint32_t width = screen.width();
  // Each character takes at least a byte, so no row beyond this can be filled; a position
  // further down is taken as this row, which bounds the screen's row table by the data.
  const std::uint64_t lastRow = data.size();
  Colour foreground{7, kNoTrueColor};
  Colour background{0, kNoTrueColor};
  std::uint64_t row = 0;
  std::uint32_t column = 0;
  std::size_t at = kSignature.size();
  const auto need = [&](std::size_t n) { return data.size() - at >= n; };
  while (at < data.size()) {
    std::uint8_t character = data[at++];
    switch (character) {
      case kPosition:
        if (!need(8)) return kTruncated;
        row = std::min<std::uint64_t>(bigEndian(&data[at]), lastRow);
        column = std::min(bigEndian(&data[at + 4]), width - 1);
        at += 8;
        continue;
      case kForeground:
      case kBackground:
      case kBoth: {
        const std::size_t colours = character == kBoth ? 2 : 1;
        if (!need(1 + 4 * colours)) return kTruncated;
        const std::uint8_t command = character;
        character = data[at++];
        if (command != kBackground) {
          foreground = colourOf(bigEndian(&data[at]));
          at += 4;
        }
        if (command != kForeground) {
          background = colourOf(bigEndian(&data[at]));
          at += 4;
        }
        break;
      }
      default:
        break;
    }
    const auto cell = static_cast<ScreenCell>(unsigned{character} << 8 | foreground.index |
                                              background.index << 4);
    const CellColors colors{foreground.exact, background.exact};
    if (colors == CellColors{}) {
      screen.putRow(row, column, {&cell, 1});
    } else {
      screen.putRow(row, column, {&cell, 1}, {&colors, 1});
    }
    if (++column == width) {
      column = 0;
      ++row;
    }
  }
  return nullptr;
}

}  // namespace vidtwine
