// Spells colour changes in the control sequences of the terminal named by TERM.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>

#include "output/color_flags.hpp"
#include "output/color_writer.hpp"
#include "stream/stream.hpp"

namespace vidtwine {

/// Takes its sequences from the terminfo description: 8 colours with bold for intensity,
/// 16 colours, the exact palette on terminals with 256, or 24-bit values on direct-colour
/// terminals. Without a usable terminal it drops the colours and passes the text on. Only
/// one instance may live at a time, because the byte-output function that the terminfo
/// library calls has no context argument.
class TerminfoColorWriter final : public ColorWriter {
 public:
  /// None when another instance is alive.
  static std::unique_ptr<TerminfoColorWriter> create(std::unique_ptr<Stream> target,
                                                     UnicodeFormat format, ColorFlags flags);

  /// Frees the slot for the next instance; writes nothing.
  ~TerminfoColorWriter() override;

 private:
  TerminfoColorWriter(std::unique_ptr<Stream> target, UnicodeFormat format, ColorFlags flags);

  bool spell(const ColorTransition& transition) override;
  bool spellReset() override;

  /// Loads the terminal description and picks the capabilities; false when the terminal
  /// cannot show colours.
  bool setUpTerminal();

  // The capabilities whose output is kept (see `KeptOutput`), by slot.
  static constexpr std::size_t kResetSlot = 0;
  static constexpr std::size_t kBoldSlot = 1;
  static constexpr std::size_t kBrightBgSlot = 2;
  static constexpr std::size_t kBackgroundSlots = 3;   ///< + VGA colour 0-15
  static constexpr std::size_t kForegroundSlots = 19;  ///< + VGA colour 0-15
  static constexpr std::size_t kSlots = 35;

  struct KeptOutput;
  /// Puts out a capability with the terminfo library, expanded with `parameter` unless it
  /// is negative, kept in `kept` for reuse unless that is null; false on the library's
  /// failure.
  bool put(KeptOutput* kept, const char* capability, long parameter = -1);
  /// Names a colour with `capability`, from the slots from `slots` on for VGA colours.
  bool putColor(std::size_t slots, const char* capability, ColorValue value);
  static int outputByte(int byte);

  const char* resetCap_ = nullptr;
  const char* foregroundCap_ = nullptr;
  const char* backgroundCap_ = nullptr;
  /// Present (possibly empty): bit 3 of that colour is this attribute, not colours 8-15.
  const char* boldCap_ = nullptr;
  const char* brightBgCap_ = nullptr;
  ColorDepth depth_ = ColorDepth::Eight;
  /// Bytes put out by the current capability, to keep it.
  std::size_t putCount_ = 0;
  std::array<char, 32> putBytes_{};

  /// The output of a capability, kept from its first use to be repeated. Expanding and
  /// putting out a capability costs the terminfo library far more than the few bytes it
  /// yields, and the output does not change during a run. Capabilities with padding or
  /// with terminfo variables, which could, are never kept.
  struct KeptOutput {
    bool kept = false;
    /// All bytes below 0x80: put out as they are, without encoding each one.
    bool ascii = false;
    std::uint8_t length = 0;
    std::array<char, 29> bytes;
  };
  std::array<KeptOutput, kSlots> kept_{};
  /// The same for the 256 palette colours of each layer (backgrounds first), made at the
  /// first such colour, which only 24-bit colours bring: 24-bit art on a terminal of 256
  /// colours names thousands of them.
  std::unique_ptr<std::array<KeptOutput, 512>> keptPalette_;
};

}  // namespace vidtwine
