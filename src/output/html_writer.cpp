#include "output/html_writer.hpp"

#include <algorithm>
#include <cstdio>

#include "screen/vga_palette.hpp"

namespace vidtwine {

namespace {

constexpr std::uint16_t kLineFeed = 0x000A;

// The blink class hides the foreground half the time, as the VGA does with attribute bit
// 7: about 1.9 times a second, that is a period of 0.533 s, half on, half off.
constexpr std::string_view kStyleRules =
    ":root{--vidtwine-font:\"DejaVu Sans Mono\",\"Liberation Mono\",\"Cascadia Mono\","
    "Consolas,Menlo,monospace}\n"
    "html,body{margin:0;background:#000;color:#aaa}\n"
    "body{padding:1rem;overflow-x:auto}\n"
    "figure{margin:0}\n"
    "pre{font-family:var(--vidtwine-font);margin:0}\n"
    "pre.art{font-size:16px;line-height:1;white-space:pre;overflow:visible;"
    "background:#000;color:#aaa}\n"
    "figcaption,details{font-family:var(--vidtwine-font);margin-top:1em;color:#aaa}\n"
    "pre.comment{white-space:pre-wrap}\n"
    ".k{animation:vidtwine-blink .533s step-end infinite}\n"
    "@keyframes vidtwine-blink{50%{color:transparent}}\n"
    "@media (prefers-reduced-motion:reduce){.k{animation:none}}\n";

/// The characters of `cssColor` before its terminating zero.
constexpr std::size_t kCssColorLength = 7;

/// "#rrggbb" of a 24-bit colour. Built by hand: formatting it and the classes took a fifth
/// of the time of a page of art.
std::array<char, 8> cssColor(TrueColor color) noexcept {
  constexpr std::string_view kDigits = "0123456789abcdef";
  std::array<char, 8> text{'#'};
  for (unsigned digit = 0; digit < 6; ++digit)
    text[1 + digit] = kDigits[(color >> (20 - 4 * digit)) & 0x0F];
  return text;
}

/// " f7", " b12" and the like: a class of a colour from 0 to 15 after its prefix.
std::string_view colorClass(std::array<char, 4>& text, char prefix, unsigned colour) noexcept {
  text = {' ', prefix, static_cast<char>('0' + colour % 10), '\0'};
  if (colour < 10) return {text.data(), 3};
  text[2] = '1';
  text[3] = static_cast<char>('0' + colour - 10);
  return {text.data(), 4};
}

/// Characters that HTML does not allow in text: C0 controls but the line feed, DEL and C1.
constexpr bool isForbidden(std::uint16_t unit) noexcept {
  return (unit < 0x20 && unit != kLineFeed) || (unit >= 0x7F && unit < 0xA0);
}

}  // namespace

HtmlWriter::HtmlWriter(std::unique_ptr<Stream> target, ColorFlags flags, HtmlPageInfo info)
    : target_(std::move(target)), flags_(flags), info_(std::move(info)) {}

void HtmlWriter::putEscaped(std::span<const std::uint16_t> units) {
  // In pieces with room for each unit at its longest (an entity of six), so that the units
  // go without a check each.
  constexpr std::size_t kLongest = 6;
  while (!units.empty()) {
    const std::size_t count = std::min(units.size(), buffer_.size() / kLongest);
    if (buffer_.size() - fill_ < count * kLongest) flushBuffer();
    for (const std::uint16_t unit : units.first(count)) {
      switch (unit) {
        case '<':
          putAsciiInRoom("&lt;");
          break;
        case '>':
          putAsciiInRoom("&gt;");
          break;
        case '&':
          putAsciiInRoom("&amp;");
          break;
        case '"':
          putAsciiInRoom("&quot;");
          break;
        case '\'':
          putAsciiInRoom("&#39;");
          break;
        default:
          buffer_[fill_++] = isForbidden(unit) ? std::uint16_t{' '} : unit;
      }
    }
    units = units.subspan(count);
  }
}

void HtmlWriter::putHeader() {
  begun_ = true;
  putAscii("<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n");
  putAscii("<meta name=\"viewport\" content=\"width=device-width\">\n");
  putAscii("<meta name=\"generator\" content=\"vidtwine\">\n");
  const bool described =
      !info_.title.empty() || !info_.author.empty() || !info_.group.empty() || !info_.date.empty();
  putAscii("<title>");
  if (described) {
    putCaption(false);
  } else {
    putEscaped(info_.fallbackTitle.empty() ? u"vidtwine" : info_.fallbackTitle);
  }
  putAscii("</title>\n");
  const auto putMeta = [&](std::string_view name, std::u16string_view value) {
    if (value.empty()) return;
    putAscii("<meta name=\"");
    putAscii(name);
    putAscii("\" content=\"");
    putEscaped(value);
    putAscii("\">\n");
  };
  putMeta("author", info_.author);
  putMeta("dcterms.title", info_.title);
  putMeta("dcterms.creator", info_.author);
  putMeta("dcterms.publisher", info_.group);
  const std::u16string date(info_.date.begin(), info_.date.end());
  putMeta("dcterms.created", date);
  putAscii("<style>\n");
  putAscii(kStyleRules);
  const bool darkYellow = flags_.has(ColorFlag::DarkYellow);
  for (unsigned index = 0; index < 16; ++index) {
    const auto color = cssColor(vgaColor(index, darkYellow));
    char rule[64];
    std::snprintf(rule, sizeof rule, ".f%u{color:%s}.b%u{background:%s}\n", index, color.data(),
                  index, color.data());
    putAscii(rule);
  }
  char width[48];
  std::snprintf(width, sizeof width, "pre.art{width:%dch}\n", static_cast<int>(info_.columns));
  putAscii(width);
  putAscii("</style>\n</head>\n<body>\n<figure>\n<pre class=\"art\">");
}

void HtmlWriter::putFooter() {
  closeSpan();
  putAscii("</pre>\n");
  const bool described =
      !info_.title.empty() || !info_.author.empty() || !info_.group.empty() || !info_.date.empty();
  if (described) {
    putAscii("<figcaption>");
    putCaption(true);
    putAscii("</figcaption>\n");
  }
  putAscii("</figure>\n");
  if (!info_.comment.empty()) {
    putAscii("<details>\n<summary>Comment</summary>\n<pre class=\"comment\">");
    for (const auto& line : info_.comment) {
      putEscaped(line);
      put(kLineFeed);
    }
    putAscii("</pre>\n</details>\n");
  }
  putAscii("</body>\n</html>\n");
}

void HtmlWriter::putCaption(bool markup) {
  if (!info_.title.empty()) {
    if (markup) putAscii("<cite>");
    putEscaped(info_.title);
    if (markup) putAscii("</cite>");
  }
  const auto piece = [&](std::string_view before, std::u16string_view value,
                         std::string_view after) {
    if (value.empty()) return;
    putAscii(before);
    putEscaped(value);
    putAscii(after);
  };
  piece(info_.title.empty() ? "by " : " by ", info_.author, "");
  piece(info_.title.empty() && info_.author.empty() ? "(" : " (", info_.group, ")");
  if (info_.date.empty()) return;
  putAscii(info_.title.empty() && info_.author.empty() && info_.group.empty() ? "" : ", ");
  if (markup) putAscii("<time datetime=\"" + info_.date + "\">");
  putAscii(info_.date);
  if (markup) putAscii("</time>");
}

void HtmlWriter::begin(bool styled) {
  styled_ = styled && !flags_.has(ColorFlag::NoColors);
  putHeader();
}

void HtmlWriter::closeSpan() {
  if (!spanOpen_) return;
  putAscii("</span>");
  spanOpen_ = false;
}

void HtmlWriter::style(const CellStyle& style) {
  if (!styled_ || failed_) return;
  closeSpan();
  const CellAttribute attribute = style.attribute;
  const bool blink = (attribute & 0x80) != 0 && flags_.has(ColorFlag::BlinkForBrightBg);
  const unsigned foreground = attribute & 0x0F;
  const unsigned background = (attribute >> 4) & (blink ? 0x07 : 0x0F);
  // Gray on black is the <pre>'s own; only differences get a class.
  std::array<char, 4> foregroundText;
  std::array<char, 4> backgroundText;
  const std::string_view classes[] = {style.colors.foreground == kNoTrueColor && foreground != 7
                                          ? colorClass(foregroundText, 'f', foreground)
                                          : std::string_view(),
                                      style.colors.background == kNoTrueColor && background != 0
                                          ? colorClass(backgroundText, 'b', background)
                                          : std::string_view(),
                                      blink ? std::string_view(" k") : std::string_view()};
  const bool anyClass = !classes[0].empty() || !classes[1].empty() || !classes[2].empty();
  const bool inline_ =
      style.colors.foreground != kNoTrueColor || style.colors.background != kNoTrueColor;
  if (!anyClass && !inline_) return;
  putAscii("<span");
  if (anyClass) {
    putAscii(" class=\"");
    bool first = true;
    for (const std::string_view name : classes) {
      if (name.empty()) continue;
      // The first class goes without the space before it.
      putAscii(first ? name.substr(1) : name);
      first = false;
    }
    putAscii("\"");
  }
  if (inline_) {
    putAscii(" style=\"");
    if (style.colors.foreground != kNoTrueColor) {
      putAscii("color:");
      putAscii(std::string_view(cssColor(style.colors.foreground).data(), kCssColorLength));
      if (style.colors.background != kNoTrueColor) putAscii(";");
    }
    if (style.colors.background != kNoTrueColor) {
      putAscii("background:");
      putAscii(std::string_view(cssColor(style.colors.background).data(), kCssColorLength));
    }
    putAscii("\"");
  }
  putAscii(">");
  spanOpen_ = true;
}

void HtmlWriter::text(std::span<const std::uint16_t> units) {
  if (failed_) return;
  putEscaped(units);
}

void HtmlWriter::endRow() {
  if (failed_) return;
  closeSpan();
}

void HtmlWriter::flushBuffer() {
  const std::uint64_t bytes = fill_ * sizeof(std::uint16_t);
  if (!failed_ && (target_ == nullptr || target_->write(buffer_.data(), bytes) != bytes ||
                   target_->status() != StreamStatus::Ok)) {
    failed_ = true;
  }
  fill_ = 0;
}

bool HtmlWriter::finish() {
  // A screen that never received a character still makes a whole page.
  if (!begun_) putHeader();
  putFooter();
  flushBuffer();
  if (!failed_ && (target_->flush(false) < 0 || target_->status() != StreamStatus::Ok)) {
    failed_ = true;
  }
  return !failed_;
}

}  // namespace vidtwine
