#include "screen/ansi_sys_interpreter.hpp"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <span>
#include <string_view>
#include <type_traits>
#include <utility>
#include <variant>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "screen/text_lane.hpp"
#include "screen/vga_palette.hpp"

namespace vidtwine {

namespace {

constexpr std::size_t kMaxParameters = 8;
constexpr std::size_t kBlockSize = 64 * 1024;
constexpr std::uint64_t kMaxResult = 2147483647;

/// What one SGR code does to the screen's rendition.
struct RenditionChange {
  Rendition keep;
  Rendition set;
};

/// The codes from here up change nothing.
constexpr std::uint32_t kUnknownCode = 50;

constexpr auto kRenditionChanges = [] {
  constexpr Rendition kAll = 0xFFFF;
  std::array<RenditionChange, kUnknownCode + 1> changes{};
  changes.fill({kAll, 0});
  const auto clear = [](Rendition bits) { return RenditionChange{Rendition(kAll & ~bits), 0}; };
  const auto set = [](Rendition bits) { return RenditionChange{kAll, bits}; };
  changes[0] = {0, kDefaultRendition};
  changes[1] = set(kRenditionBold);
  changes[2] = changes[22] = clear(kRenditionBold);
  changes[5] = changes[6] = set(kRenditionBlink);
  changes[7] = set(kRenditionReverse);
  changes[8] = set(kRenditionConcealed);
  changes[25] = clear(kRenditionBlink);
  changes[27] = clear(kRenditionReverse);
  changes[28] = clear(kRenditionConcealed);
  for (Rendition colour = 0; colour < 8; ++colour) {
    changes[30 + colour] = {Rendition(kAll & ~kRenditionForeground), colour};
    changes[40 + colour] = {Rendition(kAll & ~kRenditionBackground), Rendition(colour << 4)};
  }
  changes[39] = {Rendition(kAll & ~kRenditionForeground), 7};
  changes[49] = {Rendition(kAll & ~kRenditionBackground), 0};
  return changes;
}();

/// What ANSI.SYS code `code` does to the rendition.
constexpr RenditionChange renditionChangeOf(std::uint32_t code) noexcept {
  return kRenditionChanges[std::min<std::uint32_t>(code, kUnknownCode)];
}

/// What code `code` (not 38 or 48) does to the rendition in the BBS dialect, which has
/// bright colours of their own (90 to 97 and 100 to 107).
constexpr RenditionChange extendedChangeOf(std::uint32_t code) noexcept {
  if (code >= 90 && code <= 97) {
    return {static_cast<Rendition>(~kRenditionForeground),
            static_cast<Rendition>((code - 90) | kRenditionBold)};
  }
  if (code >= 100 && code <= 107) {
    return {static_cast<Rendition>(~kRenditionBackground),
            static_cast<Rendition>(((code - 100) << 4) | kRenditionBlink)};
  }
  return renditionChangeOf(code);
}

/// `first`, then `next`, as one change.
constexpr RenditionChange thenChange(RenditionChange first, RenditionChange next) noexcept {
  return {static_cast<Rendition>(first.keep & next.keep),
          static_cast<Rendition>((first.set & next.keep) | next.set)};
}

/// BBS dialect: a 16-colour code replaces a 24-bit colour of its layer; 0 both.
constexpr bool returnsForeground(std::uint32_t code) noexcept {
  return code == 0 || (code >= 30 && code <= 39) || (code >= 90 && code <= 97);
}
constexpr bool returnsBackground(std::uint32_t code) noexcept {
  return code == 0 || (code >= 40 && code <= 49) || (code >= 100 && code <= 107);
}

constexpr std::uint8_t kEscape = 0x1B;
constexpr std::uint8_t kShiftOut = 0x0E;  // ends an ANSI music string
constexpr std::size_t kBbsParameters = 16;

/// Whether a final byte is that of a cursor move: up, down, right or left.
constexpr bool isCursorMove(std::uint8_t final) noexcept {
  return final >= 'A' && final <= 'D';
}

/// The count a command's first parameter gives: 0 or an omitted number means 1.
constexpr std::uint32_t countOf(std::uint32_t parameter) noexcept {
  return parameter != 0 ? parameter : 1;
}

/// Whether a final byte is that of a cursor position: row and column.
constexpr bool isCursorPosition(std::uint8_t final) noexcept {
  return final == 'H' || final == 'f';
}

/// The column and row, from 0, to which a cursor position's parameters (row and column,
/// from 1) send the cursor; 0 or an omitted number means the first.
constexpr std::pair<std::uint32_t, std::uint32_t> positionOf(std::uint32_t row,
                                                             std::uint32_t column) noexcept {
  return {column != 0 ? column - 1 : 0, row != 0 ? row - 1 : 0};
}

constexpr std::array<std::uint32_t, 5> kPowersOfTen{1, 10, 100, 1000, 10000};

/// How many of four bytes (the first in the low byte) are ASCII digits before the first
/// one that is not.
inline unsigned leadingDigits(std::uint32_t bytes) noexcept {
  // Per byte: below '0' wraps to a set high bit, above '9' gets one by adding 0x76. A
  // borrow or carry runs only from a byte that is no digit, into bytes after it.
  const std::uint32_t offset = bytes - 0x30303030u;
  const std::uint32_t notDigit = (offset | (offset + 0x76767676u)) & 0x80808080u;
  return static_cast<unsigned>(std::countr_zero(std::uint64_t{notDigit} | (1ull << 32))) / 8;
}

/// The number that the first `count` (0 to 4) of four digit bytes spell.
inline std::uint32_t digitsValue(std::uint32_t bytes, unsigned count) noexcept {
  // The digits move to the high end, behind leading zeros; then pairs of digits and
  // pairs of pairs are combined, without a step per digit. The mask and the move come
  // from a table: shifts by a variable amount cost about 2% of the time of 24-bit art.
  struct Move {
    std::uint32_t keep;
    std::uint32_t scale;
  };
  static constexpr std::array<Move, 5> kMoves{
      {{0, 0}, {0xFF, 1u << 24}, {0xFFFF, 1u << 16}, {0xFF'FFFF, 1u << 8}, {0xFFFF'FFFF, 1}}};
  const Move& move = kMoves[count];
  std::uint64_t x = std::uint64_t{(bytes - 0x30303030u) & move.keep} * move.scale;
  x = (x * 10 + (x >> 8)) & 0x00FF00FF;
  return static_cast<std::uint32_t>((x * 100 + (x >> 16)) & 0xFFFF);
}

#if defined(__SSE2__)
/// All bits set in each of the 16 bytes of `v` that is an ASCII digit.
inline __m128i digitBytes(__m128i v) noexcept {
  return _mm_and_si128(_mm_cmpgt_epi8(v, _mm_set1_epi8('0' - 1)),
                       _mm_cmplt_epi8(v, _mm_set1_epi8('9' + 1)));
}
#else
constexpr bool isDigit(std::uint8_t byte) noexcept {
  return byte >= '0' && byte <= '9';
}
#endif

/// Which of 32 bytes are ASCII digits and which are parameter separators (`;` and `:`), a
/// bit per byte, the first byte in the lowest bit.
struct ByteClasses {
  std::uint32_t digits = 0;
  std::uint32_t separators = 0;
  std::uint32_t colons = 0;
};

inline ByteClasses classify32(const std::uint8_t* bytes) noexcept {
  ByteClasses classes;
#if defined(__SSE2__)
  // Sixteen bytes per comparison: the classes of a whole sequence come without a
  // dependency from one parameter to the next.
  for (unsigned half = 0; half < 2; ++half) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes + 16 * half));
    const __m128i digit = digitBytes(v);
    const __m128i colon = _mm_cmpeq_epi8(v, _mm_set1_epi8(':'));
    const __m128i separator = _mm_or_si128(_mm_cmpeq_epi8(v, _mm_set1_epi8(';')), colon);
    const unsigned shift = 16 * half;
    classes.digits |= static_cast<std::uint32_t>(_mm_movemask_epi8(digit)) << shift;
    classes.separators |= static_cast<std::uint32_t>(_mm_movemask_epi8(separator)) << shift;
    classes.colons |= static_cast<std::uint32_t>(_mm_movemask_epi8(colon)) << shift;
  }
