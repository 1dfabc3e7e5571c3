// Settings words as typed bit sets: `flags.has(ColorFlag::DefaultColors)`, not `f & 2`.
#pragma once

#include <type_traits>

namespace vidtwine {

template <typename Flag>
class BitFlags {
 public:
  using Bits = std::underlying_type_t<Flag>;

  constexpr BitFlags() noexcept = default;
  constexpr BitFlags(Flag flag) noexcept : bits_(static_cast<Bits>(flag)) {}  // NOLINT
  static constexpr BitFlags fromBits(Bits bits) noexcept {
    BitFlags flags;
    flags.bits_ = bits;
    return flags;
  }

  constexpr bool has(Flag flag) const noexcept { return (bits_ & static_cast<Bits>(flag)) != 0; }
  constexpr BitFlags& set(Flag flag, bool on = true) noexcept {
    bits_ = on ? static_cast<Bits>(bits_ | static_cast<Bits>(flag))
               : static_cast<Bits>(bits_ & ~static_cast<Bits>(flag));
    return *this;
  }
  constexpr BitFlags& clear(Flag flag) noexcept { return set(flag, false); }
  constexpr Bits bits() const noexcept { return bits_; }

  constexpr BitFlags operator|(BitFlags other) const noexcept {
    return fromBits(static_cast<Bits>(bits_ | other.bits_));
  }
  friend constexpr bool operator==(BitFlags, BitFlags) noexcept = default;

 private:
  Bits bits_ = 0;
};

}  // namespace vidtwine
