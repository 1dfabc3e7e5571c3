// Bad inputs and hostile environments end in the right message or status, never a crash.
#include <signal.h>
#include <sys/mount.h>
#include <sys/stat.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <set>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "sauce/sauce_builder.hpp"
#include "support/process.hpp"

namespace vidtwine {
namespace {

using test::runVidtwine;
namespace fs = std::filesystem;

/// The names in `dir`, hidden ones too.
std::set<std::string> names(const fs::path& dir) {
  std::set<std::string> result;
  for (const auto& entry : fs::directory_iterator(dir))
    result.insert(entry.path().filename().string());
  return result;
}

/// An input of `rows` lines of one character each.
std::string manyLines(int rows) {
  std::string text;
  for (int i = 0; i < rows; ++i)
    text += "x\r\n";
  return text;
}

TEST(RobustnessCli, FifosAreReadAndWrittenLikePipes) {
  test::TempDir dir;
  const auto fifo = dir / "fifo";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  std::string command = "printf 'from a fifo' > '" + fifo.string() + "' & exec " + VIDTWINE_BINARY +
                        " -a -d '" + fifo.string() + "'";
  auto result = test::run("/bin/sh", {"-c", command});
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.out, "from a fifo\n");

  // A FIFO named as output is written, not replaced by a file.
  command = "cat '" + fifo.string() + "' & '" + VIDTWINE_BINARY + "' -a -d -o '" + fifo.string() +
            "'; wait";
  test::RunOptions options;
  options.input = "into a fifo";
  result = test::run("/bin/sh", {"-c", command}, options);
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.out, "into a fifo\n");
  EXPECT_TRUE(fs::is_fifo(fifo));
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

/// A folder on a file system that is full after a few KiB: a small tmpfs where one can be
/// mounted, or else an ordinary folder and a limit on the size of the files a run writes.
class FullDisk : public ::testing::Test {
 protected:
  void SetUp() override {
    disk_ = dir_ / "disk";
    fs::create_directory(disk_);
    mounted_ = ::mount("tmpfs", disk_.c_str(), "tmpfs", 0, "size=32k") == 0;
    if (!mounted_) options_.fileSizeLimit = 20000;
  }
  void TearDown() override {
    if (mounted_) ::umount2(disk_.c_str(), MNT_DETACH);
  }
  /// The reason a write fails for.
  std::string reason() const { return std::strerror(mounted_ ? ENOSPC : EFBIG); }

