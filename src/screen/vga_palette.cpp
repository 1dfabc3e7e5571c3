#include "screen/vga_palette.hpp"

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

}  // namespace

unsigned nearestVgaColor(TrueColor color, unsigned first, unsigned last) noexcept {
  unsigned best = first;
  for (unsigned index = first + 1; index < last; ++index) {
    if (distance(color, kVgaPalette[index]) < distance(color, kVgaPalette[best])) best = index;
  }
  return best;
}

unsigned nearestXtermColor(TrueColor color) noexcept {
  unsigned best = 16;
  std::int64_t bestDistance = distance(color, kIndexedColors[16]);
  for (unsigned index = 17; index < 256; ++index) {
    const std::int64_t d = distance(color, kIndexedColors[index]);
    if (d < bestDistance) {
      best = index;
      bestDistance = d;
    }
  }
  return best;
}

}  // namespace vidtwine
