// Turns a finished virtual screen into the character stream of the output chain.
#pragma once

#include <cstdint>

#include "codepage/codepage_mapper.hpp"
#include "screen/virtual_screen.hpp"
#include "stream/bit_flags.hpp"
#include "stream/stream.hpp"

namespace vidtwine {

enum class SerializeFlag : std::uint8_t {
  Crlf = 1,         ///< a carriage return before each line feed
  Bom = 2,          ///< a byte order mark first
  LtrOverride = 4,  ///< left-to-right override around the whole text
  TrimBlanks = 8,   ///< trailing blanks on black are not written
};
using SerializeFlags = BitFlags<SerializeFlag>;

/// Writes every used row of `screen` to `output` as 16-bit units in host byte order: the
/// mapped characters, and attribute markers where the attribute changes when any written
/// cell is not light gray on black. The result is the number of rows written, capped at
/// 2147483647, 0 for a screen that never received a character (nothing is written then),
/// or -1 when the output's status is not Ok after the last write.
std::int32_t serialize(VirtualScreen& screen, Stream& output, const CodepageMapper& mapper,
                       SerializeFlags flags);

}  // namespace vidtwine
