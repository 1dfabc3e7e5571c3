// What both colour writers share: the text path, the unit buffer and the failure state.
#pragma once

#include <algorithm>
#include <array>
#include <bit>
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
  void attributeRuns(CellCharacters characters, std::span<const std::uint32_t> starts,
                     std::span<const CellAttribute> attributes) final;
  void styledRuns(CellCharacters characters, std::span<const std::uint32_t> starts,
                  std::span<const CellStyle> styles) final;
  void endRow() final;
  bool finish() final;
  bool failed() const final { return failed_; }

  /// The size of the table of kept spellings (see `keepStylesIn`).
  static constexpr std::size_t kStyleTableBytes = std::size_t{64} << 11;
  /// Keeps spellings in `table` (zeroed, at least kStyleTableBytes, outliving the writer)
  /// instead of memory of its own.
  void keepStylesIn(std::span<std::byte> table) noexcept {
    if (table.size() < kStyleTableBytes) return;
    keptTable_ = table.data();
    keptMask_ = kKeptSlots - 1;
  }
  /// Sizes the table that the writer makes for itself for an input of `bytes`: fewer
  /// slots for smaller art, which has fewer pairs of colours. Each page of the table
  /// costs about as much as spelling sixty styles again, and the whole table a tenth of
  /// the time of the test page.
  void sizeStylesFor(std::uint64_t bytes) noexcept {
    // Clamped first: `bit_ceil` of a number with no power of two above it in 64 bits is
    // undefined.
    ownSlots_ = std::bit_ceil(std::clamp<std::uint64_t>(bytes / 64, kFewestKeptSlots, kKeptSlots));
  }

 protected:
  ColorWriter(std::unique_ptr<Stream> target, UnicodeFormat format, ColorFlags flags,
              const ColorPolicy& policy);

  /// Puts out the sequence for `transition`; false when it cannot be produced.
  virtual bool spell(const ColorTransition& transition) = 0;
  /// Puts out the sequence that returns to the terminal's default colours.
  virtual bool spellReset() = 0;

  void put(std::uint16_t unit) {
    std::byte* const out = room(UnicodeEncoder::kMaxUnitBytes + UnicodeEncoder::kSlack);
    at_ += encoder_.encode(&unit, 1, out);
  }
  /// Puts out the ASCII characters that `build(out)` writes from `out` on, at most `N`,
  /// returning their end. In UTF-8 they are written straight into the output: built in a
  /// local array in small stores, they were read back in large loads that waited for those
  /// stores (about 14% of the time of 24-bit art).
  template <std::size_t N, typename Build>
  void putAsciiBuilt(Build build) {
    if (encoder_.format() == UnicodeFormat::Utf8) {
      char* const out = reinterpret_cast<char*>(room(N));
      at_ += build(out) - out;
    } else {
      std::array<char, N> text;
      const auto count = static_cast<std::size_t>(build(text.data()) - text.data());
      std::byte* const out = room(2 * count);
      at_ += encoder_.encodeAscii(text.data(), count, out);
    }
  }
  void putAscii(std::string_view text) {
    std::byte* const out = room(2 * text.size());
    at_ += encoder_.encodeAscii(text.data(), text.size(), out);
  }
  const ColorFlags& flags() const noexcept { return flags_; }
  const ColorPolicy& policy() const noexcept { return planner_.policy(); }
  /// Switches colours off for good: the terminal cannot show them.
  void dropColors() noexcept { flags_ = ColorFlag::NoColors; }
  void replacePolicy(const ColorPolicy& policy) noexcept {
    planner_ = ColorPlanner(policy);
    keptStyles_ = PageBuffer();
    keptTable_ = nullptr;
  }
  /// Lets the writer keep what `spell` put out for attribute-only styles and put it out
  /// again without planning or spelling: for writers whose `spell` always puts out the
  /// same for the same transition.
  void keepSpelledStyles();

  /// The characters of a piece of runs, encoded at once: cell i's bytes begin at
  /// `bytes + offsets[i]`, and up to kShortRunBytes may be read from any cell on.
  struct EncodedPiece {
    const std::byte* bytes;
    const std::uint16_t* offsets;
  };
  /// Lets `putStyledRuns` put out the runs of `styledRuns` first.
  void putStyledRunsFirst() noexcept { styledRunsFirst_ = true; }
  /// Puts out runs of a piece of `styledRuns` from `first` on, each style and its
  /// characters, for writers with a quicker way than `spell` per run (see `putRunsWith`);
  /// how many. `style` and the characters one by one take the rest.
  virtual std::size_t putStyledRuns(EncodedPiece /*piece*/,
                                    std::span<const std::uint32_t> /*starts*/,
                                    std::span<const CellStyle> /*styles*/, std::size_t /*first*/) {
    return 0;
  }
  /// Puts out runs `first` to `runs` - 1 of a piece while `put(out, r, shown)` gives the end
  /// of run r's style change, written at `out` in at most `Longest` bytes (null when it
  /// gives up), after the colours `shown`, which it updates; each is followed by the run's
  /// characters. How many were put out; none where no styles are written.
  template <std::size_t Longest, typename Put>
  std::size_t putRunsWith(EncodedPiece piece, std::span<const std::uint32_t> starts,
                          std::size_t runs, std::size_t first, Put put);
  int targetDescriptor() const noexcept;

 private:
  /// Hands on what was written so far; on from the start of the own buffer.
  void handOver();
  /// Hands on what was written so far and makes room for at least `bytes` more (at most
  /// the own buffer's size): in the target's buffer where it has that much, else in the
  /// own one.
  std::byte* moreRoom(std::size_t bytes);
  /// Room for `bytes` at the returned place, which is `at_`.
  std::byte* room(std::size_t bytes) {
    return static_cast<std::size_t>(end_ - at_) >= bytes ? at_ : moreRoom(bytes);
  }
  /// The runs of `attributeRuns` and `styledRuns` in a piece of at most the serialiser's
  /// size; larger pieces go as style and text events.
  template <typename StyleOf>
  void putRuns(CellCharacters characters, std::span<const std::uint32_t> starts, std::size_t runs,
               StyleOf styleOf);
  /// Part of `putRuns` for attribute-only styles: the runs from `first` on whose spelling is
  /// kept and that fit in the room at hand, each with its encoded characters; how many.
  std::size_t putKeptRuns(EncodedPiece piece, std::span<const std::uint32_t> starts,
                          std::span<const CellAttribute> attributes, std::size_t first);
  /// Runs of up to this many bytes are copied as this many.
  static constexpr std::size_t kShortRunBytes = 48;
  /// Copies the `length` bytes at `from` to `to`, which has room for at least
  /// kShortRunBytes: short runs as that many, since a copy of the exact length would
  /// branch on it (the bytes past `length` are never counted). The place after the run.
  static std::byte* copyEncoded(std::byte* to, const std::byte* from, std::size_t length) noexcept {
    if (length <= kShortRunBytes) {
      std::memcpy(to, from, kShortRunBytes);
    } else {
      std::memcpy(to, from, length);
    }
    return to + length;
  }

  /// What `spell` put out for an attribute-only style and what the terminal showed before:
  /// art changes between few pairs of colours, so most styles are found here.
  /// All zeros is an empty slot: the table is taken zeroed from the system.
  struct KeptStyle {
    /// 0 for an empty slot.
    std::uint32_t key;
    std::uint8_t length;
    std::array<std::byte, 59> bytes;
  };
  static_assert(sizeof(KeptStyle) == 64);
  // 128 KiB of 64-byte slots, a cache line each, which hold the longest generic sequence
  // with two 24-bit colours (42 bytes): 17% less time with `--truecolor` than 4096 slots
  // of 32 bytes, and 7% less with 16 colours (measured). On art with random colours a
  // larger table was slower for its cache misses, a smaller one for spelling more; longer
  // spellings (UTF-16) are not kept.
  static constexpr std::size_t kKeptStyleBits = 11;
  static constexpr std::size_t kKeptSlots = std::size_t{1} << kKeptStyleBits;
  static_assert(kStyleTableBytes == sizeof(KeptStyle) * kKeptSlots);
  /// The fewest slots of a table the writer makes for itself: four pages.
  static constexpr std::size_t kFewestKeptSlots = 256;

  /// The key of the kept spelling of `attribute` after the colours `planner` takes as
  /// shown (VGA colours or unknown); never 0.
  static std::uint32_t keptKey(const ColorPlanner& planner, CellAttribute attribute) noexcept {
    return 1 + (planner.shownKey(attribute) | std::uint32_t{attribute} << 10);
  }
  /// The slot for `key` in the table of kept spellings at `table`, whose number of slots
  /// is `mask` + 1.
  static KeptStyle& keptSlot(std::byte* table, std::size_t mask, std::uint32_t key) noexcept {
    return reinterpret_cast<KeptStyle*>(
        table)[((key * 0x9E3779B1u) >> (32 - kKeptStyleBits)) & mask];
  }
  /// `style` for attribute-only styles, from the kept spellings where one fits. Inline for
  /// the many short runs of art, the spelling out of line.
  void keptStyle(const CellStyle& style);
  /// Spells `style` and keeps the result in `kept` under `key`.
  [[gnu::noinline]] void spellAndKeep(const CellStyle& style, KeptStyle& kept, std::uint32_t key);

  std::unique_ptr<Stream> target_;
  UnicodeEncoder encoder_;
  ColorFlags flags_;
  ColorPlanner planner_;
  bool styled_ = false;
  bool failed_ = false;
  /// Where output is written: the target's buffer (`inTarget_`, handed on with
  /// `commitRoom`), which saves copying every byte once more, or the own one.
  std::byte* begin_ = nullptr;
  std::byte* at_ = nullptr;
  std::byte* end_ = nullptr;
  bool inTarget_ = false;
  /// Counts the hand-overs, so that bytes spelled can be found where they were written.
  std::uint64_t flushes_ = 0;
  bool keepStyles_ = false;
  bool styledRunsFirst_ = false;
  /// Made at the first style, unless a table was given: pages of it that are never used
  /// cost nothing.
  PageBuffer keptStyles_;
  /// `keptStyles_`'s or the given table; null before either.
  std::byte* keptTable_ = nullptr;
  /// The number of slots of `keptTable_`, less one.
  std::size_t keptMask_ = 0;
  /// The number of slots of a table the writer makes for itself.
  std::size_t ownSlots_ = kKeptSlots;
  /// Output where the target has no buffer of its own, or too little room left in it.
  std::array<std::byte, 16384> buffer_;
};

