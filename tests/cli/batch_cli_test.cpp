// -O end to end: outputs named after their inputs, failures that do not stop the run, and
// a folder that cannot take the outputs.
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
    const std::vector<std::string> inputs = {
        (dir / "a/art.ans").string(), (dir / "missing.ans").string(), (dir / "b").string(),
        (dir / "b/art.ans").string(), (dir / "c.txt").string()};
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
    EXPECT_TRUE(
        result.err.ends_with("3 of 5 files converted into `" + out.string() + "', 2 failed\n"))
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

}  // namespace
}  // namespace vidtwine
