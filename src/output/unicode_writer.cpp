#include "output/unicode_writer.hpp"

#include <algorithm>
#include <bit>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

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
  utf8Forms_.fill({0, 1, {}});
}

const UnicodeWriter::Utf8Form& UnicodeWriter::utf8Form(std::uint16_t unit) noexcept {
  Utf8Form& form = utf8Forms_[(unit ^ (unit >> 5)) & (kFormSlots - 1)];
  if (form.unit != unit) {
    form.unit = unit;
    form.length = static_cast<std::uint8_t>(encodeUtf8(unit, form.bytes.data()));
  }
  return form;
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
    default: {
      std::size_t i = 0;
      // Each UTF-8 form is copied as four bytes, of which up to three may be padding.
      const auto putForm = [&](std::uint16_t unit) {
        const Utf8Form& form = utf8Form(unit);
        std::memcpy(out + length, form.bytes.data(), form.bytes.size());
        length += form.length;
      };
#if defined(__SSE2__)
      // Each step packs the ASCII units among the next eight into bytes at once (escape
      // sequences are long runs of them), then puts out the unit after them from the
      // table. How many were ASCII comes from a mask: there is no branch on the units
      // themselves, which mix at random in art. Eight bytes are stored, of which only
      // that many count.
      while (units - i > 8) {
        __m128i eight;
        std::memcpy(&eight, data + i * 2, sizeof eight);
        const __m128i high = _mm_and_si128(eight, _mm_set1_epi16(static_cast<short>(0xFF80)));
        const auto ascii =
            static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi16(high, _mm_setzero_si128())));
        const unsigned count = static_cast<unsigned>(std::countr_one(ascii)) / 2;
        _mm_storel_epi64(reinterpret_cast<__m128i*>(out + length), _mm_packus_epi16(eight, eight));
        length += count;
        i += count;
        putForm(unitAt(data, i));
        ++i;
      }
#endif
      for (; i < units; ++i)
        putForm(unitAt(data, i));
      break;
    }
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
