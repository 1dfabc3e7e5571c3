// `-s`: the SAUCE metadata as a framed box of 80 columns, drawn onto a virtual screen.
#pragma once

#include <cstdint>
#include <string_view>

#include "sauce/sauce_record.hpp"
#include "screen/virtual_screen.hpp"

namespace vidtwine {

/// The columns of one row of the box: a border, the label, ": ", a blank, the value, the
/// blanks behind it and a border.
struct SauceRowLayout {
  std::uint8_t labelWidth;
  std::uint8_t valueWidth;
  std::uint8_t trailingBlanks;

  /// A field of the record.
  static const SauceRowLayout FieldRow;
  /// A line of the comment.
  static const SauceRowLayout CommentRow;

  constexpr int columns() const noexcept {
    return 1 + labelWidth + 2 + 1 + valueWidth + trailingBlanks + 1;
  }
};

inline constexpr SauceRowLayout SauceRowLayout::FieldRow{16, 52, 7};
inline constexpr SauceRowLayout SauceRowLayout::CommentRow{8, 65, 2};

/// The width of the box; every row relies on the screen's wrap at this column.
inline constexpr int kSauceBoxWidth = 80;

static_assert(SauceRowLayout::FieldRow.columns() == kSauceBoxWidth);
static_assert(SauceRowLayout::CommentRow.columns() == kSauceBoxWidth);

/// Draws the box for `record` at the cursor of a fresh screen, 80 columns wide with wrap
/// mode on. `rawComment` shows the comment lines as stored instead of re-flowing them.
void drawSauce(VirtualScreen& screen, const SauceRecord& record, bool rawComment);

/// One row: the label right-aligned (only its last characters when too long), the value
/// cut or padded to its column. The frame colours are in force before and after.
void drawSauceRow(VirtualScreen& screen, const SauceRowLayout& layout, std::string_view label,
                  std::string_view value);

}  // namespace vidtwine
