#include "output/ansi_color_writer.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <string>
#include <vector>

#include "codepage/codepage_mapper.hpp"
#include "output/style_sequence.hpp"
#include "output/unicode_encoder.hpp"
#include "support/string_sink.hpp"

namespace vidtwine {
namespace {

using test::kRowEnd;
using test::stepOutputs;

// Colour writer in UTF-8 -> a string.
struct Chain {
  explicit Chain(ColorFlags flags, std::size_t room = std::string::npos)
      : writer(std::make_unique<test::StringSink>(output, room), UnicodeFormat::Utf8, flags) {}
  std::vector<std::string> outputsOf(std::span<const int> steps) {
    return stepOutputs(writer, steps, output);
  }

  std::string output;
  AnsiColorWriter writer;
};

// The command-line settings the rows are named after, as the driver turns them into flags.
constexpr ColorFlag kIntense = ColorFlag::IntenseColors;
ColorFlags flagsOf(std::initializer_list<ColorFlag> flags) {
  ColorFlags result;
  for (const auto flag : flags)
    result.set(flag);
  return result;
}

struct SequenceCase {
  const char* settings;
  ColorFlags flags;
  std::array<const char*, 9> expected;
};

TEST(AnsiColorWriter, WritesOnlyTheParametersThatChange) {
  using enum ColorFlag;
  const SequenceCase cases[] = {
      {"-a",
       flagsOf({kIntense}),
       {"ESC[40;37m", "ESC[44;97m", "ESC[104m", "ESC[40;37m", "ESC[96m", "ESC[36m", "ESC[43;33m",
        "ESC[m", "ESC[40;37m"}},
      {"-a -d",
       flagsOf({kIntense, DefaultColors}),
       {"", "ESC[44;97m", "ESC[104m", "ESC[m", "ESC[96m", "ESC[36m", "ESC[43;33m", "ESC[m", ""}},
      {"-a -k",
       flagsOf({kIntense, BlinkForBrightBg}),
       {"ESC[40;37m", "ESC[44;97m", "ESC[5m", "ESC[;40;37m", "ESC[96m", "ESC[36m", "ESC[43;33m",
        "ESC[m", "ESC[40;37m"}},
      {"-A -k",
       flagsOf({kIntense, FullSgr, BlinkForBrightBg}),
       {"ESC[40;37m", "ESC[44;97m", "ESC[5m", "ESC[25;40;37m", "ESC[96m", "ESC[36m", "ESC[43;33m",
        "ESC[m", "ESC[40;37m"}},
      {"-a -I",
       flagsOf({}),
       {"ESC[40;37m", "ESC[1;44m", "", "ESC[;40;37m", "ESC[1;36m", "ESC[;40;36m", "ESC[43;33m",
        "ESC[m", "ESC[40;37m"}},
      {"-a -I -k",
       flagsOf({BlinkForBrightBg}),
       {"ESC[40;37m", "ESC[1;44m", "ESC[5m", "ESC[;40;37m", "ESC[1;36m", "ESC[;40;36m",
        "ESC[43;33m", "ESC[m", "ESC[40;37m"}},
      {"-a -v",
       flagsOf({ReverseForBrightBg}),
       {"ESC[40;37m", "ESC[1;44m", "ESC[7m", "ESC[;40;37m", "ESC[1;36m", "ESC[;40;36m",
        "ESC[43;33m", "ESC[m", "ESC[40;37m"}},
      {"-A -I",
       flagsOf({FullSgr}),
       {"ESC[40;37m", "ESC[1;44m", "", "ESC[22;40m", "ESC[1;36m", "ESC[22m", "ESC[43;33m", "ESC[m",
        "ESC[40;37m"}},
      {"-A -I -k",
       flagsOf({FullSgr, BlinkForBrightBg}),
       {"ESC[40;37m", "ESC[1;44m", "ESC[5m", "ESC[25;22;40m", "ESC[1;36m", "ESC[22m", "ESC[43;33m",
        "ESC[m", "ESC[40;37m"}},
      {"-a -I -d",
       flagsOf({DefaultColors}),
       {"", "ESC[1;44m", "", "ESC[m", "ESC[1;36m", "ESC[;36m", "ESC[43;33m", "ESC[m", ""}},
      {"-a -x",
       flagsOf({kIntense, ExactColors}),
       {"ESC[48;5;16;38;5;248m", "ESC[48;5;19;38;5;231m", "ESC[48;5;63m", "ESC[48;5;16;38;5;248m",
        "ESC[38;5;87m", "ESC[38;5;37m", "ESC[48;5;130;38;5;130m", "ESC[m",
        "ESC[48;5;16;38;5;248m"}},
      {"-a -x -k",
       flagsOf({kIntense, ExactColors, BlinkForBrightBg}),
       {"ESC[48;5;16;38;5;248m", "ESC[48;5;19;38;5;231m", "ESC[5m", "ESC[;48;5;16;38;5;248m",
        "ESC[38;5;87m", "ESC[38;5;37m", "ESC[48;5;130;38;5;130m", "ESC[m",
        "ESC[48;5;16;38;5;248m"}},
      {"-a -x -d",
       flagsOf({kIntense, ExactColors, DefaultColors}),
       {"", "ESC[48;5;19;38;5;231m", "ESC[48;5;63m", "ESC[m", "ESC[38;5;87m", "ESC[38;5;37m",
        "ESC[48;5;130;38;5;130m", "ESC[m", ""}},
      {"-a -y",
       flagsOf({kIntense, ExactColors, DarkYellow}),
       {"ESC[48;5;16;38;5;248m", "ESC[48;5;19;38;5;231m", "ESC[48;5;63m", "ESC[48;5;16;38;5;248m",
        "ESC[38;5;87m", "ESC[38;5;37m", "ESC[48;5;142;38;5;142m", "ESC[m",
        "ESC[48;5;16;38;5;248m"}},
      // Reverse only stands in where colours 8-15 cannot be named.
      {"-a -x -v",
       flagsOf({ExactColors, ReverseForBrightBg}),
       {"ESC[48;5;16;38;5;248m", "ESC[48;5;19;38;5;231m", "ESC[48;5;63m", "ESC[48;5;16;38;5;248m",
        "ESC[38;5;87m", "ESC[38;5;37m", "ESC[48;5;130;38;5;130m", "ESC[m",
        "ESC[48;5;16;38;5;248m"}},
      {"-a -C", flagsOf({kIntense, NoColors}), {"", "", "", "", "", "", "", "", ""}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.settings);
    Chain chain(c.flags);
    const auto outputs = chain.outputsOf(test::kStyleSequence);
    EXPECT_EQ(outputs, std::vector<std::string>(c.expected.begin(), c.expected.end()));
  }
}

TEST(AnsiColorWriter, RepeatsResetsButNotUnchangedColours) {
  Chain chain(kIntense);
  const int steps[] = {0x1E, 0x1E, kRowEnd, kRowEnd};
  EXPECT_EQ(chain.outputsOf(steps), (std::vector<std::string>{"ESC[41;96m", "", "ESC[m", "ESC[m"}));
}

TEST(AnsiColorWriter, PassesTextThroughUnchanged) {
  // Without colours, or for rows that are not styled, the style events are dropped.
  for (const ColorFlags flags : {ColorFlags(kIntense), ColorFlags(ColorFlag::NoColors)}) {
    for (const bool styled : {true, false}) {
      Chain chain(flags);
      const std::uint16_t units[] = {'A', 0xEDFF, 0xEF01, 0xFFFF, 0x2591};
      chain.writer.begin(styled);
      if (!styled) chain.writer.style({0x1E, {}});
      chain.writer.text(units);
      if (!styled) chain.writer.endRow();
      EXPECT_TRUE(chain.writer.finish());
      EXPECT_EQ(chain.output, "A\xEE\xB7\xBF\xEE\xBC\x81\xEF\xBF\xBF\xE2\x96\x91");
    }
  }
}

/// UTF-16 (big-endian or not) as UTF-8, unit by unit.
std::string utf8Of(const std::string& utf16, bool bigEndian) {
  std::string utf8;
  for (std::size_t i = 0; i + 1 < utf16.size(); i += 2) {
    const auto high = static_cast<unsigned char>(utf16[bigEndian ? i : i + 1]);
    const auto low = static_cast<unsigned char>(utf16[bigEndian ? i + 1 : i]);
    const unsigned unit = high << 8 | low;
    if (unit < 0x80) {
      utf8 += static_cast<char>(unit);
    } else if (unit < 0x800) {
      utf8 += {static_cast<char>(0xC0 | unit >> 6), static_cast<char>(0x80 | (unit & 0x3F))};
    } else {
      utf8 += {static_cast<char>(0xE0 | unit >> 12), static_cast<char>(0x80 | (unit >> 6 & 0x3F)),
               static_cast<char>(0x80 | (unit & 0x3F))};
    }
  }
  return utf8;
}

TEST(AnsiColorWriter, RunEventsEqualStyleAndTextEventsInEveryFormat) {
  // Runs of 1 to 40 units of one to three UTF-8 bytes each (longer and shorter than the
  // runs copied at a fixed size), in pieces smaller and larger than those encoded at once,
  // with styles that repeat (kept spellings) and 24-bit ones.
  // The run events carry cells and their code page's table, the others mapped units.
  const CodepageMapper mapper(codepageByName("437"), MapperFlag::VgaLookalike);
  std::vector<ScreenCell> cells(1500);
  std::vector<std::uint16_t> units(cells.size());
  for (std::size_t i = 0; i < units.size(); ++i) {
    const std::uint8_t byte = std::array<std::uint8_t, 4>{'a', 0x82, 0xB0, 0x01}[i * 7 % 11 % 4];
    cells[i] = static_cast<ScreenCell>(byte << 8 | 0x07);
    units[i] = mapper.map(byte);
  }
  std::vector<std::uint32_t> starts{3};
  while (starts.back() < units.size())
    starts.push_back(static_cast<std::uint32_t>(
        std::min(starts.back() + 1 + starts.size() * 13 % 40, units.size())));
  // Attributes of many kinds, some of which share a slot of the smallest table of kept
  // spellings; 24-bit colours in either layer, now and then repeated in the next run
  // (which then changes nothing), and the default colours.
  std::vector<CellStyle> styles;
  for (std::size_t r = 0; r + 1 < starts.size(); ++r) {
    styles.push_back({static_cast<CellAttribute>(r % 7 == 3 ? 0x07 : r * 37 % 251), {}});
    if (r % 5 <= 1)
      styles.back().colors.foreground = trueColor(0x10, static_cast<std::uint8_t>(r / 5), 0);
    if (r % 3 == 1) styles.back().colors.background = trueColor(0, 0, 0x20);
  }
  // As run events or as style and text events; with or without the 24-bit colours; the
  // spellings kept in the writer's own table, in one given to it, or in its own smallest.
  enum class Table { Own, Given, Smallest };
  ColorFlags flags;
  const auto write = [&](UnicodeFormat format, std::size_t pieceEnd, bool runEvents,
                         bool attributesOnly, Table kept = Table::Own) {
    std::string output;
    AnsiColorWriter writer(std::make_unique<test::StringSink>(output), format, flags);
    std::vector<std::byte> table(kept == Table::Given ? ColorWriter::kStyleTableBytes : 0);
    writer.keepStylesIn(table);
    if (kept == Table::Smallest) writer.sizeStylesFor(0);
    writer.begin(true);
    const std::size_t runs =
        static_cast<std::size_t>(std::upper_bound(starts.begin(), starts.end(), pieceEnd) -
                                 starts.begin()) -
        1;
    const std::span<const std::uint16_t> piece(units.data(), starts[runs]);
    std::vector<CellStyle> used(styles.begin(), styles.begin() + static_cast<std::ptrdiff_t>(runs));
    std::vector<CellAttribute> attributes;
    for (CellStyle& style : used) {
      if (attributesOnly) style.colors = {};
      attributes.push_back(style.attribute);
    }
    // Often enough to fill the writer's buffer several times.
    for (int repeat = 0; repeat < 8; ++repeat) {
      if (!runEvents) {
        writer.text(piece.first(starts[0]));
        for (std::size_t r = 0; r < runs; ++r) {
          writer.style(used[r]);
          writer.text(piece.subspan(starts[r], starts[r + 1] - starts[r]));
        }
      } else {
        const CellCharacters characters{{cells.data(), piece.size()}, &mapper.table()};
        if (attributesOnly) {
          writer.attributeRuns(characters, {starts.data(), runs + 1}, attributes);
        } else {
          writer.styledRuns(characters, {starts.data(), runs + 1}, used);
        }
      }
    }
    writer.endRow();
    EXPECT_TRUE(writer.finish());
    return output;
  };
  // The 24-bit colours spelled with and without attributes to switch; the attributes'
  // colours in 16 and 256 colours too.
  for (const ColorFlags f :
       {ColorFlags(ColorFlag::DirectColors),
        ColorFlags(ColorFlag::DirectColors) | ColorFlag::DefaultColors | ColorFlag::DarkYellow,
        ColorFlags(ColorFlag::DirectColors) | ColorFlag::BlinkForBrightBg,
        ColorFlags(ColorFlag::IntenseColors), ColorFlags(ColorFlag::ExactColors)}) {
    flags = f;
    for (const std::size_t pieceEnd : {std::size_t{20}, std::size_t{1024}, units.size()}) {
      for (const bool attributesOnly : {false, true}) {
        const std::string utf8 = write(UnicodeFormat::Utf8, pieceEnd, false, attributesOnly);
        EXPECT_EQ(write(UnicodeFormat::Utf8, pieceEnd, true, attributesOnly), utf8) << pieceEnd;
        for (const Table kept : {Table::Given, Table::Smallest})
          EXPECT_EQ(write(UnicodeFormat::Utf8, pieceEnd, true, attributesOnly, kept), utf8)
              << pieceEnd;
        EXPECT_EQ(utf8Of(write(UnicodeFormat::Utf16Be, pieceEnd, true, attributesOnly), true), utf8)
            << pieceEnd;
        EXPECT_EQ(utf8Of(write(UnicodeFormat::Utf16Le, pieceEnd, false, attributesOnly), false),
                  utf8)
            << pieceEnd;
      }
    }
  }
}

// Takes everything, except while `refusing`.
class MoodySink final : public Stream {
 public:
  MoodySink(std::string& bytes, const bool& refusing)
      : Stream(StreamKind::File), bytes_(bytes), refusing_(refusing) {}
  int flush(bool) override { return 0; }
  StreamStatus status() const override { return StreamStatus::Ok; }

