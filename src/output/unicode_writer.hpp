// Encodes the 16-bit code units it receives; knows nothing of colours or line ends.
#pragma once

#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <memory>

#include "stream/stream.hpp"

namespace vidtwine {

enum class UnicodeFormat : std::uint8_t { Utf8 = 0, Utf16Be = 1, Utf16Le = 2 };

/// A writer filter: every two bytes written into it are one code unit in host byte
/// order, encoded as UTF-8 (1 to 3 bytes, no surrogate pairing), UTF-16BE or UTF-16LE.
class UnicodeWriter final : public StreamWriter {
 public:
  UnicodeWriter(std::unique_ptr<Stream> target, UnicodeFormat format);

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

  std::uint64_t writeSome(const std::byte* data, std::uint64_t n) override;
  /// The UTF-8 form of `unit`, from the table of recent ones or encoded into it.
  std::uint32_t utf8Form(std::uint16_t unit) noexcept;
  /// Encodes `units` units from `data` into `out`, which has room for 3 * units + 3 bytes;
  /// the number of bytes.
  std::size_t encode(const std::byte* data, std::size_t units, std::byte* out) noexcept;

  UnicodeFormat format_;
  // Text art mixes one- and three-byte forms at random, which makes choosing the form per
  // unit a branch the processor mispredicts half the time. Text draws on a few hundred
  // characters, so looking the form up in a table of recent ones (by a hash of the unit)
  // almost always hits and costs no such branch.
  static constexpr std::size_t kFormSlots = 1024;
  std::array<Utf8Form, kFormSlots> utf8Forms_;
};

}  // namespace vidtwine
