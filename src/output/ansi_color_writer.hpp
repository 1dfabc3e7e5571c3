// Spells colour changes as generic ANSI SGR sequences.
#pragma once

#include <memory>

#include "output/color_flags.hpp"
#include "output/color_writer.hpp"
#include "stream/stream.hpp"

namespace vidtwine {

/// Writes only the SGR parameters that change, in 8 colours (intensity as bold), 16
/// colours, the 256-colour palette or 24-bit colours.
class AnsiColorWriter final : public ColorWriter {
 public:
  AnsiColorWriter(std::unique_ptr<Stream> target, UnicodeFormat format, ColorFlags flags);

 private:
  bool spell(const ColorTransition& transition) override;
  bool spellReset() override;
  std::size_t putStyledRuns(EncodedPiece piece, std::span<const std::uint32_t> starts,
                            std::span<const CellStyle> styles, std::size_t first) override;
};

}  // namespace vidtwine