#else
  for (unsigned i = 0; i < 32; ++i) {
    const std::uint8_t byte = bytes[i];
    classes.digits |= std::uint32_t{isDigit(byte)} << i;
    classes.separators |= std::uint32_t{byte == ';' || byte == ':'} << i;
    classes.colons |= std::uint32_t{byte == ':'} << i;
  }
#endif
  return classes;
}

/// The bytes of `text` (at most eight) as they lie in memory, read into an integer.
constexpr std::uint64_t bytesOf(std::string_view text) noexcept {
  std::uint64_t bytes = 0;
  for (std::size_t i = 0; i < text.size(); ++i)
    bytes |= std::uint64_t{static_cast<std::uint8_t>(text[i])} << (8 * i);
  return bytes;
}

/// Where the final byte of a sequence lies among eight bytes read just after its `ESC[`
/// (the first byte that is neither an ASCII digit nor `;`); 8 when it is not among them.
inline unsigned finalByteAt(std::uint64_t bytes) noexcept {
  // In the integer, not in vector registers: the moves there and back lay on the path from
  // each sequence to the next (5% of ANSI art). The high bit of each byte that is no digit
  // and of each that is no `;`; only the low seven bits are added to, so that no carry
  // crosses into the next byte.
  constexpr std::uint64_t kOnes = 0x0101010101010101;
  constexpr std::uint64_t kLow = 0x7F * kOnes;
  const std::uint64_t digit = bytes ^ ('0' * kOnes);
  const std::uint64_t notDigit = ((digit & kLow) + 0x76 * kOnes) | digit;
  const std::uint64_t semicolon = bytes ^ (';' * kOnes);
  const std::uint64_t notSemicolon = ((semicolon & kLow) + kLow) | semicolon;
  const std::uint64_t ends = notDigit & notSemicolon & (0x80 * kOnes);
  return static_cast<unsigned>(std::countr_zero(ends)) / 8;
}

/// Masks of the first n + 1 of eight bytes: a sequence's bytes up to its final one.
constexpr auto kSequenceMasks = [] {
  std::array<std::uint64_t, 8> masks{};
  for (unsigned n = 0; n < 8; ++n)
    masks[n] = n == 7 ? ~std::uint64_t{0} : (std::uint64_t{1} << (8 * (n + 1))) - 1;
  return masks;
}();

/// The place after the copies of a sequence that follow it directly from `after` on, each
/// `ESC[` and the bytes `key` up to the final byte at `finalAt`.
inline const std::uint8_t* pastRepeats(const std::uint8_t* after, const std::uint8_t* end,
                                       std::uint64_t key, unsigned finalAt) noexcept {
  const std::uint64_t mask = kSequenceMasks[finalAt];
  std::uint64_t bytes;
  // `ESC[` and the eight bytes read after it.
  while (end - after >= static_cast<std::ptrdiff_t>(2 + sizeof bytes) && after[0] == kEscape &&
         after[1] == '[') {
    std::memcpy(&bytes, after + 2, sizeof bytes);
    if ((bytes & mask) != key) break;
    after += finalAt + 3;
  }
  return after;
}

/// The number that the `length` (0 to 4) ASCII digits at `at` spell; four bytes are read.
inline std::uint32_t numberAt(const std::uint8_t* at, unsigned length) noexcept {
  std::uint32_t bytes;
  std::memcpy(&bytes, at, sizeof bytes);
  return digitsValue(bytes, length);
}

/// A colour channel from a parameter; larger values count as 255.
constexpr std::uint8_t channel(std::uint32_t value) noexcept {
  return static_cast<std::uint8_t>(std::min<std::uint32_t>(value, 255));
}

/// The 24-bit colour whose channels are spelled by three numbers of up to four ASCII
/// digits at `digits`, each but the last followed by one separator: red ends `red` bytes
/// in, green `green` and blue `blue`. Four bytes are read from each number's start.
inline TrueColor trueColorAt(const std::uint8_t* digits, unsigned red, unsigned green,
                             unsigned blue) noexcept {
  const unsigned greenLength = green - red - 1;
  const unsigned blueLength = blue - green - 1;
#if defined(__SSE2__)
  // The three numbers side by side in vector lanes, each byte weighted by its place in
  // its number (those past the number's end by 0) and the products summed: no
  // multiplications and shifts per number, and the clamp to 255 comes with packing. Reading
  // the numbers one by one took 6.6% of the time of 24-bit art; this, about a quarter of it.
  static constexpr std::array<std::array<std::int16_t, 4>, 5> kWeights{
      {{0, 0, 0, 0}, {1, 0, 0, 0}, {10, 1, 0, 0}, {100, 10, 1, 0}, {1000, 100, 10, 1}}};
  const auto word = [](const std::uint8_t* at) {
    std::int32_t bytes;
    std::memcpy(&bytes, at, sizeof bytes);
    return _mm_cvtsi32_si128(bytes);
  };
  const auto weights = [](unsigned length) {
    return _mm_loadl_epi64(reinterpret_cast<const __m128i*>(kWeights[length].data()));
  };
  const auto digitsOf = [](__m128i bytes) {
    return _mm_sub_epi16(_mm_unpacklo_epi8(bytes, _mm_setzero_si128()), _mm_set1_epi16('0'));
  };
  // Blue and green in one vector, red in another: the channels come out in the order of a
  // colour's bytes.
  const __m128i blueGreen =
      _mm_madd_epi16(digitsOf(_mm_unpacklo_epi32(word(digits + green + 1), word(digits + red + 1))),
                     _mm_unpacklo_epi64(weights(blueLength), weights(greenLength)));
  const __m128i redPairs = _mm_madd_epi16(digitsOf(word(digits)), weights(red));
  const __m128 a = _mm_castsi128_ps(blueGreen);
  const __m128 b = _mm_castsi128_ps(redPairs);
  const __m128i sums =
      _mm_add_epi32(_mm_castps_si128(_mm_shuffle_ps(a, b, _MM_SHUFFLE(2, 0, 2, 0))),
                    _mm_castps_si128(_mm_shuffle_ps(a, b, _MM_SHUFFLE(3, 1, 3, 1))));
  // Saturating: past 255 counts as 255.
  const __m128i words = _mm_packs_epi32(sums, sums);
  return 0x01000000u |
         static_cast<std::uint32_t>(_mm_cvtsi128_si32(_mm_packus_epi16(words, words)));
#else
  return trueColor(channel(numberAt(digits, red)), channel(numberAt(digits + red + 1, greenLength)),
                   channel(numberAt(digits + green + 1, blueLength)));
#endif
}

