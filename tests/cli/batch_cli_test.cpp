// -O end to end: outputs named after their inputs, failures that do not stop the run, and
// a folder that cannot take the outputs.
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support/process.hpp"

namespace vidtwine {
namespace {

namespace fs = std::filesystem;
using test::runVidtwine;

std::set<std::string> names(const fs::path& dir) {
  std::set<std::string> found;
  for (const auto& entry : fs::directory_iterator(dir))
    found.insert(entry.path().filename().string());
  return found;
}

TEST(BatchCli, FailuresAreReportedAndTheRestIsConverted) {
  test::TempDir dir;
  fs::create_directories(dir / "a");
  fs::create_directories(dir / "b");
  test::writeFile(dir / "a/art.ans", "\x1b[31mA");
  test::writeFile(dir / "b/art.ans", "\x1b[32mB");
  test::writeFile(dir / "c.txt", "plain");
  const auto out = dir / "out";
  for (const char* jobs : {"1", "3"}) {
    fs::remove_all(out);
    // The last opens but cannot be read, even by root: every read of it fails.
    const std::vector<std::string> inputs = {
        (dir / "a/art.ans").string(), (dir / "missing.ans").string(), (dir / "b").string(),
        (dir / "b/art.ans").string(), (dir / "c.txt").string(),       "/proc/self/mem"};
    std::vector<std::string> args = {"-a", "-j", jobs, "-O", out.string()};
    args.insert(args.end(), inputs.begin(), inputs.end());
    const auto result = runVidtwine(args);
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(names(out), (std::set<std::string>{"art.ans", "art-2.ans", "c.ans"})) << jobs;
    // Each output is what a run of its own would have written.
    for (const auto& [input, output] : {std::pair{0, "art.ans"}, {3, "art-2.ans"}, {4, "c.ans"}})
      EXPECT_EQ(test::readFile(out / output), runVidtwine({"-a", inputs[input]}).out) << output;
    for (const int failed : {1, 2})
      EXPECT_NE(result.err.find("Failed `" + inputs[failed] + "': Error opening `" +
                                inputs[failed] + "' for reading.\n"),
                std::string::npos)
          << result.err;
    EXPECT_NE(result.err.find("Failed `/proc/self/mem': "), std::string::npos) << result.err;
    EXPECT_TRUE(
        result.err.ends_with("3 of 6 files converted into `" + out.string() + "', 3 failed\n"))
        << result.err;
  }
}

TEST(BatchCli, ExtensionsFollowTheOutputKindAndSuccessIsZero) {
  test::TempDir dir;
  test::writeFile(dir / "x.ans", "x");
  const std::pair<std::vector<std::string>, std::string> cases[] = {
      {{}, "x.ans"}, {{"-C"}, "x.txt"}, {{"--html"}, "x.html"}};
  for (const auto& [options, name] : cases) {
    const auto out = dir / ("out" + name);
    std::vector<std::string> args = options;
    args.insert(args.end(), {"--output-dir=" + out.string(), (dir / "x.ans").string()});
    const auto result = runVidtwine(args);
    EXPECT_EQ(result.status, 0) << name;
    EXPECT_EQ(result.err, "1 of 1 files converted into `" + out.string() + "', 0 failed\n");
    EXPECT_EQ(names(out), std::set<std::string>{name});
  }
  // An output never replaces an input of the run, even in the input's own folder.
  const auto result = runVidtwine({"-O", dir.path().string(), (dir / "x.ans").string()});
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(test::readFile(dir / "x.ans"), "x");
  EXPECT_TRUE(fs::exists(dir / "x-2.ans"));
}

TEST(BatchCli, AFolderThatCannotTakeTheOutputsFailsFirst) {
  test::TempDir dir;
  test::writeFile(dir / "file", "");
  fs::create_directory(dir / "closed");
  fs::permissions(dir / "closed", fs::perms::owner_read | fs::perms::owner_exec);
  struct Case {
    fs::path folder;
    std::string message;
  };
  std::vector<Case> cases = {
      {dir / "no/such",
       "Error creating folder `" + (dir / "no/such").string() + "': No such file or directory\n"},
      {dir / "file", "Error: `" + (dir / "file").string() + "' is not a folder\n"},
  };
  // The superuser may write anywhere.
  if (::geteuid() != 0)
    cases.push_back({dir / "closed", "Error writing into folder `" + (dir / "closed").string() +
                                         "': Permission denied\n"});
  for (const auto& c : cases) {
    // The input is never read: its absence gets no message.
    const auto result = runVidtwine({"-O", c.folder.string(), (dir / "absent.ans").string()});
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.err, c.message);
  }
  EXPECT_TRUE(names(dir / "closed").empty());
}

// A full disk in the middle of a batch: what was written stays, what did not fit leaves
// nothing behind, and the run goes on.
TEST(BatchCli, AFullDiskLosesNothingWritten) {
  test::TempDir dir;
  const auto disk = dir / "disk";
  fs::create_directory(disk);
  test::RunOptions options;
  const bool mounted = ::mount("tmpfs", disk.c_str(), "tmpfs", 0, "size=32k") == 0;
  // Without a small file system, a limit on file sizes stands in for it.
  if (!mounted) options.fileSizeLimit = 20000;
  test::writeFile(dir / "one.ans", "first");
  test::writeFile(dir / "big.ans", std::string(16800, '\xdb'));  // 50 KB of UTF-8
  test::writeFile(dir / "two.ans", "second");
  const auto result = runVidtwine({"-a", "-j", "1", "-O", disk.string(), (dir / "one.ans").string(),
                                   (dir / "big.ans").string(), (dir / "two.ans").string()},
                                  options);
  EXPECT_EQ(result.status, 1);
  EXPECT_NE(result.err.find("Failed `" + (dir / "big.ans").string() + "'"), std::string::npos)
      << result.err;
  EXPECT_EQ(names(disk), (std::set<std::string>{"one.ans", "two.ans"}));
  EXPECT_EQ(test::readFile(disk / "one.ans"), runVidtwine({"-a", (dir / "one.ans").string()}).out);
  EXPECT_EQ(test::readFile(disk / "two.ans"), runVidtwine({"-a", (dir / "two.ans").string()}).out);
  if (mounted) ::umount2(disk.c_str(), MNT_DETACH);
}

TEST(BatchCli, AFileThatEndsItsProcessFailsAloneAndTheRestGoOn) {
  if (test::kAddressSanitizer) GTEST_SKIP() << "AddressSanitizer needs a large address space";
  test::TempDir dir;
  // A letter in the last of 1024 columns, on 60000 rows, needs far more than the limit.
  std::string farLetters;
  for (int row = 0; row < 60000; ++row)
    farLetters += "\x1b[1023Cx\r\n";
  test::writeFile(dir / "big.ans", farLetters);
  test::writeFile(dir / "a.ans", "\x1b[31mA");
  test::writeFile(dir / "b.ans", "\x1b[32mB");
  test::RunOptions options;
  options.addressSpaceLimit = 64 << 20;
  const auto out = dir / "out";
  const std::vector<std::string> inputs = {(dir / "a.ans").string(), (dir / "big.ans").string(),
                                           (dir / "b.ans").string()};
  std::vector<std::string> args = {"-a", "-w", "1024", "-j", "1", "-O", out.string()};
  args.insert(args.end(), inputs.begin(), inputs.end());
  const auto result = runVidtwine(args, options);
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(names(out), (std::set<std::string>{"a.ans", "b.ans"}));
  EXPECT_EQ(result.err, "Failed `" + inputs[1] +
                            "': vidtwine: out of memory\n2 of 3 files converted into `" +
                            out.string() + "', 1 failed\n");
}

}  // namespace
}  // namespace vidtwine
