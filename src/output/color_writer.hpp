// What both colour writers share: the text path, the unit buffer and the failure state.
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <span>
#include <string_view>

#include "output/color_flags.hpp"
#include "output/color_planner.hpp"
#include "output/text_events.hpp"
#include "output/unicode_encoder.hpp"
#include "stream/page_buffer.hpp"
#include "stream/stream.hpp"

namespace vidtwine {

/// Receives the serialiser's events and writes text and colour sequences, encoded, to its
/// target. Text passes unchanged; each writer spells the planner's colour changes in its
/// own terms. A failed write is final: nothing is written after it.
class ColorWriter : public TextEventSink {
 public:
  void begin(bool styled) override;
  void style(const CellStyle& style) final;
  void text(std::span<const std::uint16_t> units) final;
  void attributeRuns(std::span<const std::uint16_t> units, std::span<const std::uint32_t> starts,
                     std::span<const CellAttribute> attributes) final;
  void styledRuns(std::span<const std::uint16_t> units, std::span<const std::uint32_t> starts,
                  std::span<const CellStyle> styles) final;
  void endRow() final;
  bool finish() final;
  bool failed() const final { return failed_; }

 protected:
  ColorWriter(std::unique_ptr<Stream> target, UnicodeFormat format, ColorFlags flags,
              const ColorPolicy& policy);

  /// Puts out the sequence for `transition`; false when it cannot be produced.
  virtual bool spell(const ColorTransition& transition) = 0;
  /// Puts out the sequence that returns to the terminal's default colours.
  virtual bool spellReset() = 0;

  void put(std::uint16_t unit) {
    std::byte* const out = room(UnicodeEncoder::kMaxUnitBytes + UnicodeEncoder::kSlack);
    fill_ += encoder_.encode(&unit, 1, out);
  }
  /// Puts out the first `count` of the ASCII characters `text`. For UTF-8 all of them are
  /// copied, a fixed size that the compiler inlines instead of a copy that branches on the
  /// length; the rest is overwritten later.
  template <std::size_t N>
  void putAsciiFirst(const std::array<char, N>& text, std::size_t count) {
    if (encoder_.format() == UnicodeFormat::Utf8) {
      std::memcpy(room(N), text.data(), N);
      fill_ += count;
    } else {
      fill_ += encoder_.encodeAscii(text.data(), count, room(2 * count));
    }
  }
  void putAscii(std::string_view text) {
    fill_ += encoder_.encodeAscii(text.data(), text.size(), room(2 * text.size()));
  }
  const ColorFlags& flags() const noexcept { return flags_; }
  const ColorPolicy& policy() const noexcept { return planner_.policy(); }
  /// Switches colours off for good: the terminal cannot show them.
  void dropColors() noexcept { flags_ = ColorFlag::NoColors; }
  void replacePolicy(const ColorPolicy& policy) noexcept {
    planner_ = ColorPlanner(policy);
    keptStyles_ = PageBuffer();
  }
  /// Lets the writer keep what `spell` put out for attribute-only styles and put it out
  /// again without planning or spelling: for writers whose `spell` always puts out the
  /// same for the same transition.
  void keepSpelledStyles();
  int targetDescriptor() const noexcept;

 private:
  void flushBuffer();
  /// Room for `bytes` (at most the buffer's size) at the returned place, after the bytes
  /// held so far are handed on if needed.
  std::byte* room(std::size_t bytes) {
    if (fill_ + bytes > buffer_.size()) flushBuffer();
    return buffer_.data() + fill_;
  }
  /// The runs of `attributeRuns` and `styledRuns`.
  template <typename StyleOf>
  void putRuns(std::span<const std::uint16_t> units, std::span<const std::uint32_t> starts,
               std::size_t runs, StyleOf styleOf);
  /// `style` for attribute-only styles, from the kept spellings where one fits.
  void keptStyle(const CellStyle& style);

  /// What `spell` put out for an attribute-only style and what the terminal showed before:
  /// art changes between few pairs of colours, so most styles are found here.
  /// All zeros is an empty slot: the table is taken zeroed from the system.
  struct KeptStyle {
    /// 0 for an empty slot.
    std::uint32_t key;
    std::uint8_t length;
    std::array<std::byte, 56> bytes;
  };
  static constexpr std::size_t kKeptStyleBits = 13;

  std::unique_ptr<Stream> target_;
  UnicodeEncoder encoder_;
  ColorFlags flags_;
  ColorPlanner planner_;
  bool styled_ = false;
  bool failed_ = false;
  std::size_t fill_ = 0;
  /// Counts the flushes of `buffer_`, so that bytes spelled into it can be found there.
  std::uint64_t flushes_ = 0;
  bool keepStyles_ = false;
  /// Made at the first style: pages of it that are never used cost nothing.
  PageBuffer keptStyles_;
  /// Encoded output, handed on when full.
  std::array<std::byte, 16384> buffer_;
};

}  // namespace vidtwine
