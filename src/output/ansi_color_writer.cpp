#include "output/ansi_color_writer.hpp"

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstring>

#include "screen/vga_palette.hpp"

namespace vidtwine {

namespace {

constexpr char kEscape = 0x1B;

/// A parameter from 0 to 255 with the separator before it: ';' and its digits, padded to
/// four bytes, and how many of them count. Eight bytes, so that an entry is found by a
/// shift.
struct alignas(8) Parameter {
  std::array<char, 4> text;
  std::uint8_t length;
};

constexpr auto kParameters = [] {
  std::array<Parameter, 256> parameters{};
  for (unsigned number = 0; number < 256; ++number) {
    Parameter& parameter = parameters[number];
    parameter.text[parameter.length++] = ';';
    if (number >= 100) parameter.text[parameter.length++] = static_cast<char>('0' + number / 100);
    if (number >= 10)
      parameter.text[parameter.length++] = static_cast<char>('0' + number / 10 % 10);
    parameter.text[parameter.length++] = static_cast<char>('0' + number % 10);
  }
  return parameters;
}();

// The longest sequence is ESC, a reset, a blink switch, two 24-bit colours and 'm':
// "\x1b[;25;48;2;255;255;255;38;2;255;255;255m", 42 bytes. Room for more, as four bytes
// are always copied per parameter.
constexpr std::size_t kLongestSgr = 48;

/// An empty first parameter: the terminal takes it as 0, a reset.
char* addReset(char* end) noexcept {
  *end = ';';
  return end + 1;
}

/// A parameter from 0 to 255. Four bytes are always copied, from a table: colour values in
/// art are random, and a branch on their number of digits would often be mispredicted.
/// Every parameter is put after a ';'; the first one's becomes the '['.
char* add(char* end, unsigned parameter) noexcept {
  const Parameter& entry = kParameters[parameter & 0xFF];
  std::memcpy(end, entry.text.data(), entry.text.size());
  return end + entry.length;
}

/// `base` (38 or 48) with the 24-bit colour `color`.
char* addTrueColor(char* end, unsigned base, TrueColor color) noexcept {
  // The head, `;38;2` or `;48;2`, in one store of eight bytes (the last three are written
  // over).
  std::memcpy(end, base == 48 ? ";48;2\0\0" : ";38;2\0\0", 8);
  end += 5;
  end = add(end, redOf(color));
  end = add(end, greenOf(color));
  return add(end, blueOf(color));
}

/// The 24-bit colour of `value`, a VGA colour or a 24-bit one.
TrueColor trueColorOf(ColorValue value, bool darkYellow) noexcept {
  return isVga(value) ? vgaColor(static_cast<unsigned>(value), darkYellow) : TrueColor(value);
}

/// `base` (38 or 48) with a palette index or a 24-bit colour; VGA colours as 24-bit ones
/// when `direct`, else from the palette.
char* addExtended(char* end, unsigned base, ColorValue value, bool direct,
                  bool darkYellow) noexcept {
  if (isVga(value) && !direct) {
    return add(add(add(end, base), 5), exactPaletteIndex(static_cast<unsigned>(value), darkYellow));
  }
  if (value >= kPaletteColor && value < kPaletteColor + 256)
    return add(add(add(end, base), 5), static_cast<unsigned>(value - kPaletteColor));
  return addTrueColor(end, base, trueColorOf(value, darkYellow));
}

/// How a writer names colours, from its policy and flags.
struct Naming {
  bool defaults;
  bool eight;
  bool extended;
  bool direct;
  bool darkYellow;

