// TundraDraw: characters with 24-bit colours and cursor positions.
#pragma once

#include <cstdint>
#include <span>

#include "formats/load_report.hpp"
#include "screen/virtual_screen.hpp"

namespace vidtwine {

class TundraDrawLoader final {
 public:
  static constexpr std::uint32_t kDefaultWidth = 80;

  /// Draws the characters in rows of the screen's width. Each colour takes the nearest
  /// VGA colour as its attribute and stays a 24-bit colour where it is no VGA colour.
  static LoadError load(VirtualScreen& screen, std::span<const std::uint8_t> data,
                        LoadReport& report);
};

}  // namespace vidtwine
