#include "output/ansi_color_writer.hpp"

#include <gtest/gtest.h>

#include <array>
#include <string>
#include <vector>

#include "output/style_sequence.hpp"
#include "output/unicode_writer.hpp"
#include "support/string_sink.hpp"

namespace vidtwine {
namespace {

using test::kRowEnd;
using test::stepOutputs;

// Colour writer -> UTF-8 writer -> a string, the way the driver stacks them.
struct Chain {
  explicit Chain(ColorFlags flags, std::size_t room = std::string::npos)
      : writer(std::make_unique<UnicodeWriter>(std::make_unique<test::StringSink>(output, room),
                                               UnicodeFormat::Utf8),
               flags) {}
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
    AnsiColorWriter writer(std::make_unique<MoodySink>(output, refusing), flags);
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
