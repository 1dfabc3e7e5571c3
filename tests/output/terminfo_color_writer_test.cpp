#include "output/terminfo_color_writer.hpp"

#include <gtest/gtest.h>

#include <array>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "output/marker_sequence.hpp"
#include "output/unicode_writer.hpp"
#include "stream/char_stream.hpp"
#include "support/process.hpp"
#include "support/string_sink.hpp"

namespace vidtwine {
namespace {

using charstream::AttributeMarker;
using charstream::AttributeReset;

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
)";

std::string hostBytes(const std::vector<std::uint16_t>& units) {
  std::string bytes(units.size() * 2, '\0');
  std::memcpy(bytes.data(), units.data(), bytes.size());
  return bytes;
}

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

  /// A writer for terminal `term` (none: TERM unset) over a UTF-8 writer into `output_`.
  std::unique_ptr<Stream> open(const char* term, ColorFlags flags, std::size_t room = 1 << 20) {
    if (term != nullptr) {
      setenv("TERM", term, 1);
    } else {
      unsetenv("TERM");
    }
    output_.clear();
    return TerminfoColorWriter::create(
        std::make_unique<UnicodeWriter>(std::make_unique<StringSink>(output_, room),
                                        UnicodeFormat::Utf8),
        flags);
  }

  /// What writing `unit` alone added to the output.
  std::string outputOf(Stream& writer, std::uint16_t unit) {
    const std::size_t before = output_.size();
    const std::string bytes = hostBytes({unit});
    EXPECT_EQ(writer.write(bytes.data(), bytes.size()), 2u);
    return output_.substr(before);
  }

  std::uint64_t write(Stream& writer, const std::vector<std::uint16_t>& units) {
    const std::string bytes = hostBytes(units);
    return writer.write(bytes.data(), bytes.size());
  }

  std::string output_;

  static inline test::TempDir* database_ = nullptr;
  static inline bool ticWorked_ = false;
  static inline std::optional<std::string> savedTerm_;
  static inline std::optional<std::string> savedTerminfo_;
};

constexpr const auto& kSequence = test::kMarkerSequence;

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
    for (std::size_t i = 0; i < kSequence.size(); ++i) {
      EXPECT_EQ(outputOf(*writer, kSequence[i]), c.expected[i]) << "unit " << i;
    }
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
    outputOf(*writer, AttributeMarker | c.from);
    EXPECT_EQ(outputOf(*writer, AttributeMarker | c.to), c.expected);
    EXPECT_EQ(outputOf(*writer, AttributeReset), "{sgr0}");
    EXPECT_EQ(outputOf(*writer, AttributeReset), "{sgr0}");
  }
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
  std::vector<std::uint16_t> units = {'A', 0xEDFF, 0xEF01, 'B'};
  units.insert(units.end(), kSequence.begin(), kSequence.end());
  units.push_back('C');
  for (const auto& c : cases) {
    SCOPED_TRACE(c.term != nullptr ? c.term : "no TERM");
    auto writer = open(c.term, c.flags);
    ASSERT_NE(writer, nullptr);
    EXPECT_EQ(write(*writer, units), units.size() * 2);
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
  EXPECT_EQ(write(*writer, {AttributeMarker | 0x07, AttributeMarker | 0x4F, AttributeReset}), 6u);
  EXPECT_EQ(test::visible(output_), test::visible(expected.out));
}

TEST_F(TerminfoColorWriterTest, OneLongWriteEqualsUnitByUnitWrites) {
  std::vector<std::uint16_t> units;
  for (unsigned attribute = 0; attribute < 256; attribute += 7) {
    units.push_back(static_cast<std::uint16_t>(AttributeMarker | attribute));
    units.insert(units.end(), {'x', 0x2588});
    if (attribute % 5 == 0) units.push_back(AttributeReset);
  }
  using enum ColorFlag;
  for (const auto& [term, flags] :
       {std::pair{"vt-test8", ColorFlags(DefaultColors)},
        std::pair{"vt-test256", ColorFlags(DefaultColors) | BlinkForBrightBg},
        std::pair{"vt-test16", ColorFlags(IntenseColors)}}) {
    std::string whole;
    {
      auto writer = open(term, flags);
      EXPECT_EQ(write(*writer, units), units.size() * 2);
      whole = output_;
    }
    auto writer = open(term, flags);
    for (const auto unit : units)
      write(*writer, {unit});
    EXPECT_EQ(output_, whole) << term;
  }
}

TEST_F(TerminfoColorWriterTest, RepeatsEachColourCapabilityExactly) {
  // Every attribute once, each changing both colours, so that each marker asks for both
  // capabilities; the second round repeats them all.
  for (const auto& [term, palette] :
       {std::pair{"vt-test256", true}, std::pair{"vt-test16", false}}) {
    SCOPED_TRACE(term);
    auto writer = open(term, ColorFlag::IntenseColors);
    ASSERT_NE(writer, nullptr);
    for (unsigned round = 0; round < 2; ++round) {
      for (unsigned i = 0; i < 256; ++i) {
        const unsigned fg = i % 16;
        const unsigned bg = (i / 16 + i) % 16;
        const auto index = [palette](unsigned colour) {
          return palette ? exactPaletteIndex(colour, false) : colour;
        };
        EXPECT_EQ(
            outputOf(*writer, static_cast<std::uint16_t>(AttributeMarker | bg << 4 | fg)),
            "{setab " + std::to_string(index(bg)) + "}{setaf " + std::to_string(index(fg)) + "}");
      }
    }
  }
}

TEST_F(TerminfoColorWriterTest, AllowsOneLiveInstanceAndWritesNothingOnClose) {
  auto first = open("vt-test16", ColorFlag::IntenseColors);
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(TerminfoColorWriter::create(MemoryStream::create(64), ColorFlag::IntenseColors),
            nullptr);
  EXPECT_EQ(outputOf(*first, AttributeMarker | 0x1F), "{setab 1}{setaf 15}");
  first.reset();
  EXPECT_EQ(output_, "{setab 1}{setaf 15}");

  auto second = open("vt-test16", ColorFlag::IntenseColors);
  EXPECT_NE(second, nullptr);
}

TEST_F(TerminfoColorWriterTest, StopsAtAMarkerWhoseOutputIsRefused) {
  // Room for "AB" and a part of the first sequence.
  auto writer = open("vt-test16", ColorFlag::IntenseColors, 6);
  ASSERT_NE(writer, nullptr);
  EXPECT_EQ(write(*writer, {'A', 'B', AttributeMarker | 0x07, 'C'}), 4u);
  EXPECT_EQ(write(*writer, {'D'}), 0u);
}

}  // namespace
}  // namespace vidtwine
