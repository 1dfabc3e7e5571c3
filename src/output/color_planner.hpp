// Works out which colour changes take a terminal from the colours it shows to a cell
// style's; the writers only spell them.
#pragma once

#include <array>
#include <cstdint>

#include "output/text_events.hpp"

namespace vidtwine {

/// A colour as a terminal is told it: a VGA colour 0-15, an entry of the 256-colour
/// palette (kPaletteColor + index) or a 24-bit colour (a TrueColor, from 0x01000000 up);
/// kUnknownColor where the terminal's colour is not known.
using ColorValue = std::int32_t;
inline constexpr ColorValue kUnknownColor = -1;
inline constexpr ColorValue kPaletteColor = 0x100;

constexpr bool isVga(ColorValue value) noexcept {
  return value >= 0 && value < 16;
}
/// Bit 3 of a VGA colour: intensity for a foreground, blink or bright for a background.
constexpr bool isBright(ColorValue value) noexcept {
  return isVga(value) && (value & 8) != 0;
}

/// How many colours the terminal can be told.
enum class ColorDepth : std::uint8_t { Eight, Sixteen, Palette256, Direct };

/// What a writer can do; filled in by each writer from its settings.
struct ColorPolicy {
  ColorDepth depth = ColorDepth::Sixteen;
  /// The terminal's default colours stand for gray on black.
  bool defaultColors = false;
  /// Black backgrounds and gray foregrounds are reached by a reset, never named.
  bool defaultsByReset = false;
  /// Background bit 3 is an attribute (blink or reverse) that only a reset switches off,
  /// unless `switchOff`.
  bool brightBackgroundAttribute = false;
  /// There is a sequence that switches that attribute on.
  bool brightBackgroundCode = false;
  /// Backgrounds are named without bit 3.
  bool dimBackgrounds = false;
  /// Foreground bit 3 is bold, which only a reset switches off unless `switchOff`; the
  /// foreground is named without it.
  bool boldAttribute = false;
  /// There is a sequence that switches bold on.
  bool boldCode = false;
  /// Attributes can be switched off one by one instead of by a reset.
  bool switchOff = false;
};

enum class Switch : std::uint8_t { Keep, On, Off };

/// The changes for one style, in the order a writer puts them out.
struct ColorTransition {
  /// Back to the terminal's defaults first.
  bool reset = false;
  Switch brightBackground = Switch::Keep;
  Switch bold = Switch::Keep;
  /// The colours to name, kUnknownColor for none; without bit 3 where the policy says.
  ColorValue background = kUnknownColor;
  ColorValue foreground = kUnknownColor;
  /// The new colours in full, as the style asks for them.
  ColorValue fullBackground = kUnknownColor;
  ColorValue fullForeground = kUnknownColor;
};

/// Remembers the colours the terminal shows, so that only what changes is written.
class ColorPlanner final {
 public:
  explicit ColorPlanner(const ColorPolicy& policy) noexcept;

  /// Whether `policy` has no attribute that only a reset switches off, no dimmed colours
  /// and no defaults reached by a reset: `plan` then asks of the shown colours only whether
  /// they equal the new ones.
  static constexpr bool comparesForEquality(const ColorPolicy& policy) noexcept {
    return !policy.brightBackgroundAttribute && !policy.brightBackgroundCode &&
           !policy.dimBackgrounds && !policy.boldAttribute && !policy.boldCode &&
           !(policy.defaultColors && policy.defaultsByReset);
  }

