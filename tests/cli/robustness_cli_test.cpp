// Bad inputs and hostile environments end in the right message or status, never a crash.
#include <sys/stat.h>

#include <string>

#include <gtest/gtest.h>

#include "sauce/sauce_builder.hpp"
#include "support/process.hpp"

namespace vidtwine {
namespace {

using test::runVidtwine;

TEST(RobustnessCli, FifoInputIsReadLikeAPipe) {
  test::TempDir dir;
  const auto fifo = dir / "fifo";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  const std::string command = "printf 'from a fifo' > '" + fifo.string() + "' & exec " +
                              VIDTWINE_BINARY + " -a -d '" + fifo.string() + "'";
  const auto result = test::run("/bin/sh", {"-c", command});
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.out, "from a fifo\n");
}

TEST(RobustnessCli, AReadErrorIsAFailure) {
  // /proc/self/mem claims to be an empty regular file; reading it fails.
  const auto result = runVidtwine({"-a", "/proc/self/mem"});
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(result.out, "");
}

TEST(RobustnessCli, HugeNumbersWrapAround) {
  test::RunOptions options;
  // 2^32 + 1 wraps to 1, 2^32 + 3 to 3; far beyond that the screen clamps.
  options.input = "a\x1b[4294967297Cb\x1b[4294967299Dc\x1b[99999999999999999999;5Hd";
  const auto result = runVidtwine({"-a", "-d", "-H", "3"}, options);
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.out, "c b\n\n    d\n");
}

TEST(RobustnessCli, TwentyMegabytesOfLineFeedsGiveNoOutput) {
  test::TempDir dir;
  const auto file = dir / "feeds.txt";
  test::writeFile(file, std::string(20 * 1000 * 1000, '\n'));
  const auto result = runVidtwine({"-a", file.string()});
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.out, "");
  EXPECT_EQ(result.err, "");
}

TEST(RobustnessCli, BinaryJunkRendersWithoutFailure) {
  std::string junk;
  std::uint32_t state = 12345;
  for (int i = 0; i < 300000; ++i) {
    state = state * 1103515245u + 12345u;
    junk += static_cast<char>(state >> 24);
  }
  test::RunOptions options;
  options.input = junk;
  for (const auto& args : {std::vector<std::string>{"-a", "-E"},
                           {"-a", "-x", "-E", "-w", "1024"},
                           {"-E", "-u", "utf-16le", "-c", "864"}}) {
    const auto result = runVidtwine(args, options);
    // A ninth parameter may end the run; anything else is a success.
    EXPECT_TRUE(result.status == 0 || result.status == 1) << result.status;
  }
}

TEST(RobustnessCli, LyingSauceBlocksAreTextLikeAnyOther) {
  test::TempDir dir;
  test::SauceBuilder lying;
  lying.commentCount = 3;  // three comment lines that are not there
  const std::string bytes = lying.file("text");
  const auto path = dir / "lying.ans";
  test::writeFile(path, bytes);
  auto result = runVidtwine({"-a", "-C", "-w", "1024", path.string()});
  EXPECT_EQ(result.status, 0);
  // Without a valid record the whole file is text, the record's bytes included.
  EXPECT_EQ(result.out.substr(0, 9), "textSAUCE");

  // A record cut short is no record either.
  const auto cut = dir / "cut.ans";
  test::writeFile(cut, "text" + bytes.substr(4, 100));
  result = runVidtwine({"-s", cut.string()});
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(result.err, "No SAUCE found!\n");
}

}  // namespace
}  // namespace vidtwine