  test::TempDir dir_;
  fs::path disk_;
  bool mounted_ = false;
  test::RunOptions options_;
};

TEST_F(FullDisk, TheInputNamedAsOutputSurvives) {
  // 16800 bytes of a full block, three bytes each in UTF-8: more than the disk holds.
  const std::string art(16800, '\xdb');
  const auto input = disk_ / "art.ans";
  test::writeFile(input, art);
  fs::create_symlink("art.ans", disk_ / "soft.ans");
  fs::create_hard_link(input, disk_ / "hard.ans");
  const auto before = names(disk_);
  for (const char* name : {"art.ans", "soft.ans", "hard.ans", "new.ans"}) {
    const auto output = (disk_ / name).string();
    const auto result = runVidtwine({"-a", "-o", output, input.string()}, options_);
    EXPECT_EQ(result.status, 1) << name;
    EXPECT_EQ(result.err, "Error writing `" + output + "': " + reason() + "\n");
    EXPECT_TRUE(test::readFile(input) == art) << name;
    EXPECT_EQ(names(disk_), before) << name;
  }
  EXPECT_TRUE(fs::is_symlink(disk_ / "soft.ans"));
  EXPECT_EQ(fs::hard_link_count(input), 2u);
}

TEST(RobustnessCli, AnEndingSignalLeavesTheOldFile) {
  test::TempDir dir;
  const auto input = dir / "big.txt";
  const auto target = dir / "target.txt";
  // About 30 MB of output: the signal comes while it is being written.
  test::writeFile(input, manyLines(30000));
  for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
    test::writeFile(target, "old text");
    std::thread killer;
    test::RunOptions options;
    options.started = [&](int pid) {
      killer = std::thread([&dir, pid, signal] {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (std::chrono::steady_clock::now() < deadline) {
          for (const auto& entry : fs::directory_iterator(dir.path())) {
            std::error_code error;
            if (entry.path().filename().string().starts_with(".vidtwine-") &&
                fs::file_size(entry.path(), error) > 0) {
              ::kill(pid, signal);
              return;
            }
          }
          std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
      });
    };
    const auto result =
        runVidtwine({"-a", "-w", "1024", "-o", target.string(), input.string()}, options);
    killer.join();
    EXPECT_EQ(result.status, 128 + signal);
    EXPECT_EQ(test::readFile(target), "old text");
    EXPECT_EQ(names(dir.path()), (std::set<std::string>{"big.txt", "target.txt"}));
  }
}

TEST(RobustnessCli, ClosedStandardDescriptorsCatchNoFile) {
  test::TempDir dir;
  const auto input = dir / "art.ans";
  const auto output = dir / "out.txt";
  test::writeFile(input, "hi");
  const std::string metadata = "m_setwidth=80\nm_setheight=25\nm_height=1\n";
  for (int closed = 0; closed < 8; ++closed) {
    const bool out = (closed & 2) != 0, err = (closed & 4) != 0;
    for (const bool m : {false, true}) {
      for (const bool o : {false, true}) {
        test::RunOptions options;
        for (int fd = 0; fd < 3; ++fd)
          if ((closed & (1 << fd)) != 0) options.closed.push_back(fd);
        std::vector<std::string> args{"-a", "-d"};
        if (m) args.push_back("-m");
        if (o) args.insert(args.end(), {"-o", output.string()});
        args.push_back(input.string());
        fs::remove(output);
        const auto result = runVidtwine(args, options);
        const std::string what =
            "closed " + std::to_string(closed) + (m ? " -m" : "") + (o ? " -o" : "");
        // Output lost on a closed descriptor fails the run; nothing lands on another.
        const bool lost = (out && !o) || (err && m);
        EXPECT_EQ(result.status, lost ? 1 : 0) << what;
        EXPECT_EQ(result.out, out || o ? "" : "hi\n") << what;
        const std::string message =
            out && !o ? "Error writing standard output: Bad file descriptor\n" : "";
        EXPECT_EQ(result.err, err ? "" : message + (m ? metadata : "")) << what;
        EXPECT_EQ(fs::exists(output) ? test::readFile(output) : "-", o ? "hi\n" : "-") << what;
      }
    }
  }
  test::RunOptions options;
  options.closed = {0};
  const auto result = runVidtwine({"-a"}, options);
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(result.err, "Error reading standard input.\n");
}

TEST(RobustnessCli, WriteErrorsNameTheOutputAndTheReason) {
  const std::string full = std::strerror(ENOSPC);
  test::RunOptions toFull;
  toFull.outputFile = "/dev/full";
  toFull.input = test::SauceBuilder{}.file("text");
  struct Case {
    std::vector<std::string> args;
    std::string err;
  };
  for (const auto& c : std::vector<Case>{
           {{"-a"}, "Error writing standard output: " + full + "\n"},
           {{"-T", "-a"}, "Error writing standard output: " + full + "\n"},
           {{"-q", "T"}, "Error writing standard output: " + full + "\n"},
           {{"-h"}, "Error writing standard output: " + full + "\n"},
           {{"-V"}, "Error writing standard output: " + full + "\n"},
           {{"-a", "-o", "/dev/full"}, "Error writing `/dev/full': " + full + "\n"},
       }) {
    const auto result = runVidtwine(c.args, toFull);
    EXPECT_EQ(result.status, 1) << c.args[0];
    EXPECT_EQ(result.err, c.err) << c.args[0];
  }

  // A reader that goes away ends the run without a word, by SIGPIPE or, where that is
  // ignored, by the failed write.
  test::TempDir dir;
  test::writeFile(dir / "big.txt", manyLines(1000));
  const std::string command = std::string("{ '") + VIDTWINE_BINARY +
                              "' -a -w 1024 big.txt 2>err.txt; echo $? >status.txt; } | true";
  test::RunOptions inDir;
  inDir.directory = dir.path();
  test::run("/bin/sh", {"-c", command}, inDir);
  const auto status = test::readFile(dir / "status.txt");
  EXPECT_TRUE(status == "1\n" || status == "141\n") << status;
  EXPECT_EQ(test::readFile(dir / "err.txt"), "");
}

TEST(RobustnessCli, ExhaustedMemoryEndsWithAMessage) {
  if (test::kAddressSanitizer) GTEST_SKIP() << "AddressSanitizer needs a large address space";
  test::TempDir dir;
  const auto input = dir / "big.txt";
  const auto target = dir / "target.txt";
  // A letter in the last of 1024 columns, on 60000 rows: each row stores 1024 cells, 120 MB.
  std::string farLetters;
  for (int row = 0; row < 60000; ++row)
    farLetters += "\x1b[1023Cx\r\n";
  test::writeFile(input, farLetters);
  test::writeFile(target, "old text");
  test::RunOptions options;
  options.addressSpaceLimit = 64 << 20;
  const auto result =
      runVidtwine({"-a", "-w", "1024", "-o", target.string(), input.string()}, options);
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(result.err, "vidtwine: out of memory\n");
  EXPECT_EQ(test::readFile(target), "old text");
  EXPECT_EQ(names(dir.path()), (std::set<std::string>{"big.txt", "target.txt"}));
}

}  // namespace
}  // namespace vidtwine
