// The default colour writer through the binary, on terminal entries of the test's own.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "cli/colour_table.hpp"
#include "support/process.hpp"

namespace vidtwine {
namespace {

using test::ColourRow;

// Capabilities print their own names, so expectations read like {setab 4}{setaf 15}.
constexpr const char* kEntries = R"(
cli-test8|eight colours,
	colors#8, sgr0={sgr0}, setaf={setaf %p1%d}, setab={setab %p1%d},
	bold={bold}, blink={blink}, rev={rev},
cli-test16|sixteen colours,
	colors#16, use=cli-test8,
cli-test256|256 colours,
	colors#256, use=cli-test8,
cli-test4|four colours,
	colors#4, use=cli-test8,
cli-testrgb|256 colours that take 24-bit values,
	RGB, colors#256, use=cli-test8,
cli-testdirect|2^24 colours,
	colors#0x1000000, use=cli-test8,
)";

class TerminfoCli : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    database_ = new test::TempDir;
    test::writeFile(*database_ / "entries.src", kEntries);
    compiled_ =
        test::run("/bin/sh", {"-c", "tic -x -o '" + database_->path().string() + "' '" +
                                        (*database_ / "entries.src").string() + "' 2>/dev/null"})
            .status == 0;
  }
  static void TearDownTestSuite() {
    delete database_;
    database_ = nullptr;
  }
  void SetUp() override {
    if (!compiled_) GTEST_SKIP() << "tic could not compile the test terminals";
  }

  static test::RunResult render(const std::string& terminal, std::vector<std::string> args,
                                const std::string& input = test::kMarkerInput) {
    test::RunOptions options;
    options.input = input;
    options.env["TERMINFO"] = database_->path().string();
    options.env["TERM"] = terminal;
    args.insert(args.end(), {"-w", "16"});
    return test::runVidtwine(args, options);
  }

  static inline test::TempDir* database_ = nullptr;
  static inline bool compiled_ = false;
};

TEST_F(TerminfoCli, ColourTableForEachTerminal) {
  const std::string n;
  struct Row {
    std::string terminal;
    ColourRow row;
  };
  const std::vector<Row> rows = {
      {"cli-test256",
       {{},
        {"{setab 16}{setaf 248}", "{setab 19}{setaf 231}", "{setab 63}", "{setab 16}{setaf 248}",
         "{setaf 87}", "{setaf 37}", "{setab 130}{setaf 130}", "{sgr0}", "{setab 16}{setaf 248}"}}},
      {"cli-test256",
       {{"-d"},
        {n, "{setab 19}{setaf 231}", "{setab 63}", "{sgr0}", "{setaf 87}", "{setaf 37}",
         "{setab 130}{setaf 130}", "{sgr0}", n}}},
      {"cli-test256",
       {{"-k"},
        {"{setab 16}{setaf 248}", "{setab 19}{setaf 231}", "{blink}", "{sgr0}{setab 16}{setaf 248}",
         "{setaf 87}", "{setaf 37}", "{setab 130}{setaf 130}", "{sgr0}", "{setab 16}{setaf 248}"}}},
      {"cli-test256",
       {{"-y"},
        {"{setab 16}{setaf 248}", "{setab 19}{setaf 231}", "{setab 63}", "{setab 16}{setaf 248}",
         "{setaf 87}", "{setaf 37}", "{setab 142}{setaf 142}", "{sgr0}", "{setab 16}{setaf 248}"}}},
      {"cli-test16",
       {{},
        {"{setab 0}{setaf 7}", "{setab 4}{setaf 15}", "{setab 12}", "{setab 0}{setaf 7}",
         "{setaf 14}", "{setaf 6}", "{setab 3}{setaf 3}", "{sgr0}", "{setab 0}{setaf 7}"}}},
      {"cli-test16",
       {{"-d"},
        {n, "{setab 4}{setaf 15}", "{setab 12}", "{sgr0}", "{setaf 14}", "{setaf 6}",
         "{setab 3}{setaf 3}", "{sgr0}", n}}},
      {"cli-test8",
       {{},
        {"{setab 0}{setaf 7}", "{bold}{setab 4}", n, "{sgr0}{setab 0}{setaf 7}", "{bold}{setaf 6}",
         "{sgr0}{setab 0}{setaf 6}", "{setab 3}{setaf 3}", "{sgr0}", "{setab 0}{setaf 7}"}}},
      {"cli-test8",
       {{"-v"},
        {"{setab 0}{setaf 7}", "{bold}{setab 4}", "{rev}", "{sgr0}{setab 0}{setaf 7}",
         "{bold}{setaf 6}", "{sgr0}{setab 0}{setaf 6}", "{setab 3}{setaf 3}", "{sgr0}",
         "{setab 0}{setaf 7}"}}},
      {"cli-test8",
       {{"-k"},
        {"{setab 0}{setaf 7}", "{bold}{setab 4}", "{blink}", "{sgr0}{setab 0}{setaf 7}",
         "{bold}{setaf 6}", "{sgr0}{setab 0}{setaf 6}", "{setab 3}{setaf 3}", "{sgr0}",
         "{setab 0}{setaf 7}"}}},
      {"cli-test8",
       {{"-d"},
        {n, "{bold}{setab 4}", n, "{sgr0}", "{bold}{setaf 6}", "{sgr0}{setaf 6}",
         "{setab 3}{setaf 3}", "{sgr0}", n}}},
      {"cli-test4", {{}, {n, n, n, n, n, n, n, n, n}}},
      // Direct colour: VGA black 0, gray 0xAAAAAA, blue 0x0000AA, white, light blue,
      // light cyan, cyan, brown 0xAA5500.
      {"cli-testrgb",
       {{},
        {"{setab 0}{setaf 11184810}", "{setab 170}{setaf 16777215}", "{setab 5592575}",
         "{setab 0}{setaf 11184810}", "{setaf 5636095}", "{setaf 43690}",
         "{setab 11162880}{setaf 11162880}", "{sgr0}", "{setab 0}{setaf 11184810}"}}},
      {"cli-testdirect",
       {{"-k"},
        {"{setab 0}{setaf 11184810}", "{setab 170}{setaf 16777215}", "{blink}",
         "{sgr0}{setab 0}{setaf 11184810}", "{setaf 5636095}", "{setaf 43690}",
         "{setab 11162880}{setaf 11162880}", "{sgr0}", "{setab 0}{setaf 11184810}"}}},
      {"cli-test256", {{"-C"}, {n, n, n, n, n, n, n, n, n}}},
  };
  for (const auto& [terminal, row] : rows) {
    const auto result = render(terminal, row.options);
    EXPECT_EQ(result.status, 0) << terminal << " " << row.label();
    EXPECT_EQ(result.out, row.expected()) << terminal << " " << row.label();
  }
}

