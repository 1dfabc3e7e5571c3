// What the screen serialiser hands to a writer: typed style, text and row events.
#pragma once

#include <cstdint>
#include <span>

#include "screen/virtual_screen.hpp"

namespace vidtwine {

/// How a run of characters looks: the cells' attribute and, where they have them, their
/// 24-bit colours, which stand in for the attribute's.
struct CellStyle {
  CellAttribute attribute = kDefaultAttribute;
  CellColors colors;
  friend constexpr bool operator==(const CellStyle&, const CellStyle&) noexcept = default;
};

/// The receiving end of the serialiser. Events come in this order: `begin` once, then per
/// row `style` changes and `text` runs (or `attributeRuns` and `styledRuns` for both),
/// `endRow`, and the line end as text. The byte order mark and direction marks are text too.
class TextEventSink {
 public:
  virtual ~TextEventSink() = default;

  /// Whether any written cell differs from gray on black; without, no `style` events come
  /// and rows end plainly.
  virtual void begin(bool styled) = 0;
  /// The characters that follow look like this.
  virtual void style(const CellStyle& style) = 0;
  /// Characters as 16-bit code units.
  virtual void text(std::span<const std::uint16_t> units) = 0;
  /// Characters of a row as `style` and `text` events in one call: run r is units
  /// starts[r] to starts[r + 1] - 1 in the style of attributes[r] alone, or of styles[r]
  /// (the form for rows with 24-bit colours); `starts` has one entry more than there are
  /// runs, the end. Units before starts[0] keep the style before. One call instead of two
  /// for each of the short runs of art.
  virtual void attributeRuns(std::span<const std::uint16_t> units,
                             std::span<const std::uint32_t> starts,
                             std::span<const CellAttribute> attributes) {
    putRuns(units, starts, attributes.size(), [attributes](std::size_t r) {
      return CellStyle{attributes[r], {}};
    });
  }
  virtual void styledRuns(std::span<const std::uint16_t> units,
                          std::span<const std::uint32_t> starts,
                          std::span<const CellStyle> styles) {
    putRuns(units, starts, styles.size(), [styles](std::size_t r) { return styles[r]; });
  }
  /// The cells of a row are done; the line end follows.
  virtual void endRow() = 0;
  /// Hands on everything held; false when any output failed, now or before.
  virtual bool finish() = 0;
  /// Whether output has failed so far. A failure is final.
  virtual bool failed() const = 0;

 private:
  template <typename StyleOf>
  void putRuns(std::span<const std::uint16_t> units, std::span<const std::uint32_t> starts,
               std::size_t runs, StyleOf styleOf) {
    if (starts[0] != 0) text(units.first(starts[0]));
    for (std::size_t r = 0; r < runs; ++r) {
      style(styleOf(r));
      text(units.subspan(starts[r], starts[r + 1] - starts[r]));
    }
  }
};

}  // namespace vidtwine