  /// One layer, `base` 38 or 48: its default is base + 1, its eight colours start at
  /// base - 8, the bright ones at base + 52. With eight colours, only black itself is the
  /// default paper and gray the default ink; their bright forms are not.
  char* layer(char* at, unsigned base, ColorValue value, ColorValue full,
              ColorValue defaultValue) const noexcept {
    if (defaults && (eight ? full : value) == defaultValue) return add(at, base + 1);
    if (extended || !isVga(value)) return addExtended(at, base, value, direct, darkYellow);
    const auto colour = static_cast<unsigned>(value & 7);
    return add(at, (isBright(value) ? base + 52 : base - 8) + colour);
  }
};

/// The sequence whose parameters were written from `out + 1` to `end`: its end, or `out`
/// where there are none, since nothing then changes. Its bytes are written either way and
/// the end is taken back by arithmetic: whether anything changed is a matter of chance in
/// art, and a branch on it (which a conditional became) was mispredicted.
char* finishSgr(char* out, char* end) noexcept {
  out[0] = kEscape;
  out[1] = '[';
  *end = 'm';
  return end + 1 - 2 * std::ptrdiff_t{end == out + 1};
}

/// What `spell(shown.plan(style))` puts out (at `out`; its end) where the policy names
/// 24-bit colours and has no attributes to switch, straight from the style: nothing but
/// the colours that change, or the reset to the defaults. Inline in the loop over the runs,
/// where a call cost 3% of 24-bit art.
[[gnu::always_inline]] inline char* spellDirectly(char* out, const CellStyle& style,
                                                  ColorPlanner& shown,
                                                  const Naming& naming) noexcept {
  const auto [foreground, background] = shown.colorsOf(style);
  const ColorValue shownForeground = shown.shownForeground();
  const ColorValue shownBackground = shown.shownBackground();
  const bool newForeground = foreground != shownForeground;
  const bool newBackground = background != shownBackground;
  shown.assumeShown(foreground, background);
  char* end = out + 1;
  if (naming.defaults && foreground == 7 && background == 0) {
    return newForeground || newBackground ? finishSgr(out, addReset(end)) : out;
  }
  // As `Naming::layer` names them at this depth.
  const auto layer = [&naming](char* at, unsigned base, ColorValue value, ColorValue defaultValue) {
    if (naming.defaults && value == defaultValue) return add(at, base + 1);
    return addTrueColor(at, base, trueColorOf(value, naming.darkYellow));
  };
  // Both layers are spelled and counted only where they change: which of them change is a
  // matter of chance in art, and branches on it were mispredicted.
  end += (layer(end, 48, background, 0) - end) * std::ptrdiff_t{newBackground};
  end += (layer(end, 38, foreground, 7) - end) * std::ptrdiff_t{newForeground};
  return finishSgr(out, end);
}

Naming namingOf(const ColorPolicy& p, const ColorFlags& flags) noexcept {
  const bool direct = p.depth == ColorDepth::Direct;
  return {p.defaultColors, p.depth == ColorDepth::Eight,
          direct || p.depth == ColorDepth::Palette256, direct, flags.has(ColorFlag::DarkYellow)};
}

ColorPolicy policyOf(ColorFlags flags) {
  ColorPolicy policy;
  policy.depth = flags.has(ColorFlag::DirectColors)    ? ColorDepth::Direct
                 : flags.has(ColorFlag::ExactColors)   ? ColorDepth::Palette256
                 : flags.has(ColorFlag::IntenseColors) ? ColorDepth::Sixteen
                                                       : ColorDepth::Eight;
  const bool eight = policy.depth == ColorDepth::Eight;
  const bool blink = flags.has(ColorFlag::BlinkForBrightBg);
  // Reverse stands in for bright backgrounds only where colours 8-15 cannot be named.
  const bool reverse = eight && flags.has(ColorFlag::ReverseForBrightBg);
  policy.defaultColors = flags.has(ColorFlag::DefaultColors);
  policy.brightBackgroundAttribute = blink || reverse;
  policy.brightBackgroundCode = blink || reverse;
  policy.dimBackgrounds = eight || blink;
  policy.boldAttribute = eight;
  policy.boldCode = eight;
  policy.switchOff = flags.has(ColorFlag::FullSgr);
  return policy;
}

}  // namespace

AnsiColorWriter::AnsiColorWriter(std::unique_ptr<Stream> target, UnicodeFormat format,
                                 ColorFlags flags)
    : ColorWriter(std::move(target), format, flags, policyOf(flags)) {
  keepSpelledStyles();
  const ColorPolicy& p = policy();
  // Spelled as ASCII straight into the output, which is UTF-8 then.
  if (format == UnicodeFormat::Utf8 && p.depth == ColorDepth::Direct &&
      ColorPlanner::comparesForEquality(p)) {
    putStyledRunsFirst();
  }
}

bool AnsiColorWriter::spellReset() {
  putAscii("\x1b[m");
  return true;
}

bool AnsiColorWriter::spell(const ColorTransition& t) {
  const Naming n = namingOf(policy(), flags());
  // A bright background is blink, or reverse where blink was not asked for.
  const bool reverse = !flags().has(ColorFlag::BlinkForBrightBg);
  putAsciiBuilt<kLongestSgr>([&](char* const out) {
    char* end = out + 1;
    if (t.reset) end = addReset(end);
    if (t.brightBackground != Switch::Keep) {
      const bool on = t.brightBackground == Switch::On;
      end = add(end, reverse ? (on ? 7 : 27) : (on ? 5 : 25));
    }
    if (t.bold != Switch::Keep) end = add(end, t.bold == Switch::On ? 1 : 22);
    if (t.background != kUnknownColor) end = n.layer(end, 48, t.background, t.fullBackground, 0);
    if (t.foreground != kUnknownColor) end = n.layer(end, 38, t.foreground, t.fullForeground, 7);
    return finishSgr(out, end);
  });
  return true;
}

std::size_t AnsiColorWriter::putStyledRuns(EncodedPiece piece,
                                           std::span<const std::uint32_t> starts,
                                           std::span<const CellStyle> styles, std::size_t first) {
  // Each run's change spelled from its style in one step, instead of planned, handed over
  // and spelled through the general cases: 9% of 24-bit art with --truecolor.
  const Naming n = namingOf(policy(), flags());
  return putRunsWith<kLongestSgr>(
      piece, starts, styles.size(), first,
      [styles, &n](std::byte* at, std::size_t r, ColorPlanner& shown) {
        char* const out = reinterpret_cast<char*>(at);
        return reinterpret_cast<std::byte*>(spellDirectly(out, styles[r], shown, n));
      });
}

}  // namespace vidtwine
