// Runs of characters written straight into the cells of the cursor's row.
#pragma once

#include <algorithm>
#include <array>
#include <bit>
#include <cstdint>
#include <cstring>

#include "screen/virtual_screen.hpp"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace vidtwine {

/// Eight bytes as eight cells of `attributes` (the attribute in each 16-bit lane).
inline std::array<std::uint64_t, 2> cellsOf(std::uint64_t bytes,
                                            std::uint64_t attributes) noexcept {
  const auto spread = [attributes](std::uint64_t four) {
    four = (four | (four << 16)) & 0x0000FFFF0000FFFF;
    four = (four | (four << 8)) & 0x00FF00FF00FF00FF;
    return (four << 8) | attributes;
  };
  return {spread(bytes & 0xFFFFFFFF), spread(bytes >> 32)};
}

/// Bit masks of the first n (0 to 8) of eight 16-bit cells, as two 64-bit halves.
inline constexpr auto kFirstCells = [] {
  std::array<std::array<std::uint64_t, 2>, 9> masks{};
  for (unsigned n = 0; n <= 8; ++n) {
    for (unsigned cell = 0; cell < n; ++cell)
      masks[n][cell / 4] |= std::uint64_t{0xFFFF} << (16 * (cell % 4));
  }
  return masks;
}();

/// Writes the cells of the bytes from `next` on, up to the first byte below 0x20 or `limit`,
/// to `out`; returns where it stopped. The bytes up to `readable` (at least `limit`) may
/// be read; `out` has room for the cells up to `limit` and eight more.
[[gnu::always_inline]] inline const std::uint8_t* copyPrintable(
    const std::uint8_t* next, const std::uint8_t* limit,
    [[maybe_unused]] const std::uint8_t* readable, ScreenCell* out, ScreenCell attribute) noexcept {
#if defined(__SSE2__)
  // Eight bytes at a time, widened to cells by interleaving them with the attribute; where
  // the run ends is found by one comparison (7% fewer instructions on ANSI art and 2% less
  // time than the same steps in 64-bit words).
  const __m128i attributes = _mm_set1_epi8(static_cast<char>(attribute));
  const __m128i lastControl = _mm_set1_epi8(0x1F);
  // Where the run ends among the eight bytes at `next`: at the first below 0x20; the eight
  // zero bytes above the loaded ones count as such.
  const auto runIn = [&](__m128i bytes) {
    const __m128i control = _mm_cmpeq_epi8(_mm_min_epu8(bytes, lastControl), bytes);
    return static_cast<unsigned>(
        std::countr_zero(static_cast<unsigned>(_mm_movemask_epi8(control))));
  };
  // Eight new cells at `out`, of which the first `count` replace the old ones.
  const auto put = [&](__m128i bytes, unsigned count) {
    __m128i mask;
    std::memcpy(&mask, kFirstCells[count].data(), sizeof mask);
    const __m128i old = _mm_loadu_si128(reinterpret_cast<const __m128i*>(out));
    const __m128i cells = _mm_unpacklo_epi8(attributes, bytes);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out),
                     _mm_or_si128(_mm_and_si128(mask, cells), _mm_andnot_si128(mask, old)));
  };
  while (limit - next >= 8) {
    const __m128i bytes = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(next));
    const unsigned count = runIn(bytes);
    put(bytes, count);
    next += count;
    out += count;
    if (count != 8) return next;
  }
  // The last few before `limit`, where the margin or the end of the row's storage ends
  // the run, in one more step whose count is cut there, rather than a loop per byte whose
  // end is mispredicted (5% of ANSI art).
  if (readable - next >= 8) {
    const __m128i bytes = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(next));
    const unsigned count = std::min(runIn(bytes), static_cast<unsigned>(limit - next));
    put(bytes, count);
    return next + count;
  }
#else
  if constexpr (std::endian::native == std::endian::little) {
    // Eight bytes at a time while eight are there; where the run ends is found by
    // arithmetic, without a comparison per byte.
    constexpr std::uint64_t kOnes = 0x0101010101010101;
    const std::uint64_t attributes = attribute * 0x0001000100010001;
    while (limit - next >= 8) {
      std::uint64_t bytes;
      std::memcpy(&bytes, next, sizeof bytes);
      // The high bit of each byte below 0x20 (and maybe of bytes after it, which do not
      // matter); bytes from 0x80 up are not below.
      const std::uint64_t below = (bytes - 0x20 * kOnes) & ~bytes & 0x80 * kOnes;
      const auto count = static_cast<unsigned>(std::countr_zero(below)) / 8;
      // Eight new cells, of which the first `count` replace the old ones.
      const auto cells = cellsOf(bytes, attributes);
      const std::array<std::uint64_t, 2>& mask = kFirstCells[count];
      std::uint64_t old[2];
      std::memcpy(old, out, sizeof old);
      old[0] = (old[0] & ~mask[0]) | (cells[0] & mask[0]);
      old[1] = (old[1] & ~mask[1]) | (cells[1] & mask[1]);
      std::memcpy(out, old, sizeof old);
      next += count;
      out += count;
      if (count != 8) return next;
    }
  }
