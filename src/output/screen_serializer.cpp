#include "output/screen_serializer.hpp"

#include <algorithm>
#include <array>
#include <memory>
#include <span>

#include "stream/page_buffer.hpp"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace vidtwine {

namespace {

constexpr std::uint16_t kCarriageReturn = 0x000D;
constexpr std::uint16_t kLineFeed = 0x000A;
constexpr std::uint16_t kByteOrderMark = 0xFEFF;
constexpr std::uint16_t kLeftToRightOverride = 0x202D;
constexpr std::uint16_t kPopDirectionalFormatting = 0x202C;
constexpr std::uint8_t kSpace = 0x20;
constexpr std::uint64_t kMaxResult = 2147483647;

/// Collects the characters between events and hands them on in large runs.
class TextRun {
 public:
  static constexpr std::size_t kCapacity = 4096;

  explicit TextRun(TextEventSink& sink) noexcept : sink_(sink) {}

  /// Room for `count` units (at most kCapacity) at the returned place.
  std::uint16_t* reserve(std::size_t count) {
    if (fill_ + count > kCapacity) flush();
    return units_.data() + fill_;
  }
  void commit(const std::uint16_t* end) noexcept {
    fill_ = static_cast<std::size_t>(end - units_.data());
  }
  void put(std::uint16_t unit) {
    std::uint16_t* at = reserve(1);
    *at = unit;
    commit(at + 1);
  }
  void flush() {
    if (fill_ != 0) sink_.text({units_.data(), fill_});
    fill_ = 0;
  }

 private:
  TextEventSink& sink_;
  std::size_t fill_ = 0;
  std::array<std::uint16_t, kCapacity> units_;
};

/// The mapped characters of `cells`, then `padding` more of `blank`.
void putCharacters(TextRun& run, std::span<const ScreenCell> cells, std::uint64_t padding,
                   std::uint16_t blank, const CodepageMapper& mapper) {
  while (!cells.empty()) {
    const std::size_t count = std::min(cells.size(), TextRun::kCapacity);
    std::uint16_t* out = run.reserve(count);
    for (const ScreenCell cell : cells.first(count))
      *out++ = mapper.map(cellCharacter(cell));
    run.commit(out);
    cells = cells.subspan(count);
  }
  while (padding != 0) {
    const auto count =
        static_cast<std::size_t>(std::min<std::uint64_t>(padding, TextRun::kCapacity));
    std::uint16_t* out = run.reserve(count);
    run.commit(std::fill_n(out, count, blank));
    padding -= count;
  }
}

/// The characters of `cells` as runs without a style, in pieces: the writer encodes them
/// from the cells, which costs less than mapping each first (4% of ANSI art without
/// colours).
void putPlainCells(TextRun& run, TextEventSink& sink, std::span<const ScreenCell> cells,
                   const std::array<std::uint16_t, 256>* table) {
  constexpr std::size_t kPiece = 1024;
  if (!cells.empty()) run.flush();
  while (!cells.empty()) {
    const std::size_t count = std::min(cells.size(), kPiece);
    const auto end = static_cast<std::uint32_t>(count);
    sink.attributeRuns({cells.first(count), table}, {&end, 1}, {});
    cells = cells.subspan(count);
  }
}

#if defined(__SSE2__)
/// For each pattern of changes among eight cells (a bit per cell), the cells that change,
/// in order (the rest of the eight are never read), and how many.
struct ChangePlaces {
  std::array<std::uint32_t, 8> offsets;
  std::uint32_t count;
};
constexpr auto kChangePlaces = [] {
  std::array<ChangePlaces, 256> places{};
  for (unsigned pattern = 0; pattern < 256; ++pattern) {
    for (unsigned cell = 0; cell < 8; ++cell) {
      if ((pattern >> cell & 1u) != 0) places[pattern].offsets[places[pattern].count++] = cell;
    }
  }
  return places;
}();

/// Stores the places of the changes among the eight cells from `at` on, a bit each in
/// `pattern`, at `starts`, which has room for eight; how many there are.
inline std::size_t putChangePlaces(std::uint32_t* starts, std::size_t at,
                                   unsigned pattern) noexcept {
  const ChangePlaces& places = kChangePlaces[pattern];
  const __m128i base = _mm_set1_epi32(static_cast<int>(at));
  const auto* offsets = reinterpret_cast<const __m128i*>(places.offsets.data());
  _mm_storeu_si128(reinterpret_cast<__m128i*>(starts),
                   _mm_add_epi32(base, _mm_loadu_si128(offsets)));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(starts + 4),
                   _mm_add_epi32(base, _mm_loadu_si128(offsets + 1)));
  return places.count;
}

