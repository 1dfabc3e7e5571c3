// Turns attribute markers into generic ANSI SGR sequences; other code units pass through.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "output/color_flags.hpp"
#include "output/color_unit_batch.hpp"
#include "stream/stream.hpp"

namespace vidtwine {

/// A writer filter between the screen serialiser and the Unicode writer. It remembers the
/// colours the terminal shows and writes only the SGR parameters that change, in 8
/// colours (intensity as bold), 16 colours or the 256-colour exact palette. Every
/// character of a sequence goes to the target as one 16-bit code unit.
class AnsiColorWriter final : public StreamWriter {
 public:
  AnsiColorWriter(std::unique_ptr<Stream> target, ColorFlags flags);

 private:
  friend class ColorUnitBatch;

  std::uint64_t writeSome(const std::byte* data, std::uint64_t n) override;

  /// Appends the sequence for a marker or reset to `out`; see `ColorUnitBatch`.
  bool writeMarker(std::uint16_t unit, std::vector<std::uint16_t>& out, KnownColors& ifUndelivered);
  bool dropsMarkers() const noexcept { return flags_.has(ColorFlag::NoColors); }
  KnownColors colors() const noexcept { return {currentFg_, currentBg_}; }
  void setColors(KnownColors colors) noexcept {
    currentFg_ = colors.foreground;
    currentBg_ = colors.background;
  }
  void forgetColors() noexcept;

  ColorFlags flags_;
  int currentBg_;  ///< 0-15, or -1 when unknown
  int currentFg_;
  ColorUnitBatch batch_;
};

}  // namespace vidtwine