/// The 24-bit colour of three parameters red, green and blue.
constexpr TrueColor colorOf(const std::uint32_t* rgb) noexcept {
  return trueColor(channel(rgb[0]), channel(rgb[1]), channel(rgb[2]));
}

/// Which of 64 bytes are below 0x20, which are the digits and `;` of parameters (as
/// `finalByteAt` counts them), and (where asked for) which are `;`, a bit per byte, the
/// first byte in the lowest bit.
struct ByteWindow {
  std::uint64_t controls = 0;
  std::uint64_t parameters = 0;
  std::uint64_t separators = 0;
};

template <bool kSeparators>
inline ByteWindow windowOf(const std::uint8_t* bytes) noexcept {
  ByteWindow window;
#if defined(__SSE2__)
  for (unsigned part = 0; part < 4; ++part) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes + 16 * part));
    const __m128i control = _mm_cmpeq_epi8(_mm_min_epu8(v, _mm_set1_epi8(0x1F)), v);
    const __m128i digit = digitBytes(v);
    const __m128i separator = _mm_cmpeq_epi8(v, _mm_set1_epi8(';'));
    const __m128i parameter = _mm_or_si128(digit, separator);
    const auto bitsOf = [part](__m128i found) {
      return std::uint64_t{static_cast<std::uint16_t>(_mm_movemask_epi8(found))} << (16 * part);
    };
    window.controls |= bitsOf(control);
    window.parameters |= bitsOf(parameter);
    if constexpr (kSeparators) window.separators |= bitsOf(separator);
  }
#else
  for (unsigned i = 0; i < 64; ++i) {
    const std::uint8_t byte = bytes[i];
    window.controls |= std::uint64_t{byte < 0x20} << i;
    window.parameters |= std::uint64_t{isDigit(byte) || byte == ';'} << i;
    if constexpr (kSeparators) window.separators |= std::uint64_t{byte == ';'} << i;
  }
#endif
  return window;
}

/// The state of one run: where in a sequence the input stands, the parameters gathered
/// so far and the saved cursor position. The dialect is fixed at compile time so that the
/// ANSI.SYS reading pays nothing for the other one.
template <Dialect D>
class SequenceParser {
 public:
  SequenceParser(VirtualScreen& screen, Stream* metadata, InterpreterReport& report) noexcept
      : screen_(screen), metadata_(metadata), report_(report) {
    if constexpr (D == Dialect::Bbs) screen_.setLineFeedReturns(true);
  }

  /// Processes a block of input; false when an ANSI.SYS sequence begins a ninth parameter,
  /// which ends the run.
  bool feed(std::span<const std::uint8_t> block);
  bool inText() const noexcept { return state_ == State::Text; }

 private:
  enum class State : std::uint8_t { Text, Escape, Csi, Music };
  static constexpr std::size_t kParameters = D == Dialect::Bbs ? kBbsParameters : kMaxParameters;

  /// BBS dialect only. A whole control sequence from just after its `ESC[` when it lies in
  /// the block, within 32 bytes, and has only the common parts (numbers of up to four
  /// digits, at most 16 of them, `;` and `:` separators, a leading `?`): processed, and the
  /// place after its final byte; else null, and nothing done that the step-by-step reading
  /// would not do again.
  const std::uint8_t* wholeSequence(const std::uint8_t* next, const std::uint8_t* end);
  /// Part of `wholeSequence`: the usual 24-bit colour sequences, `38;2;r;g;bm`,
  /// `48;2;r;g;bm`, `0;r;g;bt` and `1;r;g;bt`, known by their first bytes, with only the
  /// colour's three numbers read, and palette colours, `38;5;nm` and `48;5;nm`; the place
  /// after the final byte, or null for any other.
  /// `ends` marks the end of each parameter, `finalAt` the final byte; no `?`, no colons.
  const std::uint8_t* trueColorSequence(const std::uint8_t* next, std::uint32_t ends,
                                        unsigned finalAt);
  /// ANSI.SYS dialect only. A sequence whose parameters and final byte lie among the eight
  /// bytes at `next`, just after its `ESC[` (nearly every sequence in art): carried out, and
  /// the place after its final byte; null for any other, with nothing done. What such a
  /// sequence does is kept by its bytes, so that it is read only the first time (about 9%
  /// of the time of ANSI art: no reading of digits, one step for all codes of an `m`).
  /// `end` is the end of the block, where passing over repeated saves and positions stops.
  const std::uint8_t* shortSequence(const std::uint8_t* next, const std::uint8_t* end);
  /// Writes text from `at` on through a lane of the screen, and carries out the known short
  /// sequences and line breaks between the runs, as long as the lane can be opened; returns
  /// where the general reading goes on. A second way through text and known sequences,
  /// beside `putTextUntilEscape` and `shortSequence`, for 11% of the time of ANSI art. In
  /// the BBS dialect the lane also paints 24-bit colours, reads them as `wholeSequence`
  /// does, and has `wholeSequence` read new sequences (24-bit art about 10% faster).
  const std::uint8_t* laneText(const std::uint8_t* at, const std::uint8_t* end);
  /// BBS dialect, after `wholeSequence` carried out the sequence of bytes `key` (those
  /// after its `ESC[`, up to its final byte `final`): keeps what it did where the lane can
  /// do it again from the bytes alone: `m` without 24-bit or palette colours, cursor moves
  /// and positions, saves and restores.
  void keepBbs(std::uint64_t key, std::uint8_t final);
  /// After `ESC[`: no parameters yet.
  void startSequence() noexcept;
  /// Reads the sequence's parameters from `next` up to its final byte, which it carries
  /// out, or to `end`, where the next block goes on; false when an ANSI.SYS sequence begins
  /// a ninth parameter, which ends the run.
  bool readSequence(const std::uint8_t*& next, const std::uint8_t* end);
  void finishSequence(std::uint8_t final);
  void selectRendition();
  void selectExtendedRendition();
  void setMode(bool set);
  void command(std::uint8_t final);
  void bbsCommand(std::uint8_t final);
  void reportMode(std::string_view lines) {
    if (metadata_ != nullptr) metadata_->putString(lines);
  }
  /// The parameter at `index`, 0 where none was given.
  std::uint32_t parameter(std::size_t index) const noexcept {
    return index < count_ ? parameters_[index] : 0;
  }

