#include "codepage/codepage_mapper.hpp"

#include <gtest/gtest.h>

#include <cstdint>

#include "codepage/codepage_tables.hpp"

namespace vidtwine {
namespace {

constexpr CodepageId k437 = 0;
constexpr CodepageId k708 = 1;
constexpr CodepageId k720 = 2;
constexpr CodepageId k850 = 6;
constexpr CodepageId k855 = 8;
constexpr CodepageId k857 = 9;
constexpr CodepageId k863 = 13;
constexpr CodepageId k864 = 14;
constexpr CodepageId k869 = 16;

// What the command line gives: no option; -X; -X then -p; -p; -P; -e; -X -e.
const MapperFlags kDefault = MapperFlag::VgaLookalike;
const MapperFlags kPlain = MapperFlag::PlainBar;
const MapperFlags kBrokenNoLookalike = MapperFlag::BrokenBar;
const MapperFlags kBroken = MapperFlags(MapperFlag::BrokenBar) | MapperFlag::VgaLookalike;
const MapperFlags kPlainLookalike = MapperFlags(MapperFlag::PlainBar) | MapperFlag::VgaLookalike;
const MapperFlags kEuro = MapperFlags(MapperFlag::Euro) | MapperFlag::VgaLookalike;
const MapperFlags kPlainEuro = MapperFlags(MapperFlag::PlainBar) | MapperFlag::Euro;

struct MapCase {
  const char* what;
  CodepageId id;
  MapperFlags flags;
  std::uint8_t byte;
  std::uint16_t expected;
};

TEST(CodepageMapper, MapsBytes) {
  const MapCase cases[] = {
      {"437 broken bar by default", k437, kDefault, 0x7C, 0x00A6},
      {"437 control glyph 0x16 as VGA's flat bar", k437, kDefault, 0x16, 0x2582},
      {"437 NUL as blank", k437, kDefault, 0x00, 0x0020},
      {"437 no-break space as blank", k437, kDefault, 0xFF, 0x0020},
      {"437 smiley", k437, kDefault, 0x01, 0x263A},
      {"437 full block", k437, kDefault, 0xDB, 0x2588},
      {"437 house", k437, kDefault, 0x7F, 0x2302},
      {"437 -X pipe bar", k437, kPlain, 0x7C, 0x007C},
      {"437 -X control glyph 0x16", k437, kPlain, 0x16, 0x25AC},
      {"437 -X NUL", k437, kPlain, 0x00, 0x0000},
      {"437 -X no-break space", k437, kPlain, 0xFF, 0x00A0},
      {"437 -X house", k437, kPlain, 0x7F, 0x2302},
      {"437 -X -p pipe bar", k437, kBrokenNoLookalike, 0x7C, 0x00A6},
      {"437 -X -p control glyph 0x16", k437, kBrokenNoLookalike, 0x16, 0x25AC},
      {"437 -P keeps look-alikes", k437, kPlainLookalike, 0x00, 0x0020},
      {"850 has its own broken bar", k850, kDefault, 0x7C, 0x007C},
      {"850 its broken bar", k850, kDefault, 0xDD, 0x00A6},
      {"850 -p", k850, kBroken, 0x7C, 0x00A6},
      {"850 soft hyphen", k850, kDefault, 0xF0, 0x002D},
      {"850 -X soft hyphen", k850, kPlain, 0xF0, 0x00AD},
      {"850 -e replaces dotless i", k850, kEuro, 0xD5, 0x20AC},
      {"850 -e keeps currency sign", k850, kEuro, 0xCF, 0x00A4},
      {"850 -X -e", k850, kPlainEuro, 0xD5, 0x20AC},
      {"850 -X -e pipe bar", k850, kPlainEuro, 0x7C, 0x007C},
      {"850 without -e", k850, kDefault, 0xD5, 0x0131},
      {"855 -e", k855, kEuro, 0xCF, 0x20AC},
      {"855 without -e", k855, kDefault, 0xCF, 0x00A4},
      {"857 -e fills an undefined position", k857, kEuro, 0xD5, 0x20AC},
      {"857 undefined position", k857, kDefault, 0xD5, 0x25AE},
      {"863 -e", k863, kEuro, 0x98, 0x20AC},
      {"863 has its own broken bar", k863, kEuro, 0x7C, 0x007C},
      {"864 control glyphs", k864, kDefault, 0x05, 0x2550},
      {"864 control glyphs whatever the flags", k864, kPlain, 0x0F, 0x255D},
      {"864 control glyphs keep the smiley", k864, kDefault, 0x01, 0x263A},
      {"864 -e", k864, kEuro, 0xA7, 0x20AC},
      {"864 -e keeps currency sign", k864, kEuro, 0xA4, 0x00A4},
      {"864 undefined position", k864, kDefault, 0x9B, 0x25AE},
      {"864 -X undefined position", k864, kPlain, 0x9B, 0xFFFD},
      {"864 no-break space", k864, kDefault, 0xA0, 0x0020},
      {"864 soft hyphen", k864, kDefault, 0xA1, 0x002D},
      {"864 ASCII percent", k864, kDefault, 0x25, 0x0025},
      {"864 tail fragment", k864, kDefault, 0x9F, 0xFE73},
      {"864 has its own broken bar", k864, kDefault, 0x7C, 0x007C},
      {"869 -e fills an undefined position", k869, kEuro, 0x87, 0x20AC},
      {"869 undefined position", k869, kDefault, 0x87, 0x25AE},
      {"869 ano teleia", k869, kDefault, 0x88, 0x0387},
      {"708 alef isolated", k708, kDefault, 0xC7, 0xFE8D},
      {"708 alef madda isolated", k708, kDefault, 0xC2, 0xFE81},
      {"708 -X alef", k708, kPlain, 0xC7, 0x0627},
      {"708 -X alef madda", k708, kPlain, 0xC2, 0x0622},
      {"708 tatweel stays", k708, kDefault, 0xE0, 0x0640},
      {"708 comma stays", k708, kDefault, 0xAC, 0x060C},
      {"708 broken bar", k708, kDefault, 0x7C, 0x00A6},
      {"708 -X -p broken bar", k708, kBrokenNoLookalike, 0x7C, 0x00A6},
      {"708 -P", k708, kPlainLookalike, 0x7C, 0x007C},
      {"708 -e", k708, kEuro, 0xA4, 0x20AC},
      {"720 -e", k720, kEuro, 0x94, 0x20AC},
      {"720 shadda isolated", k720, kDefault, 0x91, 0xFE7C},
      {"720 C1 control position", k720, kDefault, 0x80, 0x25AE},
      {"720 -X C1 control position", k720, kPlain, 0x80, 0xFFFD},
      {"819 soft hyphen", 5, kDefault, 0xAD, 0x002D},
      {"819 no-break space", 5, kDefault, 0xA0, 0x0020},
      {"KAM", 17, kDefault, 0x80, 0x010C},
      {"MAZ", 18, kDefault, 0x86, 0x0105},
      {"MIK -e", 19, kEuro, 0xFD, 0x20AC},
  };
  for (const MapCase& c : cases) {
    const CodepageMapper mapper(c.id, c.flags);
    EXPECT_EQ(mapper.map(c.byte), c.expected) << c.what;
  }
}

struct PageFacts {
  CodepageId id;
  bool holdsBrokenBar;
  std::uint8_t euroByte;
};

// Whether each upper half holds U+00A6, and where each code page puts the euro.
constexpr PageFacts kPageFacts[] = {
    {0, false, 0x00},  {1, false, 0xA4},  {2, false, 0x94},  {3, false, 0x00},  {4, true, 0x9F},
    {5, true, 0xA4},   {6, true, 0xD5},   {7, false, 0xCF},  {8, false, 0xCF},  {9, true, 0xD5},
    {10, false, 0x00}, {11, false, 0x00}, {12, false, 0x00}, {13, true, 0x98},  {14, true, 0xA7},
    {15, false, 0xAF}, {16, true, 0x87},  {17, false, 0x00}, {18, false, 0x00}, {19, false, 0xFD},
};

TEST(CodepageMapper, BrokenBarAndEuroBytePerCodepage) {
  for (const PageFacts& page : kPageFacts) {
    SCOPED_TRACE(codepageName(page.id));
    for (bool lookalike : {false, true}) {
      const MapperFlags base = lookalike ? kDefault : MapperFlags{};
      const CodepageMapper automatic(page.id, base);
      EXPECT_EQ(automatic.brokenBar(), !page.holdsBrokenBar);
      EXPECT_EQ(automatic.euroByte(), 0);
      EXPECT_TRUE(CodepageMapper(page.id, base | MapperFlag::BrokenBar).brokenBar());
      EXPECT_FALSE(CodepageMapper(page.id, base | MapperFlag::PlainBar).brokenBar());
      EXPECT_FALSE(
          CodepageMapper(page.id, base | MapperFlag::PlainBar | MapperFlag::BrokenBar).brokenBar());

      const CodepageMapper euro(page.id, base | MapperFlag::Euro);
      EXPECT_EQ(euro.euroByte(), page.euroByte);
      EXPECT_EQ(euro.brokenBar(), !page.holdsBrokenBar);
      int euroSigns = 0;
      for (int b = 0; b < 256; ++b) {
        if (euro.map(static_cast<std::uint8_t>(b)) == 0x20AC) ++euroSigns;
        if (automatic.map(static_cast<std::uint8_t>(b)) == 0x20AC) ADD_FAILURE() << b;
      }
      EXPECT_EQ(euroSigns, page.euroByte == 0 ? 0 : 1);
      if (page.euroByte != 0) {
        EXPECT_EQ(euro.map(page.euroByte), 0x20AC);
      }
    }
  }
}

// The mapping rules in the order they apply, evaluated per byte.
std::uint16_t mapByRules(CodepageId id, MapperFlags flags, const CodepageMapper& mapper,
                         std::uint8_t b) {
  const bool lookalike = flags.has(MapperFlag::VgaLookalike);
  if (b == 0x7F) return 0x2302;
  if (mapper.euroByte() != 0 && b == mapper.euroByte()) return 0x20AC;
  if (b == 0x7C && mapper.brokenBar()) return 0x00A6;
  const std::uint16_t c = b < 0x20   ? controlGlyphTable(id)[b]
                          : b < 0x80 ? b
                                     : upperHalfTable(id, lookalike)[b - 0x80u];
  if (!lookalike) return c;
  switch (c) {
    case 0x0000:
    case 0x00A0:
      return 0x0020;
    case 0x00AD:
      return 0x002D;
    case 0x25AC:
      return 0x2582;
    case 0xFFFD:
      return 0x25AE;
    default:
      return c;
  }
}

TEST(CodepageMapper, PrecomputedTableFollowsTheRulesForEveryPageAndSetting) {
  for (CodepageId id = 0; id < kCodepageCount; ++id) {
    for (std::uint8_t bits = 0; bits < 16; ++bits) {
      const MapperFlags flags = MapperFlags::fromBits(bits);
      const CodepageMapper mapper(id, flags);
      for (int b = 0; b < 256; ++b) {
        const auto byte = static_cast<std::uint8_t>(b);
        ASSERT_EQ(mapper.map(byte), mapByRules(id, flags, mapper, byte))
            << "code page " << codepageName(id) << ", flags " << int{bits} << ", byte " << b;
      }
      for (int b = 0x20; b < 0x7F; ++b) {
        if (b != 0x7C) {
          ASSERT_EQ(mapper.map(static_cast<std::uint8_t>(b)), b);
        }
      }
    }
  }
}

bool isArabicLetterOrMark(std::uint16_t c) {
  return (c >= 0x0621 && c <= 0x063A) || (c >= 0x0641 && c <= 0x0652);
}

TEST(CodepageMapper, LookalikeTablesShowEveryArabicLetterIsolated) {
  for (CodepageId id : {k708, k720}) {
    SCOPED_TRACE(codepageName(id));
    const UpperHalfTable& plain = upperHalfTable(id, false);
    const UpperHalfTable& isolated = upperHalfTable(id, true);
    int letters = 0;
    for (std::size_t i = 0; i < plain.size(); ++i) {
      if (isArabicLetterOrMark(plain[i])) {
        ++letters;
        EXPECT_GE(isolated[i], 0xFE70) << i;
        EXPECT_LE(isolated[i], 0xFEFC) << i;
      } else {
        EXPECT_EQ(isolated[i], plain[i]) << i;
      }
    }
    EXPECT_EQ(letters, 44);
  }
}

}  // namespace
}  // namespace vidtwine