#endif
  for (; next != limit && *next >= 0x20; ++next)
    *out++ = static_cast<ScreenCell>((*next << 8) | attribute);
  return next;
}

#if defined(__SSE2__)
/// The attribute of each rendition in all 16 bytes of a vector. A colour change in a lane
/// loads its vector rather than looking up the attribute and spreading it over one, which
/// lay on the path from each colour change to the cells written after it (3% of ANSI art,
/// about 2% of the corpus; art touches a few lines of the table's 16 KiB).
struct alignas(16) AttributeVector {
  std::array<CellAttribute, 16> bytes;
};
inline constexpr auto kRenditionVectors = [] {
  std::array<AttributeVector, VirtualScreen::kRenditionBits + 1> vectors{};
  for (unsigned rendition = 0; rendition < vectors.size(); ++rendition)
    vectors[rendition].bytes.fill(VirtualScreen::attributeOf(static_cast<Rendition>(rendition)));
  return vectors;
}();
#endif

/// The cursor's row of a screen, opened by `VirtualScreen::openLane` for an interpreter to
/// write its text into: the cursor's column and the row's length are kept here, in
/// registers, and given back by `VirtualScreen::commitLane`. ANSI art is mostly short runs
/// between colour changes and cursor moves; each run cost a call, a look-up of the row and
/// the screen's checks, and its end a branch that the lengths of runs mispredict. Here a
/// run of up to 16 characters is one step without a branch on its length.
///
/// The lane holds while the cursor stays in its row and nothing else changes the screen;
/// for anything else, the writer commits it, has the screen act, and opens it again.
class TextLane {
 public:
  /// The bytes that `putChunk` reads and the cells it may write.
  static constexpr std::uint32_t kChunk = 16;

  std::uint32_t column() const noexcept { return column_; }
  /// The cursor is at the margin (a wrap is pending) or at the end of the row's storage:
  /// no more characters fit.
  bool full() const noexcept { return column_ == stop_; }
  /// The cursor is at the margin: a wrap is pending.
  bool atMargin() const noexcept { return column_ == width_; }
  /// `putChunk` may be used for a run of `count` characters: they end before the end of the
  /// lane. (Its stores then lie within the row's storage and slack, and `paintChunk`'s
  /// within the row's colours, up to the margin, rather than only where kChunk cells are
  /// left: 2.5% of ANSI art.)
  bool chunkFits(unsigned count) const noexcept { return count <= stop_ - column_; }
  /// Characters from now on are written with `rendition` (without 24-bit colours).
  void setRendition(Rendition rendition) noexcept {
    attribute_ = VirtualScreen::attributeOf(rendition);
#if defined(__SSE2__)
    attributes_ = _mm_load_si128(reinterpret_cast<const __m128i*>(
        kRenditionVectors[rendition & VirtualScreen::kRenditionBits].bytes.data()));
#endif
  }
  /// Characters from now on get these 24-bit colours, in a lane opened with colours.
  void setColors(CellColors colors) noexcept {
    colors_ = colors;
#if defined(__SSE2__)
    pair_ = _mm_set_epi32(static_cast<int>(colors.background), static_cast<int>(colors.foreground),
                          static_cast<int>(colors.background), static_cast<int>(colors.foreground));
#endif
  }
  /// Whether the row keeps 24-bit colours, which then go with every character written.
  bool painted() const noexcept {
    return rowColors_ != nullptr;
  }
  void setAttribute(CellAttribute attribute) noexcept {
    attribute_ = attribute;
#if defined(__SSE2__)
    attributes_ = _mm_set1_epi8(static_cast<char>(attribute));
#endif
  }