  VirtualScreen& screen_;
  Stream* metadata_;
  InterpreterReport& report_;
  State state_ = State::Text;
  std::array<std::uint32_t, kParameters> parameters_{};
  std::size_t count_ = 1;
  // BBS only: which parameters came after a colon, whether any digit or a `?` was seen,
  // and whether parameters beyond the kept ones were dropped.
  std::uint32_t colons_ = 0;
  bool digits_ = false;
  bool private_ = false;
  bool overflow_ = false;
  std::pair<std::int32_t, std::int32_t> saved_{0, 0};

  /// What a short sequence does, by its bytes (whose final byte says which kind): for `m`,
  /// the rendition's bits kept and those set (what any number of codes in a row comes
  /// to); for the cursor moves (`A` to `D`), the columns and rows moved (signed, as
  /// two's complement); for cursor positions (`H`, `f`), the column and the row, from 0;
  /// for the others, the first two parameters, 0 where not given.
  struct KnownSequence {
    std::uint64_t key = ~std::uint64_t{0};  // no sequence's: the bytes after a final byte are 0
    std::uint32_t first = 0;
    std::uint32_t second = 0;
  };
  /// Two places per hash: with one each, the 140 kinds of sequence of the benchmark's art
  /// missed 13% of the time among 512 places; in pairs, under 1%.
  using KnownPair = std::array<KnownSequence, 2>;
  static constexpr unsigned kKnownBits = 8;
  /// By a hash of their bytes; a new sequence pushes out the one kept longer.
  std::array<KnownPair, 1u << kKnownBits> known_{};
  /// BBS dialect: in `first` of an `m` beside the bits kept, whether it returns the
  /// foreground or background from 24-bit colours to the attribute's.
  static constexpr std::uint32_t kClearsForeground = 1u << 16;
  static constexpr std::uint32_t kClearsBackground = 1u << 17;
  /// What the cursor move (`A` to `D`) or position (`H`, `f`) just read does, kept for its
  /// bytes `key`.
  KnownSequence knownPlace(std::uint64_t key, std::uint8_t final) const noexcept;

  /// The two places where the sequence of bytes `key` may be kept.
  KnownPair& pairOf(std::uint64_t key) noexcept {
    return known_[(key * 0x9E3779B97F4A7C15u) >> (64 - kKnownBits)];
  }
  /// The sequence of `pair` that has the bytes `key`, or another when neither has them.
  static const KnownSequence& knownIn(const KnownPair& pair, std::uint64_t key) noexcept {
    // Chosen without a branch: which of the two holds it is a matter of chance.
    return pair[static_cast<std::size_t>(pair[0].key != key)];
  }
};

template <Dialect D>
bool SequenceParser<D>::feed(std::span<const std::uint8_t> block) {
  const std::uint8_t* next = block.data();
  const std::uint8_t* const end = next + block.size();
  while (next != end) {
    switch (state_) {
      case State::Text: {
        for (;;) {
          if constexpr (std::endian::native == std::endian::little) {
            next = laneText(next, end);
            // A BBS sequence carried out in the lane may have started music.
            if (D == Dialect::Bbs && state_ != State::Text) break;
          }
          // Text goes to the screen up to the next ESC, which the screen finds for us.
          next += screen_.putTextUntilEscape({next, end});
          if (next == end) return true;
          ++next;
          if (next != end && *next == '[') {
            // The eight bytes are taken as a number in little-endian order.
            if constexpr (D == Dialect::AnsiSys && std::endian::native == std::endian::little) {
              if (end - next > 8) {
                if (const std::uint8_t* after = shortSequence(next + 1, end)) {
                  next = after;
                  continue;
                }
              }
            }
            if constexpr (D == Dialect::Bbs) {
              // Most sequences are read in one go, without a pass through the states per
              // part. (In ANSI.SYS art, whose short sequences are predicted well, this
              // costs.)
              if (const std::uint8_t* after = wholeSequence(next + 1, end)) {
                next = after;
                if (state_ == State::Text) continue;
                break;
              }
            }
            // Straight on with the sequence, without a pass through the states for its
            // start: choosing the state cost 5 to 10% of the time of ANSI art.
            ++next;
            startSequence();
            if (!readSequence(next, end)) return false;
            if (state_ == State::Text) continue;
            break;
          }
          state_ = State::Escape;
          break;
        }
        break;
      }
      case State::Escape:
        if (*next++ == '[') {
          startSequence();
        } else {
          state_ = State::Text;
        }
        break;
      case State::Music: {
        // A music string is consumed up to its 0x0E; an ESC, which music never contains,
        // also ends it, so that a stray `ESC[M` cannot swallow the rest of the art.
        const std::uint8_t* stop = next;
        while (stop != end && *stop != kShiftOut && *stop != kEscape)
          ++stop;
        if (stop == end) return true;
        next = *stop == kShiftOut ? stop + 1 : stop;
        state_ = State::Text;
        break;
      }
      case State::Csi:
        if (!readSequence(next, end)) return false;
        break;
    }
  }
  return true;
}

