// Turns a finished virtual screen into typed events for a writer.
#pragma once

#include <cstdint>

#include "codepage/codepage_mapper.hpp"
#include "output/text_events.hpp"
#include "screen/virtual_screen.hpp"
#include "stream/bit_flags.hpp"

namespace vidtwine {

enum class SerializeFlag : std::uint8_t {
  Crlf = 1,         ///< a carriage return before each line feed
  Bom = 2,          ///< a byte order mark first
  LtrOverride = 4,  ///< left-to-right override around the whole text
  TrimBlanks = 8,   ///< trailing blanks on black are not written
  NoStyles = 16,    ///< no style events: the writer shows no colours anyway
};
using SerializeFlags = BitFlags<SerializeFlag>;

/// Hands every used row of `screen` to `sink`: the mapped characters, each row as wide as
/// the screen (or up to its last non-blank with trimming), and where any written cell is
/// not gray on black, a style event wherever the style changes and at each row's start.
/// The result is the number of rows written, capped at 2147483647, 0 for a screen that
/// never received a character (nothing is handed on then), or -1 when the sink failed.
std::int32_t serialize(const VirtualScreen& screen, TextEventSink& sink,
                       const CodepageMapper& mapper, SerializeFlags flags);

}  // namespace vidtwine