  /// Gives the next `count` (at most kChunk) cells from the cursor on the colours set, where
  /// the row keeps colours; before `putChunk` of the same count.
  void paintChunk(unsigned count) noexcept {
    if (rowColors_ == nullptr) return;
    CellColors* const out = rowColors_ + column_;
    if (column_ + count < length_) {
      // Within what the row holds: the colours after the run stay.
      std::fill_n(out, count, colors_);
      return;
    }
    // Past the row's end all kChunk are written, without a branch on the count; those
    // after the run lie past the length, where nothing reads them before they are written.
#if defined(__SSE2__)
    if (column_ + kChunk <= colorCells_) {
      for (unsigned pair = 0; pair < kChunk / 2; ++pair)
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 2 * pair), pair_);
      return;
    }
#endif
    // Near the end of the row's colours, which have no slack after them, those past it go
    // to the last cell instead, which lies within the run or past it (a loop of the run's
    // length cost 2% of 24-bit art).
    if (count == 0) return;
    const std::uint32_t last = colorCells_ - 1;
    for (unsigned cell = 0; cell < kChunk; ++cell)
      rowColors_[std::min(column_ + cell, last)] = colors_;
  }

  /// Writes the first `count` (at most kChunk) of the kChunk bytes at `at` as characters,
  /// whatever their bytes; the reader knows where its run ends. Needs `chunkFits(count)` and
  /// kChunk bytes at `at`.
  void putChunk(const std::uint8_t* at, unsigned count) noexcept {
#if defined(__SSE2__)
    const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(at));
    // Eight cells at a time are stored; those from `count` on keep their old values.
    const __m128i attributes = attributes_;
    const __m128i counts = _mm_set1_epi16(static_cast<short>(count));
    const __m128i low = _mm_cmpgt_epi16(counts, _mm_setr_epi16(0, 1, 2, 3, 4, 5, 6, 7));
    ScreenCell* const out = cells_ + column_;
    const __m128i oldLow = _mm_loadu_si128(reinterpret_cast<const __m128i*>(out));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out),
                     _mm_or_si128(_mm_and_si128(low, _mm_unpacklo_epi8(attributes, bytes)),
                                  _mm_andnot_si128(low, oldLow)));
    // The second eight cells where the row's storage has room for them; where it has not,
    // the lane, and so the run, ends within the first eight.
    if (storage_ - column_ >= kChunk) {
      const __m128i high = _mm_cmpgt_epi16(counts, _mm_setr_epi16(8, 9, 10, 11, 12, 13, 14, 15));
      const __m128i oldHigh = _mm_loadu_si128(reinterpret_cast<const __m128i*>(out + 8));
      _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 8),
                       _mm_or_si128(_mm_and_si128(high, _mm_unpackhi_epi8(attributes, bytes)),
                                    _mm_andnot_si128(high, oldHigh)));
    }
#else
    for (unsigned i = 0; i < count; ++i)
      cells_[column_ + i] = static_cast<ScreenCell>((at[i] << 8) | attribute_);
#endif
    column_ += count;
    length_ = std::max(length_, column_);
  }

  /// Writes the character at `at`, whatever its byte, and those after it up to the first
  /// byte below 0x20, `end` or the end of the lane; returns where it stopped. Needs
  /// `!full()` and `at != end`.
  const std::uint8_t* putRun(const std::uint8_t* at, const std::uint8_t* end) noexcept {
    const std::uint32_t room = stop_ - column_;
    const std::uint8_t* const limit = static_cast<std::size_t>(end - at) < room ? end : at + room;
    ScreenCell* const out = cells_ + column_;
    *out = static_cast<ScreenCell>((*at << 8) | attribute_);
    const std::uint8_t* const done = copyPrintable(at + 1, limit, end, out + 1, attribute_);
    if (rowColors_ != nullptr)
      std::fill_n(rowColors_ + column_, static_cast<std::size_t>(done - at), colors_);
    column_ += static_cast<std::uint32_t>(done - at);
    length_ = std::max(length_, column_);
    return done;
  }

  /// Moves the cursor `columns` to the right (left when negative), stopping at the row's
  /// first and last column as the screen does; false, with nothing done, when the cursor
  /// waits at the margin or the column lies past the row's storage.
  bool moveColumns(std::int32_t columns) noexcept {
    if (column_ == width_) return false;
    const auto to = static_cast<std::uint32_t>(
        std::clamp<std::int64_t>(std::int64_t{column_} + columns, 0, std::int64_t{width_} - 1));
    if (to > stop_) return false;
    if (to > length_) {
      // Cells past the length are blank whatever they hold; a later run may start beyond
      // it, so the gap is made blank now. Usually a few cells: eight at once, which the
      // row's slack holds.
      if (to - length_ <= 8) {
        constexpr std::array<ScreenCell, 8> kBlanks{kBlankCell, kBlankCell, kBlankCell, kBlankCell,
                                                    kBlankCell, kBlankCell, kBlankCell, kBlankCell};
        std::memcpy(cells_ + length_, kBlanks.data(), sizeof kBlanks);
      } else {
        std::fill(cells_ + length_, cells_ + to, kBlankCell);
      }
      if (rowColors_ != nullptr) std::fill(rowColors_ + length_, rowColors_ + to, CellColors{});
    }
    column_ = to;
    return true;
  }
  void returnCarriage() noexcept {
    column_ = 0;
  }

 private:
  friend class VirtualScreen;

  ScreenCell* cells_ = nullptr;
  /// The row's 24-bit colours, where it keeps them and the lane was opened with colours.
  CellColors* rowColors_ = nullptr;
  CellColors colors_;
  std::uint32_t column_ = 0;
  /// The row's length: the cells from it on are blank, whatever they hold.
  std::uint32_t length_ = 0;
  /// The end of the lane: the margin, or the end of the row's storage when that comes first.
  std::uint32_t stop_ = 0;
  std::uint32_t width_ = 0;
  /// The row's cells with the slack after them.
  std::uint32_t storage_ = 0;
  /// The cells that the row's colours have room for.
  std::uint32_t colorCells_ = 0;
  ScreenCell attribute_ = 0;