template <Dialect D>
const std::uint8_t* SequenceParser<D>::laneText(const std::uint8_t* at, const std::uint8_t* end) {
  // Where each run of text ends and where each sequence's final byte lies come from the
  // bits of a window of the bytes ahead, held in registers. Found from the bytes at the
  // place just reached, they put a load and a comparison on the path from each sequence to
  // the next (4% of ANSI art, 5% of the corpus).
  constexpr std::ptrdiff_t kWindowBytes = 64;
  // The bytes after `ESC[` that the lane reads of a sequence: ANSI.SYS sequences are looked
  // up by the eight bytes after it. In the BBS dialect, a 24-bit colour has up to three
  // numbers of four digits after `38;2;` (its final byte at most kLastFinal bytes in), and
  // four bytes are read from the last number's start.
  constexpr unsigned kLastFinal = 19;
  constexpr std::ptrdiff_t kSequenceReach = D == Dialect::AnsiSys ? 8 : kLastFinal + 4;
  // A window serves while a run of up to kChunk - 1 characters from the place, then a
  // sequence's ESC, `[` and the bytes read after it, lie within it.
  constexpr std::ptrdiff_t kLastPlace =
      kWindowBytes - (TextLane::kChunk - 1) - (2 + kSequenceReach);
  // Held in a register: the member would be read again after each store to the screen
  // (2.5% fewer instructions).
  VirtualScreen& screen = screen_;
  TextLane lane;
  // In the BBS dialect cells may have 24-bit colours, which the lane paints too.
  const auto open = [&screen, &lane](const std::uint8_t* next) {
    if constexpr (D == Dialect::Bbs) {
      return screen.openColorLane(lane, *next);
    } else {
      return screen.openLane(lane, *next);
    }
  };
  if (end - at < kWindowBytes || !open(at)) return at;
  const std::uint8_t* base = at;
  constexpr bool kSeparators = D == Dialect::Bbs;
  ByteWindow window = windowOf<kSeparators>(base);
  // The common step, a run and then a sequence seen before (mostly a colour change), is
  // marked as the straight path: 1 to 1.8% of the corpus, up to 1.4% of the synthetic art.
  for (;;) {
    if (at - base > kLastPlace) {
      if (end - at < kWindowBytes) break;
      base = at;
      window = windowOf<kSeparators>(base);
    }
    const std::uint64_t ahead = window.controls >> (at - base);
    const auto count =
        static_cast<unsigned>(std::countr_zero(ahead | (std::uint64_t{1} << TextLane::kChunk)));
    if (lane.chunkFits(count)) [[likely]] {
      if constexpr (D == Dialect::Bbs) lane.paintChunk(count);
      lane.putChunk(at, count);
      at += count;
      if (count == TextLane::kChunk) [[unlikely]]
        continue;
    } else if ((ahead & 1) == 0 && !lane.full()) {
      // The run reaches the end of the lane, or the row has too little storage left.
      at = lane.putRun(at, end);
    }
    const std::uint8_t byte = *at;
    if (byte == kEscape && at[1] == '[') [[likely]] {
      const std::uint64_t parameters = window.parameters >> (at + 2 - base);
      // As `finalByteAt` finds it among the eight bytes after `ESC[`.
      const auto finalAt =
          static_cast<unsigned>(std::countr_zero(~parameters | (std::uint64_t{1} << 8)));
      // New sequences are learnt by the general reading.
      if (D == Dialect::AnsiSys && finalAt == 8) [[unlikely]]
        break;
      std::uint64_t key = 0;
      std::uint8_t final = 0;
      const KnownSequence* known = nullptr;
      if (finalAt != 8) {
        std::uint64_t bytes;
        std::memcpy(&bytes, at + 2, sizeof bytes);
        final = static_cast<std::uint8_t>(bytes >> (8 * finalAt));
        key = bytes & kSequenceMasks[finalAt];
        const KnownSequence& found = knownIn(pairOf(key), key);
        if (found.key == key) known = &found;
      }
      // In the BBS dialect every 24-bit colour goes this way; marking it the other way there
      // measured the same (24-bit art within 0.2%).
      if (known == nullptr) [[unlikely]] {
        if constexpr (D == Dialect::AnsiSys) {
          break;
        } else {
          // 24-bit colours, as `wholeSequence` reads them.
          const auto colorFinalAt = static_cast<unsigned>(
              std::countr_zero(~parameters | (std::uint64_t{1} << kLastFinal)));
          const std::uint64_t before = (std::uint64_t{1} << colorFinalAt) - 1;
          const auto ends = static_cast<std::uint32_t>(
              ((window.separators >> (at + 2 - base)) & before) | (before + 1));
          if (const std::uint8_t* const after = trueColorSequence(at + 2, ends, colorFinalAt)) {
            at = after;
            if (lane.painted()) {
              lane.setColors(screen.writingColors());
              continue;
            }
            // The row gets storage for colours first.
            screen.commitLane(lane);
          } else {
            // Any other sequence is carried out by the general reading, and kept where the
            // lane can carry it out from its bytes; the lane goes on after it with the
            // same window.
            screen.commitLane(lane);
            const std::uint8_t* const done = wholeSequence(at + 2, end);
            if (done == nullptr) return at;
            at = done;
            if (state_ != State::Text) return at;
            if (finalAt != 8) keepBbs(key, final);
          }
        }
      } else {
        const std::uint8_t* const after = at + finalAt + 3;
        if (final == 'm') [[likely]] {
          const auto keep = static_cast<Rendition>(known->first);
          const auto set = static_cast<Rendition>(known->second);
          const auto rendition = static_cast<Rendition>((screen.rendition() & keep) | set);
          if constexpr (D == Dialect::AnsiSys) {
            screen.setRenditionWithoutColors(rendition);
            lane.setRendition(rendition);
            at = after;
            continue;
          } else {
            lane.setRendition(rendition);
            at = after;
            screen.setRendition(rendition);
            if ((known->first & kClearsForeground) != 0) screen.setTrueForeground(kNoTrueColor);
            if ((known->first & kClearsBackground) != 0) screen.setTrueBackground(kNoTrueColor);
            if (lane.painted()) {
              lane.setColors(screen.writingColors());
              continue;
            }
            if (screen.writingColors() == CellColors{}) continue;
            screen.commitLane(lane);
          }
        } else if (isCursorMove(final) && known->second == 0) {
          // Right and left (no rows): within the row.
          if (!lane.moveColumns(static_cast<std::int32_t>(known->first))) break;
          at = after;
          continue;
        } else {
          // The rest leave the row or need the screen's cursor: the lane is committed first.
          screen.commitLane(lane);
          if (isCursorMove(final)) {
            screen.moveCursorBy(static_cast<std::int32_t>(known->first),
                                static_cast<std::int32_t>(known->second));
            at = after;
          } else if (isCursorPosition(final)) {
            screen.moveTo(known->first, known->second);
            at = pastRepeats(after, end, key, finalAt);
          } else if (final == 's') {
            // The cursor stays: so does the lane.
            saved_ = screen.saveCursor();
            at = pastRepeats(after, end, key, finalAt);
            continue;
          } else if (final == 'u') {
            screen.moveTo(static_cast<std::uint32_t>(saved_.first),
                          static_cast<std::uint32_t>(saved_.second));
            at = after;
          } else {
            return at;
          }
        }
      }
    } else if (byte == '\r') {
      lane.returnCarriage();
      ++at;
      continue;
    } else if (byte == '\n') {
      screen.commitLane(lane);
      screen.putChar(byte);
      ++at;
    } else if (!VirtualScreen::isControl(byte) && !lane.full()) {
      at = lane.putRun(at, end);
      continue;
    } else if (!VirtualScreen::isControl(byte) && lane.atMargin()) {
      // A character at the margin wraps to the next row first, as on the screen: art
      // without line ends wraps at every row.
      screen.commitLane(lane);
      if (!screen.wrapIfPending()) break;
    } else {
      break;
    }
    // A step may end at the input's end, where there is no byte to open for.
    if (at == end || !open(at)) return at;
  }
  screen.commitLane(lane);
  return at;
}

