// Writes the screen as a self-contained HTML page: the art in a <pre>, colours as classes.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "output/color_flags.hpp"
#include "output/text_events.hpp"
#include "stream/stream.hpp"

namespace vidtwine {

/// What the page says about the art besides the art itself. Texts are Unicode code units,
/// already mapped from the code page; empty fields are left out.
struct HtmlPageInfo {
  std::u16string title;
  std::u16string author;
  std::u16string group;
  /// "YYYY-MM-DD", or empty.
  std::string date;
  std::vector<std::u16string> comment;
  /// Shown in <title> when the art has no title of its own.
  std::u16string fallbackTitle;
  /// The width of the art in character cells.
  std::int32_t columns = 80;
};

/// Receives the serialiser's events and writes an HTML5 page as 16-bit code units to the
/// encoder it owns, which must write UTF-8. Each style change closes the open span and
/// opens one with the colour classes; rows end with every span closed. Only NoColors,
/// BlinkForBrightBg and DarkYellow of the flags matter.
class HtmlWriter final : public TextEventSink {
 public:
  HtmlWriter(std::unique_ptr<Stream> target, ColorFlags flags, HtmlPageInfo info);

  void begin(bool styled) override;
  void style(const CellStyle& style) override;
  void text(std::span<const std::uint16_t> units) override;
  void endRow() override;
  bool finish() override;
  bool failed() const override { return failed_; }

 private:
  void put(std::uint16_t unit) {
    if (fill_ == buffer_.size()) flushBuffer();
    buffer_[fill_++] = unit;
  }
  void putAscii(std::string_view text) {
    // Room for the whole text first, so that the characters go without a check each.
    if (text.size() > buffer_.size() - fill_) {
      flushBuffer();
      if (text.size() > buffer_.size()) {
        for (const char c : text)
          put(static_cast<std::uint8_t>(c));
        return;
      }
    }
    putAsciiInRoom(text);
  }
  /// `putAscii` where the buffer is known to have room for `text`.
  void putAsciiInRoom(std::string_view text) noexcept {
    for (const char c : text)
      buffer_[fill_++] = static_cast<std::uint8_t>(c);
  }
  /// Text with the characters that HTML reserves escaped, and controls as blanks.
  void putEscaped(std::span<const std::uint16_t> units);
  void putEscaped(std::u16string_view text) {
    putEscaped(std::span<const std::uint16_t>(reinterpret_cast<const std::uint16_t*>(text.data()),
                                              text.size()));
  }
  void putHeader();
  void putFooter();
  /// "Title by Author (Group), date", each piece only when known; `markup` adds <cite>
  /// and <time>.
  void putCaption(bool markup);
  void closeSpan();
  void flushBuffer();

  std::unique_ptr<Stream> target_;
  ColorFlags flags_;
  HtmlPageInfo info_;
  bool styled_ = false;
  bool spanOpen_ = false;
  bool begun_ = false;
  bool failed_ = false;
  std::size_t fill_ = 0;
  std::array<std::uint16_t, 4096> buffer_;
};

}  // namespace vidtwine
