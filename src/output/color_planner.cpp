#include "output/color_planner.hpp"

#include "screen/vga_palette.hpp"

namespace vidtwine {

ColorPlanner::ColorPlanner(const ColorPolicy& policy) noexcept
    : policy_(policy), comparedForEquality_(comparesForEquality(policy)) {
  forget();
}

void ColorPlanner::forget() noexcept {
  foreground_ = policy_.defaultColors ? 7 : kUnknownColor;
  background_ = policy_.defaultColors ? 0 : kUnknownColor;
}

ColorValue ColorPlanner::nearestValue(TrueColor color, bool background) noexcept {
  const std::size_t layer = background ? 1 : 0;
  if (color == lastColors_[layer]) return lastValues_[layer];
  ColorValue value;
  if (policy_.depth == ColorDepth::Palette256) {
    value = kPaletteColor + static_cast<ColorValue>(nearestXtermColor(color));
  } else {
    // A background from the bright eight would blink or show reversed where bit 3 is an
    // attribute, and cannot be shown with eight colours.
    const bool dark = background && (policy_.depth == ColorDepth::Eight || policy_.dimBackgrounds);
    value = static_cast<ColorValue>(nearestVgaColor(color, 0, dark ? 8 : 16));
  }
  lastColors_[layer] = color;
  lastValues_[layer] = value;
  return value;
}

ColorTransition ColorPlanner::plan(const CellStyle& style) noexcept {
  const auto [fg, bg] = colorsOf(style);
  ColorTransition t;
  t.fullForeground = fg;
  t.fullBackground = bg;
  if (fg == foreground_ && bg == background_) return t;

  const ColorPolicy& p = policy_;
  if (p.defaultColors && fg == 7 && bg == 0) {
    t.reset = true;
    foreground_ = 7;
    background_ = 0;
    return t;
  }

  // An attribute that goes off takes a reset, unless it can be switched off by itself.
  bool reset =
      !p.switchOff && ((p.brightBackgroundAttribute && isBright(background_) && !isBright(bg)) ||
                       (p.boldAttribute && isBright(foreground_) && !isBright(fg)));
  if (p.defaultColors && p.defaultsByReset) {
    const bool dimBg = p.dimBackgrounds;
    const bool dimFg = p.boldAttribute;
    reset = reset || (dim(bg, dimBg) == 0 && dim(background_, dimBg) != 0) ||
            (dim(fg, dimFg) == 7 && dim(foreground_, dimFg) != 7);
  }
  if (reset) {
    t.reset = true;
    // The colours are forgotten even when the output does not get through.
    forget();
  }

  const auto switchOf = [](bool now, bool was) {
    return now == was ? Switch::Keep : now ? Switch::On : Switch::Off;
  };
  if (p.brightBackgroundCode) t.brightBackground = switchOf(isBright(bg), isBright(background_));
  if (p.boldCode) t.bold = switchOf(isBright(fg), isBright(foreground_));
  // Chosen by value, not by branches: which colours change is random in art.
  const ColorValue background = dim(bg, p.dimBackgrounds);
  const ColorValue foreground = dim(fg, p.boldAttribute);
  t.background = background != dim(background_, p.dimBackgrounds) ? background : kUnknownColor;
  t.foreground = foreground != dim(foreground_, p.boldAttribute) ? foreground : kUnknownColor;
  foreground_ = fg;
  background_ = bg;
  return t;
}

}  // namespace vidtwine