/// A bit for each of the eight cells at `cells` whose attribute equals that of the cell
/// before it (`before` for the first; 0x100 equals none).
inline unsigned sameAttributes(const ScreenCell* cells, unsigned before) noexcept {
  const __m128i attributes =
      _mm_and_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(cells)), _mm_set1_epi16(0xFF));
  const __m128i same = _mm_cmpeq_epi16(
      attributes,
      _mm_or_si128(_mm_slli_si128(attributes, 2), _mm_cvtsi32_si128(static_cast<int>(before))));
  return static_cast<unsigned>(_mm_movemask_epi8(_mm_packs_epi16(same, same))) & 0xFF;
}
#endif

/// Where a piece of a row is gathered for `attributeRuns` and `styledRuns`. Made once per
/// screen, not per row: constructing its styles alone writes 12 KiB.
struct RowPieces {
  static constexpr std::size_t kCells = 1024;
  std::array<std::uint32_t, kCells + 1> starts;
  std::array<CellAttribute, kCells> attributes;
  std::array<CellStyle, kCells> styles;
};

/// The cells of a row with a style event wherever the style changes; the first cell always
/// gets one. The cells after the stored ones are blank on gray.
void putStyledRow(TextRun& run, TextEventSink& sink, RowPieces& pieces,
                  std::span<const ScreenCell> cells, std::span<const CellColors> colors,
                  std::uint64_t padding, const CodepageMapper& mapper) {
  auto& [starts, attributes, styles] = pieces;
  const std::array<std::uint16_t, 256>* const table = &mapper.table();
  constexpr std::size_t kPiece = RowPieces::kCells;
  CellStyle current;
  bool first = true;
  const auto change = [&](const CellStyle& style) {
    if (!first && style == current) return;
    run.flush();
    sink.style(style);
    current = style;
    first = false;
  };
  if (colors.empty()) {
    // Most rows: only the attribute can change. The places where it changes are collected
    // without a branch per cell (colour changes come at random in art, and such a branch
    // would be mispredicted often); then the cells go out with their runs, mapped by the
    // writer.
    run.flush();
    unsigned previous = first ? 0x100 : current.attribute;
    while (!cells.empty()) {
      const std::size_t count = std::min(cells.size(), kPiece);
      std::size_t changes = 0;
      std::size_t i = 0;
#if defined(__SSE2__)
      // Eight cells at a time: their attributes are compared with those of the cells
      // before them at once, and the places of the changes are stored from a table by
      // the pattern of changes (6% of the time of binary text).
      for (; i + 8 <= count; i += 8) {
        const unsigned same = sameAttributes(cells.data() + i, previous);
        changes += putChangePlaces(starts.data() + changes, i, ~same & 0xFF);
        previous = cellAttribute(cells[i + 7]);
      }
      for (std::size_t r = 0; r < changes; ++r)
        attributes[r] = cellAttribute(cells[starts[r]]);
#endif
      for (; i < count; ++i) {
        const unsigned attribute = cellAttribute(cells[i]);
        starts[changes] = static_cast<std::uint32_t>(i);
        attributes[changes] = static_cast<CellAttribute>(attribute);
        changes += attribute != previous ? 1 : 0;
        previous = attribute;
      }
      starts[changes] = static_cast<std::uint32_t>(count);
      // Cells before the first change continue the style of the piece before.
      sink.attributeRuns({cells.first(count), table}, {starts.data(), changes + 1},
                         {attributes.data(), changes});
      if (changes != 0) current = {attributes[changes - 1], {}};
      first = first && changes == 0;
      cells = cells.subspan(count);
    }
  } else {
    // Rows with 24-bit colours: the same in pieces, again without a branch per cell; each
    // run's whole style is looked up once its start is known.
    run.flush();
    // An attribute outside the byte range differs from every cell's.
    std::uint32_t attributeBefore = first ? 0x100 : current.attribute;
    CellColors colorsBefore = current.colors;
    while (!cells.empty()) {
      const std::size_t count = std::min(cells.size(), kPiece);
      std::size_t runs = 0;
      // (The structured binding `starts` cannot be captured by every compiler.)
      const auto step = [&](std::size_t i) {
        const std::uint32_t attribute = cellAttribute(cells[i]);
        const CellColors cellColors = colors[i];
        pieces.starts[runs] = static_cast<std::uint32_t>(i);
        const std::uint32_t differs = (attribute ^ attributeBefore) |
                                      (cellColors.foreground ^ colorsBefore.foreground) |
                                      (cellColors.background ^ colorsBefore.background);
        runs += differs != 0 ? 1 : 0;
        attributeBefore = attribute;
        colorsBefore = cellColors;
      };
      std::size_t i = 0;
#if defined(__SSE2__)
      // Eight cells at a time from the second on, each compared with the one before it in
      // memory (2% of the time of 24-bit art).
      if (count >= 9) {
        step(0);
        for (i = 1; i + 8 <= count; i += 8) {
          unsigned sameColors = 0;
          for (unsigned pair = 0; pair < 4; ++pair) {
            const CellColors* const at = colors.data() + i + 2 * pair;
            const __m128i equal =
                _mm_cmpeq_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(at)),
                                _mm_loadu_si128(reinterpret_cast<const __m128i*>(at - 1)));
            // Both colours of a cell: the two 32-bit halves of its 64 bits.
            const __m128i both = _mm_and_si128(equal, _mm_shuffle_epi32(equal, 0xB1));
            sameColors |= static_cast<unsigned>(_mm_movemask_pd(_mm_castsi128_pd(both)))
                          << (2 * pair);
          }
          const unsigned same = sameAttributes(cells.data() + i, cellAttribute(cells[i - 1]));
          runs += putChangePlaces(starts.data() + runs, i, ~(same & sameColors) & 0xFF);
        }
        attributeBefore = cellAttribute(cells[i - 1]);
        colorsBefore = colors[i - 1];
      }
#endif
      for (; i < count; ++i)
        step(i);
      starts[runs] = static_cast<std::uint32_t>(count);
      for (std::size_t r = 0; r < runs; ++r)
        styles[r] = {cellAttribute(cells[starts[r]]), colors[starts[r]]};
      sink.styledRuns({cells.first(count), table}, {starts.data(), runs + 1},
                      {styles.data(), runs});
      if (runs != 0) current = styles[runs - 1];
      first = first && runs == 0;
      cells = cells.subspan(count);
      colors = colors.subspan(count);
    }
  }
  if (padding != 0) {
    change({cellAttribute(kBlankCell), {}});
    putCharacters(run, {}, padding, mapper.map(cellCharacter(kBlankCell)), mapper);
  }
}