#if defined(__SSE2__)
  // The attribute in every byte, made when it changes rather than per chunk (2% of ANSI
  // art).
  __m128i attributes_{};
  // `colors_` twice, for two cells at a time.
  __m128i pair_{};
#endif
};

// Inline, so that the lane of a caller stays in registers instead of memory that the
// calls could change.
inline VirtualScreen::Row* VirtualScreen::laneRowFor(std::uint8_t next) {
  if (Row* stored = rowSlot(row_)) return stored;
  // The first run of a new row: the row is made here as writing the run would make it, so
  // that the run goes through the lane rather than the screen's general way.
  if (isControl(next) || column_ >= width_ ||
      (next == cellCharacter(kBlankCell) && spacesAreBlank()))
    return nullptr;
  usedRows_ = std::max(usedRows_, row_ + 1);
  return &extendRow(row_, column_, column_ + 1);
}

inline bool VirtualScreen::openLane(TextLane& lane, std::uint8_t next) {
  // Without 24-bit colours the lane writes only cells.
  if (penColors_ != CellColors{} || cellColors_ != CellColors{}) return false;
  Row* stored = laneRowFor(next);
  if (stored == nullptr || stored->colors != nullptr) return false;
  return openLaneIn(*stored, lane);
}

inline bool VirtualScreen::openColorLane(TextLane& lane, std::uint8_t next) {
  Row* stored = laneRowFor(next);
  if (stored == nullptr || stored->narrowings != narrowingCount_) return false;
  if (cellColors_ != CellColors{} && stored->colors == nullptr) rowColorsMade(*stored);
  lane.rowColors_ = stored->colors;
  lane.setColors(cellColors_);
  return openLaneIn(*stored, lane);
}

inline bool VirtualScreen::openLaneIn(Row& row, TextLane& lane) noexcept {
  Row* const stored = &row;
  if (stored->narrowings != narrowingCount_) return false;
  lane.cells_ = stored->cells;
  lane.column_ = std::min(column_, stored->length);
  lane.length_ = stored->length;
  lane.stop_ = std::min(width_, stored->capacity);
  lane.width_ = width_;
  static_assert(kRunSlack >= TextLane::kChunk / 2,
                "putChunk stores eight cells up to the capacity");
  lane.storage_ = stored->capacity + kRunSlack;
  lane.colorCells_ = stored->capacity;
  if (column_ > stored->length) {
    // A cursor past the row's end, before the margin: the gap is made blank, as a move
    // there in the lane does. (At the margin a wrap is pending, which the lane leaves to
    // the screen.)
    const auto gap = static_cast<std::int32_t>(column_ - stored->length);
    if (column_ == width_ || !lane.moveColumns(gap)) return false;
  }
  lane.setAttribute(attribute_);
  laneRow_ = stored;
  return true;
}

inline void VirtualScreen::commitLane(const TextLane& lane) noexcept {
  column_ = lane.column_;
  laneRow_->length = lane.length_;
}

}  // namespace vidtwine
