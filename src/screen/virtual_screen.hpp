// The model of an MS-DOS text-mode screen onto which the input is rendered.
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <utility>
#include <vector>

#include "screen/row_arena.hpp"

namespace vidtwine {

/// 16 bits: the cell attribute in the low byte, the code-page character in the high byte.
using ScreenCell = std::uint16_t;
/// Bits 0-2 foreground, 3 intensity, 4-6 background, 7 blink or bright background.
using CellAttribute = std::uint8_t;

inline constexpr ScreenCell kBlankCell = 0x2007;

/// A 24-bit colour as 0x01RRGGBB; 0 stands for none, so that the 16-colour attribute applies.
using TrueColor = std::uint32_t;
inline constexpr TrueColor kNoTrueColor = 0;
constexpr TrueColor trueColor(std::uint8_t red, std::uint8_t green, std::uint8_t blue) noexcept {
  return 0x01000000u | (std::uint32_t{red} << 16) | (std::uint32_t{green} << 8) | blue;
}
constexpr std::uint8_t redOf(TrueColor color) noexcept {
  return static_cast<std::uint8_t>(color >> 16);
}
constexpr std::uint8_t greenOf(TrueColor color) noexcept {
  return static_cast<std::uint8_t>(color >> 8);
}
constexpr std::uint8_t blueOf(TrueColor color) noexcept {
  return static_cast<std::uint8_t>(color);
}

/// The 24-bit colours of a cell, where it has any; they stand in for the attribute's.
struct CellColors {
  TrueColor foreground = kNoTrueColor;
  TrueColor background = kNoTrueColor;
  friend constexpr bool operator==(CellColors, CellColors) noexcept = default;
};
inline constexpr CellAttribute kDefaultAttribute = 0x07;

/// The current colours and flags of a screen. Without reverse and concealed, the low byte
/// is the attribute that a character written now receives.
using Rendition = std::uint16_t;
inline constexpr Rendition kRenditionForeground = 0x0007;
inline constexpr Rendition kRenditionBold = 0x0008;
inline constexpr Rendition kRenditionBackground = 0x0070;
inline constexpr Rendition kRenditionBlink = 0x0080;
inline constexpr Rendition kRenditionReverse = 0x0100;
inline constexpr Rendition kRenditionConcealed = 0x0200;
/// Light gray on black, no flags.
inline constexpr Rendition kDefaultRendition = 0x0007;

constexpr CellAttribute cellAttribute(ScreenCell cell) noexcept {
  return static_cast<CellAttribute>(cell & 0xFF);
}
constexpr std::uint8_t cellCharacter(ScreenCell cell) noexcept {
  return static_cast<std::uint8_t>(cell >> 8);
}

class TextLane;

/// A grid of cells with a cursor, the current rendition and the wrap mode. It never loses
/// text: rows are added at the bottom without limit; `height` is only the size of the
/// window to which cursor addressing refers. Memory follows what was written: a row stores
/// cells only up to its last written column, rows that never received a character cost
/// nothing, and 24-bit colours cost only in rows that use them.
class VirtualScreen final {
 public:
  /// None when tabWidth > width, tabWidth > 255, height < 1, height > 255, width < 1 or
  /// tabWidth < 1. Rows are stored in `firstRows`, when given, before any memory of the
  /// screen's own; it must outlive the screen.
  static std::unique_ptr<VirtualScreen> create(std::int32_t width, std::int32_t height,
                                               std::int32_t tabWidth,
                                               std::span<std::byte> firstRows = {});

