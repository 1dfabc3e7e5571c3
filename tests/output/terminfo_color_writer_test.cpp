#include "output/terminfo_color_writer.hpp"

#include <gtest/gtest.h>

#include <array>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "output/style_sequence.hpp"
#include "output/unicode_encoder.hpp"
#include "screen/vga_palette.hpp"
#include "support/process.hpp"
#include "support/string_sink.hpp"

namespace vidtwine {
namespace {

using test::kRowEnd;
using test::stepOutputs;

// Terminals whose capabilities print their own names, so that expectations read as
// {setab 4}{setaf 15}. The "-plain", "-noblink" and missing-capability entries cover
// terminals that lack what the writer would like to use.
constexpr const char* kTerminfoSource = R"(
vt-test8|test terminal with 8 colours,
	colors#8, sgr0={sgr0}, setaf={setaf %p1%d}, setab={setab %p1%d},
	bold={bold}, blink={blink}, rev={rev},
vt-test16|test terminal with 16 colours,
	colors#16, use=vt-test8,
vt-test256|test terminal with 256 colours,
	colors#256, use=vt-test8,
vt-testrgb|test terminal with 24-bit colours,
	colors#256, RGB, use=vt-test8,
vt-test4|test terminal with 4 colours,
	colors#4, use=vt-test8,
vt-test8-plain|test terminal with 8 colours and no attributes,
	colors#8, sgr0={sgr0}, setaf={setaf %p1%d}, setab={setab %p1%d},
vt-test256-noblink|test terminal with 256 colours and no blink,
	colors#256, sgr0={sgr0}, setaf={setaf %p1%d}, setab={setab %p1%d}, bold={bold},
vt-test16-nosgr0|test terminal without sgr0,
	colors#16, setaf={setaf %p1%d}, setab={setab %p1%d}, bold={bold},
vt-test256-nosetab|test terminal without setab,
	colors#256, sgr0={sgr0}, setaf={setaf %p1%d}, bold={bold},
vt-test16-8bit|test terminal whose colour capabilities start with the 8-bit CSI,
	colors#16, setaf=\233{setaf %p1%d}, setab=\233{setab %p1%d}, use=vt-test8,
)";

using test::StringSink;

class TerminfoColorWriterTest : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    database_ = new test::TempDir;
    test::writeFile(*database_ / "entries.src", kTerminfoSource);
    const auto compiled =
        test::run("/bin/sh", {"-c", "tic -x -o '" + database_->path().string() + "' '" +
                                        (*database_ / "entries.src").string() + "' 2>/dev/null"});
    ticWorked_ = compiled.status == 0;
    savedTerm_ = saved("TERM");
    savedTerminfo_ = saved("TERMINFO");
    setenv("TERMINFO", database_->path().c_str(), 1);
  }

  static void TearDownTestSuite() {
    restore("TERM", savedTerm_);
    restore("TERMINFO", savedTerminfo_);
    delete database_;
    database_ = nullptr;
  }

  void SetUp() override {
    if (!ticWorked_) GTEST_SKIP() << "tic could not compile the test terminals";
  }

  static std::optional<std::string> saved(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? std::optional<std::string>(value) : std::nullopt;
  }

  static void restore(const char* name, const std::optional<std::string>& value) {
    if (value) {
      setenv(name, value->c_str(), 1);
    } else {
      unsetenv(name);
    }
  }

  /// A writer for terminal `term` (none: TERM unset) into `output_`, in UTF-8.
  std::unique_ptr<TerminfoColorWriter> open(const char* term, ColorFlags flags) {
    if (term != nullptr) {
      setenv("TERM", term, 1);
    } else {
      unsetenv("TERM");
    }
    output_.clear();
    return TerminfoColorWriter::create(std::make_unique<StringSink>(output_), UnicodeFormat::Utf8,
                                       flags);
  }

  std::vector<std::string> outputsOf(TerminfoColorWriter& writer, std::span<const int> steps) {
    return stepOutputs(writer, steps, output_);
  }

  std::string output_;

  static inline test::TempDir* database_ = nullptr;
  static inline bool ticWorked_ = false;
  static inline std::optional<std::string> savedTerm_;
  static inline std::optional<std::string> savedTerminfo_;
};

struct SequenceCase {
  const char* term;
  ColorFlags flags;
  std::array<const char*, 9> expected;
};

