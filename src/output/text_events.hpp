// What the screen serialiser hands to a writer: typed style, text and row events.
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
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

/// Characters as the screen holds them: the code-page byte in each cell's high byte, and
/// the table that maps those bytes to code units. Writers that encode many characters at
/// once take each byte's encoding from a table of their own, made once per table.
struct CellCharacters {
  std::span<const ScreenCell> cells;
  const std::array<std::uint16_t, 256>* table;

  std::size_t size() const noexcept { return cells.size(); }
  std::uint16_t unit(std::size_t i) const noexcept { return (*table)[cellCharacter(cells[i])]; }
};

/// The receiving end of the serialiser. Events come in this order: `begin` once, then per
/// row `style` changes and `text` runs (or `attributeRuns` and `styledRuns` for both),
/// `endRow`, and the line end as text. The byte order mark and direction marks are text too.
class TextEventSink {
 public:
  virtual ~TextEventSink() = default;

  /// Whether any written cell differs from gray on black; without, no `style` events come
  /// (characters come as `text`, or as `attributeRuns` without runs) and rows end plainly.
  virtual void begin(bool styled) = 0;
  /// The characters that follow look like this.
  virtual void style(const CellStyle& style) = 0;
  /// Characters as 16-bit code units.
  virtual void text(std::span<const std::uint16_t> units) = 0;
  /// Characters of a row as `style` and `text` events in one call: run r is characters
  /// starts[r] to starts[r + 1] - 1 in the style of attributes[r] alone, or of styles[r]
  /// (the form for rows with 24-bit colours); `starts` has one entry more than there are
  /// runs, the end. Characters before starts[0] keep the style before. One call instead of
  /// two for each of the short runs of art.
  virtual void attributeRuns(CellCharacters characters, std::span<const std::uint32_t> starts,
                             std::span<const CellAttribute> attributes) {
    putRuns(characters, starts, attributes.size(), [attributes](std::size_t r) {
      return CellStyle{attributes[r], {}};
    });
  }
  virtual void styledRuns(CellCharacters characters, std::span<const std::uint32_t> starts,
                          std::span<const CellStyle> styles) {
    putRuns(characters, starts, styles.size(), [styles](std::size_t r) { return styles[r]; });
  }
  /// The cells of a row are done; the line end follows.
  virtual void endRow() = 0;
  /// Hands on everything held; false when any output failed, now or before.
  virtual bool finish() = 0;
  /// Whether output has failed so far. A failure is final.
  virtual bool failed() const = 0;

 private:
  template <typename StyleOf>
  void putRuns(CellCharacters characters, std::span<const std::uint32_t> starts, std::size_t runs,
               StyleOf styleOf) {
    const auto putText = [&](std::size_t from, std::size_t to) {
      std::array<std::uint16_t, 256> units;
      while (from < to) {
        const std::size_t count = std::min(to - from, units.size());
        for (std::size_t i = 0; i < count; ++i)
          units[i] = characters.unit(from + i);
        text({units.data(), count});
        from += count;
      }
    };
    putText(0, starts[0]);
    for (std::size_t r = 0; r < runs; ++r) {
      style(styleOf(r));
      putText(starts[r], starts[r + 1]);
    }
  }
};

}  // namespace vidtwine