  const ColorPolicy& policy() const noexcept { return policy_; }
  /// The colours `style` asks for, at the policy's depth.
  std::pair<ColorValue, ColorValue> colorsOf(const CellStyle& style) noexcept {
    const ColorValue foreground = style.colors.foreground != kNoTrueColor
                                      ? valueOf(style.colors.foreground, false)
                                      : static_cast<ColorValue>(style.attribute & 0x0F);
    const ColorValue background = style.colors.background != kNoTrueColor
                                      ? valueOf(style.colors.background, true)
                                      : static_cast<ColorValue>(style.attribute >> 4);
    return {foreground, background};
  }
  /// The changes that show `style`; the planner then assumes they were made.
  ColorTransition plan(const CellStyle& style) noexcept;
  /// After a reset the writer made by itself: the colours are the terminal's defaults.
  void forget() noexcept;
  /// The colours the terminal is taken to show.
  ColorValue shownForeground() const noexcept { return foreground_; }
  ColorValue shownBackground() const noexcept { return background_; }
  /// For the attribute-only style `attribute`: a number below 64 that tells apart the
  /// shown colours (VGA colours or unknown) to which `plan` gives different changes. It
  /// holds only what `plan` asks of them, not the colours: art with many colours changes
  /// between many pairs of them, which would each count otherwise. (Keyed by the colours,
  /// random art on an 8-colour terminal had 16,000 keys for the writer's 2,048 places and
  /// took 30% longer; now it has 900.)
  std::uint32_t shownKey(CellAttribute attribute) const noexcept {
    const auto foreground = static_cast<ColorValue>(attribute & 0x0F);
    const auto background = static_cast<ColorValue>(attribute >> 4);
    if (comparedForEquality_) {
      return static_cast<std::uint32_t>(foreground_ == foreground) |
             static_cast<std::uint32_t>(background_ == background) << 1;
    }
    return layerKey(foreground_, foreground, policy_.boldAttribute) |
           layerKey(background_, background, policy_.dimBackgrounds) << 3;
  }
  /// After the changes that `plan` gave for the attribute-only style `attribute` were
  /// made again without asking it: the terminal shows the attribute's colours.
  void assumeShown(CellAttribute attribute) noexcept {
    foreground_ = attribute & 0x0F;
    background_ = attribute >> 4;
  }
  /// The same for any colours (see `colorsOf`): the terminal shows them.
  void assumeShown(ColorValue foreground, ColorValue background) noexcept {
    foreground_ = foreground;
    background_ = background;
  }

 private:
  static ColorValue dim(ColorValue value, bool dimmed) noexcept {
    return dimmed && isVga(value) ? (value & 7) : value;
  }
  /// What `plan` asks of the shown colour of one layer on the way to the VGA colour
  /// `wanted`: whether they are equal, and else whether the shown one is bright and
  /// whether both are named alike (`dimmed`: without bit 3). Whether the shown one is
  /// named as the colour a reset gives needs nothing of its own: it counts only where the
  /// wanted one is named so, and then it is whether both are named alike.
  static std::uint32_t layerKey(ColorValue shown, ColorValue wanted, bool dimmed) noexcept {
    // In arithmetic: whether the colours are equal is a matter of chance in art, and a
    // branch on it was mispredicted (6% of real art on an 8-colour terminal).
    const auto vga =
        static_cast<std::uint32_t>(shown >= 0) & static_cast<std::uint32_t>(shown < 16);
    const auto bright = vga & static_cast<std::uint32_t>(shown >> 3);
    const ColorValue named = shown & ~static_cast<ColorValue>(8 * (vga & std::uint32_t{dimmed}));
    const ColorValue wantedNamed = wanted & ~static_cast<ColorValue>(8 * std::uint32_t{dimmed});
    return static_cast<std::uint32_t>(shown != wanted) *
           (1 + bright + 2 * static_cast<std::uint32_t>(named == wantedNamed));
  }
  /// The value that names a 24-bit colour at the policy's depth; `background` limits
  /// the VGA colours to those a background can show.
  ColorValue valueOf(TrueColor color, bool background) noexcept {
    return policy_.depth == ColorDepth::Direct ? static_cast<ColorValue>(color)
                                               : nearestValue(color, background);
  }
  /// `valueOf` for the depths below 24 bits.
  ColorValue nearestValue(TrueColor color, bool background) noexcept;

  ColorPolicy policy_;
  /// `comparesForEquality(policy_)`.
  bool comparedForEquality_;
  ColorValue foreground_ = kUnknownColor;
  ColorValue background_ = kUnknownColor;
  /// For each layer (foreground, background), the last 24-bit colour looked up and its
  /// value: art uses few colours in long runs, and changes one layer at a time (one entry
  /// for both missed where the other layer kept its colour; with one per layer, 24-bit art
  /// on a 16-colour terminal is 14% faster, on a 256-colour one 25%).
  std::array<TrueColor, 2> lastColors_{kNoTrueColor, kNoTrueColor};
  std::array<ColorValue, 2> lastValues_{kUnknownColor, kUnknownColor};
};

}  // namespace vidtwine
