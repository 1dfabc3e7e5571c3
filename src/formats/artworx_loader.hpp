// ArtWorx: a palette and a font in front of binary text 80 columns wide.
#pragma once

#include <cstdint>
#include <span>

#include "formats/load_report.hpp"
#include "screen/virtual_screen.hpp"

namespace vidtwine {

class ArtworxLoader final {
 public:
  static constexpr std::uint32_t kWidth = 80;

  /// Draws the image with its palette; the font is skipped. Bright backgrounds always.
  static LoadError load(VirtualScreen& screen, std::span<const std::uint8_t> data,
                        LoadReport& report);
};

}  // namespace vidtwine
