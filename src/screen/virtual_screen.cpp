#include "screen/virtual_screen.hpp"

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstring>
#include <new>
#include <type_traits>

#include "screen/text_lane.hpp"

namespace vidtwine {

namespace {

constexpr std::uint8_t kSpace = 0x20;

/// A count of cells or rows as a signed distance; no screen is that large.
constexpr std::int32_t distance(std::uint32_t n) noexcept {
  return static_cast<std::int32_t>(std::min<std::uint32_t>(n, INT32_MAX));
}

}  // namespace

// The sizes of a row's blocks for a capacity.
std::size_t VirtualScreen::cellBytes(std::uint32_t capacity) noexcept {
  return (std::size_t{capacity} + kRunSlack) * sizeof(ScreenCell);
}
std::size_t VirtualScreen::colorBytes(std::uint32_t capacity) noexcept {
  return std::size_t{capacity} * sizeof(CellColors);
}

namespace {

/// The first byte below 0x20 from `next` on, or `limit`.
const std::uint8_t* findControl(const std::uint8_t* next, const std::uint8_t* limit) noexcept {
  if constexpr (std::endian::native == std::endian::little) {
    // Eight bytes at a time: where the run ends is found by arithmetic, not by a
    // comparison per byte, which would end in a mispredicted branch at every one of the
    // short runs between the sequences of coloured art.
    constexpr std::uint64_t kOnes = 0x0101010101010101;
    while (limit - next >= 8) {
      std::uint64_t bytes;
      std::memcpy(&bytes, next, sizeof bytes);
      // The high bit of each byte below 0x20 (and maybe of bytes after it, which do not
      // matter); bytes from 0x80 up are not below.
      const std::uint64_t below = (bytes - 0x20 * kOnes) & ~bytes & 0x80 * kOnes;
      if (below != 0) return next + std::countr_zero(below) / 8;
      next += 8;
    }
  }
  while (next != limit && *next >= kSpace)
    ++next;
  return next;
}

/// Writes the cells of the `count` bytes from `next` to `out`, which has room for eight
/// cells more. Eight at a time: a loop per cell would end in a mispredicted branch at each
/// of the short runs between the sequences of coloured art. The cells after the run keep
/// their values.
void copyRun(const std::uint8_t* next, const std::uint8_t* end, std::uint32_t count,
             ScreenCell* out, ScreenCell attribute) noexcept {
  if constexpr (std::endian::native == std::endian::little) {
    const std::uint64_t attributes = attribute * 0x0001000100010001;
    for (;;) {
      if (end - next < 8) break;
      std::uint64_t bytes;
      std::memcpy(&bytes, next, sizeof bytes);
      const auto cells = cellsOf(bytes, attributes);
      const std::array<std::uint64_t, 2>& mask = kFirstCells[std::min<std::uint32_t>(count, 8)];
      std::uint64_t old[2];
      std::memcpy(old, out, sizeof old);
      old[0] = (old[0] & ~mask[0]) | (cells[0] & mask[0]);
      old[1] = (old[1] & ~mask[1]) | (cells[1] & mask[1]);
      std::memcpy(out, old, sizeof old);
      if (count <= 8) return;
      next += 8;
      out += 8;
      count -= 8;
    }
  }
  for (std::uint32_t i = 0; i < count; ++i)
    out[i] = static_cast<ScreenCell>((next[i] << 8) | attribute);
}

}  // namespace

VirtualScreen::VirtualScreen(std::uint32_t width, std::uint8_t height, std::uint8_t tabWidth,
                             std::span<std::byte> firstRows) noexcept
    : arena_(firstRows), width_(width), height_(height), tabWidth_(tabWidth) {}

std::unique_ptr<VirtualScreen> VirtualScreen::create(std::int32_t width, std::int32_t height,
                                                     std::int32_t tabWidth,
                                                     std::span<std::byte> firstRows) {
  if (width < 1 || height < 1 || height > 255 || tabWidth < 1 || tabWidth > 255 ||
      tabWidth > width) {
    return nullptr;
  }
  return std::unique_ptr<VirtualScreen>(
      new VirtualScreen(static_cast<std::uint32_t>(width), static_cast<std::uint8_t>(height),
                        static_cast<std::uint8_t>(tabWidth), firstRows));
}

// ---- writing ----------------------------------------------------------------------------

void VirtualScreen::putChar(std::uint8_t byte) {
  if (isControl(byte)) {
    putControl(byte);
  } else if (wrapIfPending()) {
    writeCell(static_cast<ScreenCell>((byte << 8) | attribute_));
  }
}

void VirtualScreen::putText(std::span<const std::uint8_t> bytes) {
  while (!bytes.empty()) {
    const std::size_t taken = putTextUntilEscape(bytes);
    // ESC has no effect on the screen.
    bytes = bytes.subspan(taken == bytes.size() ? taken : taken + 1);
  }
}

const std::uint8_t* VirtualScreen::writeRun(const std::uint8_t* next, const std::uint8_t* end) {
  // Bytes below 0x20 end the run: most of them act instead of being written, and the few
  // that are written come through here again as runs of their own.
  const auto room = static_cast<std::size_t>(width_ - column_);
  const std::uint8_t* const limit = static_cast<std::size_t>(end - next) < room ? end : next + room;
  Row* stored = rowSlot(row_);
  // Most runs of art go to a row that was cut already, reaches the cursor and has room
  // for the whole run: written here in few steps, the rest out of line (2 to 4% of the time
  // of ANSI art, for registers the general case saved and restored).
  if (stored == nullptr || column_ > stored->length || stored->narrowings != narrowingCount_ ||
      static_cast<std::size_t>(limit - next) > stored->capacity - column_) {
    return writeRunAnywhere(next, end, limit, stored);
  }
  // Everything the run needs is read before its cells are written: stores of whole cells
  // may change any member as far as the compiler knows, which would be read again after
  // them, and the processor would wait for the stores (2% of the synthetic ANSI art).
  const auto attribute = static_cast<ScreenCell>(attribute_);
  const std::uint32_t begin = column_;
  const std::uint32_t length = stored->length;
  const bool colored = stored->colors != nullptr || cellColors_ != CellColors{};
  // Without a branch: in art that moves up and down, whether a run opens a new row is a
  // matter of chance (1.6% of the synthetic ANSI art).
  usedRows_ = std::max(usedRows_, row_ + 1);
  ScreenCell* out = stored->cells + begin;
  // The first byte is a character even below 0x20: the caller said so.
  *out = static_cast<ScreenCell>((*next << 8) | attribute);
  const std::uint8_t* const done = copyPrintable(next + 1, limit, end, out + 1, attribute);
  const std::uint32_t column = begin + static_cast<std::uint32_t>(done - next);
  column_ = column;
  stored->length = std::max(length, column);
  if (colored) paintColors(*stored, begin, column);
  return done;
}

const std::uint8_t* VirtualScreen::writeRunAnywhere(const std::uint8_t* next,
                                                    const std::uint8_t* end,
                                                    const std::uint8_t* limit, Row* stored) {
  const auto attribute = static_cast<ScreenCell>(attribute_);
  if (row_ >= usedRows_) usedRows_ = row_ + 1;
  // A row that was cut already and reaches the cursor but has too little room: the run's
  // end is found while it is copied, in one pass, the row growing on the way; 24-bit
  // colours are painted after.
  if (stored != nullptr && column_ <= stored->length && stored->narrowings == narrowingCount_) {
    const std::uint8_t* at = next;
    std::uint32_t column = column_;
    for (;;) {
      if (column == stored->capacity) {
        // What this run wrote so far moves along with the row.
        stored->length = std::max(stored->length, column);
        growRow(*stored, column + 1);
      }
      const std::size_t free = stored->capacity - column;
      const std::uint8_t* const stop =
          static_cast<std::size_t>(limit - at) <= free ? limit : at + free;
      ScreenCell* out = stored->cells + column;
      // The first byte is a character even below 0x20: the caller said so.
      *out = static_cast<ScreenCell>((*at << 8) | attribute);
      const std::uint8_t* const done = copyPrintable(at + 1, stop, end, out + 1, attribute);
      column += static_cast<std::uint32_t>(done - at);
      at = done;
      // Room ran out in the middle of the run: on with more room, unless it ends here.
      if (at != stop || stop == limit || *at < kSpace) break;
    }
    stored->length = std::max(stored->length, column);
    if (stored->colors != nullptr || cellColors_ != CellColors{})
      paintColors(*stored, column_, column);
    column_ = column;
    return at;
  }
  const std::uint8_t* const stop = findControl(next + 1, limit);
  const auto count = static_cast<std::uint32_t>(stop - next);
  // A row without storage stays without it as long as only blanks are written to it.
  const bool blanks = spacesAreBlank() && stored == nullptr &&
                      std::all_of(next, stop, [](std::uint8_t b) { return b == kSpace; });
  if (!blanks) {
    Row& row = extendRow(row_, column_, column_ + count);
    paintColors(row, column_, column_ + count);
    copyRun(next, end, count, row.cells + column_, attribute);
  }
  column_ += count;
  return stop;
}

void VirtualScreen::putRow(std::uint64_t row, std::uint32_t column,
                           std::span<const ScreenCell> cells, std::span<const CellColors> colors) {
  if (column >= width_ || cells.empty()) return;
  const auto count =
      static_cast<std::uint32_t>(std::min<std::size_t>(cells.size(), width_ - column));
  // Looked at before any storage is made: a row of only blanks costs nothing, not even a
  // block of row slots.
  if (colors.empty() && findRow(row) == nullptr &&
      std::all_of(cells.begin(), cells.begin() + count, isBlank)) {
    if (row >= usedRows_) usedRows_ = row + 1;
    return;
  }
  const RowRoom room = rowRoom(row, column, count);
  std::copy_n(cells.data(), count, room.cells.data());
  if (!colors.empty()) {
    std::copy_n(colors.data(), std::min<std::size_t>(count, colors.size()),
                rowColorsMade(*room.stored) + column);
  }
}

VirtualScreen::RowRoom VirtualScreen::rowRoom(std::uint64_t row, std::uint32_t column,
                                              std::uint32_t count) {
  if (column >= width_ || count == 0) return {};
  count = std::min(count, width_ - column);
  if (row >= usedRows_) usedRows_ = row + 1;
  const bool fresh = findRow(row) == nullptr;
  Row& stored = extendRow(row, column, column + count);
  if (stored.colors != nullptr) std::fill_n(stored.colors + column, count, CellColors{});
  return {{stored.cells + column, count}, &stored, fresh};
}

void VirtualScreen::writeCell(ScreenCell value) {
  const Row* stored = findRow(row_);
  // Blanks after the stored cells are there already.
  if (value != kBlankCell || cellColors_ != CellColors{} ||
      (stored != nullptr && column_ < lengthNow(*stored))) {
    Row& row = extendRow(row_, column_, column_ + 1);
    row.cells[column_] = value;
    paintColors(row, column_, column_ + 1);
  }
  ++column_;
  if (row_ >= usedRows_) usedRows_ = row_ + 1;
}

void VirtualScreen::putControl(std::uint8_t byte) {
  switch (byte) {
    case 0x08:
      // Backspace performs a pending wrap even with wrapping off.
      if (column_ == width_) {
        column_ = 0;
        lineFeed();
      }
      if (column_ > 0) --column_;
      break;
    case 0x09:
      tab();
      break;
    case 0x0A:
      lineFeed();
      if (lineFeedReturns_) column_ = 0;
      break;
    case 0x0D:
      column_ = 0;
      break;
    default:  // NUL, BEL, ESC
      break;
  }
}

void VirtualScreen::tab() {
  // A tab width beyond the width (after narrowing the screen) would never be reached;
  // the margin is the stop then.
  const std::uint32_t stop = std::min<std::uint32_t>(tabWidth_, width_);
  const auto space = static_cast<ScreenCell>((kSpace << 8) | attribute_);
  do {
    if (!wrapIfPending()) return;
    writeCell(space);
  } while (column_ % stop != 0);
}

// ---- row storage ------------------------------------------------------------------------

std::uint32_t VirtualScreen::lengthNow(const Row& row) const noexcept {
  if (row.narrowings == narrowingCount_) return row.length;
  // The narrowest width since the row was last cut.
  const auto later = std::upper_bound(
      narrowings_.begin(), narrowings_.end(), row.narrowings,
      [](std::uint64_t count, const Narrowing& narrowing) { return count < narrowing.count; });
  return later == narrowings_.end() ? row.length : std::min(row.length, later->width);
}

const VirtualScreen::Row* VirtualScreen::findRow(std::uint64_t row) const noexcept {
  const std::uint64_t block = row >> kBlockBits;
  if (block >= blocks_.size() || !blocks_[block]) return nullptr;
  const Row& stored = (*blocks_[block])[row & kBlockMask];
  return stored.capacity != 0 ? &stored : nullptr;
}

VirtualScreen::Row* VirtualScreen::storedRow(std::uint64_t row) noexcept {
  Row* stored = const_cast<Row*>(findRow(row));
  if (stored != nullptr) {
    stored->length = lengthNow(*stored);
    stored->narrowings = narrowingCount_;
  }
  return stored;
}

void VirtualScreen::growRow(Row& row, std::uint32_t needed) {
  // Rows usually fill from left to right: room for a typical line at once, then doubling,
  // never beyond the width.
  constexpr std::uint32_t kFirstCapacity = 80;
  const std::uint32_t capacity =
      std::min(width_, std::max({needed, row.capacity * 2, kFirstCapacity}));
  // Eight cells more than the capacity, so that runs can be written eight at a time.
  auto* cells = static_cast<ScreenCell*>(arena_.allocate(cellBytes(capacity)));
  if (row.cells != nullptr) std::copy_n(row.cells, row.length, cells);
  // The rest is written eight cells at a time, blending new cells into old ones: the old
  // ones must hold defined values, or checkers of uninitialised memory object.
  std::fill(cells + row.length, cells + capacity + kRunSlack, kBlankCell);
  arena_.release(row.cells, cellBytes(row.capacity));
  row.cells = cells;
  if (row.colors != nullptr) {
    auto* colors = static_cast<CellColors*>(arena_.allocate(colorBytes(capacity)));
    std::copy_n(row.colors, row.length, colors);
    arena_.release(row.colors, colorBytes(row.capacity));
    row.colors = colors;
  }
  row.capacity = capacity;
}

VirtualScreen::Row& VirtualScreen::extendRow(std::uint64_t row, std::uint32_t begin,
                                             std::uint32_t end) {
  Row* found = storedRow(row);
  if (found == nullptr) {
    found = &rowSlotMade(row);
    found->narrowings = narrowingCount_;
  }
  Row& stored = *found;
  if (end > stored.capacity) growRow(stored, end);
  if (begin > stored.length) {
    std::fill(stored.cells + stored.length, stored.cells + begin, kBlankCell);
    if (stored.colors != nullptr)
      std::fill(stored.colors + stored.length, stored.colors + begin, CellColors{});
  }
  stored.length = std::max(stored.length, end);
  return stored;
}

VirtualScreen::Row& VirtualScreen::rowSlotMade(std::uint64_t row) {
  const std::uint64_t index = row >> kBlockBits;
  if (index >= blocks_.size()) blocks_.resize(index + 1);
  // From the arena rather than the heap: its large chunks are fewer new pages.
  static_assert(std::is_trivially_destructible_v<RowBlock>, "blocks are never destroyed");
  if (!blocks_[index]) blocks_[index] = new (arena_.allocate(sizeof(RowBlock))) RowBlock{};
  return (*blocks_[index])[row & kBlockMask];
}

CellColors* VirtualScreen::rowColorsMade(Row& row) {
  if (row.colors == nullptr) {
    row.colors = static_cast<CellColors*>(arena_.allocate(colorBytes(row.capacity)));
    // Every stored cell had none so far.
    std::fill_n(row.colors, row.length, CellColors{});
  }
  return row.colors;
}

void VirtualScreen::dropRow(Row& row) noexcept {
  arena_.release(row.cells, cellBytes(row.capacity));
  arena_.release(row.colors, colorBytes(row.capacity));
  row = Row{};
}

inline void VirtualScreen::paintColors(Row& row, std::uint32_t begin, std::uint32_t end) {
  CellColors* colors = row.colors;
  if (cellColors_ != CellColors{}) {
    colors = rowColorsMade(row);
  } else if (colors == nullptr) {
    return;
  }
  // Eight cells at a time, a loop that most runs of coloured art pass once, where a loop
  // per cell would end in a mispredicted branch at each run. The last eight may reach
  // past `end`: stored cells there get their colours back.
  constexpr std::uint32_t kStep = 8;
  if (end + kStep > row.capacity) {
    std::fill(colors + begin, colors + end, cellColors_);
    return;
  }
  const CellColors value = cellColors_;
  // Colours past a row's length are written before anything reads them: a run that ends
  // the row keeps none (2% of 24-bit art).
  const bool keep = end < row.length;
  std::array<CellColors, kStep> after;
  if (keep) std::memcpy(after.data(), colors + end, sizeof after);
  for (std::uint32_t column = begin; column < end; column += kStep) {
    for (std::uint32_t cell = 0; cell < kStep; ++cell)
      colors[column + cell] = value;
  }
  if (keep) std::memcpy(colors + end, after.data(), sizeof after);
}

// ---- cursor -----------------------------------------------------------------------------

void VirtualScreen::lineFeed() {
  ++row_;
  if (windowRow_ + 1 < height_) ++windowRow_;
}

void VirtualScreen::cursorUp(std::uint32_t n) {
  moveCursorBy(0, -distance(n));
}

void VirtualScreen::cursorDown(std::uint32_t n) {
  moveCursorBy(0, distance(n));
}

void VirtualScreen::cursorRight(std::uint32_t n) {
  moveCursorBy(distance(n), 0);
}

void VirtualScreen::cursorLeft(std::uint32_t n) {
  moveCursorBy(-distance(n), 0);
}

void VirtualScreen::moveTo(std::uint32_t column, std::uint32_t row) {
  column_ = column < width_ ? column : width_ - 1;
  const auto target = static_cast<std::uint8_t>(row < height_ ? row : height_ - 1u);
  row_ = row_ - windowRow_ + target;
  windowRow_ = target;
}

std::pair<std::int32_t, std::int32_t> VirtualScreen::saveCursor() const noexcept {
  if (column_ < width_) return {static_cast<std::int32_t>(column_), windowRow_};
  if (wrapMode_) {
    return {0, windowRow_ + 1 < height_ ? windowRow_ + 1 : windowRow_};
  }
  return {static_cast<std::int32_t>(width_ - 1), windowRow_};
}

// ---- erasing ----------------------------------------------------------------------------

void VirtualScreen::eraseCells(std::uint32_t from, std::uint32_t to) noexcept {
  Row* stored = storedRow(row_);
  if (stored == nullptr || from >= std::min(to, stored->length)) return;
  if (to >= stored->length) {
    // The cells after the stored ones are blank: erasing to the end only shortens the row.
    stored->length = from;
    return;
  }
  std::fill(stored->cells + from, stored->cells + to, kBlankCell);
  if (stored->colors != nullptr)
    std::fill(stored->colors + from, stored->colors + to, CellColors{});
}

void VirtualScreen::eraseRows(std::uint64_t first, std::uint64_t last) noexcept {
  last = std::min<std::uint64_t>(last, blocks_.size() << kBlockBits);
  for (std::uint64_t row = first; row < last; row = (row | kBlockMask) + 1) {
    RowBlock* block = blocks_[row >> kBlockBits];
    if (block == nullptr) continue;
    const std::uint64_t end = std::min(last, (row | kBlockMask) + 1);
    for (std::uint64_t index = row; index < end; ++index)
      dropRow((*block)[index & kBlockMask]);
  }
}

void VirtualScreen::eraseToLineEnd() {
  eraseCells(column_, width_);
}

void VirtualScreen::eraseToLineStart() {
  eraseCells(0, column_);
}

void VirtualScreen::eraseLine() {
  eraseRows(row_, row_ + 1);
}

void VirtualScreen::eraseToScreenEnd() {
  eraseToLineEnd();
  eraseRows(row_ + 1, usedRows_);
}

void VirtualScreen::eraseToScreenStart() {
  eraseToLineStart();
  eraseRows(row_ - windowRow_, row_);
}

void VirtualScreen::eraseScreen() {
  eraseRows(row_ - windowRow_, usedRows_);
}

void VirtualScreen::eraseCharacters(std::uint32_t n) {
  const std::uint32_t from = std::min(column_, width_ - 1);
  eraseCells(from, from + std::min(n, width_ - from));
}

void VirtualScreen::insertCharacters(std::uint32_t n) {
  Row* stored = storedRow(row_);
  const std::uint32_t from = std::min(column_, width_ - 1);
  if (stored == nullptr || from >= stored->length || n == 0) return;
  const std::uint32_t shift = std::min(n, width_ - from);
  const std::uint32_t kept = std::min(stored->length, width_ - shift) - from;
  Row& row = extendRow(row_, from, from + shift + kept);
  std::copy_backward(row.cells + from, row.cells + from + kept, row.cells + from + shift + kept);
  std::fill_n(row.cells + from, shift, kBlankCell);
  if (row.colors != nullptr) {
    std::copy_backward(row.colors + from, row.colors + from + kept,
                       row.colors + from + shift + kept);
    std::fill_n(row.colors + from, shift, CellColors{});
  }
}

void VirtualScreen::deleteCharacters(std::uint32_t n) {
  Row* stored = storedRow(row_);
  const std::uint32_t from = std::min(column_, width_ - 1);
  if (stored == nullptr || from >= stored->length || n == 0) return;
  const std::uint32_t count = std::min(n, stored->length - from);
  std::copy(stored->cells + from + count, stored->cells + stored->length, stored->cells + from);
  if (stored->colors != nullptr) {
    std::copy(stored->colors + from + count, stored->colors + stored->length,
              stored->colors + from);
  }
  stored->length -= count;
}

void VirtualScreen::shiftRows(std::uint64_t first, std::uint64_t last, std::int64_t offset) {
  const auto distance = static_cast<std::uint64_t>(offset < 0 ? -offset : offset);
  if (distance >= last - first) {
    eraseRows(first, last);
    return;
  }
  const auto move = [this](std::uint64_t from, std::uint64_t to) {
    Row* source = rowSlot(from);
    if (source != nullptr) {
      Row& target = rowSlotMade(to);
      dropRow(target);
      target = std::exchange(*source, Row{});
      if (to >= usedRows_) usedRows_ = to + 1;
    } else if (Row* target = rowSlot(to); target != nullptr) {
      dropRow(*target);
    }
  };
  if (offset > 0) {
    for (std::uint64_t to = last; to-- > first + distance;)
      move(to - distance, to);
    eraseRows(first, first + distance);
  } else {
    for (std::uint64_t to = first; to + distance < last; ++to)
      move(to + distance, to);
    eraseRows(last - distance, last);
  }
}

void VirtualScreen::insertLines(std::uint32_t n) {
  if (n == 0) return;
  shiftRows(row_, row_ - windowRow_ + height_, n);
}

void VirtualScreen::deleteLines(std::uint32_t n) {
  if (n == 0) return;
  shiftRows(row_, row_ - windowRow_ + height_, -static_cast<std::int64_t>(n));
}

// ---- geometry ---------------------------------------------------------------------------

void VirtualScreen::resize(std::int32_t width, std::int32_t height) {
  const auto newHeight = static_cast<std::uint8_t>(std::clamp(height, 1, 255));
  if (newHeight != height_) {
    height_ = newHeight;
    if (windowRow_ >= newHeight) windowRow_ = static_cast<std::uint8_t>(newHeight - 1);
  }
  // A width of 0 would leave no cell for the cursor to write into.
  if (width < 1 || static_cast<std::uint32_t>(width) == width_) return;
  const auto newWidth = static_cast<std::uint32_t>(width);
  if (newWidth < width_) {
    // Recorded, not applied: each row is cut when it is next used.
    ++narrowingCount_;
    while (!narrowings_.empty() && narrowings_.back().width >= newWidth)
      narrowings_.pop_back();
    narrowings_.push_back({narrowingCount_, newWidth});
  }
  if (column_ > newWidth) column_ = newWidth;
  width_ = newWidth;
}

// ---- queries ----------------------------------------------------------------------------

std::uint32_t VirtualScreen::width() const noexcept {
  return width_;
}
std::uint32_t VirtualScreen::height() const noexcept {
  return height_;
}
std::uint32_t VirtualScreen::tabWidth() const noexcept {
  return tabWidth_;
}
std::uint64_t VirtualScreen::usedRows() const noexcept {
  return usedRows_;
}
std::uint32_t VirtualScreen::column() const noexcept {
  return column_;
}
std::uint64_t VirtualScreen::row() const noexcept {
  return row_;
}
std::uint32_t VirtualScreen::windowRow() const noexcept {
  return windowRow_;
}
bool VirtualScreen::wrapMode() const noexcept {
  return wrapMode_;
}
CellAttribute VirtualScreen::currentAttribute() const noexcept {
  return attribute_;
}

std::span<const ScreenCell> VirtualScreen::rowCells(std::uint64_t row) const noexcept {
  const Row* stored = findRow(row);
  if (stored == nullptr) return {};
  return {stored->cells, lengthNow(*stored)};
}

std::span<const CellColors> VirtualScreen::rowColors(std::uint64_t row) const noexcept {
  const Row* stored = findRow(row);
  if (stored == nullptr || stored->colors == nullptr) return {};
  return {stored->colors, lengthNow(*stored)};
}

ScreenCell VirtualScreen::cell(std::uint64_t row, std::uint32_t column) const noexcept {
  const std::span<const ScreenCell> cells = rowCells(row);
  return column < cells.size() ? cells[column] : kBlankCell;
}

CellColors VirtualScreen::cellColors(std::uint64_t row, std::uint32_t column) const noexcept {
  const std::span<const CellColors> colors = rowColors(row);
  return column < colors.size() ? colors[column] : CellColors{};
}

}  // namespace vidtwine
