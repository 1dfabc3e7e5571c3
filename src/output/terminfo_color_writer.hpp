// Turns attribute markers into the control sequences of the terminal named by TERM.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "output/color_flags.hpp"
#include "output/color_unit_batch.hpp"
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
  friend class ColorUnitBatch;

  TerminfoColorWriter(std::unique_ptr<Stream> target, ColorFlags flags);

  std::uint64_t writeSome(const std::byte* data, std::uint64_t n) override;

  /// Loads the terminal description and picks the capabilities; false when the terminal
  /// cannot show colours.
  bool setUpTerminal();

  /// Appends the capability output for a marker or reset to `out`; false when the
  /// terminfo library failed (what it put out so far stays). See `ColorUnitBatch`.
  bool writeMarker(std::uint16_t unit, std::vector<std::uint16_t>& out, KnownColors& ifUndelivered);
  bool dropsMarkers() const noexcept { return flags_.has(ColorFlag::NoColors); }
  KnownColors colors() const noexcept { return {currentFg_, currentBg_}; }
  void setColors(KnownColors colors) noexcept {
    currentFg_ = colors.foreground;
    currentBg_ = colors.background;
  }
  void forgetColors() noexcept;

  // The capabilities whose output is kept (see `KeptOutput`), by slot.
  static constexpr std::size_t kResetSlot = 0;
  static constexpr std::size_t kBoldSlot = 1;
  static constexpr std::size_t kBrightBgSlot = 2;
  static constexpr std::size_t kBackgroundSlots = 3;   ///< + colour index 0-15
  static constexpr std::size_t kForegroundSlots = 19;  ///< + colour index 0-15
  static constexpr std::size_t kSlots = 35;

  /// Outputs a capability into `sink_` with the terminfo library, expanded with the colour
  /// `index` unless it is negative; false on the library's failure.
  bool put(std::size_t slot, const char* capability, int index = -1);
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

  /// Where the byte-output function puts capability output, as code units.
  std::vector<std::uint16_t>* sink_ = nullptr;

  /// The output of a capability, kept from its first use to be repeated. Expanding and
  /// putting out a capability costs the terminfo library far more than the few bytes it
  /// yields, and the output does not change during a run. Capabilities with padding or
  /// with terminfo variables, which could, are never kept.
  struct KeptOutput {
    bool kept = false;
    std::uint8_t length = 0;
    std::array<std::uint16_t, 30> units;
  };
  std::array<KeptOutput, kSlots> kept_{};
  ColorUnitBatch batch_;
};

}  // namespace vidtwine
