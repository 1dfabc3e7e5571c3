#include "screen/vga_palette.hpp"

#include <algorithm>
#include <array>
#include <cstdlib>

namespace vidtwine {

namespace {

// "Redmean": a weighted Euclidean distance in RGB whose weights follow the mean red level
// of the two colours (Thiadmer Riemersma's low-cost approximation of perceived colour
// difference). It ranks colours much as the eye does, at a fraction of the cost of a
// conversion to CIELAB. Scaled by 256 to stay in integers.
std::int64_t distance(TrueColor a, TrueColor b) noexcept {
  const std::int64_t meanRed = (std::int64_t{redOf(a)} + redOf(b)) / 2;
  const std::int64_t red = std::int64_t{redOf(a)} - redOf(b);
  const std::int64_t green = std::int64_t{greenOf(a)} - greenOf(b);
  const std::int64_t blue = std::int64_t{blueOf(a)} - blueOf(b);
  return (512 + meanRed) * red * red + 1024 * green * green + (767 - meanRed) * blue * blue;
}

/// The index of the colour of table[first..last - 1] nearest to `color`; the first of
/// equally near ones.
unsigned nearestIn(TrueColor color, const TrueColor* table, unsigned first,
                   unsigned last) noexcept {
  unsigned best = first;
  std::int64_t bestDistance = distance(color, table[first]);
  for (unsigned index = first + 1; index < last; ++index) {
    const std::int64_t d = distance(color, table[index]);
    // Chosen by value, not by a branch: which entry is nearer is random for art's colours.
    best = d < bestDistance ? index : best;
    bestDistance = std::min(d, bestDistance);
  }
  return best;
}

}  // namespace

unsigned nearestVgaColor(TrueColor color, unsigned first, unsigned last) noexcept {
  return nearestIn(color, kVgaPalette.data(), first, last);
}

unsigned nearestXtermColor(TrueColor color) noexcept {
  // Once the red level of a cube entry is fixed, so are the weights, and its green and blue
  // terms no longer depend on each other: the nearest entry of that red level has the
  // nearest green and blue levels (the lower one of two as near, as the lower entry wins a
  // tie). So six cube entries and the 24 grays are tried instead of 240 entries, about 8
  // times faster for the many colours of 24-bit art.
  constexpr std::array<int, 6> kLevels{0, 95, 135, 175, 215, 255};
  const auto nearestLevel = [&kLevels](int value) {
    unsigned best = 0;
    for (unsigned level = 1; level < kLevels.size(); ++level) {
      if (std::abs(value - kLevels[level]) < std::abs(value - kLevels[best])) best = level;
    }
    return best;
  };
  const unsigned greenAndBlue = 6 * nearestLevel(greenOf(color)) + nearestLevel(blueOf(color));
  unsigned best = 16 + greenAndBlue;
  std::int64_t bestDistance = distance(color, kIndexedColors[best]);
  for (unsigned red = 1; red < kLevels.size(); ++red) {
    const unsigned index = 16 + 36 * red + greenAndBlue;
    const std::int64_t d = distance(color, kIndexedColors[index]);
    best = d < bestDistance ? index : best;
    bestDistance = std::min(d, bestDistance);
  }
  const unsigned gray = nearestIn(color, kIndexedColors.data(), 232, 256);
  return distance(color, kIndexedColors[gray]) < bestDistance ? gray : best;
}

}  // namespace vidtwine
