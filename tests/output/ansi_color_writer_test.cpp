#include "output/ansi_color_writer.hpp"

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <string>
#include <vector>

#include "output/marker_sequence.hpp"
#include "output/unicode_writer.hpp"
#include "stream/char_stream.hpp"
#include "support/process.hpp"

namespace vidtwine {
namespace {

using charstream::AttributeMarker;
using charstream::AttributeReset;
using test::visible;

std::string hostBytes(const std::vector<std::uint16_t>& units) {
  std::string bytes(units.size() * 2, '\0');
  std::memcpy(bytes.data(), units.data(), bytes.size());
  return bytes;
}

// Colour writer -> UTF-8 writer -> memory, the way the driver stacks them.
struct Chain {
  explicit Chain(ColorFlags flags, std::uint64_t limit = 1 << 20) {
    auto memory = MemoryStream::create(limit);
    output = memory.get();
    top = std::make_unique<AnsiColorWriter>(
        std::make_unique<UnicodeWriter>(std::move(memory), UnicodeFormat::Utf8), flags);
  }
  std::uint64_t write(const std::vector<std::uint16_t>& units) {
    const std::string bytes = hostBytes(units);
    return top->write(bytes.data(), bytes.size());
  }
  std::string contents() const {
    const auto bytes = output->contents();
    return {reinterpret_cast<const char*>(bytes.data()), bytes.size()};
  }
  /// What writing `unit` alone added to the output.
  std::string outputOf(std::uint16_t unit) {
    const std::size_t before = output->contents().size();
    EXPECT_EQ(write({unit}), 2u);
    return visible(contents().substr(before));
  }

  MemoryStream* output;
  std::unique_ptr<Stream> top;
};

// The command-line settings the rows are named after, as the driver turns them into flags.
constexpr ColorFlag kIntense = ColorFlag::IntenseColors;
ColorFlags flagsOf(std::initializer_list<ColorFlag> flags) {
  ColorFlags result;
  for (const auto flag : flags)
    result.set(flag);
  return result;
}

constexpr const auto& kSequence = test::kMarkerSequence;

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
    for (std::size_t i = 0; i < kSequence.size(); ++i) {
      EXPECT_EQ(chain.outputOf(kSequence[i]), c.expected[i]) << "unit " << i;
    }
  }
}

TEST(AnsiColorWriter, RepeatsResetsButNotUnchangedColours) {
  Chain chain(kIntense);
  EXPECT_EQ(chain.outputOf(AttributeMarker | 0x1E), "ESC[41;96m");
  EXPECT_EQ(chain.outputOf(AttributeMarker | 0x1E), "");
  EXPECT_EQ(chain.outputOf(AttributeReset), "ESC[m");
  EXPECT_EQ(chain.outputOf(AttributeReset), "ESC[m");
}

TEST(AnsiColorWriter, PassesOrdinaryUnitsThroughUnchanged) {
  for (const ColorFlags flags : {ColorFlags(kIntense), ColorFlags(ColorFlag::NoColors)}) {
    Chain chain(flags);
    EXPECT_EQ(chain.write({'A', 0xEDFF, 0xEF01, 0xFFFF, 0x2591}), 10u);
    EXPECT_EQ(chain.contents(), "A\xEE\xB7\xBF\xEE\xBC\x81\xEF\xBF\xBF\xE2\x96\x91");
  }
}

TEST(AnsiColorWriter, OneLongWriteEqualsUnitByUnitWrites) {
  std::vector<std::uint16_t> units;
  for (unsigned attribute = 0; attribute < 256; attribute += 7) {
    units.push_back(static_cast<std::uint16_t>(AttributeMarker | attribute));
    units.insert(units.end(), {'x', 0x2588, 'y'});
    if (attribute % 5 == 0) units.push_back(AttributeReset);
  }
  for (const ColorFlags flags :
       {flagsOf({kIntense}), flagsOf({ColorFlag::DefaultColors, ColorFlag::BlinkForBrightBg}),
        flagsOf({ColorFlag::ExactColors, ColorFlag::DefaultColors}), flagsOf({ColorFlag::NoColors}),
        flagsOf({ColorFlag::FullSgr, ColorFlag::ReverseForBrightBg})}) {
    Chain whole(flags);
    Chain single(flags);
    EXPECT_EQ(whole.write(units), units.size() * 2);
    for (const auto unit : units)
      single.write({unit});
    EXPECT_EQ(whole.contents(), single.contents());
  }
}

TEST(AnsiColorWriter, StopsBeforeASequenceTheTargetRefuses) {
  // Room for "AB" and part of the first sequence only.
  Chain chain(kIntense, 5);
  EXPECT_EQ(chain.write({'A', 'B', AttributeMarker | 0x07, 'C'}), 4u);
  EXPECT_EQ(chain.write({'D'}), 0u);

  // A refused run of text stops the write at the last unit taken.
  Chain text(kIntense, 2);
  EXPECT_EQ(text.write({'A', 'B', 'C', AttributeReset}), 4u);
}

TEST(AnsiColorWriter, LeavesAnOddTrailingByteUnconsumed) {
  Chain chain(kIntense);
  const std::string bytes = hostBytes({AttributeMarker | 0x07, 'B'}).substr(0, 3);
  EXPECT_EQ(chain.top->write(bytes.data(), bytes.size()), 2u);
  EXPECT_EQ(visible(chain.contents()), "ESC[40;37m");
}

}  // namespace
}  // namespace vidtwine
