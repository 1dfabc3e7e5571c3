#include "screen/virtual_screen.hpp"

#include <algorithm>
#include <bit>
#include <cstring>

namespace vidtwine {

namespace {

// The bytes that act instead of being written: NUL, BEL, BS, TAB, LF, CR and ESC.
constexpr std::uint32_t kControlMask = (1u << 0x00) | (1u << 0x07) | (1u << 0x08) | (1u << 0x09) |
                                       (1u << 0x0A) | (1u << 0x0D) | (1u << 0x1B);

constexpr bool isControl(std::uint8_t byte) noexcept {
  return byte < 0x20 && ((kControlMask >> byte) & 1u) != 0;
}

constexpr std::uint8_t kSpace = 0x20;
constexpr std::uint8_t kEscape = 0x1B;

/// Bit masks of the first n (0 to 8) of eight 16-bit cells, as two 64-bit halves.
constexpr auto kFirstCells = [] {
  std::array<std::array<std::uint64_t, 2>, 9> masks{};
  for (unsigned n = 0; n <= 8; ++n) {
    for (unsigned cell = 0; cell < n; ++cell)
      masks[n][cell / 4] |= std::uint64_t{0xFFFF} << (16 * (cell % 4));
  }
  return masks;
}();

/// Writes the cells of the bytes from `next` on, up to the first byte below 0x20 or
/// `limit`, to `out`; returns where it stopped.
const std::uint8_t* copyPrintable(const std::uint8_t* next, const std::uint8_t* limit,
                                  ScreenCell* out, ScreenCell attribute) noexcept {
  if constexpr (std::endian::native == std::endian::little) {
    // Eight bytes at a time while eight are there. Where the run ends is found by
    // arithmetic: a comparison per byte would end in a mispredicted branch at every one of
    // the short runs between the sequences of coloured art.
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
      const auto cellsOf = [attributes](std::uint64_t four) {
        four = (four | (four << 16)) & 0x0000FFFF0000FFFF;
        four = (four | (four << 8)) & 0x00FF00FF00FF00FF;
        return (four << 8) | attributes;
      };
      const std::uint64_t low = cellsOf(bytes & 0xFFFFFFFF);
      const std::uint64_t high = cellsOf(bytes >> 32);
      const std::array<std::uint64_t, 2>& mask = kFirstCells[count];
      std::uint64_t old[2];
      std::memcpy(old, out, sizeof old);
      old[0] = (old[0] & ~mask[0]) | (low & mask[0]);
      old[1] = (old[1] & ~mask[1]) | (high & mask[1]);
      std::memcpy(out, old, sizeof old);
      next += count;
      out += count;
      if (count != 8) return next;
    }
  }
  for (; next != limit && *next >= kSpace; ++next)
    *out++ = static_cast<ScreenCell>((*next << 8) | attribute);
  return next;
}

}  // namespace

VirtualScreen::VirtualScreen(std::uint32_t width, std::uint8_t height,
                             std::uint8_t tabWidth) noexcept
    : width_(width), height_(height), tabWidth_(tabWidth) {}

