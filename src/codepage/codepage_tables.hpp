// The constant data behind the code page mapper, shared by every mapper.
#pragma once

#include <array>
#include <cstdint>

#include "codepage/codepage_names.hpp"

namespace vidtwine {

/// Glyphs for bytes 0x00 to 0x1F.
using ControlGlyphTable = std::array<std::uint16_t, 32>;
/// Characters for bytes 0x80 to 0xFF, indexed by byte minus 0x80; U+FFFD where undefined.
using UpperHalfTable = std::array<std::uint16_t, 128>;

/// The glyphs the PC's video hardware drew for the control codes; 864 has a set of its own.
const ControlGlyphTable& controlGlyphTable(CodepageId id) noexcept;

/// The upper half of a code page. With `vgaLookalike`, 708 and 720 give their Arabic letters
/// as isolated presentation forms, which is what the VGA font draws for them.
/// An id outside 0 to 19 gives 437's data.
const UpperHalfTable& upperHalfTable(CodepageId id, bool vgaLookalike) noexcept;

/// Where the euro sign goes in code pages that give it a position of its own instead of
/// replacing their U+00A4; 0 for the others.
std::uint8_t fixedEuroByte(CodepageId id) noexcept;

struct CodePointReplacement {
  std::uint16_t from;
  std::uint16_t to;
};

/// Code points whose glyphs in today's fonts look unlike the VGA glyph, and their stand-ins.
/// NUL and the no-break space show as blanks, the soft hyphen as a hyphen (fonts often draw
/// nothing for it), the control glyph 0x16 as the flat bar VGA drew, and undefined positions
/// as a solid box rather than the replacement character.
inline constexpr std::array<CodePointReplacement, 5> kVgaLookalikes{{
    {0x0000, 0x0020},
    {0x00A0, 0x0020},
    {0x00AD, 0x002D},
    {0x25AC, 0x2582},
    {0xFFFD, 0x25AE},
}};

}  // namespace vidtwine