template <Dialect D>
const std::uint8_t* SequenceParser<D>::shortSequence(const std::uint8_t* next,
                                                     const std::uint8_t* end) {
  static_assert(D == Dialect::AnsiSys, "the BBS dialect reads whole sequences its own way");
  // With at most eight bytes there are at most eight parameters of at most seven digits:
  // none ends the run, none wraps.
  std::uint64_t bytes;
  std::memcpy(&bytes, next, sizeof bytes);
  const unsigned finalAt = finalByteAt(bytes);
  if (finalAt == 8) return nullptr;
  const auto final = static_cast<std::uint8_t>(bytes >> (8 * finalAt));
  // Bytes that a sequence skips over rather than ends with: the general reading's part.
  if (final == ',' || final == '=' || final == '>' || final == '?') return nullptr;
  const std::uint64_t key = bytes & kSequenceMasks[finalAt];
  KnownPair& pair = pairOf(key);
  const KnownSequence& known = knownIn(pair, key);
  if (known.key == key) {
    if (final == 'm') {
      const auto keep = static_cast<Rendition>(known.first);
      const auto set = static_cast<Rendition>(known.second);
      screen_.setRendition(static_cast<Rendition>((screen_.rendition() & keep) | set));
    } else if (isCursorMove(final)) {
      // Moved straight away, without the two dispatches on the final byte that art with
      // moves in all directions mispredicts (4% of the synthetic art of the benchmark).
      screen_.moveCursorBy(static_cast<std::int32_t>(known.first),
                           static_cast<std::int32_t>(known.second));
    } else if (isCursorPosition(final)) {
      // Kept as the column and row it goes to (1 to 2% of the corpus). Copies of it straight
      // after it change nothing more and are passed over, as for saves below (1 to 1.6% of
      // the corpus, where about 14,500 positions repeat the one before).
      screen_.moveTo(known.first, known.second);
      return pastRepeats(next + finalAt + 1, end, key, finalAt);
    } else if (final == 's') {
      // Animations save the cursor over and over (two in five sequences of the corpus):
      // saved straight away (4% of the corpus's time). Four in five of those saves follow
      // another directly; saving again changes nothing, so such a run is passed over in one
      // loop instead of an item per save (7 to 9% of the corpus's time).
      saved_ = screen_.saveCursor();
      return pastRepeats(next + finalAt + 1, end, key, finalAt);
    } else {
      // The commands read no parameter past the second.
      parameters_[0] = known.first;
      parameters_[1] = known.second;
      count_ = 2;
      finishSequence(final);
    }
    return next + finalAt + 1;
  }
  // New: read the general way, which carries it out, and keep what it did.
  const std::uint8_t* after = next;
  startSequence();
  readSequence(after, next + finalAt + 1);
  RenditionChange change{0xFFFF, 0};
  for (std::size_t index = 0; index < count_; ++index)
    change = thenChange(change, renditionChangeOf(parameters_[index]));
  pair[1] = pair[0];
  if (final == 'm') {
    pair[0] = KnownSequence{key, change.keep, change.set};
  } else if (isCursorMove(final) || isCursorPosition(final)) {
    pair[0] = knownPlace(key, final);
  } else {
    pair[0] = KnownSequence{key, parameters_[0], parameter(1)};
  }
  return after;
}

template <Dialect D>
auto SequenceParser<D>::knownPlace(std::uint64_t key, std::uint8_t final) const noexcept
    -> KnownSequence {
  if (isCursorPosition(final)) {
    const auto [column, row] = positionOf(parameters_[0], parameter(1));
    return {key, column, row};
  }
  // At most seven digits: the count fits.
  const auto n = static_cast<std::int32_t>(countOf(parameters_[0]));
  const std::int32_t columns = final == 'C' ? n : final == 'D' ? -n : 0;
  const std::int32_t rows = final == 'B' ? n : final == 'A' ? -n : 0;
  return {key, static_cast<std::uint32_t>(columns), static_cast<std::uint32_t>(rows)};
}

template <Dialect D>
void SequenceParser<D>::keepBbs(std::uint64_t key, std::uint8_t final) {
  KnownSequence kept{key, 0, 0};
  if (final == 'm') {
    RenditionChange change{0xFFFF, 0};
    std::uint32_t clears = 0;
    for (std::size_t index = 0; index < count_; ++index) {
      const std::uint32_t code = parameters_[index];
      // Their colours are read anew each time.
      if (code == 38 || code == 48) return;
      // As `selectExtendedRendition` has each code act.
      change = thenChange(change, extendedChangeOf(code));
      if (returnsForeground(code)) clears |= kClearsForeground;
      if (returnsBackground(code)) clears |= kClearsBackground;
    }
    kept = {key, change.keep | clears, change.set};
  } else if (isCursorMove(final) || isCursorPosition(final)) {
    kept = knownPlace(key, final);
  } else if (final != 's' && final != 'u') {
    return;
  }
  KnownPair& pair = pairOf(key);
  pair[1] = pair[0];
  pair[0] = kept;
}

template <Dialect D>
void SequenceParser<D>::startSequence() noexcept {
  parameters_.fill(0);
  count_ = 1;
  colons_ = 0;
  digits_ = private_ = overflow_ = false;
  state_ = State::Csi;
}

template <Dialect D>
bool SequenceParser<D>::readSequence(const std::uint8_t*& next, const std::uint8_t* end) {
  // The parameter being read is kept in a local until the sequence or the block ends.
  // ANSI.SYS arithmetic wraps modulo 2^32, as intended for oversized numbers; the BBS
  // dialect saturates instead.
  std::uint32_t value = parameters_[count_ - 1];
  for (;;) {
    if constexpr (D == Dialect::Bbs) {
      // Up to four digits at once: a loop per digit ends in a mispredicted branch at
      // every number of random length, as the colour values of 24-bit art are. (The
      // short fixed patterns of ANSI.SYS art are predicted well; there it costs.)
      if (end - next >= 4) {
        std::uint32_t bytes;
        std::memcpy(&bytes, next, sizeof bytes);
        const unsigned count = leadingDigits(bytes);
        const std::uint64_t wide =
            std::uint64_t{value} * kPowersOfTen[count] + digitsValue(bytes, count);
        value = static_cast<std::uint32_t>(std::min<std::uint64_t>(wide, UINT32_MAX));
        digits_ = digits_ || count != 0;
        next += count;
        if (count == 4) continue;
      }
    }
    if (next == end) {
      if (!overflow_) parameters_[count_ - 1] = value;
      return true;
    }
    const std::uint8_t byte = *next++;
    const auto digit = static_cast<std::uint32_t>(byte - '0');
    if (digit < 10) {
      if constexpr (D == Dialect::Bbs) {
        const std::uint64_t wide = std::uint64_t{value} * 10u + digit;
        value = static_cast<std::uint32_t>(std::min<std::uint64_t>(wide, UINT32_MAX));
        digits_ = true;
      } else {
        value = value * 10u + digit;
      }
      continue;
    }
    if (!overflow_) parameters_[count_ - 1] = value;
    if (byte == ';' || byte == ',' || (D == Dialect::Bbs && byte == ':')) {
      if constexpr (D == Dialect::Bbs) {
        // Parameters beyond those kept are read and dropped.
        if (count_ == kParameters) {
          overflow_ = true;
        } else {
          if (byte == ':') colons_ |= 1u << count_;
          ++count_;
        }
      } else {
        if (count_ == kMaxParameters) return false;
        ++count_;
      }
      value = 0;
    } else if (byte != '=' && byte != '>' && byte != '?') {
      state_ = State::Text;
      finishSequence(byte);
      return true;
    } else if (D == Dialect::Bbs && byte == '?') {
      private_ = true;
    }
  }
}