bool isTrimmable(ScreenCell cell, CellColors colors) noexcept {
  return cellCharacter(cell) == kSpace && cellAttribute(cell) <= 0x0F &&
         colors.background == kNoTrueColor;
}

/// The stored cells of a row that are written: all of them, or with trimming, all up to
/// the last one that is not a blank on black (without blink).
std::size_t writtenLength(std::span<const ScreenCell> cells, std::span<const CellColors> colors,
                          bool trim) noexcept {
  std::size_t length = cells.size();
  if (!trim) return length;
  while (length > 0 &&
         isTrimmable(cells[length - 1], colors.empty() ? CellColors{} : colors[length - 1])) {
    --length;
  }
  return length;
}

/// How many rows ahead of the one written cells are fetched where the processor would not.
constexpr std::uint64_t kRowsAhead = 2;

/// Asks the processor to fetch `cells` into its cache.
void prefetch(std::span<const ScreenCell> cells) noexcept {
  const auto* const bytes = reinterpret_cast<const char*>(cells.data());
  for (std::size_t at = 0; at < cells.size_bytes(); at += 64)
    __builtin_prefetch(bytes + at);
}

bool isPlain(ScreenCell cell) noexcept {
  return cellAttribute(cell) == kDefaultAttribute;
}

}  // namespace