template <std::size_t Longest, typename Put>
std::size_t ColorWriter::putRunsWith(EncodedPiece piece, std::span<const std::uint32_t> starts,
                                     std::size_t runs, std::size_t first, Put put) {
  if (!styled_ || failed_) return 0;
  // The output's place and the shown colours are kept in locals: written through a byte
  // pointer, the output could be any member, which would be read again after every copy
  // (10% of binary text).
  ColorPlanner shown = planner_;
  std::byte* at = at_;
  std::byte* const end = end_;
  std::size_t r = first;
  const auto putAll = [&]<bool CheckRoom>() {
    std::size_t begin = piece.offsets[starts[r]];
    for (; r < runs; ++r) {
      const std::size_t runEnd = piece.offsets[starts[r + 1]];
      const std::size_t length = runEnd - begin;
      if (CheckRoom &&
          static_cast<std::size_t>(end - at) < Longest + std::max(length, kShortRunBytes)) {
        break;
      }
      std::byte* const spelled = put(at, r, shown);
      if (spelled == nullptr) break;
      at = copyEncoded(spelled, piece.bytes + begin, length);
      begin = runEnd;
    }
  };
  // Where the room at hand takes the most that all the runs can put out (the last run's
  // characters as at least kShortRunBytes, and a change more to spare), it is not checked
  // per run: 2% of binary text and of ANSI art with colours.
  const std::size_t most = (runs - first + 1) * Longest + piece.offsets[starts[runs]] -
                           piece.offsets[starts[first]] + kShortRunBytes;
  if (static_cast<std::size_t>(end - at) >= most) {
    putAll.template operator()<false>();
  } else {
    putAll.template operator()<true>();
  }
  at_ = at;
  planner_ = shown;
  return r - first;
}

}  // namespace vidtwine
