#include "output/color_planner.hpp"

#include <gtest/gtest.h>

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "output/ansi_color_writer.hpp"
#include "output/unicode_encoder.hpp"
#include "screen/vga_palette.hpp"
#include "support/process.hpp"
#include "support/string_sink.hpp"

namespace vidtwine {
namespace {

std::string spelled(ColorValue value) {
  char text[16];
  if (value >= kPaletteColor && value < kPaletteColor + 256) {
    std::snprintf(text, sizeof text, "p%d", value - kPaletteColor);
  } else if (!isVga(value)) {
    std::snprintf(text, sizeof text, "#%06X", static_cast<unsigned>(value) & 0xFFFFFF);
  } else {
    std::snprintf(text, sizeof text, "%d", value);
  }
  return text;
}

/// "reset bright+ bold- bg4 fg15": the changes present, in this order.
std::string spelled(const ColorTransition& t) {
  std::string text;
  const auto add = [&text](const std::string& piece) { text += (text.empty() ? "" : " ") + piece; };
  const auto sign = [](Switch s) { return s == Switch::On ? "+" : "-"; };
  if (t.reset) add("reset");
  if (t.brightBackground != Switch::Keep) add(std::string("bright") + sign(t.brightBackground));
  if (t.bold != Switch::Keep) add(std::string("bold") + sign(t.bold));
  if (t.background != kUnknownColor) add("bg" + spelled(t.background));
  if (t.foreground != kUnknownColor) add("fg" + spelled(t.foreground));
  return text;
}

CellStyle style(CellAttribute attribute, TrueColor ink = kNoTrueColor,
                TrueColor paper = kNoTrueColor) {
  return {attribute, {ink, paper}};
}

TEST(ColorPlanner, PlansOnlyTheChanges) {
  ColorPolicy sixteen;
  ColorPolicy defaults = sixteen;
  defaults.defaultColors = true;
  ColorPolicy byReset = defaults;
  byReset.defaultsByReset = true;
  ColorPolicy eight;
  eight.depth = ColorDepth::Eight;
  eight.boldAttribute = eight.boldCode = eight.dimBackgrounds = true;
  ColorPolicy eightSwitchOff = eight;
  eightSwitchOff.switchOff = true;
  ColorPolicy blink;
  blink.brightBackgroundAttribute = blink.brightBackgroundCode = blink.dimBackgrounds = true;
  ColorPolicy direct;
  direct.depth = ColorDepth::Direct;
  ColorPolicy palette;
  palette.depth = ColorDepth::Palette256;

  const TrueColor ink = trueColor(0x10, 0x20, 0x30);
  const TrueColor white = trueColor(0xF0, 0xF0, 0xF0);
  struct Case {
    const char* name;
    ColorPolicy policy;
    std::vector<std::optional<CellStyle>> styles;  // none: the writer reset by itself
    std::vector<std::string> transitions;
  };
  const Case cases[] = {
      {"16 colours",
       sixteen,
       {style(0x07), style(0x07), style(0x4F), style(0x47), std::nullopt, style(0x47)},
       {"bg0 fg7", "", "bg4 fg15", "fg7", "", "bg4 fg7"}},
      {"16 colours, defaults",
       defaults,
       {style(0x07), style(0x4F), style(0x07), style(0x47)},
       {"", "bg4 fg15", "reset", "bg4"}},
      {"defaults reached by reset",
       byReset,
       {style(0x4F), style(0x0F), style(0x41), style(0x47)},
       {"bg4 fg15", "reset fg15", "bg4 fg1", "reset bg4"}},
      {"8 colours, intensity as bold",
       eight,
       {style(0x07), style(0x4F), style(0x0E), style(0x06)},
       {"bg0 fg7", "bold+ bg4", "bg0 fg6", "reset bg0 fg6"}},
      {"8 colours, bold switched off",
       eightSwitchOff,
       {style(0x0E), style(0x06)},
       {"bold+ bg0 fg6", "bold-"}},
      {"bright backgrounds as blink",
       blink,
       {style(0x07), style(0xCF), style(0x4F)},
       {"bg0 fg7", "bright+ bg4 fg15", "reset bg4 fg15"}},
      {"24-bit colours",
       direct,
       {style(0x07, ink), style(0x07, ink), style(0x07), style(0x07, kNoTrueColor, kVgaPalette[0])},
       {"bg0 fg#102030", "", "fg7", "bg#000000"}},
      {"24-bit colours from the palette",
       palette,
       {style(0x07, xtermColor(100)), style(0x07, xtermColor(100), xtermColor(232))},
       {"bg0 fgp100", "bgp232"}},
      {"24-bit colours in 16", sixteen, {style(0x07, white, white)}, {"bg15 fg15"}},
      {"dark 24-bit backgrounds where bit 3 blinks",
       blink,
       {style(0x07, white, white)},
       {"bg7 fg15"}},
      {"24-bit colours in 8", eight, {style(0x07, white, white)}, {"bold+ bg7 fg7"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ColorPlanner planner(c.policy);
    std::vector<std::string> transitions;
    for (const auto& s : c.styles) {
      if (s) {
        transitions.push_back(spelled(planner.plan(*s)));
      } else {
        planner.forget();
        transitions.emplace_back();
      }
    }
    EXPECT_EQ(transitions, c.transitions);
  }
}

TEST(ColorPlanner, ShownColoursWithOneKeyGetTheSameChanges) {
  // The writers keep what they spelled for a style under the style and this key.
  ColorPolicy sixteen;
  std::vector<ColorPolicy> policies(11, sixteen);
  policies[1].defaultColors = true;
  policies[2].defaultColors = policies[2].defaultsByReset = true;
  policies[3].depth = ColorDepth::Eight;
  policies[3].boldAttribute = policies[3].boldCode = policies[3].dimBackgrounds = true;
  policies[4].brightBackgroundAttribute = policies[4].brightBackgroundCode = true;
  policies[5].dimBackgrounds = true;
  policies[6].boldAttribute = true;
  policies[7].depth = ColorDepth::Palette256;
  policies[8].defaultsByReset = true;
  // Eight colours with attributes switched off one by one, and with blink for bright
  // backgrounds and the defaults reached by a reset.
  policies[9] = policies[3];
  policies[9].switchOff = true;
  policies[10] = policies[3];
  policies[10].brightBackgroundAttribute = policies[10].brightBackgroundCode = true;
  policies[10].defaultColors = policies[10].defaultsByReset = true;
  for (const ColorPolicy& policy : policies) {
    std::map<std::uint32_t, std::string> changes;
    // Shown before: unknown (or the defaults), then every attribute's colours.
    for (int before = -1; before < 256; ++before) {
      for (unsigned attribute = 0; attribute < 256; ++attribute) {
        ColorPlanner planner(policy);
        if (before >= 0) planner.plan(style(static_cast<CellAttribute>(before)));
        const auto a = static_cast<CellAttribute>(attribute);
        const std::uint32_t key = planner.shownKey(a) << 8 | attribute;
        const std::string planned = spelled(planner.plan(style(a)));
        const auto [kept, added] = changes.try_emplace(key, planned);
        ASSERT_EQ(kept->second, planned) << "before " << before << ", attribute " << attribute;
      }
    }
  }
}

TEST(ColorPlanner, FindsTheNearestPaletteColours) {
  for (unsigned index = 0; index < 16; ++index) {
    EXPECT_EQ(nearestVgaColor(kVgaPalette[index]), index);
    EXPECT_GE(nearestXtermColor(kVgaPalette[index]), 16u);
  }
  for (unsigned index = 16; index < 256; ++index)
    EXPECT_EQ(nearestXtermColor(xtermColor(index)), index);
  // The first sixteen entries of the palette, which terminal themes change, are never used.
  for (unsigned value = 0; value < 0x1000; value += 7) {
    const auto level = [value](unsigned shift) {
      return static_cast<std::uint8_t>((value >> shift & 0xF) * 17);
    };
    EXPECT_GE(nearestXtermColor(trueColor(level(8), level(4), level(0))), 16u) << value;
  }
}

TEST(ColorPlanner, TheNearestColourIsTheNearestOfAllEntries) {
  // The same "redmean" distance, tried on every entry 16-255 of the xterm palette and on
  // the first 8 and all 16 VGA colours; the first of equals wins.
  const auto distance = [](TrueColor a, TrueColor b) {
    const std::int64_t meanRed = (std::int64_t{redOf(a)} + redOf(b)) / 2;
    const std::int64_t red = std::int64_t{redOf(a)} - redOf(b);
    const std::int64_t green = std::int64_t{greenOf(a)} - greenOf(b);
    const std::int64_t blue = std::int64_t{blueOf(a)} - blueOf(b);
    return (512 + meanRed) * red * red + 1024 * green * green + (767 - meanRed) * blue * blue;
  };
  // Every level from 0 to 255 in each channel, combined with the others at random.
  std::uint32_t state = 1;
  for (unsigned n = 0; n < 3 * 256 * 64; ++n) {
    state = state * 1103515245u + 12345u;
    std::array<std::uint8_t, 3> rgb{static_cast<std::uint8_t>(state >> 8),
                                    static_cast<std::uint8_t>(state >> 16),
                                    static_cast<std::uint8_t>(state >> 24)};
    rgb[n % 3] = static_cast<std::uint8_t>(n / 3 % 256);
    const TrueColor color = trueColor(rgb[0], rgb[1], rgb[2]);
    unsigned best = 16;
    for (unsigned index = 17; index < 256; ++index) {
      if (distance(color, xtermColor(index)) < distance(color, xtermColor(best))) best = index;
    }
    ASSERT_EQ(nearestXtermColor(color), best) << std::hex << color;
    for (const unsigned last : {8u, 16u}) {
      unsigned vga = 0;
      for (unsigned index = 1; index < last; ++index) {
        if (distance(color, kVgaPalette[index]) < distance(color, kVgaPalette[vga])) vga = index;
      }
      ASSERT_EQ(nearestVgaColor(color, 0, last), vga) << std::hex << color;
    }
  }
}

/// What a generic writer puts out for `second` right after gray on black.
std::string sequenceFor(ColorFlags flags, const CellStyle& second) {
  std::string output;
  AnsiColorWriter writer(std::make_unique<test::StringSink>(output), UnicodeFormat::Utf8, flags);
  constexpr std::uint16_t kSeparator = '|';
  writer.begin(true);
  writer.style(style(0x07));
  writer.text({&kSeparator, 1});
  writer.style(second);
  EXPECT_TRUE(writer.finish());
  return test::visible(output.substr(output.find('|') + 1));
}

TEST(ColorPlanner, GenericWriterSpellsTrueColoursAtItsDepth) {
  using enum ColorFlag;
  const ColorFlags intense = IntenseColors;
  EXPECT_EQ(sequenceFor(ColorFlags(DirectColors) | ExactColors,
                        style(0x07, trueColor(200, 100, 50), trueColor(10, 20, 30))),
            "ESC[48;2;10;20;30;38;2;200;100;50m");
  EXPECT_EQ(sequenceFor(intense | ExactColors, style(0x07, trueColor(133, 137, 2))),
            "ESC[38;5;100m");
  EXPECT_EQ(sequenceFor(intense, style(0x07, trueColor(0xF0, 0x50, 0x60))), "ESC[91m");
  EXPECT_EQ(sequenceFor({}, style(0x07, trueColor(0xF0, 0x50, 0x60))), "ESC[1;31m");

  for (unsigned value = 0; value < 0x1000; value += 13) {
    const auto level = [value](unsigned shift) {
      return static_cast<std::uint8_t>((value >> shift & 0xF) * 17);
    };
    const TrueColor ink = trueColor(level(8), level(4), level(0));
    SCOPED_TRACE(testing::Message() << std::hex << ink);
    const std::string rgb = std::to_string(redOf(ink)) + ";" + std::to_string(greenOf(ink)) + ";" +
                            std::to_string(blueOf(ink));
    EXPECT_EQ(sequenceFor(DirectColors, style(0x07, ink)), "ESC[38;2;" + rgb + "m");

    const unsigned xterm = nearestXtermColor(ink);
    ASSERT_GE(xterm, 16u);
    EXPECT_EQ(sequenceFor(ExactColors, style(0x07, ink)),
              "ESC[38;5;" + std::to_string(xterm) + "m");

    // Gray, the colour already shown, needs no sequence.
    const unsigned vga = nearestVgaColor(ink);
    const std::string sixteen = "ESC[" + std::to_string(vga < 8 ? 30 + vga : 90 + vga - 8) + "m";
    EXPECT_EQ(sequenceFor(intense, style(0x07, ink)), vga == 7 ? "" : sixteen);
    std::string eight = vga >= 8 ? "1" : "";
    if ((vga & 7) != 7) {
      if (!eight.empty()) eight += ';';
      eight += std::to_string(30 + (vga & 7));
    }
    EXPECT_EQ(sequenceFor({}, style(0x07, ink)), eight.empty() ? "" : "ESC[" + eight + "m");
  }
}

}  // namespace
}  // namespace vidtwine