template <Dialect D>
const std::uint8_t* SequenceParser<D>::wholeSequence(const std::uint8_t* next,
                                                     const std::uint8_t* end) {
  static_assert(D == Dialect::Bbs, "the separators and shapes here are the BBS dialect's");
  // The bytes of the sequence are classified at once, and each parameter is read from
  // where the separators put it: reading one number after another waited at each for the
  // number before it (about 5% of the time of 24-bit art). Up to 32 bytes after the `[`,
  // and four more may be read past the last parameter's start.
  constexpr std::ptrdiff_t kReach = 32 + 4;
  const bool privateMode = next != end && *next == '?';
  if (privateMode) ++next;
  if (end - next < kReach) return nullptr;
  const ByteClasses classes = classify32(next);
  const auto finalAt =
      static_cast<unsigned>(std::countr_zero(~(classes.digits | classes.separators)));
  if (finalAt == 32) return nullptr;
  const std::uint8_t byte = next[finalAt];
  // Straight into the parameters: when this gives up, the step-by-step reading starts
  // the sequence afresh; and parameters past the count are never read.
  if (byte == ',' || byte == '=' || byte == '>' || byte == '?') return nullptr;
  const std::uint32_t before = (1u << finalAt) - 1;
  std::uint32_t ends = (classes.separators & before) | (1u << finalAt);
  if (!privateMode && (classes.colons & before) == 0) {
    if (const std::uint8_t* after = trueColorSequence(next, ends, finalAt)) return after;
  }
  std::uint32_t* const parameters = parameters_.data();
  std::uint32_t colons = 0;
  unsigned start = 0;
  std::size_t count = 0;
  for (; ends != 0; ++count, ends &= ends - 1) {
    if (count == kParameters) return nullptr;
    const auto stop = static_cast<unsigned>(std::countr_zero(ends));
    const unsigned length = stop - start;
    if (length > 4) return nullptr;
    parameters[count] = numberAt(next + start, length);
    colons |= ((classes.colons >> stop) & 1u) << (count + 1);
    start = stop + 1;
  }
  next += finalAt + 1;
  count_ = count;
  colons_ = colons;
  digits_ = (classes.digits & before) != 0;
  private_ = privateMode;
  overflow_ = false;
  finishSequence(byte);
  return next;
}

template <Dialect D>
const std::uint8_t* SequenceParser<D>::trueColorSequence(const std::uint8_t* next,
                                                         std::uint32_t ends, unsigned finalAt) {
  // Read this way, 24-bit art takes about 5% less time: two parameters fewer, and no loop
  // whose end changes with the shape of each sequence.
  std::uint64_t head;
  std::memcpy(&head, next, sizeof head);
  const std::uint8_t final = next[finalAt];
  const std::uint64_t five = head & 0xFF'FFFF'FFFF;
  const std::uint64_t two = head & 0xFFFF;
  // Each kind's place of the numbers and name of the background come from a table, not from
  // branches on the kind: art mixes the kinds at random, and the branches were mispredicted
  // (with the branch on the layer in `setTrueColor`, 4.6% of 24-bit art).
  struct Shape {
    std::uint8_t offset;      // where the numbers start
    std::uint8_t background;  // the first byte that names the background
  };
  static constexpr std::array<Shape, 4> kShapes{{{0, 0}, {5, '4'}, {2, '0'}, {5, '4'}}};
  const unsigned m = unsigned{final == 'm'};
  const unsigned direct =
      m & (unsigned{five == bytesOf("38;2;")} | unsigned{five == bytesOf("48;2;")});
  const unsigned editor =
      unsigned{final == 't'} & (unsigned{two == bytesOf("0;")} | unsigned{two == bytesOf("1;")});
  const unsigned palette =
      m & (unsigned{five == bytesOf("38;5;")} | unsigned{five == bytesOf("48;5;")});
  const unsigned kind = direct | editor << 1 | palette * 3;
  if (kind == 0) return nullptr;
  const Shape shape = kShapes[kind];
  const bool background = static_cast<std::uint8_t>(head) == shape.background;
  if (kind == 3) {
    // Palette colours: one number, and no change for one past the palette.
    const auto length = static_cast<unsigned>(std::countr_zero(ends >> 5));
    if (5 + length != finalAt || length > 4) return nullptr;
    const std::uint32_t n = numberAt(next + 5, length);
    if (n < 256) screen_.setTrueColor(background, kIndexedColors[n]);
    return next + finalAt + 1;
  }
  // The ends of the three numbers after the head; the last must be the final byte.
  const unsigned offset = shape.offset;
  std::uint32_t rest = ends >> offset;
  const auto red = static_cast<unsigned>(std::countr_zero(rest));
  rest &= rest - 1;
  const auto green = static_cast<unsigned>(std::countr_zero(rest));
  rest &= rest - 1;
  const auto blue = static_cast<unsigned>(std::countr_zero(rest));
  if (offset + blue != finalAt || red > 4 || green - red > 5 || blue - green > 5) return nullptr;
  const std::uint8_t* const digits = next + offset;
  screen_.setTrueColor(background, trueColorAt(digits, red, green, blue));
  return next + finalAt + 1;
}

template <Dialect D>
void SequenceParser<D>::finishSequence(std::uint8_t final) {
  switch (final) {
    case 'm':
      if constexpr (D == Dialect::Bbs) {
        selectExtendedRendition();
      } else {
        selectRendition();
      }
      break;
    case 'h':
    case 'l':
      if (D == Dialect::Bbs && private_ && parameters_[0] == 33) {
        report_.iceColors = final == 'h' ? 1 : 0;
      } else if (D != Dialect::Bbs || !private_ || parameters_[0] == 7) {
        setMode(final == 'h');
      }
      break;
    case 'A':
    case 'B':
    case 'C':
    case 'D':
    case 'H':
    case 'f':
    case 'J':
    case 'K':
    case 's':
    case 'u':
      command(final);
      break;
    default:
      if constexpr (D == Dialect::Bbs) bbsCommand(final);
      // Otherwise unrecognised: the sequence has no effect.
      break;
  }
}

template <Dialect D>
void SequenceParser<D>::selectRendition() {
  // Each code keeps some bits of the rendition and sets others, so a sequence of them is
  // applied without a branch per code; parameters in art are mixed unpredictably.
  Rendition rendition = screen_.rendition();
  for (std::size_t index = 0; index < count_; ++index) {
    const RenditionChange change = renditionChangeOf(parameters_[index]);
    rendition = static_cast<Rendition>((rendition & change.keep) | change.set);
  }
  screen_.setRendition(rendition);
}

template <Dialect D>
void SequenceParser<D>::selectExtendedRendition() {
  for (std::size_t index = 0; index < count_; ++index) {
    const std::uint32_t code = parameters_[index];
    if (code == 38 || code == 48) {
      // 38;5;n and 38;2;r;g;b, or with colons, 38:5:n and 38:2:[space]:r:g:b.
      const std::size_t mode = index + 1;
      if (mode >= count_) break;
      const bool colon = (colons_ >> mode & 1u) != 0;
      std::size_t end = colon ? mode + 1 : count_;
      while (colon && end < count_ && (colons_ >> end & 1u) != 0)
        ++end;
      TrueColor color = kNoTrueColor;
      std::size_t last = colon ? end - 1 : mode;
      if (parameters_[mode] == 5 && mode + 1 < end) {
        const std::uint32_t n = parameters_[mode + 1];
        if (n < 256) color = kIndexedColors[n];
        last = colon ? end - 1 : mode + 1;
      } else if (parameters_[mode] == 2) {
        std::size_t first = mode + 1;
        if (colon && end - first >= 4) ++first;  // the colour space, left empty in practice
        if (first + 2 < end) {
          color = colorOf(parameters_.data() + first);
          last = colon ? end - 1 : first + 2;
        } else {
          last = end - 1;
        }
      }
      if (color != kNoTrueColor) {
        if (code == 38) {
          screen_.setTrueForeground(color);
        } else {
          screen_.setTrueBackground(color);
        }
      }
      index = last;
      continue;
    }
    const RenditionChange change = extendedChangeOf(code);
    if (returnsForeground(code)) screen_.setTrueForeground(kNoTrueColor);
    if (returnsBackground(code)) screen_.setTrueBackground(kNoTrueColor);
    screen_.setRendition(static_cast<Rendition>((screen_.rendition() & change.keep) | change.set));
  }
}

