// The texts and exit statuses of the command line, seen from outside the process.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "app/help_text.hpp"
#include "support/process.hpp"

namespace vidtwine {
namespace {

using test::RunOptions;
using test::runVidtwine;

std::string usageFor(const std::string& name) {
  return "Usage: " + name + " -V\n       " + name + " -h\n       " + name +
         " [-ABCEIPRSTWXabdeklmprsvxy] [-H scrheight]\n"
         "            [-c codepage] [-o outfile] [-q saucequery] [-t tabwidth]\n"
         "            [--bbs] [--format=name] [--truecolor]\n"
         "            [-u format] [-w width] [infile]\n       " +
         name + " [options] [--html] [-j jobs] -O outdir\n            file...\n";
}

RunOptions named(const std::string& name) {
  RunOptions options;
  options.programName = name;
  return options;
}

TEST(CommandLineCliTest, HelpPrintsUsageAndHelpOnStandardOutput) {
  // Later words, even bad ones, are never looked at.
  for (const auto& args : {std::vector<std::string>{"-h"}, {"-h", "-w", "5"}, {"-ah", "-z"}}) {
    const auto result = runVidtwine(args, named("vidtwine"));
    EXPECT_EQ(result.status, 0) << args.back();
    EXPECT_EQ(result.out, usageFor("vidtwine") + std::string(kHelpText)) << args.back();
    EXPECT_EQ(result.err, "") << args.back();
  }
}

TEST(CommandLineCliTest, ProgramNameIsPrintedAsGiven) {
  const auto result = runVidtwine({"-h"}, named("/opt/tools/vt"));
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.out.substr(0, usageFor("/opt/tools/vt").size()), usageFor("/opt/tools/vt"));
}

TEST(CommandLineCliTest, VersionPrintsTheBuildOnStandardOutput) {
  const auto result = runVidtwine({"-V", "-z"});
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.err, "");
  const std::string head = "\nThis is vidtwine v2.0, built for ";
  ASSERT_EQ(result.out.substr(0, head.size()), head);
  const std::string backend = "\nI/O Backend: POSIX, terminfo output: yes (curses)\n\n";
  const auto at = result.out.find(backend);
  ASSERT_NE(at, std::string::npos);
  EXPECT_GT(at, head.size()) << "names the system";
  // Then home page, author and licence, and an empty line.
  const std::string tail = result.out.substr(at + backend.size());
  ASSERT_GE(tail.size(), 2U);
  EXPECT_EQ(std::count(tail.begin(), tail.end(), '\n'), 4);
  EXPECT_EQ(tail.substr(tail.size() - 2), "\n\n");
  EXPECT_EQ(tail.find("\n\n"), tail.size() - 2);
}

TEST(CommandLineCliTest, LongHelpAndVersionAreTheLetters) {
  EXPECT_EQ(runVidtwine({"--help"}, named("vidtwine")).out,
            runVidtwine({"-h"}, named("vidtwine")).out);
  const auto version = runVidtwine({"--version"});
  EXPECT_EQ(version.status, 0);
  EXPECT_EQ(version.out, runVidtwine({"-V"}).out);
}

TEST(CommandLineCliTest, RejectionsPrintUsageAndErrorAndFail) {
  struct Case {
    std::vector<std::string> args;
    std::string message;  // empty: the usage text alone
  };
  const Case cases[] = {
      {{"-o"}, "Missing argument(s) for given flags"},
      {{"in.ans", "-a"}, "Extra arguments found"},
      {{"-H0"}, "Screen height out of valid range"},
      {{"-t", "1"}, "Tab width out of valid range"},
      {{"-w", "5", "-h"}, "Width out of valid range"},
      {{"-c", "cp999"}, "Unknown codepage"},
      {{"-u", "utf32"}, "Unknown output format"},
      {{"-q", "TZ"}, "Invalid SAUCE query"},
      {{"-z"}, ""},
      {{"-aa"}, ""},
      {{"--no-such-option"}, ""},
      {{"--truecolor=yes"}, ""},
      {{"--truecolor", "--truecolor"}, ""},
      {{"-o", "--truecolor"}, "Missing argument(s) for given flags"},
  };
  for (const auto& c : cases) {
    const auto result = runVidtwine(c.args, named("vidtwine"));
    EXPECT_EQ(result.status, 1) << c.args.front();
    EXPECT_EQ(result.out, "") << c.args.front();
    const std::string expected =
        usageFor("vidtwine") + (c.message.empty() ? "" : "\nError: " + c.message + "\n");
    EXPECT_EQ(result.err, expected) << c.args.front();
  }
}

}  // namespace
}  // namespace vidtwine
