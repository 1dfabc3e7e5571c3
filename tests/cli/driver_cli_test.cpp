// The modes of a run and their precedence, through the binary.

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "support/process.hpp"

namespace vidtwine {
namespace {

using test::runVidtwine;

std::vector<std::string> lines(const std::string& text) {
  std::vector<std::string> result;
  std::size_t start = 0;
  for (std::size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1) {
    result.push_back(text.substr(start, end - start));
  }
  return result;
}

TEST(DriverCli, LargeInputsRenderAsShortOnesDo) {
  // From 2 MiB on, the buffers of a run share one block of pages. Each row here comes out
  // the same, and whole, so a long file gives the row of a one-line file over and over:
  // given by name, and piped.
  const std::string line = "\x1b[1;31mAB\x1b[0;44mC\x1b[2C\x1b[mD\r\n";
  constexpr int kLines = 80'000;  // 2.4 MB
  std::string text;
  for (int i = 0; i < kLines; ++i)
    text += line;
  test::TempDir dir;
  test::writeFile(dir / "short.ans", line);
  test::writeFile(dir / "long.ans", text);
  for (const char* mode : {"-a", "-C"}) {
    const auto one = runVidtwine({mode, (dir / "short.ans").string()});
    ASSERT_EQ(one.status, 0) << one.err;
    std::string expected;
    for (int i = 0; i < kLines; ++i)
      expected += one.out;
    const auto named = runVidtwine({mode, (dir / "long.ans").string()});
    EXPECT_EQ(named.status, 0) << named.err;
    EXPECT_TRUE(named.out == expected) << mode;
    test::RunOptions piped;
    piped.input = text;
    const auto fromPipe = runVidtwine({mode}, piped);
    EXPECT_EQ(fromPipe.status, 0) << fromPipe.err;
    EXPECT_TRUE(fromPipe.out == expected) << mode;
  }
}

TEST(DriverCli, TestPageIgnoresInputPathAndGeometry) {
  const auto result =
      runVidtwine({"-T", "-a", "-C", "-w", "132", "-H", "50", "-t", "100", "/no/such/file.ans"});
  ASSERT_EQ(result.status, 0) << result.err;
  const auto rows = lines(result.out);
  ASSERT_EQ(rows.size(), 26u);
  EXPECT_EQ(rows[0], "Codepage 437:" + std::string(57, ' '));
  EXPECT_EQ(rows[2].substr(0, 12), " 0x  00  10 ");
  // The 0x1b cell shows a blank and the name; 0x1a is the code page's glyph.
  EXPECT_NE(rows[14].find("\xe2\x99\x82  ESC  +"), std::string::npos);
  EXPECT_NE(rows[13].find(" LF   \xe2\x86\x92   *"), std::string::npos);
  EXPECT_EQ(rows[25].substr(0, 25), "  \xe2\x99\xa5  vidtwine v2.0  \xe2\x99\xab");
}

TEST(DriverCli, TestPageNamesTheResolvedCodePage) {
  struct Case {
    const char* name;
    const char* title;
  };
  for (const Case c : {Case{"858", "Codepage 850:"}, Case{"KAM", "Codepage KAM:"},
                       Case{"cp-866", "Codepage MIK:"}, Case{"Cp 720", "Codepage 720:"}}) {
    const auto result = runVidtwine({"-T", "-a", "-C", "-c", c.name});
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.out.substr(0, 13), c.title) << c.name;
  }
  // 858 implies the Euro sign at 0xd5.
  EXPECT_NE(runVidtwine({"-T", "-a", "-C", "-c", "858"}).out.find("\xe2\x82\xac"),
            std::string::npos);
  EXPECT_EQ(runVidtwine({"-T", "-a", "-C", "-c", "850"}).out.find("\xe2\x82\xac"),
            std::string::npos);
}

TEST(DriverCli, TestPageWithSauceModes) {
  auto result = runVidtwine({"-T", "-q", "T"});
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(result.err, "");
  EXPECT_EQ(result.out, "");
  result = runVidtwine({"-T", "-s"});
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(result.err, "No SAUCE found!\n");
  EXPECT_EQ(result.out, "");
}

TEST(DriverCli, TestPageMetadata) {
  const auto result = runVidtwine({"-T", "-a", "-m", "-w", "20"});
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.err, "m_setwidth=70\nm_setheight=25\nm_height=26\n");
}

TEST(DriverCli, NoArgumentsRendersStandardInput) {
  test::RunOptions options;
  options.input = "plain";
  const auto result = runVidtwine({}, options);
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.out, "plain" + std::string(75, ' ') + "\n");
}

// The page as a real terminal shows it: run inside tmux and read the pane back.
class TmuxCli : public testing::Test {
 protected:
  void SetUp() override {
    if (test::run("/bin/sh", {"-c", "command -v tmux >/dev/null"}).status != 0) {
      GTEST_SKIP() << "tmux is not installed: the real-terminal check is skipped";
    }
    socket_ = (socketDir_ / "tmux.socket").string();
  }
  void TearDown() override {
    if (!socket_.empty()) tmux({"kill-server"});
  }
  test::RunResult tmux(std::vector<std::string> args) {
    args.insert(args.begin(), {"-S", socket_, "-f", "/dev/null"});
    return test::run("/usr/bin/env", [&] {
      std::vector<std::string> all = {"tmux"};
      all.insert(all.end(), args.begin(), args.end());
      return all;
    }());
  }
  // The captured pane, with its colours as SGR sequences.
  std::string showPage(const std::string& terminal) {
    const std::string command = "env TERM=" + terminal + " " + VIDTWINE_BINARY + " -T; sleep 60";
    EXPECT_EQ(tmux({"new-session", "-d", "-s", "page", "-x", "80", "-y", "30", command}).status, 0);
    std::string pane;
    for (int attempt = 0; attempt < 600; ++attempt) {  // up to 30 s on a loaded machine
      pane = tmux({"capture-pane", "-p", "-e", "-t", "page"}).out;
      if (pane.find("vidtwine v2.0") != std::string::npos) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    tmux({"kill-session", "-t", "page"});
    return pane;
  }
  test::TempDir socketDir_;  // the server's socket goes with the test
  std::string socket_;
};

TEST_F(TmuxCli, TestPageLooksRightInEachKindOfTerminal) {
  struct Case {
    const char* terminal;
    std::vector<std::string> sequences;  // what the pane must show
  };
  const Case cases[] = {
      {"xterm-256color", {"38;5;248", "48;5;19", "38;5;227"}},  // exact palette
      {"xterm", {"\x1b[1m", "44m", "33m"}},                     // 8 colours with bold
  };
  for (const auto& c : cases) {
    const std::string pane = showPage(c.terminal);
    EXPECT_NE(pane.find("Codepage 437:"), std::string::npos) << c.terminal;
    EXPECT_NE(pane.find("\xe2\x96\x91"), std::string::npos) << c.terminal;  // shading
    EXPECT_NE(pane.find("vidtwine v2.0"), std::string::npos) << c.terminal;
    for (const auto& sequence : c.sequences) {
      EXPECT_NE(pane.find(sequence), std::string::npos) << c.terminal << " " << sequence;
    }
  }
  const std::string plain = showPage("dumb");
  EXPECT_NE(plain.find("Codepage 437:"), std::string::npos);
  EXPECT_NE(plain.find("Foreground:    \xe2\x96\xb2\xe2\x96\xbc\xe2\x96\xb2"), std::string::npos);
  EXPECT_EQ(plain.find("\x1b["), std::string::npos);
}

}  // namespace
}  // namespace vidtwine