std::unique_ptr<VirtualScreen> VirtualScreen::create(std::int32_t width, std::int32_t height,
                                                     std::int32_t tabWidth) {
  if (width < 1 || height < 1 || height > 255 || tabWidth < 1 || tabWidth > 255 ||
      tabWidth > width) {
    return nullptr;
  }
  return std::unique_ptr<VirtualScreen>(new VirtualScreen(static_cast<std::uint32_t>(width),
                                                          static_cast<std::uint8_t>(height),
                                                          static_cast<std::uint8_t>(tabWidth)));
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

std::size_t VirtualScreen::putTextUntilEscape(std::span<const std::uint8_t> bytes) {
  const std::uint8_t* const begin = bytes.data();
  const std::uint8_t* const end = begin + bytes.size();
  const std::uint8_t* next = begin;
  while (next != end) {
    const std::uint8_t byte = *next;
    if (isControl(byte)) {
      if (byte == kEscape) break;
      putControl(byte);
      ++next;
    } else if (wrapIfPending()) {
      next = writeRun(next, end);
    } else {
      // Wrapping is off and the cursor waits at the margin: the character is dropped.
      ++next;
    }
  }
  return static_cast<std::size_t>(next - begin);
}

const std::uint8_t* VirtualScreen::writeRun(const std::uint8_t* next, const std::uint8_t* end) {
  // Bytes below 0x20 end the run: most of them act instead of being written, and the few
  // that are written come through here again as runs of their own.
  const auto room = static_cast<std::size_t>(width_ - column_);
  const std::uint8_t* const limit = static_cast<std::size_t>(end - next) < room ? end : next + room;
  const auto attribute = static_cast<ScreenCell>(attribute_);
  const std::uint8_t* stop = next;
  if (ScreenCell* cells = storedRow(row_)) {
    ScreenCell* out = cells + column_;
    *out++ = static_cast<ScreenCell>((*stop++ << 8) | attribute);
    stop = copyPrintable(stop, limit, out, attribute);
  } else {
    do {
      ++stop;
    } while (stop != limit && *stop >= kSpace);
    // A row without storage stays without it as long as only blanks are written to it.
    const bool blanks = attribute == cellAttribute(kBlankCell) &&
                        std::all_of(next, stop, [](std::uint8_t b) { return b == kSpace; });
    if (!blanks) {
      ScreenCell* out = allocateRow(row_) + column_;
      for (const std::uint8_t* at = next; at != stop; ++at)
        *out++ = static_cast<ScreenCell>((*at << 8) | attribute);
    }
  }
  column_ += static_cast<std::uint32_t>(stop - next);
  if (row_ >= usedRows_) usedRows_ = row_ + 1;
  return stop;
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

ScreenCell* VirtualScreen::allocateRow(std::uint64_t row) {
  const std::uint64_t index = row >> kBlockBits;
  if (index >= blocks_.size()) blocks_.resize(index + 1);
  if (!blocks_[index]) blocks_[index] = std::make_unique<RowBlock>();
  auto& slot = (*blocks_[index])[row & kBlockMask];
  slot = std::make_unique_for_overwrite<ScreenCell[]>(width_);
  std::fill_n(slot.get(), width_, kBlankCell);
  return slot.get();
}

// ---- cursor -----------------------------------------------------------------------------

void VirtualScreen::lineFeed() {
  ++row_;
  if (windowRow_ + 1 < height_) ++windowRow_;
}

void VirtualScreen::cursorUp(std::uint32_t n) {
  if (n != 0 && column_ == width_) {
    column_ = 0;
    lineFeed();
  }
  const auto step = static_cast<std::uint8_t>(std::min<std::uint32_t>(n, windowRow_));
  row_ -= step;
  windowRow_ = static_cast<std::uint8_t>(windowRow_ - step);
}

void VirtualScreen::cursorDown(std::uint32_t n) {
  if (n != 0 && column_ == width_) {
    column_ = 0;
    lineFeed();
  }
  const auto step = static_cast<std::uint8_t>(
      std::min<std::uint32_t>(n, static_cast<std::uint32_t>(height_ - 1 - windowRow_)));
  row_ += step;
  windowRow_ = static_cast<std::uint8_t>(windowRow_ + step);
}

void VirtualScreen::cursorRight(std::uint32_t n) {
  if (n == 0) return;
  if (column_ == width_) {
    column_ = 0;
    lineFeed();
  }
  column_ += std::min(n, width_ - 1 - column_);
}

void VirtualScreen::cursorLeft(std::uint32_t n) {
  if (n == 0) return;
  if (column_ == width_) {
    column_ = 0;
    lineFeed();
  }
  column_ -= std::min(n, column_);
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
  ScreenCell* cells = storedRow(row_);
  if (cells != nullptr && from < to) std::fill(cells + from, cells + to, kBlankCell);
}

void VirtualScreen::eraseRows(std::uint64_t first, std::uint64_t last) noexcept {
  last = std::min<std::uint64_t>(last, blocks_.size() << kBlockBits);
  for (std::uint64_t row = first; row < last; row = (row | kBlockMask) + 1) {
    RowBlock* block = blocks_[row >> kBlockBits].get();
    if (block == nullptr) continue;
    const std::uint64_t end = std::min(last, (row | kBlockMask) + 1);
    for (std::uint64_t index = row; index < end; ++index)
      (*block)[index & kBlockMask].reset();
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
  const std::uint32_t kept = std::min(width_, newWidth);
  for (const auto& block : blocks_) {
    if (!block) continue;
    for (auto& stored : *block) {
      if (!stored) continue;
      auto cells = std::make_unique_for_overwrite<ScreenCell[]>(newWidth);
      std::copy_n(stored.get(), kept, cells.get());
      std::fill(cells.get() + kept, cells.get() + newWidth, kBlankCell);
      stored = std::move(cells);
    }
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
  const ScreenCell* cells = storedRow(row);
  if (cells == nullptr) return {};
  return {cells, width_};
}

ScreenCell VirtualScreen::cell(std::uint64_t row, std::uint32_t column) const noexcept {
  const ScreenCell* cells = storedRow(row);
  return cells != nullptr && column < width_ ? cells[column] : kBlankCell;
}

}  // namespace vidtwine