  void putChar(std::uint8_t byte);
  /// The same as `putChar` for each byte in turn, without a call per byte.
  void putText(std::span<const std::uint8_t> bytes);
  /// `putText` up to, not including, the first ESC byte; the number of bytes consumed (all
  /// of them when there is no ESC). An interpreter hands over everything up to the next
  /// escape sequence this way without searching for it first.
  std::size_t putTextUntilEscape(std::span<const std::uint8_t> bytes) {
    // Inline: art hands over a short run between each two sequences.
    const std::uint8_t* const begin = bytes.data();
    const std::uint8_t* const end = begin + bytes.size();
    const std::uint8_t* next = begin;
    while (next != end) {
      const std::uint8_t byte = *next;
      if (isControl(byte)) {
        if (byte == kEscapeByte) break;
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
  void lineFeed();
  /// Opens the cursor's row for `lane` to write runs of characters into (see TextLane),
  /// where `next` is the byte at hand; false where the row must be cut to the width first,
  /// has no room up to the cursor, or 24-bit colours are in use. A row without storage
  /// gets it first where `next` would give it storage anyway, else false. This and
  /// `commitLane` are defined in text_lane.hpp.
  bool openLane(TextLane& lane, std::uint8_t next);
  /// `openLane` where 24-bit colours may be in use: the lane paints them too. The row gets
  /// storage for colours where it has none and colours are set.
  bool openColorLane(TextLane& lane, std::uint8_t next);
  /// Takes over the cursor's column and the row's length from the lane last opened, which
  /// stays open while nothing else changes the screen.
  void commitLane(const TextLane& lane) noexcept;
  /// Performs a pending wrap; false when it is due but wrapping is off.
  bool wrapIfPending() {
    if (column_ != width_) return true;
    if (!wrapMode_) return false;
    column_ = 0;
    lineFeed();
    return true;
  }
  /// The attribute that characters written now receive.
  CellAttribute attribute() const noexcept { return attribute_; }
  /// The bytes that act instead of being written: NUL, BEL, BS, TAB, LF, CR and ESC.
  static constexpr bool isControl(std::uint8_t byte) noexcept {
    constexpr std::uint32_t kControlMask = (1u << 0x00) | (1u << 0x07) | (1u << 0x08) |
                                           (1u << 0x09) | (1u << 0x0A) | (1u << 0x0D) |
                                           (1u << 0x1B);
    return byte < 0x20 && ((kControlMask >> byte) & 1u) != 0;
  }
  /// Stores `cells` from (row, column) on, with `colors` (as many, or empty for none),
  /// without the cursor, the rendition or wrapping; cells past the width are dropped. For
  /// loaders of formats that give every cell's place. Rows that would hold only blanks
  /// still get no storage.
  void putRow(std::uint64_t row, std::uint32_t column, std::span<const ScreenCell> cells,
              std::span<const CellColors> colors = {});
  /// `putRow` without 24-bit colours for `count` cells that `fill` writes straight into the
  /// row's storage, given as a span (cut to the width): a loader that makes its cells from
  /// its input saves copying them once more (3% of binary text). A row that had no storage
  /// and turns out to hold only blanks gives it back (the block of row slots stays).
  template <typename Fill>
  void putRowWith(std::uint64_t row, std::uint32_t column, std::uint32_t count, Fill&& fill) {
    const RowRoom room = rowRoom(row, column, count);
    if (room.cells.empty()) return;
    fill(room.cells);
    // A new row's cells before `column` are blanks.
    if (room.fresh && std::all_of(room.cells.begin(), room.cells.end(), isBlank)) {
      dropRow(*room.stored);
    }
  }
  void cursorUp(std::uint32_t n);
  void cursorDown(std::uint32_t n);
  void cursorRight(std::uint32_t n);
  void cursorLeft(std::uint32_t n);
  /// Column and row within the window; a pending wrap is dropped, not performed.
  void moveTo(std::uint32_t column, std::uint32_t row);
  /// The four moves above as one: `columns` to the right (left when negative) and `rows`
  /// down (up when negative), each stopping at the window's edge; a pending wrap is
  /// performed first unless both are 0. Inline and without a branch on the direction, for
  /// art that mixes moves and colours unpredictably.
  void moveCursorBy(std::int32_t columns, std::int32_t rows) {
    if (column_ == width_) [[unlikely]] {
      if (columns == 0 && rows == 0) return;
      column_ = 0;
      lineFeed();
    }
    column_ = static_cast<std::uint32_t>(
        std::clamp<std::int64_t>(std::int64_t{column_} + columns, 0, std::int64_t{width_} - 1));
    const std::int64_t target =
        std::clamp<std::int64_t>(std::int64_t{windowRow_} + rows, 0, std::int64_t{height_} - 1);
    row_ += static_cast<std::uint64_t>(target - windowRow_);
    windowRow_ = static_cast<std::uint8_t>(target);
  }

  // The rendition setters are defined here so that callers that set many renditions get
  // them inlined.
  void setForeground(std::uint8_t colour) noexcept {
    setRendition(static_cast<Rendition>((rendition_ & ~kRenditionForeground) | (colour & 7)));
  }
  void setBackground(std::uint8_t colour) noexcept {
    setRendition(
        static_cast<Rendition>((rendition_ & ~kRenditionBackground) | ((colour & 7) << 4)));
  }
  void setBold(bool on) noexcept { setRenditionFlag(kRenditionBold, on); }
  void setBlink(bool on) noexcept { setRenditionFlag(kRenditionBlink, on); }
  void setReverse(bool on) noexcept { setRenditionFlag(kRenditionReverse, on); }
  void setConcealed(bool on) noexcept { setRenditionFlag(kRenditionConcealed, on); }
  void setWrap(bool on) noexcept { wrapMode_ = on; }
  /// Whether a line feed also returns to the line start, as on BBS terminals.
  void setLineFeedReturns(bool on) noexcept { lineFeedReturns_ = on; }
  void resetAttributes() noexcept { setRendition(kDefaultRendition); }

  /// The colours and flags that the setters above change, as one value (the `kRendition`
  /// bits), for callers that apply many changes at once.
  Rendition rendition() const noexcept { return rendition_; }
  /// `setRendition` for a screen with no 24-bit colour set, as while a lane is open:
  /// without the check for them, ANSI art takes 3% fewer instructions.
  void setRenditionWithoutColors(Rendition rendition) noexcept {
    rendition_ = rendition;
    attribute_ = attributeOf(rendition);
  }
  /// The bits of a rendition that make its attribute.
  static constexpr Rendition kRenditionBits = 0x03FF;
  /// The attribute that characters written with `rendition` receive, where no 24-bit colour
  /// is set.
  static constexpr CellAttribute attributeOf(Rendition rendition) noexcept {
    return kRenditionAttributes[rendition & kRenditionBits];
  }
  void setRendition(Rendition rendition) noexcept {
    rendition_ = rendition;
    // From a table: art sets a rendition before nearly every run of characters.
    attribute_ = kRenditionAttributes[rendition & kRenditionBits];
    if (penColors_ != CellColors{}) updateColors();
  }

  /// 24-bit colours for the characters written from now on, in place of the attribute's
  /// foreground or background; kNoTrueColor returns to the attribute's colour. Reverse and
  /// concealed apply to them as to the attribute's colours.
  void setTrueForeground(TrueColor color) noexcept {
    penColors_.foreground = color;
    updateColors();
  }
  void setTrueBackground(TrueColor color) noexcept {
    penColors_.background = color;
    updateColors();
  }
  /// One of the two above, chosen by a mask rather than a branch, since art switches
  /// between the layers at random, or an index into an array of the two, whose reading
  /// back waited for the store of the one colour into it (1 to 2% of 24-bit art).
  void setTrueColor(bool background, TrueColor color) noexcept {
    const std::uint32_t toBackground = background ? 0xFFFF'FFFFu : 0;
    penColors_ = {(penColors_.foreground & toBackground) | (color & ~toBackground),
                  (penColors_.background & ~toBackground) | (color & toBackground)};
    updateColors();
  }
  /// The 24-bit colours set by the calls above (before reverse and concealed).
  CellColors trueColors() const noexcept { return penColors_; }
  /// The 24-bit colours that characters written now receive (after reverse and concealed).
  CellColors writingColors() const noexcept { return cellColors_; }

  void eraseToLineEnd();
  void eraseToLineStart();
  void eraseLine();
  void eraseToScreenEnd();
  void eraseToScreenStart();
  void eraseScreen();
  /// Blanks n cells from the cursor on, without moving it.
  void eraseCharacters(std::uint32_t n);
  /// Inserts n blank cells at the cursor; cells pushed past the margin are lost.
  void insertCharacters(std::uint32_t n);
  /// Deletes n cells at the cursor; the rest of the row moves left, blanks come in.
  void deleteCharacters(std::uint32_t n);
  /// Inserts n blank rows at the cursor's row; rows pushed below the window are lost.
  void insertLines(std::uint32_t n);
  /// Deletes n rows from the cursor's row on; the rows below in the window move up, blank
  /// rows come in at the window's bottom.
  void deleteLines(std::uint32_t n);

  /// Takes time independent of the number of rows: rows are cut to a narrower width only
  /// when they are next used.
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

  /// The stored cells of a row, from column 0 up to at most the width; the cells after
  /// them are blank. Empty for rows that hold only blanks.
  std::span<const ScreenCell> rowCells(std::uint64_t row) const noexcept;
  /// The 24-bit colours of the stored cells of a row, as many as `rowCells` gives; empty
  /// when no cell of the row has any.
  std::span<const CellColors> rowColors(std::uint64_t row) const noexcept;
  /// The cell at (row, column), blank where nothing is stored.
  ScreenCell cell(std::uint64_t row, std::uint32_t column) const noexcept;
  /// The 24-bit colours of the cell at (row, column).
  CellColors cellColors(std::uint64_t row, std::uint32_t column) const noexcept;

 private:
  /// The storage of one row: cells 0..length - 1, blank after them. Its blocks belong to
  /// the screen's arena.
  struct Row {
    /// `capacity` + kRunSlack cells.
    ScreenCell* cells = nullptr;
    /// Null until a cell of the row receives a 24-bit colour; then `capacity` colours.
    CellColors* colors = nullptr;
    std::uint32_t length = 0;
    std::uint32_t capacity = 0;
    /// The number of narrowings of the screen when the row was last cut to the width.
    std::uint64_t narrowings = 0;
  };

  VirtualScreen(std::uint32_t width, std::uint8_t height, std::uint8_t tabWidth,
                std::span<std::byte> firstRows) noexcept;

  /// The attribute of each rendition. Reverse swaps the colours; concealed shows the paper
  /// colour as text (with reverse too, where that is the foreground). The text colour
  /// keeps its intensity.
  static constexpr auto kRenditionAttributes = [] {
    std::array<CellAttribute, kRenditionBits + 1> attributes{};
    for (unsigned rendition = 0; rendition <= kRenditionBits; ++rendition) {
      const unsigned foreground = rendition & kRenditionForeground;
      const unsigned background = (rendition & kRenditionBackground) >> 4;
      const bool reverse = (rendition & kRenditionReverse) != 0;
      const bool concealed = (rendition & kRenditionConcealed) != 0;
      const unsigned paper = reverse ? foreground : background;
      const unsigned text = concealed ? paper : reverse ? background : foreground;
      attributes[rendition] = static_cast<CellAttribute>(
          text | (paper << 4) | (rendition & (kRenditionBold | kRenditionBlink)));
    }
    return attributes;
  }();
  void setRenditionFlag(Rendition flag, bool on) noexcept {
    setRendition(static_cast<Rendition>(on ? rendition_ | flag : rendition_ & ~flag));
  }
  static constexpr std::uint8_t kEscapeByte = 0x1B;
  /// The colours a character written now receives: the pen's, after reverse and concealed.
  void updateColors() noexcept {
    CellColors colors = penColors_;
    if ((rendition_ & kRenditionReverse) != 0) std::swap(colors.foreground, colors.background);
    if ((rendition_ & kRenditionConcealed) != 0) colors.foreground = colors.background;
    cellColors_ = colors;
  }
  void putControl(std::uint8_t byte);
  /// Writes the character at `next` and those after it up to the first byte below 0x20,
  /// `end` or the margin, whichever comes first; the cursor is not at the pending wrap.
  /// Returns where it stopped.
  const std::uint8_t* writeRun(const std::uint8_t* next, const std::uint8_t* end);
  /// `writeRun` for any row: `limit` is where the margin or `end` stops the run, `stored`
  /// the row's slot or null.
  [[gnu::noinline]] const std::uint8_t* writeRunAnywhere(const std::uint8_t* next,
                                                         const std::uint8_t* end,
                                                         const std::uint8_t* limit, Row* stored);
  void tab();
  /// Writes at the cursor, which is not at the pending wrap, and advances it.
  void writeCell(ScreenCell value);
  /// The row's storage, cut to the width, or null when it has none.
  Row* storedRow(std::uint64_t row) noexcept;
  /// The row's slot as it is (possibly not cut yet), or null when it has no storage.
  Row* rowSlot(std::uint64_t row) noexcept {
    const std::uint64_t block = row >> kBlockBits;
    if (block >= blocks_.size() || !blocks_[block]) return nullptr;
    Row& stored = (*blocks_[block])[row & kBlockMask];
    return stored.capacity != 0 ? &stored : nullptr;
  }
  const Row* findRow(std::uint64_t row) const noexcept;
  /// The row's storage with room for cells up to `end` (at most the width), cells from
  /// its old length to `begin` blank; its length becomes at least `end`.
  Row& extendRow(std::uint64_t row, std::uint32_t begin, std::uint32_t end);
  /// Gives `row` room for at least `needed` cells (at most the width).
  void growRow(Row& row, std::uint32_t needed);
  /// Gives the current 24-bit colours to cells begin..end - 1 of `row`.
  void paintColors(Row& row, std::uint32_t begin, std::uint32_t end);
  /// How many cells of a row last cut after `narrowings` narrowings remain now.
  std::uint32_t lengthNow(const Row& row) const noexcept;
  void eraseCells(std::uint32_t from, std::uint32_t to) noexcept;
  static std::size_t cellBytes(std::uint32_t capacity) noexcept;
  static std::size_t colorBytes(std::uint32_t capacity) noexcept;
  /// Gives the row's blocks back to the arena; the row becomes blank.
  void dropRow(Row& row) noexcept;
  /// Rows of only such cells get no storage.
  static constexpr bool isBlank(ScreenCell cell) noexcept { return cell == kBlankCell; }
  /// Spaces written now are such blanks: the default colours, no 24-bit colours. A row
  /// without storage gets none for them, whether written by a lane or the general way.
  bool spacesAreBlank() const noexcept {
    return attribute_ == cellAttribute(kBlankCell) && cellColors_ == CellColors{};
  }
  /// Part of `putRow` and `putRowWith`: the row's cells from `column` on, `count` of them
  /// cut to the width, stored (no 24-bit colours) for the caller to write; the row; and
  /// whether it had no storage before.
  struct RowRoom {
    std::span<ScreenCell> cells;
    Row* stored;
    bool fresh;
  };
  RowRoom rowRoom(std::uint64_t row, std::uint32_t column, std::uint32_t count);
  /// The row's 24-bit colours, made (none for every stored cell) when it has none yet.
  CellColors* rowColorsMade(Row& row);
  /// Drops the storage of rows first..last - 1, which makes them blank.
  void eraseRows(std::uint64_t first, std::uint64_t last) noexcept;
  /// The slot of a row, made when missing.
  Row& rowSlotMade(std::uint64_t row);
  /// Moves rows first..last - 1 by `offset` rows (negative: up) within first..last - 1;
  /// the rows left behind become blank.
  void shiftRows(std::uint64_t first, std::uint64_t last, std::int64_t offset);

  // Rows are grouped in blocks so that long stretches without text (line feeds, cursor
  // travel) cost next to nothing.
  static constexpr unsigned kBlockBits = 8;
  /// Cells allocated after a row's capacity, for writing runs eight cells at a time.
  static constexpr std::uint32_t kRunSlack = 8;
  static constexpr std::uint64_t kBlockMask = (1u << kBlockBits) - 1;
  using RowBlock = std::array<Row, 1u << kBlockBits>;

  /// A narrowing of the screen: the count of narrowings after it, and the smallest width
  /// of it and all later ones. Kept as a stack of increasing widths, so that the width a
  /// row must be cut to is found by a binary search instead of touching every row.
  struct Narrowing {
    std::uint64_t count;
    std::uint32_t width;
  };

  // Declared first so that it outlives the rows, which point into it.
  RowArena arena_;
  /// In `arena_`; rows are trivially destroyed.
  std::vector<RowBlock*> blocks_;
  std::vector<Narrowing> narrowings_;
  std::uint64_t narrowingCount_ = 0;
  std::uint64_t usedRows_ = 0;
  std::uint64_t row_ = 0;
  std::uint32_t width_;
  std::uint32_t column_ = 0;
  std::uint8_t height_;
  std::uint8_t windowRow_ = 0;
  std::uint8_t tabWidth_;
  Rendition rendition_ = kDefaultRendition;
  bool wrapMode_ = true;
  bool lineFeedReturns_ = false;
  CellAttribute attribute_ = kDefaultAttribute;
  /// The 24-bit colours as set, and as written to cells after reverse and concealed.
  CellColors penColors_;
  CellColors cellColors_;
  /// The row of the lane last opened.
  Row* laneRow_ = nullptr;
  /// The cursor's row for a lane: its storage, made where it has none and `next`, written
  /// at the cursor, would make it (any character but a blank in the default colours
  /// without 24-bit colours); null where it has none.
  Row* laneRowFor(std::uint8_t next);
  /// The part of `openLane` and `openColorLane` after the row was found.
  bool openLaneIn(Row& row, TextLane& lane) noexcept;
};

}  // namespace vidtwine