std::int32_t serialize(const VirtualScreen& screen, TextEventSink& sink,
                       const CodepageMapper& mapper, SerializeFlags flags) {
  const std::uint64_t usedRows = screen.usedRows();
  if (usedRows == 0) return 0;
  const bool trim = flags.has(SerializeFlag::TrimBlanks);

  bool styled = false;
  for (std::uint64_t row = 0; row < usedRows && !styled && !flags.has(SerializeFlag::NoStyles);
       ++row) {
    const std::span<const ScreenCell> cells = screen.rowCells(row);
    const std::span<const CellColors> colors = screen.rowColors(row);
    const std::size_t length = writtenLength(cells, colors, trim);
    const auto written = cells.first(length);
    const auto writtenColors = colors.empty() ? colors : colors.first(length);
    styled = !std::all_of(written.begin(), written.end(), isPlain) ||
             std::any_of(writtenColors.begin(), writtenColors.end(),
                         [](CellColors c) { return c != CellColors{}; });
  }

  sink.begin(styled);
  TextRun run(sink);
  std::unique_ptr<RowPieces> pieces;
  // Its pages are taken at once: constructing it writes all of them (four faults).
  if (styled) pieces = makePrefaulted<RowPieces>();
  if (flags.has(SerializeFlag::Bom)) run.put(kByteOrderMark);
  if (flags.has(SerializeFlag::LtrOverride)) run.put(kLeftToRightOverride);
  const std::uint16_t blank = mapper.map(cellCharacter(kBlankCell));
  for (std::uint64_t row = 0; row < usedRows; ++row) {
    const std::span<const ScreenCell> stored = screen.rowCells(row);
    const std::span<const CellColors> storedColors = screen.rowColors(row);
    const std::size_t length = writtenLength(stored, storedColors, trim);
    // Blank cells after the stored ones are written out unless trimming drops them.
    const std::uint64_t padding = trim ? 0 : screen.width() - stored.size();
    if (styled) {
      putStyledRow(run, sink, *pieces, stored.first(length),
                   storedColors.empty() ? storedColors : storedColors.first(length), padding,
                   mapper);
      run.flush();
      sink.endRow();
    } else {
      // Rows with 24-bit colours lie apart, their colours between them, which are not read
      // here: the processor does not fetch the next rows' cells ahead by itself (11% of
      // 24-bit art with -C).
      if (!storedColors.empty() && row + kRowsAhead < usedRows)
        prefetch(screen.rowCells(row + kRowsAhead));
      putPlainCells(run, sink, stored.first(length), &mapper.table());
      putCharacters(run, {}, padding, blank, mapper);
    }
    if (flags.has(SerializeFlag::Crlf)) run.put(kCarriageReturn);
    run.put(kLineFeed);
  }
  if (flags.has(SerializeFlag::LtrOverride)) run.put(kPopDirectionalFormatting);
  run.flush();

  if (sink.failed()) return -1;
  return static_cast<std::int32_t>(std::min(usedRows, kMaxResult));
}

}  // namespace vidtwine
