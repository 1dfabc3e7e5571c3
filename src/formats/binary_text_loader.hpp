// Binary text: the PC's video memory as it is, character and attribute pairs.
#pragma once

#include <cstdint>
#include <span>

#include "formats/load_report.hpp"
#include "screen/virtual_screen.hpp"

namespace vidtwine {

class BinaryTextLoader final {
 public:
  /// Draws the pairs of `data` in rows of the screen's width; the height follows from the
  /// data, and a last odd byte is ignored.
  static LoadError load(VirtualScreen& screen, std::span<const std::uint8_t> data);
};

}  // namespace vidtwine