 private:
  std::uint64_t writeSome(const std::byte* data, std::uint64_t n) override {
    if (refusing_) return 0;
    bytes_.append(reinterpret_cast<const char*>(data), static_cast<std::size_t>(n));
    return n;
  }

  std::string& bytes_;
  const bool& refusing_;
};

TEST(AnsiColorWriter, AFailedTargetFailsTheWriterForGood) {
  for (const ColorFlags flags : {ColorFlags(kIntense), ColorFlags(ColorFlag::NoColors)}) {
    std::string output;
    bool refusing = true;
    AnsiColorWriter writer(std::make_unique<MoodySink>(output, refusing), UnicodeFormat::Utf8,
                           flags);
    const std::uint16_t text[] = {'A', 'B'};
    writer.begin(true);
    writer.text(text);
    writer.style({0x07, {}});
    EXPECT_FALSE(writer.finish());
    EXPECT_TRUE(writer.failed());
    // Once the target takes writes again, nothing more is written and the failure stays.
    refusing = false;
    writer.style({0x4F, {}});
    writer.text(text);
    writer.endRow();
    EXPECT_FALSE(writer.finish());
    EXPECT_TRUE(writer.failed());
    EXPECT_EQ(output, "");
  }
}

}  // namespace
}  // namespace vidtwine
