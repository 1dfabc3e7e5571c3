#include "screen/vga_palette.hpp"

#include <algorithm>
#include <array>
#include <cstdint>

namespace vidtwine {

namespace {

// "Redmean": a weighted Euclidean distance in RGB whose weights follow the mean red level
// of the two colours (Thiadmer Riemersma's low-cost approximation of perceived colour
// difference). It ranks colours much as the eye does, at a fraction of the cost of a
// conversion to CIELAB. Scaled by 256 to stay in integers; below 2^28.
constexpr std::int32_t distance(std::int32_t red1, std::int32_t green1, std::int32_t blue1,
                                std::int32_t red2, std::int32_t green2,
                                std::int32_t blue2) noexcept {
  const std::int32_t meanRed = (red1 + red2) >> 1;
  const std::int32_t red = red1 - red2;
  const std::int32_t green = green1 - green2;
  const std::int32_t blue = blue1 - blue2;
  return (512 + meanRed) * red * red + 1024 * green * green + (767 - meanRed) * blue * blue;
}

/// The channels of N colours, each in an array of its own.
template <std::size_t N>
struct Channels {
  std::array<std::int32_t, N> red, green, blue;
};

template <std::size_t N>
constexpr Channels<N> channelsOf(const TrueColor* colors) noexcept {
  Channels<N> channels{};
  for (std::size_t i = 0; i < N; ++i) {
    channels.red[i] = redOf(colors[i]);
    channels.green[i] = greenOf(colors[i]);
    channels.blue[i] = blueOf(colors[i]);
  }
  return channels;
}

/// How near `d` away is, with the colour's `index` (below 256) to tell apart equally near
/// ones: the least key is the nearest colour, and of equally near ones the first.
constexpr std::uint64_t keyOf(std::int32_t d, unsigned index) noexcept {
  return std::uint64_t{static_cast<std::uint32_t>(d)} << 8 | index;
}

/// The key (see `keyOf`) of the colour of table[first..last - 1] nearest to `color`, with
/// its index in the table. All N distances are worked out in one loop over the channels,
/// which the compiler turns into vector steps: three times faster than a colour at a time,
/// for the many colours of 24-bit art.
template <std::size_t N>
std::uint64_t nearestKey(TrueColor color, const Channels<N>& table, unsigned first,
                         unsigned last) noexcept {
  static_assert(N <= 256);
  const std::int32_t red = redOf(color);
  const std::int32_t green = greenOf(color);
  const std::int32_t blue = blueOf(color);
  std::array<std::uint64_t, N> keys;
  for (unsigned i = 0; i < N; ++i)
    keys[i] = keyOf(distance(red, green, blue, table.red[i], table.green[i], table.blue[i]), i);
  std::uint64_t least = keys[first];
  for (unsigned i = first + 1; i < last; ++i)
    least = std::min(least, keys[i]);
  return least;
}

/// The xterm palette's grays come after its colour cube, from this entry on.
constexpr unsigned kFirstGray = 232;

constexpr auto kVgaChannels = channelsOf<16>(kVgaPalette.data());
constexpr auto kGrayChannels = channelsOf<24>(kIndexedColors.data() + kFirstGray);

}  // namespace

unsigned nearestVgaColor(TrueColor color, unsigned first, unsigned last) noexcept {
  return static_cast<unsigned>(nearestKey(color, kVgaChannels, first, last) & 0xFF);
}

unsigned nearestXtermColor(TrueColor color) noexcept {
  // Once the red level of a cube entry is fixed, so are the weights, and its green and blue
  // terms no longer depend on each other: the nearest entry of that red level has the
  // nearest green and blue levels (the lower one of two as near, as the lower entry wins a
  // tie). So six cube entries and the 24 grays are tried instead of 240 entries, about 8
  // times faster for the many colours of 24-bit art.
  constexpr std::array<std::int32_t, 6> kLevels{0, 95, 135, 175, 215, 255};
  // The nearest level by the midpoints between levels, the lower one where a value lies
  // just between two; without a branch, as the values of art are random.
  const auto nearestLevel = [](std::int32_t value) {
    return static_cast<unsigned>((value > 47) + (value > 115) + (value > 155) + (value > 195) +
                                 (value > 235));
  };
  const std::int32_t red = redOf(color);
  const std::int32_t green = greenOf(color);
  const std::int32_t blue = blueOf(color);
  const unsigned greenLevel = nearestLevel(green);
  const unsigned blueLevel = nearestLevel(blue);
  // The grays come after the cube in the palette, so a cube entry wins a tie with them.
  std::uint64_t least = nearestKey(color, kGrayChannels, 0, 24) + kFirstGray;
  for (unsigned level = 0; level < kLevels.size(); ++level) {
    const unsigned index = 16 + 36 * level + 6 * greenLevel + blueLevel;
    const std::int32_t d =
        distance(red, green, blue, kLevels[level], kLevels[greenLevel], kLevels[blueLevel]);
    least = std::min(least, keyOf(d, index));
  }
  return static_cast<unsigned>(least & 0xFF);
}

}  // namespace vidtwine