// Debian's entries for direct-colour terminals read setaf's value as RGB: gray must arrive
// as 170:170:170, not as the palette index 248 (which they would show as dark blue).
TEST(TerminfoCliDirect, RealDirectColourEntriesGetExactColours) {
  for (const char* terminal : {"xterm-direct", "kitty-direct"}) {
    if (test::run("/bin/sh", {"-c", std::string("infocmp -x ") + terminal + " >/dev/null 2>&1"})
            .status != 0) {
      GTEST_SKIP() << terminal << " is not installed (Debian's ncurses-term has it)";
    }
    test::RunOptions options;
    options.input = test::kMarkerInput;
    options.env["TERM"] = terminal;
    const auto result = test::runVidtwine({"-w", "16"}, options);
    EXPECT_EQ(result.status, 0) << terminal;
    EXPECT_NE(result.out.find(":170:170:170m"), std::string::npos) << terminal;
    EXPECT_NE(result.out.find(":170:85:0m"), std::string::npos) << terminal;
    EXPECT_EQ(result.out.find(":0:0:248m"), std::string::npos) << terminal;
  }
}

TEST_F(TerminfoCli, GenericAnsiIsUsedWhenAsked) {
  const auto result = render("cli-test256", {"-a"});
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.out.find('{'), std::string::npos);
  EXPECT_NE(result.out.find("\x1b[44;97m"), std::string::npos);
}

TEST_F(TerminfoCli, FilesGetTheTerminalsSequencesToo) {
  test::TempDir dir;
  const auto out = dir / "out.txt";
  const auto result = render("cli-test16", {"-o", out.string()});
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(test::readFile(out).rfind("{setab 0}{setaf 7}X{setab 4}{setaf 15}X", 0), 0u);
}

TEST(TerminfoCliNoTerminal, TextWithoutAnyControlSequence) {
  test::RunOptions options;
  options.input = test::kMarkerInput;
  const std::string plain = "XXXXXXXXXXXXXXXX\nX" + std::string(15, ' ') + "\n";
  for (const char* terminal : {"", "no-such-terminal-anywhere", "dumb"}) {
    if (*terminal == '\0') {
      options.env["TERM"] = std::nullopt;
    } else {
      options.env["TERM"] = terminal;
    }
    const auto result = test::runVidtwine({"-w", "16"}, options);
    EXPECT_EQ(result.status, 0) << terminal;
    EXPECT_EQ(result.out, plain) << terminal;
    EXPECT_EQ(result.err, "") << terminal;
  }
}

}  // namespace
}  // namespace vidtwine
