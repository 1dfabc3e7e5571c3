// iCE Draw: a window header, run-length-coded binary text, then a font and a palette.
#pragma once

#include <cstdint>
#include <span>

#include "formats/load_report.hpp"
#include "screen/virtual_screen.hpp"

namespace vidtwine {

class IceDrawLoader final {
 public:
  /// The width of the header's window.
  static LoadError probe(std::span<const std::uint8_t> data, std::uint32_t& width);
  /// Draws the image with its palette, bright backgrounds always; the font is skipped.
  /// Runs stop at the end of the header's window.
  static LoadError load(VirtualScreen& screen, std::span<const std::uint8_t> data,
                        LoadReport& report);
};

}  // namespace vidtwine