TEST_F(TerminfoColorWriterTest, FollowsTheTerminalsColourCount) {
  using enum ColorFlag;
  // The settings the driver derives by default; the terminal decides the mode.
  const ColorFlags standard = IntenseColors;
  const SequenceCase cases[] = {
      {"vt-test256",
       standard,
       {"{setab 16}{setaf 248}", "{setab 19}{setaf 231}", "{setab 63}", "{setab 16}{setaf 248}",
        "{setaf 87}", "{setaf 37}", "{setab 130}{setaf 130}", "{sgr0}", "{setab 16}{setaf 248}"}},
      {"vt-test256",
       standard | DefaultColors,
       {"", "{setab 19}{setaf 231}", "{setab 63}", "{sgr0}", "{setaf 87}", "{setaf 37}",
        "{setab 130}{setaf 130}", "{sgr0}", ""}},
      {"vt-test256",
       standard | BlinkForBrightBg,
       {"{setab 16}{setaf 248}", "{setab 19}{setaf 231}", "{blink}", "{sgr0}{setab 16}{setaf 248}",
        "{setaf 87}", "{setaf 37}", "{setab 130}{setaf 130}", "{sgr0}", "{setab 16}{setaf 248}"}},
      {"vt-test256",
       standard | DarkYellow,
       {"{setab 16}{setaf 248}", "{setab 19}{setaf 231}", "{setab 63}", "{setab 16}{setaf 248}",
        "{setaf 87}", "{setaf 37}", "{setab 142}{setaf 142}", "{sgr0}", "{setab 16}{setaf 248}"}},
      // VGA colours as their 24-bit values.
      {"vt-testrgb",
       standard,
       {"{setab 0}{setaf 11184810}", "{setab 170}{setaf 16777215}", "{setab 5592575}",
        "{setab 0}{setaf 11184810}", "{setaf 5636095}", "{setaf 43690}",
        "{setab 11162880}{setaf 11162880}", "{sgr0}", "{setab 0}{setaf 11184810}"}},
      {"vt-test16",
       standard,
       {"{setab 0}{setaf 7}", "{setab 4}{setaf 15}", "{setab 12}", "{setab 0}{setaf 7}",
        "{setaf 14}", "{setaf 6}", "{setab 3}{setaf 3}", "{sgr0}", "{setab 0}{setaf 7}"}},
      {"vt-test16",
       standard | DefaultColors,
       {"", "{setab 4}{setaf 15}", "{setab 12}", "{sgr0}", "{setaf 14}", "{setaf 6}",
        "{setab 3}{setaf 3}", "{sgr0}", ""}},
      // Reverse stands in for bright backgrounds only below 16 colours.
      {"vt-test16",
       ColorFlags(ReverseForBrightBg),
       {"{setab 0}{setaf 7}", "{setab 4}{setaf 15}", "{setab 12}", "{setab 0}{setaf 7}",
        "{setaf 14}", "{setaf 6}", "{setab 3}{setaf 3}", "{sgr0}", "{setab 0}{setaf 7}"}},
      {"vt-test8",
       standard,
       {"{setab 0}{setaf 7}", "{bold}{setab 4}", "", "{sgr0}{setab 0}{setaf 7}", "{bold}{setaf 6}",
        "{sgr0}{setab 0}{setaf 6}", "{setab 3}{setaf 3}", "{sgr0}", "{setab 0}{setaf 7}"}},
      {"vt-test8",
       ColorFlags(ReverseForBrightBg),
       {"{setab 0}{setaf 7}", "{bold}{setab 4}", "{rev}", "{sgr0}{setab 0}{setaf 7}",
        "{bold}{setaf 6}", "{sgr0}{setab 0}{setaf 6}", "{setab 3}{setaf 3}", "{sgr0}",
        "{setab 0}{setaf 7}"}},
      {"vt-test8",
       standard | BlinkForBrightBg,
       {"{setab 0}{setaf 7}", "{bold}{setab 4}", "{blink}", "{sgr0}{setab 0}{setaf 7}",
        "{bold}{setaf 6}", "{sgr0}{setab 0}{setaf 6}", "{setab 3}{setaf 3}", "{sgr0}",
        "{setab 0}{setaf 7}"}},
      {"vt-test8",
       standard | DefaultColors,
       {"", "{bold}{setab 4}", "", "{sgr0}", "{bold}{setaf 6}", "{sgr0}{setaf 6}",
        "{setab 3}{setaf 3}", "{sgr0}", ""}},
      // Missing attributes are present but empty: bit 3 is still not a colour of its own.
      {"vt-test8-plain",
       standard | BlinkForBrightBg,
       {"{setab 0}{setaf 7}", "{setab 4}", "", "{sgr0}{setab 0}{setaf 7}", "{setaf 6}",
        "{sgr0}{setab 0}{setaf 6}", "{setab 3}{setaf 3}", "{sgr0}", "{setab 0}{setaf 7}"}},
      {"vt-test256-noblink",
       standard | BlinkForBrightBg,
       {"{setab 16}{setaf 248}", "{setab 19}{setaf 231}", "", "{sgr0}{setab 16}{setaf 248}",
        "{setaf 87}", "{setaf 37}", "{setab 130}{setaf 130}", "{sgr0}", "{setab 16}{setaf 248}"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.term << " flags 0x" << std::hex << +c.flags.bits());
    auto writer = open(c.term, c.flags);
    ASSERT_NE(writer, nullptr);
    EXPECT_EQ(outputsOf(*writer, test::kStyleSequence),
              std::vector<std::string>(c.expected.begin(), c.expected.end()));
  }
}

struct TransitionCase {
  const char* term;
  ColorFlags flags;
  std::uint8_t from;
  std::uint8_t to;
  const char* expected;
};

TEST_F(TerminfoColorWriterTest, ReachesDefaultColoursByResetAndKeepsAttributesOn) {
  using enum ColorFlag;
  const TransitionCase cases[] = {
      {"vt-test256", DefaultColors, 0x4F, 0x0F, "{sgr0}{setaf 231}"},
      {"vt-test256", DefaultColors, 0x41, 0x47, "{sgr0}{setab 19}"},
      {"vt-test8", DefaultColors, 0x0E, 0x0F, "{sgr0}{bold}"},
      {"vt-test8", IntenseColors, 0x0E, 0x0F, "{setaf 7}"},
      {"vt-test8", IntenseColors, 0x0F, 0x1F, "{setab 1}"},
      {"vt-test8", ReverseForBrightBg, 0xC1, 0xF1, "{setab 7}"},
      {"vt-test8", ReverseForBrightBg, 0xC1, 0x71, "{sgr0}{setab 7}{setaf 1}"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.term << " " << std::hex << +c.from << " -> " << +c.to);
    auto writer = open(c.term, c.flags);
    ASSERT_NE(writer, nullptr);
    const int steps[] = {c.from, c.to, kRowEnd, kRowEnd};
    const auto outputs = outputsOf(*writer, steps);
    ASSERT_EQ(outputs.size(), 4u);
    EXPECT_EQ(outputs[1], c.expected);
    EXPECT_EQ(outputs[2], "{sgr0}");
    EXPECT_EQ(outputs[3], "{sgr0}");
  }
}

TEST_F(TerminfoColorWriterTest, NamesTrueColoursAtTheTerminalsDepth) {
  const TrueColor ink = trueColor(0x12, 0x34, 0x56);
  const struct {
    const char* term;
    std::string expected;
  } cases[] = {
      {"vt-testrgb", "{setab 0}{setaf 1193046}"},
      {"vt-test256", "{setab 16}{setaf " + std::to_string(nearestXtermColor(ink)) + "}"},
      {"vt-test16", "{setab 0}{setaf " + std::to_string(nearestVgaColor(ink)) + "}"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.term);
    auto writer = open(c.term, ColorFlag::IntenseColors);
    ASSERT_NE(writer, nullptr);
    writer->begin(true);
    writer->style({0x07, {ink, kNoTrueColor}});
    EXPECT_TRUE(writer->finish());
    EXPECT_EQ(output_, c.expected);
  }
}

TEST_F(TerminfoColorWriterTest, RepeatsThePaletteColoursOf24BitColoursExactly) {
  // Each entry's first use in each layer goes through the terminfo library, later ones are
  // kept. Both layers take the same colours, in another order.
  const auto color = [](unsigned n) {
    return trueColor(static_cast<std::uint8_t>(n * 4), static_cast<std::uint8_t>(255 - n * 4),
                     static_cast<std::uint8_t>(n * 2));
  };
  auto writer = open("vt-test256", ColorFlag::IntenseColors);
  ASSERT_NE(writer, nullptr);
  writer->begin(true);
  std::string expected;
  unsigned shownInk = 256;
  unsigned shownPaper = 256;
  for (unsigned round = 0; round < 3; ++round) {
    for (unsigned n = 0; n < 64; ++n) {
      const TrueColor ink = color(n);
      const TrueColor paper = color((n + 21) % 64);
      writer->style({0x07, {ink, paper}});
      const unsigned inkIndex = nearestXtermColor(ink);
      const unsigned paperIndex = nearestXtermColor(paper);
      if (paperIndex != shownPaper) expected += "{setab " + std::to_string(paperIndex) + "}";
      if (inkIndex != shownInk) expected += "{setaf " + std::to_string(inkIndex) + "}";
      shownInk = inkIndex;
      shownPaper = paperIndex;
    }
  }
  EXPECT_TRUE(writer->finish());
  EXPECT_EQ(output_, expected);
}

TEST_F(TerminfoColorWriterTest, DropsColoursWithoutAUsableTerminal) {
  struct Case {
    const char* term;
    ColorFlags flags;
  };
  const Case cases[] = {
      {"vt-test4", ColorFlag::IntenseColors},
      {"vt-test16-nosgr0", ColorFlag::IntenseColors},
      {"vt-test256-nosetab", ColorFlag::IntenseColors},
      {"vt-test-unknown", ColorFlag::IntenseColors},
      {nullptr, ColorFlag::IntenseColors},
      {"vt-test256", ColorFlags(ColorFlag::IntenseColors) | ColorFlag::NoColors},
  };
  const std::uint16_t text[] = {'A', 0xEDFF, 0xEF01, 'B', 'C'};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.term != nullptr ? c.term : "no TERM");
    auto writer = open(c.term, c.flags);
    ASSERT_NE(writer, nullptr);
    writer->begin(true);
    writer->text({text, 4});
    for (const int step : test::kStyleSequence) {
      if (step == kRowEnd) {
        writer->endRow();
      } else {
        writer->style({static_cast<CellAttribute>(step), {}});
      }
    }
    writer->text({text + 4, 1});
    EXPECT_TRUE(writer->finish());
    EXPECT_EQ(output_,
              "A\xEE\xB7\xBF\xEE\xBC\x81"
              "BC");
  }
}

