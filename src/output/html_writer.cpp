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

/// "#rrggbb" of a 24-bit colour.
std::array<char, 8> cssColor(TrueColor color) noexcept {
  std::array<char, 8> text{};
  std::snprintf(text.data(), text.size(), "#%02x%02x%02x", unsigned{redOf(color)},
                unsigned{greenOf(color)}, unsigned{blueOf(color)});
  return text;
}

/// Characters that HTML does not allow in text: C0 controls but the line feed, DEL and C1.
constexpr bool isForbidden(std::uint16_t unit) noexcept {
  return (unit < 0x20 && unit != kLineFeed) || (unit >= 0x7F && unit < 0xA0);
}

}  // namespace

HtmlWriter::HtmlWriter(std::unique_ptr<Stream> target, ColorFlags flags, HtmlPageInfo info)
    : target_(std::move(target)), flags_(flags), info_(std::move(info)) {}

void HtmlWriter::putEscaped(std::span<const std::uint16_t> units) {
  for (const std::uint16_t unit : units) {
    switch (unit) {
      case '<':
        putAscii("&lt;");
        break;
      case '>':
        putAscii("&gt;");
        break;
      case '&':
        putAscii("&amp;");
        break;
      case '"':
        putAscii("&quot;");
        break;
      case '\'':
        putAscii("&#39;");
        break;
      default:
        put(isForbidden(unit) ? std::uint16_t{' '} : unit);
    }
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
  char classes[24];
  int length = 0;
  if (style.colors.foreground == kNoTrueColor && foreground != 7)
    length += std::snprintf(classes + length, sizeof classes - 8, " f%u", foreground);
  if (style.colors.background == kNoTrueColor && background != 0)
    length += std::snprintf(classes + length, sizeof classes - 8, " b%u", background);
  if (blink) length += std::snprintf(classes + length, sizeof classes - 8, " k");
  const bool inline_ =
      style.colors.foreground != kNoTrueColor || style.colors.background != kNoTrueColor;
  if (length == 0 && !inline_) return;
  putAscii("<span");
  if (length != 0) {
    putAscii(" class=\"");
    putAscii(std::string_view(classes + 1, static_cast<std::size_t>(length - 1)));
    putAscii("\"");
  }
  if (inline_) {
    putAscii(" style=\"");
    if (style.colors.foreground != kNoTrueColor) {
      putAscii("color:");
      putAscii(cssColor(style.colors.foreground).data());
      if (style.colors.background != kNoTrueColor) putAscii(";");
    }
    if (style.colors.background != kNoTrueColor) {
      putAscii("background:");
      putAscii(cssColor(style.colors.background).data());
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
