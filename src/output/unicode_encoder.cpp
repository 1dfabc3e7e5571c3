#include "output/unicode_encoder.hpp"

#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace vidtwine {

namespace {

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

}  // namespace

UnicodeEncoder::UnicodeEncoder(UnicodeFormat format) noexcept : format_(format) {
  // Every slot starts out holding the unit 0, whose form is the one byte 0.
  const std::array<std::byte, 4> zero{std::byte{0}, {}, {}, std::byte{1}};
  std::uint32_t form;
  std::memcpy(&form, zero.data(), sizeof form);
  utf8Forms_.fill({0, form});
}

std::uint32_t UnicodeEncoder::utf8Form(std::uint16_t unit) noexcept {
  Utf8Form& slot = utf8Forms_[(unit ^ (unit >> 5)) & (kFormSlots - 1)];
  if (slot.unit != unit) {
    slot.unit = unit;
    slot.form = formOf(unit);
  }
  return slot.form;
}

std::uint32_t UnicodeEncoder::formOf(std::uint16_t unit) const noexcept {
  std::array<std::byte, 4> bytes{};
  if (format_ == UnicodeFormat::Utf8) {
    bytes[3] = static_cast<std::byte>(encodeUtf8(unit, bytes.data()));
  } else {
    const bool big = format_ == UnicodeFormat::Utf16Be;
    bytes[big ? 0 : 1] = static_cast<std::byte>(unit >> 8);
    bytes[big ? 1 : 0] = static_cast<std::byte>(unit & 0xFF);
    bytes[3] = std::byte{2};
  }
  std::uint32_t form;
  std::memcpy(&form, bytes.data(), sizeof form);
  return form;
}

std::size_t UnicodeEncoder::encodeCells(const std::uint16_t* cells, std::size_t count,
                                        const std::array<std::uint16_t, 256>& table, std::byte* out,
                                        std::uint16_t* offsets) noexcept {
  if (formsOf_ != &table) {
    for (std::size_t byte = 0; byte < table.size(); ++byte)
      byteForms_[byte] = formOf(table[byte]);
    formsOf_ = &table;
  }
  // Each form is copied as four bytes, as in `encodeUnits`.
  std::size_t length = 0;
  for (std::size_t i = 0; i < count; ++i) {
    offsets[i] = static_cast<std::uint16_t>(length);
    const std::uint32_t form = byteForms_[cells[i] >> 8];
    std::memcpy(out + length, &form, sizeof form);
    length += formLength(form);
  }
  offsets[count] = static_cast<std::uint16_t>(length);
  return length;
}

template <bool Offsets>
std::size_t UnicodeEncoder::encodeUnits(const std::uint16_t* units, std::size_t count,
                                        std::byte* out, std::uint16_t* offsets) noexcept {
  std::size_t length = 0;
  switch (format_) {
    case UnicodeFormat::Utf16Be:
    case UnicodeFormat::Utf16Le: {
      const bool big = format_ == UnicodeFormat::Utf16Be;
      for (std::size_t i = 0; i < count; ++i) {
        if constexpr (Offsets) offsets[i] = static_cast<std::uint16_t>(length);
        const std::uint16_t unit = units[i];
        out[length + (big ? 0 : 1)] = static_cast<std::byte>(unit >> 8);
        out[length + (big ? 1 : 0)] = static_cast<std::byte>(unit & 0xFF);
        length += 2;
      }
      break;
    }
    case UnicodeFormat::Utf8:
    default: {
      // Each form is copied as four bytes, of which up to three are padding (the last is
      // its length) that the next form overwrites.
      const auto putForms = [&](std::size_t from, std::size_t to) {
        for (std::size_t i = from; i < to; ++i) {
          if constexpr (Offsets) offsets[i] = static_cast<std::uint16_t>(length);
          const std::uint32_t form = utf8Form(units[i]);
          std::memcpy(out + length, &form, sizeof form);
          length += formLength(form);
        }
      };
      std::size_t i = 0;
#if defined(__SSE2__)
      if constexpr (!Offsets) {
        // Eight units below 0x80 at once: blank padding and plain text come in long runs of
        // them (a third of the encoding of the corpus).
        for (; i + 8 <= count; i += 8) {
          const __m128i eight = _mm_loadu_si128(reinterpret_cast<const __m128i*>(units + i));
          const __m128i high = _mm_and_si128(eight, _mm_set1_epi16(static_cast<short>(0xFF80)));
          if (_mm_movemask_epi8(_mm_cmpeq_epi16(high, _mm_setzero_si128())) == 0xFFFF) {
            _mm_storel_epi64(reinterpret_cast<__m128i*>(out + length),
                             _mm_packus_epi16(eight, eight));
            length += 8;
          } else {
            putForms(i, i + 8);
          }
        }
      }
#endif
      putForms(i, count);
      break;
    }
  }
  if constexpr (Offsets) offsets[count] = static_cast<std::uint16_t>(length);
  return length;
}

std::size_t UnicodeEncoder::encode(const std::uint16_t* units, std::size_t count,
                                   std::byte* out) noexcept {
  return encodeUnits<false>(units, count, out, nullptr);
}

std::size_t UnicodeEncoder::encode(const std::uint16_t* units, std::size_t count, std::byte* out,
                                   std::uint16_t* offsets) noexcept {
  return encodeUnits<true>(units, count, out, offsets);
}

std::size_t UnicodeEncoder::encodeAscii(const char* text, std::size_t count,
                                        std::byte* out) const noexcept {
  if (format_ == UnicodeFormat::Utf8) {
    std::memcpy(out, text, count);
    return count;
  }
  const bool big = format_ == UnicodeFormat::Utf16Be;
  for (std::size_t i = 0; i < count; ++i) {
    out[2 * i + (big ? 0 : 1)] = std::byte{0};
    out[2 * i + (big ? 1 : 0)] = static_cast<std::byte>(text[i]);
  }
  return 2 * count;
}

}  // namespace vidtwine
