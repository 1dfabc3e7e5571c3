#include "output/unicode_writer.hpp"

#include <algorithm>
#include <bit>
#include <cstring>

namespace vidtwine {

namespace {

// Units encoded per write into the target: at most 3 KiB of UTF-8 on the stack.
constexpr std::size_t kBatchUnits = 1024;

constexpr std::size_t utf8Length(std::uint16_t unit) noexcept {
  return unit < 0x80 ? 1 : unit < 0x800 ? 2 : 3;
}

// Each unit on its own: no surrogate pairing, so never a 4-byte form.
std::size_t encodeUtf8(std::uint16_t unit, std::byte* out) noexcept {
  if (unit < 0x80) {
    out[0] = static_cast<std::byte>(unit);
    return 1;
  }
  if (unit < 0x800) {
    out[0] = static_cast<std::byte>(0xC0 | (unit >> 6));
    out[1] = static_cast<std::byte>(0x80 | (unit & 0x3F));
    return 2;
  }
  out[0] = static_cast<std::byte>(0xE0 | (unit >> 12));
  out[1] = static_cast<std::byte>(0x80 | ((unit >> 6) & 0x3F));
  out[2] = static_cast<std::byte>(0x80 | (unit & 0x3F));
  return 3;
}

std::uint16_t unitAt(const std::byte* data, std::size_t index) noexcept {
  std::uint16_t unit;
  std::memcpy(&unit, data + index * 2, sizeof unit);
  return unit;
}

}  // namespace

UnicodeWriter::UnicodeWriter(std::unique_ptr<Stream> target, UnicodeFormat format)
    : StreamWriter(std::move(target)), format_(format) {
  // Every slot starts out holding the unit 0, whose form is the one byte 0.
  const std::array<std::byte, 4> zero{std::byte{0}, {}, {}, std::byte{1}};
  std::uint32_t form;
  std::memcpy(&form, zero.data(), sizeof form);
  utf8Forms_.fill({0, form});
}

std::uint32_t UnicodeWriter::utf8Form(std::uint16_t unit) noexcept {
  Utf8Form& slot = utf8Forms_[(unit ^ (unit >> 5)) & (kFormSlots - 1)];
  if (slot.unit != unit) {
    std::array<std::byte, 4> bytes{};
    bytes[3] = static_cast<std::byte>(encodeUtf8(unit, bytes.data()));
    slot.unit = unit;
    std::memcpy(&slot.form, bytes.data(), sizeof slot.form);
  }
  return slot.form;
}

std::size_t UnicodeWriter::encode(const std::byte* data, std::size_t units,
                                  std::byte* out) noexcept {
  std::size_t length = 0;
  switch (format_) {
    case UnicodeFormat::Utf16Be:
      for (std::size_t i = 0; i < units; ++i) {
        const std::uint16_t unit = unitAt(data, i);
        out[length++] = static_cast<std::byte>(unit >> 8);
        out[length++] = static_cast<std::byte>(unit & 0xFF);
      }
      break;
    case UnicodeFormat::Utf16Le:
      for (std::size_t i = 0; i < units; ++i) {
        const std::uint16_t unit = unitAt(data, i);
        out[length++] = static_cast<std::byte>(unit & 0xFF);
        out[length++] = static_cast<std::byte>(unit >> 8);
      }
      break;
    case UnicodeFormat::Utf8:
    default:
      // Each form is copied as four bytes, of which up to three are padding (the last is
      // its length) that the next form overwrites.
      for (std::size_t i = 0; i < units; ++i) {
        const std::uint32_t form = utf8Form(unitAt(data, i));
        std::memcpy(out + length, &form, sizeof form);
        length += formLength(form);
      }
      break;
  }
  return length;
}

std::uint64_t UnicodeWriter::writeSome(const std::byte* data, std::uint64_t n) {
  const auto units = static_cast<std::size_t>(std::min<std::uint64_t>(n / 2, kBatchUnits));
  if (units == 0 || target_ == nullptr) return 0;

  // Straight into the target's buffer where it has room for the longest encoding, which
  // saves copying every byte once more.
  if (const std::span<std::byte> room = target_->writeRoom(); room.size() >= units * 3 + 3) {
    target_->commitRoom(encode(data, units, room.data()));
    return target_->status() == StreamStatus::Ok ? units * 2 : 0;
  }

  std::byte encoded[kBatchUnits * 3 + 3];
  const std::size_t length = encode(data, units, encoded);
  const std::uint64_t written = target_->write(encoded, length);
  // A unit counts as consumed only when the target is still Ok after its bytes. The status
  // is looked at once per batch, so a batch the target took whole but then reports a
  // failure for counts as not consumed at all.
  if (written == length) return target_->status() == StreamStatus::Ok ? units * 2 : 0;
  // A short write: only the units whose bytes all went through count.
  if (format_ != UnicodeFormat::Utf8) return written / 2 * 2;
  std::uint64_t taken = 0;
  std::size_t whole = 0;
  while (whole < units && taken + utf8Length(unitAt(data, whole)) <= written) {
    taken += utf8Length(unitAt(data, whole));
    ++whole;
  }
  return whole * 2;
}

}  // namespace vidtwine
