// Binary text: the PC's video memory as it is, character and attribute pairs.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "formats/load_report.hpp"
#include "screen/virtual_screen.hpp"
#include "stream/stream.hpp"

namespace vidtwine {

class BinaryTextLoader final {
 public:
  /// Draws the pairs of the first `size` bytes of `input` in rows of the screen's width;
  /// the height follows from the data, and a last odd byte is ignored. With
  /// `dropEndOfFile`, a last byte 0x1A (the end-of-file mark in front of a SAUCE record)
  /// is no part of the data. The input is read in pieces into `buffer` when it is given
  /// (more than 64 bytes).
  static LoadError load(VirtualScreen& screen, Stream& input, std::uint64_t size,
                        bool dropEndOfFile, std::span<std::byte> buffer = {});
};

}  // namespace vidtwine
