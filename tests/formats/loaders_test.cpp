// The format loaders on files built byte by byte, and the choice of loader.
#include <gtest/gtest.h>

#include "support/screen_text.hpp"

#include <string>
#include <string_view>
#include <vector>

#include "formats/artworx_loader.hpp"
#include "formats/avatar_loader.hpp"
#include "formats/binary_text_loader.hpp"
#include "formats/cell_grid.hpp"
#include "formats/format_detection.hpp"
#include "formats/ice_draw_loader.hpp"
#include "formats/pcboard_loader.hpp"
#include "formats/tundra_draw_loader.hpp"
#include "formats/xbin_loader.hpp"
#include "screen/vga_palette.hpp"

namespace vidtwine {
namespace {

using Bytes = std::vector<std::uint8_t>;
using namespace std::string_view_literals;

Bytes bytes(std::string_view text) {
  return Bytes(text.begin(), text.end());
}
Bytes operator+(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}
Bytes repeated(std::size_t count, std::uint8_t value) {
  return Bytes(count, value);
}

using test::screenText;

TEST(FormatDetection, ChosenThenSauceThenSignatureThenExtension) {
  const Bytes xbin = bytes("XBIN\x1a"sv);
  const Bytes tundra = bytes("\x18TUNDRA24"sv);
  const Bytes ice = bytes(
      "\x04"
      "1.4"sv);
  const Bytes text = bytes("hello");
  using Sauce = std::optional<std::pair<std::uint8_t, std::uint8_t>>;
  struct Case {
    std::optional<InputFormat> chosen;
    Sauce sauce;
    const Bytes& head;
    std::string_view path;
    InputFormat expected;
  };
  const Case cases[] = {
      {InputFormat::Avatar, Sauce{{6, 0}}, xbin, "a.xb", InputFormat::Avatar},
      {std::nullopt, Sauce{{5, 80}}, xbin, "", InputFormat::Bin},
      {std::nullopt, Sauce{{6, 0}}, text, "", InputFormat::XBin},
      {std::nullopt, Sauce{{1, 4}}, text, "", InputFormat::Pcboard},
      {std::nullopt, Sauce{{1, 5}}, text, "", InputFormat::Avatar},
      {std::nullopt, Sauce{{1, 8}}, text, "", InputFormat::Tnd},
      // An ANSI or unknown type leaves the choice to the signature.
      {std::nullopt, Sauce{{1, 1}}, xbin, "", InputFormat::XBin},
      {std::nullopt, Sauce{{0, 0}}, tundra, "x.ans", InputFormat::Tnd},
      {std::nullopt, std::nullopt, ice, "", InputFormat::Idf},
      {std::nullopt, std::nullopt, text, "dir.bin/ART.XBIN", InputFormat::XBin},
      {std::nullopt, std::nullopt, text, "a.Bin", InputFormat::Bin},
      {std::nullopt, std::nullopt, text, "a.ADF", InputFormat::Adf},
      {std::nullopt, std::nullopt, text, "a.idf", InputFormat::Idf},
      {std::nullopt, std::nullopt, text, "a.tNd", InputFormat::Tnd},
      {std::nullopt, std::nullopt, text, "a.PCB", InputFormat::Pcboard},
      {std::nullopt, std::nullopt, text, "a.avt", InputFormat::Avatar},
      {std::nullopt, std::nullopt, text, "a.xb", InputFormat::XBin},
      {std::nullopt, std::nullopt, text, "dir.bin/art", InputFormat::Ansi},
      {std::nullopt, std::nullopt, bytes("XBIN"), "", InputFormat::Ansi},
      {std::nullopt, std::nullopt, text, "", InputFormat::Ansi},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(detectFormat({c.chosen, c.sauce, c.head, c.path}), c.expected) << c.path;
  }
}

TEST(CellGrid, AttributesAndPalettes) {
  // Red and blue trade places; intensity and blink stay.
  EXPECT_EQ(screenAttribute(0x1C), 0x49);
  EXPECT_EQ(screenAttribute(0xF0), 0xF0);
  // 6-bit levels: 63 is 255, 42 is 170, 21 is 85, values beyond 63 count as 63.
  Bytes raw = repeated(48, 0);
  raw[0] = 42;
  raw[1] = 21;
  raw[2] = 200;
  const DosPalette palette = decodePalette(std::span<const std::uint8_t, 48>(raw.data(), 48));
  EXPECT_EQ(palette[0], trueColor(170, 85, 255));
  EXPECT_EQ(palette[1], trueColor(0, 0, 0));
}

TEST(BinaryTextLoader, RowsOfTheScreenWidthUpToTheSizeAndTheEndOfFileMark) {
  const Bytes five = bytes(
      "a\x07"
      "b\x1c"
      "c\x07"
      "d\x07"
      "e\x1a");
  // The loader reads in blocks of 64 KiB: data that ends on and just after a block's end.
  const Bytes block = [] {
    Bytes pairs;
    for (std::size_t i = 0; i < 32768; ++i)
      pairs.insert(pairs.end(), {static_cast<std::uint8_t>('a' + i % 4), 0x07});
    return pairs;
  }();
  struct Case {
    Bytes file;
    std::uint64_t size;
    bool dropEndOfFile;
    std::uint64_t cells;
    ScreenCell last;
  };
  const Case cases[] = {
      {five, 10, false, 5, 'e' << 8 | 0x4A},
      {five, 10, true, 4, 'd' << 8 | 0x07},  // the mark dropped, the odd byte ignored
      {five + bytes("\x1a"), 11, true, 5, 'e' << 8 | 0x4A},
      {five + bytes("SAUCE"), 6, true, 3, 'c' << 8 | 0x07},
      {block + bytes("\x1a"), 65537, true, 32768, 'd' << 8 | 0x07},
      {block + bytes("e\x1a"), 65538, true, 32768, 'd' << 8 | 0x07},
      {block + bytes("e\x07\x1a"), 65539, true, 32769, 'e' << 8 | 0x07},
      {block + bytes("e\x07"
                     "f\x07"),
       65538, false, 32769, 'e' << 8 | 0x07},
  };
  for (const Case& c : cases) {
    auto screen = VirtualScreen::create(4, 25, 4);
    auto stream = MemoryStream::create(c.file.size() + 1);
    stream->write(c.file.data(), c.file.size());
    ASSERT_EQ(BinaryTextLoader::load(*screen, *stream, c.size, c.dropEndOfFile), nullptr);
    EXPECT_EQ(screen->usedRows(), (c.cells + 3) / 4) << c.size;
    EXPECT_EQ(screen->cell((c.cells - 1) / 4, (c.cells - 1) % 4), c.last) << c.size;
    if (c.cells % 4 != 0) {
      EXPECT_EQ(screen->cell(c.cells / 4, c.cells % 4), kBlankCell) << c.size;
    }
  }
  auto screen = VirtualScreen::create(4, 25, 4);
  auto stream = MemoryStream::create(16);
  stream->write(five.data(), five.size());
  ASSERT_EQ(BinaryTextLoader::load(*screen, *stream, 10, false), nullptr);
  EXPECT_EQ(screenText(*screen), "abcd|e");
  EXPECT_EQ(screen->cell(0, 1), 'b' << 8 | 0x49);
}

/// An XBin file: header, then `rest`.
Bytes xbin(std::uint16_t width, std::uint16_t height, std::uint8_t flags, const Bytes& rest,
           std::uint8_t fontHeight = 16) {
  return bytes("XBIN\x1a"sv) +
         Bytes{static_cast<std::uint8_t>(width),
               static_cast<std::uint8_t>(width >> 8),
               static_cast<std::uint8_t>(height),
               static_cast<std::uint8_t>(height >> 8),
               fontHeight,
               flags} +
         rest;
}

TEST(XBinLoader, EveryCompressionKindAndTheHeaderParts) {
  // Palette entry 1 (blue) changed to pure green; font of 512 glyphs of 2 lines.
  Bytes palette = repeated(48, 0);
  for (int i = 0; i < 16; ++i) {
    const TrueColor vga = kVgaPalette[screenAttribute(static_cast<std::uint8_t>(i))];
    palette[3 * i] = static_cast<std::uint8_t>(redOf(vga) >> 2);
    palette[3 * i + 1] = static_cast<std::uint8_t>(greenOf(vga) >> 2);
    palette[3 * i + 2] = static_cast<std::uint8_t>(blueOf(vga) >> 2);
  }
  palette[3] = 0, palette[4] = 63, palette[5] = 0;
  const Bytes runs = Bytes{0x01, 'a', 0x07, 'b', 0x01} +  // two pairs
                     Bytes{0x41, 'c', 0x07, 0x0F} +       // one character, two attributes
                     Bytes{0x81, 0x1F, 'd', 'e'} +        // one attribute, two characters
                     Bytes{0xC1, 'f', 0x07};              // one cell twice
  LoadReport report;
  auto screen = VirtualScreen::create(4, 25, 4);
  const Bytes file =
      xbin(4, 2, 0x01 | 0x02 | 0x04 | 0x08 | 0x10, palette + repeated(512 * 2, 0xAA) + runs, 2);
  ASSERT_EQ(XBinLoader::load(*screen, file, report), nullptr);
  EXPECT_EQ(screenText(*screen), "abcc|deff");
  EXPECT_TRUE(report.embeddedFont);
  EXPECT_EQ(report.iceColors, 1);
  // Colour 1 (blue, screen colour 4) of the file's palette is green; the others are VGA's.
  EXPECT_EQ(screen->cellColors(0, 1).foreground, trueColor(0, 255, 0));
  EXPECT_EQ(screen->cellColors(0, 1).background, kNoTrueColor);
  EXPECT_EQ(screen->cellColors(1, 0).background, trueColor(0, 255, 0));
  EXPECT_EQ(screen->cellColors(0, 0), CellColors{});
  EXPECT_EQ(screen->cell(1, 0), 'd' << 8 | 0x4F);

  // Uncompressed, blink mode, no palette: no 24-bit colours at all.
  screen = VirtualScreen::create(2, 25, 2);
  report = {};
  ASSERT_EQ(XBinLoader::load(*screen, xbin(2, 1, 0, bytes("x\x97y\x07")), report), nullptr);
  EXPECT_EQ(screenText(*screen), "xy");
  EXPECT_EQ(report.iceColors, 0);
  EXPECT_TRUE(screen->rowColors(0).empty());
}

TEST(XBinLoader, TruncatedLyingAndHostileFilesFail) {
  struct Case {
    Bytes file;
    std::string_view error;
  };
  const Case cases[] = {
      {bytes("XBIN\x1a\x01"sv), "truncated XBin header"},
      {bytes("XBIM\x1a\x01\x00\x01\x00\x10\x00"sv), "no XBin signature"},
      {xbin(0, 1, 0, {}), "invalid XBin header (width 0)"},
      {xbin(1, 1, 0x02, {}, 0), "invalid XBin header (font height)"},
      {xbin(1, 1, 0x02, {}, 33), "invalid XBin header (font height)"},
      {xbin(1, 1, 0x01, repeated(47, 0)), "truncated XBin data"},
      {xbin(1, 1, 0x02, repeated(16 * 256 - 1, 0)), "truncated XBin data"},
      // A header that claims 65535 x 65535 cells over two of them.
      {xbin(65535, 65535, 0, bytes("ab")), "truncated XBin data"},
      {xbin(65535, 65535, 0x04, Bytes{0xFF, 'a', 0x07}), "truncated XBin data"},
      {xbin(2, 1, 0x04, Bytes{0xC2, 'a', 0x07}), "XBin compressed run past the end of the image"},
      {xbin(4, 1, 0x04, Bytes{0x03, 'a', 0x07}), "truncated XBin data"},
      {xbin(4, 1, 0x04, Bytes{0x43, 'a', 0x07}), "truncated XBin data"},
      {xbin(4, 1, 0x04, Bytes{0x83, 0x07}), "truncated XBin data"},
      {xbin(4, 1, 0x04, Bytes{0xC3, 'a'}), "truncated XBin data"},
  };
  for (const Case& c : cases) {
    auto screen = VirtualScreen::create(80, 25, 8);
    LoadReport report;
    const LoadError error = XBinLoader::load(*screen, c.file, report);
    ASSERT_NE(error, nullptr) << c.error;
    EXPECT_EQ(std::string_view(error), c.error);
  }
}

TEST(ArtworxLoader, UsedPaletteEntriesAndImage) {
  Bytes palette = repeated(192, 0);
  // Entry 20 is colour 6 (brown; screen colour 3): made pure red.
  palette[3 * 20] = 63;
  const Bytes file = Bytes{1} + palette + repeated(4096, 0xFF) +
                     bytes(
                         "a\x06"
                         "b\x07");
  auto screen = VirtualScreen::create(80, 25, 8);
  LoadReport report;
  ASSERT_EQ(ArtworxLoader::load(*screen, file, report), nullptr);
  EXPECT_EQ(screenText(*screen), "ab");
  EXPECT_EQ(screen->cell(0, 0), 'a' << 8 | 0x03);
  EXPECT_EQ(screen->cellColors(0, 0).foreground, trueColor(255, 0, 0));
  EXPECT_EQ(report.iceColors, 1);
  EXPECT_STREQ(ArtworxLoader::load(*screen, repeated(4288, 0), report), "truncated ArtWorx header");
}

Bytes iceDraw(std::uint16_t right, std::uint16_t bottom, const Bytes& cells) {
  return bytes(
             "\x04"
             "1.4"sv) +
         Bytes{0,
               0,
               0,
               0,
               static_cast<std::uint8_t>(right),
               static_cast<std::uint8_t>(right >> 8),
               static_cast<std::uint8_t>(bottom),
               static_cast<std::uint8_t>(bottom >> 8)} +
         cells + repeated(4096, 0) + repeated(48, 0);
}

TEST(IceDrawLoader, RunsWithinTheWindow) {
  std::uint32_t width = 0;
  ASSERT_EQ(IceDrawLoader::probe(iceDraw(2, 1, {}), width), nullptr);
  EXPECT_EQ(width, 3U);
  auto screen = VirtualScreen::create(3, 25, 3);
  LoadReport report;
  // A pair, then a run of four; the window's two rows hold six cells.
  ASSERT_EQ(
      IceDrawLoader::load(*screen, iceDraw(2, 1, bytes("a\x07\x01\x00\x04\x00z\x07"sv)), report),
      nullptr);
  EXPECT_EQ(screenText(*screen), "azz|zz");
  // A run of 65535 stops at the window's end.
  screen = VirtualScreen::create(3, 25, 3);
  ASSERT_EQ(IceDrawLoader::load(*screen, iceDraw(2, 1, bytes("\x01\x00\xff\xffz\x07"sv)), report),
            nullptr);
  EXPECT_EQ(screenText(*screen), "zzz|zzz");
  EXPECT_STREQ(IceDrawLoader::load(*screen, iceDraw(2, 1, bytes("\x01\x00\x05"sv)), report),
               "truncated iCE Draw data");
  EXPECT_STREQ(IceDrawLoader::probe(bytes("\x04"
                                          "1.4\0\0"sv),
                                    width),
               "truncated iCE Draw header");
}

TEST(TundraDrawLoader, CommandsColoursAndHostilePositions) {
  const Bytes file = bytes("\x18TUNDRA24"sv) + bytes("ab") +
                     Bytes{1, 0, 0, 0, 1, 0, 0, 0, 2} +                  // row 1, column 2
                     Bytes{2, 'c', 0, 0xFF, 0x55, 0x55} +                // bright red, a VGA colour
                     Bytes{4, 'd', 0, 0x12, 0x34, 0x56} +                // a background
                     Bytes{6, 'e', 0, 0xAA, 0xAA, 0xAA, 0, 0, 0, 0xAA};  // VGA colours
  auto screen = VirtualScreen::create(80, 25, 8);
  LoadReport report;
  ASSERT_EQ(TundraDrawLoader::load(*screen, file, report), nullptr);
  EXPECT_EQ(screenText(*screen), "ab|  cde");
  EXPECT_EQ(screen->cell(1, 2), 'c' << 8 | 0x09);
  EXPECT_EQ(screen->cellColors(1, 2), CellColors{});
  EXPECT_EQ(screen->cellColors(1, 3).background, trueColor(0x12, 0x34, 0x56));
  EXPECT_EQ(screen->cell(1, 4), 'e' << 8 | 0x47);
  EXPECT_EQ(screen->cellColors(1, 4), CellColors{});

  // A position far beyond what the data could fill costs no memory for rows.
  screen = VirtualScreen::create(80, 25, 8);
  ASSERT_EQ(TundraDrawLoader::load(
                *screen, bytes("\x18TUNDRA24\x01\x7f\xff\xff\xff\xff\xff\xff\xffx"sv), report),
            nullptr);
  EXPECT_LE(screen->usedRows(), 20U);
  EXPECT_EQ(cellCharacter(screen->cell(screen->usedRows() - 1, 79)), 'x');
  EXPECT_STREQ(TundraDrawLoader::load(*screen, bytes("\x18TUNDRA24\x06z\x00"sv), report),
               "truncated TundraDraw data");
  EXPECT_STREQ(TundraDrawLoader::load(*screen, bytes("TUNDRA24"), report),
               "no TundraDraw signature");
}

template <typename Loader>
std::unique_ptr<VirtualScreen> loadText(std::string_view input, LoadError* error = nullptr) {
  auto screen = VirtualScreen::create(40, 5, 8);
  auto stream = MemoryStream::create(input.size() + 1);
  stream->write(input.data(), input.size());
  InterpreterReport report;
  const LoadError result = Loader::load(*screen, nullptr, *stream, report);
  if (error != nullptr) *error = result;
  return screen;
}

TEST(PcboardLoader, CodesAndAnsiText) {
  auto screen = loadText<PcboardLoader>("@X1Fab@CLS@cd@POS:10@e@X4xf@USER@ \x1b[31m@X0Eg");
  EXPECT_EQ(screenText(*screen), "cd       e@X4xf@USER@ g");
  EXPECT_EQ(screen->cell(0, 0), 'c' << 8 | 0x4F);
  EXPECT_EQ(screen->cell(0, 22), 'g' << 8 | 0x0B);
  // An @ inside an escape sequence ends it, and is no code.
  screen = loadText<PcboardLoader>("\x1b[@X1Fz");
  EXPECT_EQ(screenText(*screen), "X1Fz");
  // Codes cut by the end of the input show as they stand.
  screen = loadText<PcboardLoader>("a@X1");
  EXPECT_EQ(screenText(*screen), "a@X1");
}

TEST(AvatarLoader, CommandsRepeatsAndAnsiText) {
  auto screen = loadText<AvatarLoader>(
      "xyz\x0c"     // clear, cyan
      "a\x19-\x03"  // repeat
      "\x16\x01\x1e"
      "b"  // attribute
      "\x16\x08\x02\x05"
      "c"  // row 2, column 5
      "\x16\x03\x16\x06\x16\x06"
      "d"  // up, right, right
      "\x16\x05\x16\x05\x16\x04"
      "e"  // left, left, down
      "\x16\x02"
      "f\x16\x07"             // blink, erase to the end
      "\x1b[32mg\x16\x09h");  // ANSI text; an unknown command
  EXPECT_EQ(screenText(*screen), "a---b  d|    c efgh");
  EXPECT_EQ(screen->cell(0, 0), 'a' << 8 | 0x06);
  EXPECT_EQ(screen->cell(0, 4), 'b' << 8 | 0x4B);
  EXPECT_EQ(screen->cell(1, 7), 'f' << 8 | 0xCB);
  EXPECT_EQ(screen->cell(1, 8), 'g' << 8 | 0xCA);
  // Cut-off commands at the end are dropped.
  screen = loadText<AvatarLoader>("a\x16\x08\x01");
  EXPECT_EQ(screenText(*screen), "a");
}

}  // namespace
}  // namespace vidtwine