template <Dialect D>
void SequenceParser<D>::setMode(bool set) {
  switch (parameters_[0]) {
    case 0:
    case 1:
      screen_.resize(40, 25);
      reportMode("m_resetwidth=40\nm_resetheight=25\n");
      break;
    case 2:
    case 3:
      screen_.resize(80, 25);
      reportMode("m_resetwidth=80\nm_resetheight=25\n");
      break;
    case 7:
      screen_.setWrap(set);
      break;
    default:
      break;
  }
}

template <Dialect D>
void SequenceParser<D>::command(std::uint8_t final) {
  const std::uint32_t first = parameters_[0];
  const std::uint32_t second = parameter(1);
  const std::uint32_t n = countOf(first);
  switch (final) {
    case 'A':
      screen_.cursorUp(n);
      break;
    case 'B':
      screen_.cursorDown(n);
      break;
    case 'C':
      screen_.cursorRight(n);
      break;
    case 'D':
      screen_.cursorLeft(n);
      break;
    case 'H':
    case 'f': {
      const auto [column, row] = positionOf(first, second);
      screen_.moveTo(column, row);
      break;
    }
    case 'J':
      if (first == 0) {
        screen_.eraseToScreenEnd();
      } else if (first == 1) {
        screen_.eraseToScreenStart();
      } else {
        screen_.moveTo(0, 0);
        screen_.eraseScreen();
      }
      break;
    case 'K':
      if (first == 0) {
        screen_.eraseToLineEnd();
      } else if (first == 1) {
        screen_.eraseToLineStart();
      } else {
        screen_.eraseLine();
      }
      break;
    case 's':
      saved_ = screen_.saveCursor();
      break;
    case 'u':
      screen_.moveTo(static_cast<std::uint32_t>(saved_.first),
                     static_cast<std::uint32_t>(saved_.second));
      break;
    default:
      break;
  }
}

template <Dialect D>
void SequenceParser<D>::bbsCommand(std::uint8_t final) {
  const std::uint32_t first = parameters_[0];
  const std::uint32_t n = countOf(first);
  switch (final) {
    case 'G':  // column
      screen_.moveTo(n - 1, screen_.windowRow());
      break;
    case 'd':  // row
      screen_.moveTo(screen_.column(), n - 1);
      break;
    case 'E':  // lines down, to the start
      screen_.cursorDown(n);
      screen_.moveTo(0, screen_.windowRow());
      break;
    case 'F':  // lines up, to the start
      screen_.cursorUp(n);
      screen_.moveTo(0, screen_.windowRow());
      break;
    case '@':
      screen_.insertCharacters(n);
      break;
    case 'P':
      screen_.deleteCharacters(n);
      break;
    case 'X':
      screen_.eraseCharacters(n);
      break;
    case 'L':
      screen_.insertLines(n);
      break;
    case 'M':
      // Without a parameter, `ESC[M` starts a music string, as `ESC[N` always does.
      if (digits_ || count_ > 1) {
        screen_.deleteLines(n);
      } else {
        state_ = State::Music;
      }
      break;
    case 'N':
      state_ = State::Music;
      break;
    case 't':
      // 24-bit colours of the DOS art editors: 0 background, 1 foreground, then r;g;b.
      if (count_ >= 4 && first <= 1) {
        screen_.setTrueColor(first == 0, colorOf(parameters_.data() + 1));
      }
      break;
    default:  // queries and everything else: consumed without effect
      break;
  }
}

template <Dialect D>
std::int32_t runDialect(VirtualScreen& screen, Stream* metadata, Stream& input,
                        InterpreterReport& report, std::span<std::uint8_t> block) {
  SequenceParser<D> parser(screen, metadata, report);
  std::uint64_t total = 0;
  for (;;) {
    const std::uint64_t got = input.read(block.data(), block.size());
    if (got == 0) break;
    if (!parser.feed({block.data(), static_cast<std::size_t>(got)})) return -1;
    total += got;
    // A short block means a read step delivered nothing: the input is done.
    if (got < block.size()) break;
  }
  if (input.status() == StreamStatus::Error) return -1;
  return static_cast<std::int32_t>(std::min(total, kMaxResult));
}

}  // namespace

struct AnsiSysFeed::Parser {
  std::variant<SequenceParser<Dialect::AnsiSys>, SequenceParser<Dialect::Bbs>> parser;
};

AnsiSysFeed::AnsiSysFeed(VirtualScreen& screen, Stream* metadata, InterpreterReport* report,
                         Dialect dialect) {
  InterpreterReport& out = report != nullptr ? *report : ignored_;
  if (dialect == Dialect::Bbs) {
    parser_ = std::make_unique<Parser>(Parser{SequenceParser<Dialect::Bbs>(screen, metadata, out)});
  } else {
    parser_ =
        std::make_unique<Parser>(Parser{SequenceParser<Dialect::AnsiSys>(screen, metadata, out)});
  }
}

AnsiSysFeed::~AnsiSysFeed() = default;

bool AnsiSysFeed::feed(std::span<const std::uint8_t> bytes) {
  return std::visit([bytes](auto& parser) { return parser.feed(bytes); }, parser_->parser);
}

bool AnsiSysFeed::inText() const noexcept {
  return std::visit([](const auto& parser) { return parser.inText(); }, parser_->parser);
}

std::int32_t AnsiSysInterpreter::run(VirtualScreen& screen, Stream* metadata, Stream& input,
                                     Dialect dialect, InterpreterReport* report,
                                     std::span<std::byte> buffer) {
  InterpreterReport ignored;
  InterpreterReport& out = report != nullptr ? *report : ignored;
  std::unique_ptr<std::uint8_t[]> own;
  if (buffer.empty()) {
    own = std::make_unique_for_overwrite<std::uint8_t[]>(kBlockSize);
    buffer = std::as_writable_bytes(std::span(own.get(), kBlockSize));
  }
  const std::span block(reinterpret_cast<std::uint8_t*>(buffer.data()), buffer.size());
  if (dialect == Dialect::Bbs) {
    return runDialect<Dialect::Bbs>(screen, metadata, input, out, block);
  }
  return runDialect<Dialect::AnsiSys>(screen, metadata, input, out, block);
}

}  // namespace vidtwine