TEST_F(TerminfoColorWriterTest, MatchesTputForARealTerminal) {
  test::RunOptions options;
  options.env = {{"TERM", "xterm-256color"}, {"TERMINFO", std::nullopt}};
  const auto expected = test::run(
      "/bin/sh",
      {"-c", "tput setab 16 && tput setaf 248 && tput setab 19 && tput setaf 231 && tput sgr0"},
      options);
  if (expected.status != 0) GTEST_SKIP() << "no xterm-256color entry on this machine";
  auto writer = open("xterm-256color", ColorFlag::IntenseColors);
  ASSERT_NE(writer, nullptr);
  const int steps[] = {0x07, 0x4F, kRowEnd};
  const auto outputs = outputsOf(*writer, steps);
  ASSERT_EQ(outputs.size(), 3u);
  EXPECT_EQ(outputs[0] + outputs[1] + outputs[2], test::visible(expected.out));
}

TEST_F(TerminfoColorWriterTest, RepeatsEachColourCapabilityExactly) {
  // Every attribute once, each changing both colours, so that each marker asks for both
  // capabilities; the second round repeats them all.
  // The 8-bit CSI is the character U+009B, two bytes in UTF-8.
  struct Terminal {
    const char* term;
    bool palette;
    std::string csi;
  };
  for (const auto& [term, palette, csi] :
       {Terminal{"vt-test256", true, ""}, Terminal{"vt-test16", false, ""},
        Terminal{"vt-test16-8bit", false, "\xC2\x9B"}}) {
    SCOPED_TRACE(term);
    auto writer = open(term, ColorFlag::IntenseColors);
    ASSERT_NE(writer, nullptr);
    std::vector<int> steps;
    std::vector<std::string> expected;
    const auto index = [palette](unsigned colour) {
      return palette ? exactPaletteIndex(colour, false) : colour;
    };
    for (unsigned round = 0; round < 2; ++round) {
      for (unsigned i = 0; i < 256; ++i) {
        const unsigned fg = i % 16;
        const unsigned bg = (i / 16 + i) % 16;
        steps.push_back(static_cast<int>(bg << 4 | fg));
        expected.push_back(csi + "{setab " + std::to_string(index(bg)) + "}" + csi + "{setaf " +
                           std::to_string(index(fg)) + "}");
      }
    }
    EXPECT_EQ(outputsOf(*writer, steps), expected);
  }
}

TEST_F(TerminfoColorWriterTest, AllowsOneLiveInstanceAndWritesNothingOnClose) {
  auto first = open("vt-test16", ColorFlag::IntenseColors);
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(TerminfoColorWriter::create(MemoryStream::create(64), UnicodeFormat::Utf8,
                                        ColorFlag::IntenseColors),
            nullptr);
  const int steps[] = {0x1F};
  EXPECT_EQ(outputsOf(*first, steps), std::vector<std::string>{"{setab 1}{setaf 15}"});
  first.reset();
  EXPECT_EQ(output_, "{setab 1}{setaf 15}|");

  auto second = open("vt-test16", ColorFlag::IntenseColors);
  EXPECT_NE(second, nullptr);
}

}  // namespace
}  // namespace vidtwine
