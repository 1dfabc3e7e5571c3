#include "screen/screen_serializer.hpp"

#include <algorithm>
#include <array>
#include <span>
#include <vector>

#include "stream/char_stream.hpp"

namespace vidtwine {

namespace {

constexpr std::uint16_t kCarriageReturn = 0x000D;
constexpr std::uint16_t kLineFeed = 0x000A;
constexpr std::uint8_t kSpace = 0x20;
constexpr std::uint64_t kMaxResult = 2147483647;

/// Collects units and hands them to the output in large writes.
class UnitSink {
 public:
  /// Most units `reserve` may be asked for.
  static constexpr std::size_t kCapacity = 8192;

  explicit UnitSink(Stream& output) noexcept : output_(output) {}

  /// Room for `count` units (at most kCapacity) at `end()`, handing on what is held first
  /// when there is not enough.
  std::uint16_t* reserve(std::size_t count) {
    if (fill_ + count > kCapacity) flush();
    return units_.data() + fill_;
  }
  /// The units up to `end` have been filled in.
  void commit(const std::uint16_t* end) noexcept {
    fill_ = static_cast<std::size_t>(end - units_.data());
  }

  void put(std::uint16_t unit) {
    std::uint16_t* at = reserve(1);
    *at = unit;
    commit(at + 1);
  }

  // Failed writes are not examined here: they show in the output's final status.
  void flush() {
    if (fill_ != 0) output_.write(units_.data(), fill_ * sizeof(std::uint16_t));
    fill_ = 0;
  }

 private:
  Stream& output_;
  std::size_t fill_ = 0;
  std::array<std::uint16_t, kCapacity> units_;
};

/// Writes the mapped characters of `cells`, each preceded by a marker where the attribute
/// differs from the one before (the first one: from `current`).
void putCells(UnitSink& sink, std::span<const ScreenCell> cells, unsigned current,
              const CodepageMapper& mapper) {
  // Two units per cell at most; a wide row goes in pieces.
  constexpr std::size_t kPiece = UnitSink::kCapacity / 2;
  while (!cells.empty()) {
    const std::size_t count = std::min(cells.size(), kPiece);
    std::uint16_t* out = sink.reserve(2 * count);
    for (const ScreenCell cell : cells.first(count)) {
      // The marker is always stored and counted only where the attribute changes: colour
      // changes come at random in art, and a branch on them would be mispredicted often.
      const unsigned attribute = cellAttribute(cell);
      *out = static_cast<std::uint16_t>(charstream::AttributeMarker | attribute);
      out += attribute != current ? 1 : 0;
      *out++ = mapper.map(cellCharacter(cell));
      current = attribute;
    }
    sink.commit(out);
    cells = cells.subspan(count);
  }
}

/// Writes the mapped characters of `cells`.
void putCharacters(UnitSink& sink, std::span<const ScreenCell> cells,
                   const CodepageMapper& mapper) {
  while (!cells.empty()) {
    const std::size_t count = std::min(cells.size(), UnitSink::kCapacity);
    std::uint16_t* out = sink.reserve(count);
    for (const ScreenCell cell : cells.first(count))
      *out++ = mapper.map(cellCharacter(cell));
    sink.commit(out);
    cells = cells.subspan(count);
  }
}

/// The cells of a row that are written: all of them, or with trimming, all up to the
/// last one that is not a blank on black (without blink).
std::size_t writtenLength(std::span<const ScreenCell> cells, bool trim) noexcept {
  std::size_t length = cells.size();
  if (!trim) return length;
  while (length > 0 && cellCharacter(cells[length - 1]) == kSpace &&
         cellAttribute(cells[length - 1]) <= 0x0F) {
    --length;
  }
  return length;
}

}  // namespace

std::int32_t serialize(VirtualScreen& screen, Stream& output, const CodepageMapper& mapper,
                       SerializeFlags flags) {
  const std::uint64_t usedRows = screen.usedRows();
  if (usedRows == 0) return 0;
  const bool trim = flags.has(SerializeFlag::TrimBlanks);

  // Rows without storage are blank on the default attribute: they never call for markers,
  // and under trimming they are empty.
  std::vector<ScreenCell> blankRow;
  const auto cellsOf = [&](std::uint64_t row) -> std::span<const ScreenCell> {
    std::span<const ScreenCell> cells = screen.rowCells(row);
    if (!cells.empty() || trim) return cells;
    if (blankRow.empty()) blankRow.assign(screen.width(), kBlankCell);
    return blankRow;
  };

  bool markers = false;
  for (std::uint64_t row = 0; row < usedRows && !markers; ++row) {
    const std::span<const ScreenCell> cells = screen.rowCells(row);
    const auto written = cells.first(writtenLength(cells, trim));
    markers = std::any_of(written.begin(), written.end(),
                          [](ScreenCell cell) { return cellAttribute(cell) != kDefaultAttribute; });
  }

  UnitSink sink(output);
  if (flags.has(SerializeFlag::Bom)) sink.put(charstream::ByteOrderMark);
  if (flags.has(SerializeFlag::LtrOverride)) sink.put(charstream::LeftToRightOverride);
  for (std::uint64_t row = 0; row < usedRows; ++row) {
    const std::span<const ScreenCell> cells = cellsOf(row);
    const auto written = cells.first(writtenLength(cells, trim));
    if (markers) {
      // No attribute is current at the start of a row; 0x100 matches none.
      putCells(sink, written, 0x100, mapper);
      sink.put(charstream::AttributeReset);
    } else {
      putCharacters(sink, written, mapper);
    }
    if (flags.has(SerializeFlag::Crlf)) sink.put(kCarriageReturn);
    sink.put(kLineFeed);
  }
  if (flags.has(SerializeFlag::LtrOverride)) sink.put(charstream::PopDirectionalFormatting);
  sink.flush();

  if (output.status() != StreamStatus::Ok) return -1;
  return static_cast<std::int32_t>(std::min(usedRows, kMaxResult));
}

}  // namespace vidtwine
