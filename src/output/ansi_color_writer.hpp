// Turns attribute markers into generic ANSI SGR sequences; other code units pass through.
#pragma once

#include <cstdint>
#include <memory>

#include "output/color_flags.hpp"
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
  std::uint64_t writeSome(const std::byte* data, std::uint64_t n) override;

  /// False when the target did not take the sequence; the colours are then not recorded.
  bool writeMarker(std::uint16_t unit);
  bool writeReset();
  void forgetColors() noexcept;

  ColorFlags flags_;
  int currentBg_;  ///< 0-15, or -1 when unknown
  int currentFg_;
};

}  // namespace vidtwine
