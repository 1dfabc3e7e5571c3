// The model of an MS-DOS text-mode screen onto which the input is rendered.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <span>
#include <utility>
#include <vector>

namespace vidtwine {

/// 16 bits: the cell attribute in the low byte, the code-page character in the high byte.
using ScreenCell = std::uint16_t;
/// Bits 0-2 foreground, 3 intensity, 4-6 background, 7 blink or bright background.
using CellAttribute = std::uint8_t;

inline constexpr ScreenCell kBlankCell = 0x2007;
inline constexpr CellAttribute kDefaultAttribute = 0x07;

constexpr CellAttribute cellAttribute(ScreenCell cell) noexcept {
  return static_cast<CellAttribute>(cell & 0xFF);
}
constexpr std::uint8_t cellCharacter(ScreenCell cell) noexcept {
  return static_cast<std::uint8_t>(cell >> 8);
}

/// A grid of cells with a cursor, the current rendition and the wrap mode. It never loses
/// text: rows are added at the bottom without limit; `height` is only the size of the
/// window to which cursor addressing refers. Rows that never received a character cost
/// no cell storage.
class VirtualScreen final {
 public:
  /// None when tabWidth > width, tabWidth > 255, height < 1, height > 255, width < 1 or
  /// tabWidth < 1.
  static std::unique_ptr<VirtualScreen> create(std::int32_t width, std::int32_t height,
                                               std::int32_t tabWidth);

  void putChar(std::uint8_t byte);
  /// The same as `putChar` for each byte in turn, without a call per byte.
  void putText(std::span<const std::uint8_t> bytes);
  void lineFeed();
  void cursorUp(std::uint32_t n);
  void cursorDown(std::uint32_t n);
  void cursorRight(std::uint32_t n);
  void cursorLeft(std::uint32_t n);
  /// Column and row within the window; a pending wrap is dropped, not performed.
  void moveTo(std::uint32_t column, std::uint32_t row);

  void setForeground(std::uint8_t colour) noexcept;
  void setBackground(std::uint8_t colour) noexcept;
  void setBold(bool on) noexcept;
  void setBlink(bool on) noexcept;
  void setReverse(bool on) noexcept;
  void setConcealed(bool on) noexcept;
  void setWrap(bool on) noexcept;
  void resetAttributes() noexcept;

  void eraseToLineEnd();
  void eraseToLineStart();
  void eraseLine();
  void eraseToScreenEnd();
  void eraseToScreenStart();
  void eraseScreen();

  void resize(std::int32_t width, std::int32_t height);
  /// The position that a later `moveTo` restores: (column, row within the window).
  std::pair<std::int32_t, std::int32_t> saveCursor() const noexcept;

  std::uint32_t width() const noexcept;
  std::uint32_t height() const noexcept;
  std::uint32_t tabWidth() const noexcept;
  /// 1 + the highest row that received a character.
  std::uint64_t usedRows() const noexcept;
  std::uint32_t column() const noexcept;
  std::uint64_t row() const noexcept;
  std::uint32_t windowRow() const noexcept;
  bool wrapMode() const noexcept;
  /// The attribute a character written now would receive.
  CellAttribute currentAttribute() const noexcept;

  /// The cells of a row (`width` of them); empty when the row holds only blanks and has
  /// no storage (never written, or erased whole).
  std::span<const ScreenCell> rowCells(std::uint64_t row) const noexcept;
  /// The cell at (row, column), blank for rows never stored.
  ScreenCell cell(std::uint64_t row, std::uint32_t column) const noexcept;

 private:
  static constexpr std::uint8_t kBold = 0x01;
  static constexpr std::uint8_t kBlink = 0x02;
  static constexpr std::uint8_t kReverse = 0x04;
  static constexpr std::uint8_t kConcealed = 0x08;
  static constexpr std::uint8_t kWrapMode = 0x10;

  VirtualScreen(std::uint32_t width, std::uint8_t height, std::uint8_t tabWidth) noexcept;

  void updateAttribute() noexcept;
  void putControl(std::uint8_t byte);
  void tab();
  /// Writes at the cursor, which is not at the pending wrap, and advances it.
  void writeCell(ScreenCell value) {
    ScreenCell* cells = storedRow(row_);
    if (cells != nullptr) {
      cells[column_] = value;
    } else if (value != kBlankCell) {
      allocateRow(row_)[column_] = value;
    }
    ++column_;
    if (row_ >= usedRows_) usedRows_ = row_ + 1;
  }
  /// Performs a pending wrap; false when it is due but wrapping is off.
  bool wrapIfPending() {
    if (column_ != width_) return true;
    if ((flags_ & kWrapMode) == 0) return false;
    column_ = 0;
    lineFeed();
    return true;
  }
  ScreenCell* storedRow(std::uint64_t row) const noexcept {
    const std::uint64_t block = row >> kBlockBits;
    if (block >= blocks_.size() || !blocks_[block]) return nullptr;
    return (*blocks_[block])[row & kBlockMask].get();
  }
  ScreenCell* allocateRow(std::uint64_t row);
  void eraseCells(std::uint32_t from, std::uint32_t to) noexcept;
  /// Drops the storage of rows first..last - 1, which makes them blank.
  void eraseRows(std::uint64_t first, std::uint64_t last) noexcept;

  // Rows without storage are entirely blank; a row is stored only when a non-blank cell is
  // written to it. The rows are grouped in blocks so that long stretches without text
  // (line feeds, cursor travel) cost next to nothing.
  static constexpr unsigned kBlockBits = 8;
  static constexpr std::uint64_t kBlockMask = (1u << kBlockBits) - 1;
  using RowBlock = std::array<std::unique_ptr<ScreenCell[]>, 1u << kBlockBits>;

  std::vector<std::unique_ptr<RowBlock>> blocks_;
  std::uint64_t usedRows_ = 0;
  std::uint64_t row_ = 0;
  std::uint32_t width_;
  std::uint32_t column_ = 0;
  std::uint8_t height_;
  std::uint8_t windowRow_ = 0;
  std::uint8_t tabWidth_;
  std::uint8_t foreground_ = 7;
  std::uint8_t background_ = 0;
  std::uint8_t flags_ = kWrapMode;
  CellAttribute attribute_ = kDefaultAttribute;
};

}  // namespace vidtwine
