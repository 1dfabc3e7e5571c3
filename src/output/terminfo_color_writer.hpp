// Turns attribute markers into the control sequences of the terminal named by TERM.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>

#include "output/color_flags.hpp"
#include "stream/stream.hpp"

namespace vidtwine {

/// A writer filter between the screen serialiser and the Unicode writer that takes its
/// sequences from the terminfo description: 8 colours with bold for intensity, 16 colours,
/// or the exact palette on terminals with 256. Without a usable terminal it drops the
/// colours and passes the text on. Only one instance may live at a time, because the
/// byte-output function that the terminfo library calls has no context argument.
class TerminfoColorWriter final : public StreamWriter {
 public:
  /// None when another instance is alive.
  static std::unique_ptr<Stream> create(std::unique_ptr<Stream> target, ColorFlags flags);

  /// Closes the target and frees the slot for the next instance; writes nothing.
  ~TerminfoColorWriter() override;

 private:
  TerminfoColorWriter(std::unique_ptr<Stream> target, ColorFlags flags);

  std::uint64_t writeSome(const std::byte* data, std::uint64_t n) override;

  /// Loads the terminal description and picks the capabilities; false when the terminal
  /// cannot show colours.
  bool setUpTerminal();

  /// False when the terminfo library or the target failed; the colours are then not
  /// recorded.
  bool writeMarker(std::uint16_t unit);
  bool writeReset();
  void forgetColors() noexcept;

  /// Capability output is collected here and handed to the target in one write.
  bool put(const char* capability);
  bool putColor(const char* capability, int index);
  bool flushPending();
  static int outputByte(int byte);

  const char* resetCap_ = nullptr;
  const char* foregroundCap_ = nullptr;
  const char* backgroundCap_ = nullptr;
  /// Present (possibly empty): bit 3 of that colour is this attribute, not colours 8-15.
  const char* boldCap_ = nullptr;
  const char* brightBgCap_ = nullptr;
  bool exactPalette_ = false;
  ColorFlags flags_;    ///< NoColors alone when the terminal cannot show colours
  int currentFg_ = -1;  ///< 0-15, or -1 when unknown
  int currentBg_ = -1;

  std::array<std::uint16_t, 64> pending_{};
  std::size_t pendingLength_ = 0;
  bool outputFailed_ = false;
};

}  // namespace vidtwine
