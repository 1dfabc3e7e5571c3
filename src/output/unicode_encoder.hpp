// Turns 16-bit code units into the bytes of a Unicode encoding form.
#pragma once

#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>

namespace vidtwine {

enum class UnicodeFormat : std::uint8_t { Utf8 = 0, Utf16Be = 1, Utf16Le = 2 };

/// Encodes units as UTF-8 (1 to 3 bytes each, no surrogate pairing), UTF-16BE or UTF-16LE.
class UnicodeEncoder final {
 public:
  /// The most bytes one unit can take, in any format.
  static constexpr std::size_t kMaxUnitBytes = 3;
  /// Bytes after the last one written that an encoding may overwrite.
  static constexpr std::size_t kSlack = 3;

  explicit UnicodeEncoder(UnicodeFormat format) noexcept;

  UnicodeFormat format() const noexcept { return format_; }
  /// How many bytes `unit` takes.
  std::size_t lengthOf(std::uint16_t unit) const noexcept {
    if (format_ != UnicodeFormat::Utf8) return 2;
    return unit < 0x80 ? 1 : unit < 0x800 ? 2 : 3;
  }
  /// Encodes `count` units into `out`, which has room for kMaxUnitBytes * count + kSlack
  /// bytes; the number of bytes.
  std::size_t encode(const std::uint16_t* units, std::size_t count, std::byte* out) noexcept;
  /// The same, and where each unit's bytes begin: offsets[i] for unit i, offsets[count] is
  /// the end.
  std::size_t encode(const std::uint16_t* units, std::size_t count, std::byte* out,
                     std::uint16_t* offsets) noexcept;
  /// `encode` with offsets for the units that `table` gives the high bytes of `cells`: the
  /// encoding of each byte is taken from a table made once per `table`, without a step per
  /// unit. A table at the place of one used before is taken to be the same until
  /// `forgetTable`.
  std::size_t encodeCells(const std::uint16_t* cells, std::size_t count,
                          const std::array<std::uint16_t, 256>& table, std::byte* out,
                          std::uint16_t* offsets) noexcept;
  /// The next table that `encodeCells` gets may be another at the same place.
  void forgetTable() noexcept { formsOf_ = nullptr; }
  /// Encodes `count` ASCII characters (below 0x80) into `out`, which has room for 2 * count
  /// bytes; the number of bytes.
  std::size_t encodeAscii(const char* text, std::size_t count, std::byte* out) const noexcept;

 private:
  /// The UTF-8 bytes of a unit in the first three of four bytes, in memory order, and
  /// their number in the fourth: one load and one store per unit.
  struct Utf8Form {
    std::uint16_t unit;
    std::uint32_t form;
  };
  static constexpr std::size_t formLength(std::uint32_t form) noexcept {
    return std::endian::native == std::endian::little ? form >> 24 : form & 0xFF;
  }
  /// The UTF-8 form of `unit`, from the table of recent ones or encoded into it.
  std::uint32_t utf8Form(std::uint16_t unit) noexcept;
  template <bool Offsets>
  std::size_t encodeUnits(const std::uint16_t* units, std::size_t count, std::byte* out,
                          std::uint16_t* offsets) noexcept;

  /// The bytes of `unit` in this format in the first two or three of four bytes, in memory
  /// order, and their number in the fourth.
  std::uint32_t formOf(std::uint16_t unit) const noexcept;

  UnicodeFormat format_;
  /// The forms of the bytes of the table at `formsOf_`.
  const std::array<std::uint16_t, 256>* formsOf_ = nullptr;
  std::array<std::uint32_t, 256> byteForms_;
  // Text art mixes one- and three-byte forms at random, which makes choosing the form per
  // unit a branch the processor mispredicts half the time. Text draws on a few hundred
  // characters, so looking the form up in a table of recent ones (by a hash of the unit)
  // almost always hits and costs no such branch.
  static constexpr std::size_t kFormSlots = 1024;
  std::array<Utf8Form, kFormSlots> utf8Forms_;
};

}  // namespace vidtwine
