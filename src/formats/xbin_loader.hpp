// XBin: binary text of any size with its own palette and font, optionally compressed.
#pragma once

#include <cstdint>
#include <span>

#include "formats/load_report.hpp"
#include "screen/virtual_screen.hpp"

namespace vidtwine {

/// The fixed header at the start of an XBin file.
struct XBinHeader {
  std::uint32_t width = 0;
  std::uint32_t height = 0;
  std::uint8_t fontHeight = 0;
  std::uint8_t flags = 0;

  static constexpr std::uint8_t kPalette = 0x01;
  static constexpr std::uint8_t kFont = 0x02;
  static constexpr std::uint8_t kCompressed = 0x04;
  static constexpr std::uint8_t kNonBlink = 0x08;
  static constexpr std::uint8_t k512Characters = 0x10;
};

class XBinLoader final {
 public:
  /// Reads and checks the header, which the driver needs for the screen's width.
  static LoadError probe(std::span<const std::uint8_t> data, XBinHeader& header);
  /// Draws the image onto a screen at least as wide as the header says. The embedded font
  /// is skipped; with 512 characters the character shows from the first font.
  static LoadError load(VirtualScreen& screen, std::span<const std::uint8_t> data,
                        LoadReport& report);
};

}  // namespace vidtwine
