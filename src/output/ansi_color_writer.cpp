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
/// four bytes, and how many of them count.
struct Parameter {
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

/// `base` (38 or 48) with a palette index or a 24-bit colour; VGA colours as 24-bit ones
/// when `direct`, else from the palette.
char* addExtended(char* end, unsigned base, ColorValue value, bool direct,
                  bool darkYellow) noexcept {
  end = add(end, base);
  if (isVga(value) && !direct)
    return add(add(end, 5), exactPaletteIndex(static_cast<unsigned>(value), darkYellow));
  if (value >= kPaletteColor && value < kPaletteColor + 256)
    return add(add(end, 5), static_cast<unsigned>(value - kPaletteColor));
  const TrueColor color =
      isVga(value) ? vgaColor(static_cast<unsigned>(value), darkYellow) : TrueColor(value);
  end = add(end, 2);
  end = add(end, redOf(color));
  end = add(end, greenOf(color));
  return add(end, blueOf(color));
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
}

bool AnsiColorWriter::spellReset() {
  putAscii("\x1b[m");
  return true;
}

bool AnsiColorWriter::spell(const ColorTransition& t) {
  // What the writer can name follows from the policy it was made with.
  const ColorPolicy& p = policy();
  const bool defaults = p.defaultColors;
  const bool eight = p.depth == ColorDepth::Eight;
  const bool direct = p.depth == ColorDepth::Direct;
  const bool extended = direct || p.depth == ColorDepth::Palette256;
  // A bright background is blink, or reverse where blink was not asked for.
  const bool reverse = !flags().has(ColorFlag::BlinkForBrightBg);
  const bool darkYellow = flags().has(ColorFlag::DarkYellow);

  putAsciiBuilt<kLongestSgr>([&](char* const out) {
    char* end = out + 1;
    if (t.reset) end = addReset(end);
    if (t.brightBackground != Switch::Keep) {
      const bool on = t.brightBackground == Switch::On;
      end = add(end, reverse ? (on ? 7 : 27) : (on ? 5 : 25));
    }
    if (t.bold != Switch::Keep) end = add(end, t.bold == Switch::On ? 1 : 22);
    // One layer, `base` 38 or 48: its default is base + 1, its eight colours start at
    // base - 8, the bright ones at base + 52. With eight colours, only black itself is the
    // default paper and gray the default ink; their bright forms are not.
    const auto addLayer = [&](char* at, unsigned base, ColorValue value, ColorValue full,
                              ColorValue defaultValue) {
      if (defaults && (eight ? full : value) == defaultValue) return add(at, base + 1);
      if (extended || !isVga(value)) return addExtended(at, base, value, direct, darkYellow);
      const auto colour = static_cast<unsigned>(value & 7);
      return add(at, (isBright(value) ? base + 52 : base - 8) + colour);
    };
    if (t.background != kUnknownColor) end = addLayer(end, 48, t.background, t.fullBackground, 0);
    if (t.foreground != kUnknownColor) end = addLayer(end, 38, t.foreground, t.fullForeground, 7);
    // Nothing to change: nothing is put out.
    if (end == out + 1) return out;
    out[0] = kEscape;
    out[1] = '[';
    *end++ = 'm';
    return end;
  });
  return true;
}

}  // namespace vidtwine
