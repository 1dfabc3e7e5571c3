// --html end to end: the page's pieces, its validity for every corpus file, and what a
// real browser shows.
#include <unistd.h>

#include <cctype>
#include <cstdio>
#include <filesystem>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "sauce/sauce_builder.hpp"
#include "support/process.hpp"

namespace vidtwine {
namespace {

namespace fs = std::filesystem;
using test::runVidtwine;
using test::SauceBuilder;

/// Runs a program found on the PATH.
test::RunResult runCommand(const std::string& name, std::vector<std::string> args) {
  args.insert(args.begin(), name);
  return test::run("/usr/bin/env", args);
}

bool haveCommand(const std::string& name) {
  return test::run("/bin/sh", {"-c", "command -v " + name + " >/dev/null"}).status == 0;
}

TEST(HtmlCli, PagePiecesFollowTheArtAndTheOptions) {
  SauceBuilder sauce;
  sauce.title = "Night<City>";
  sauce.author = "Ann";
  sauce.group = "G&G";
  sauce.date = "19960501";
  sauce.comments = {"first line", "second"};
  const std::string withSauce = sauce.file("\x1b[5;31mX\x1b[0m");
  struct Case {
    std::vector<std::string> args;
    std::string input;
    std::vector<std::string> present;
    std::vector<std::string> absent;
  };
  const Case cases[] = {
      {{}, "<&>\"'", {"&lt;&amp;&gt;&quot;&#39;", "<title>vidtwine</title>"}, {"<span"}},
      // Blink by default; iCE (via -v) gives the bright background instead.
      {{}, "\x1b[5;31mX", {"<span class=\"f1 k\">X</span>"}, {}},
      {{"-v"}, "\x1b[5;31mX", {"<span class=\"f1 b8\">X</span>"}, {"class=\"f1 k\""}},
      {{"--bbs"}, "\x1b[38;2;1;2;3mX", {"style=\"color:#010203\">X</span>"}, {}},
      {{"-w", "20"}, "x", {"pre.art{width:20ch}", "x                   \n"}, {}},
      {{"-d", "-w", "20"}, "x", {">x\n</pre>"}, {}},
      // Text options that make no sense in a page are left out.
      {{"-u", "utf16", "-b", "-r", "-l"}, "x", {"<!DOCTYPE html>", "x"}, {"\r", "\xe2\x80\xad"}},
      {{},
       withSauce,
       {"<title>Night&lt;City&gt; by Ann (G&amp;G), 1996-05-01</title>",
        "<meta name=\"author\" content=\"Ann\">",
        "<figcaption><cite>Night&lt;City&gt;</cite> by Ann (G&amp;G), <time "
        "datetime=\"1996-05-01\">1996-05-01</time></figcaption>",
        "<details>\n<summary>Comment</summary>\n<pre class=\"comment\">first line\nsecond\n",
        "class=\"f1 k\""},
       {}},
      {{"-S"}, withSauce, {"X"}, {"Night", "<details>", "<figcaption>"}},
  };
  for (const auto& c : cases) {
    std::vector<std::string> args = c.args;
    args.push_back("--html");
    test::RunOptions options;
    options.input = c.input;
    const auto result = runVidtwine(args, options);
    EXPECT_EQ(result.status, 0) << c.input;
    EXPECT_EQ(result.err, "");
    for (const auto& piece : c.present)
      EXPECT_NE(result.out.find(piece), std::string::npos) << piece << "\n" << result.out;
    for (const auto& piece : c.absent)
      EXPECT_EQ(result.out.find(piece), std::string::npos) << piece;
  }
}

TEST(HtmlCli, EveryCorpusPagePassesTheChecker) {
  const auto corpus = test::corpusDir();
  if (!corpus) GTEST_SKIP() << "the art corpus is absent";
  if (!haveCommand("tidy")) GTEST_SKIP() << "tidy is not installed (scripts/install-deps.sh test)";
  test::TempDir dir;
  std::vector<std::string> args = {"--html", "-O", dir.path().string()};
  for (const auto& entry : fs::directory_iterator(*corpus))
    args.push_back(entry.path().string());
  runVidtwine(args);
  int pages = 0;
  for (const auto& entry : fs::directory_iterator(dir.path())) {
    ++pages;
    const auto checked = runCommand("tidy", {"-errors", "-q", entry.path().string()});
    EXPECT_EQ(checked.status, 0) << entry.path() << "\n" << checked.err;
  }
  EXPECT_GT(pages, 10);
  for (const char* mode : {"-T", "-s"}) {
    const auto page = dir / (std::string(mode) + ".html");
    SauceBuilder sauce;
    sauce.title = "T";
    test::RunOptions options;
    options.input = sauce.file("x");
    options.outputFile = page;
    EXPECT_EQ(runVidtwine({mode, "--html"}, options).status, 0);
    EXPECT_EQ(runCommand("tidy", {"-errors", "-q", page.string()}).status, 0) << mode;
  }
}

/// The colour of one pixel of a PNG as "#RRGGBB", read with ImageMagick.
std::string pixelAt(const fs::path& png, int x, int y) {
  const auto result = runCommand(
      "convert", {png.string(), "-crop", "1x1+" + std::to_string(x) + "+" + std::to_string(y),
                  "-depth", "8", "txt:-"});
  std::smatch match;
  if (!std::regex_search(result.out, match, std::regex("#[0-9A-Fa-f]{6}"))) return "";
  return match.str();
}

TEST(HtmlCli, ABrowserShowsTheExactPalette) {
  std::string browser;
  for (const char* name : {"chromium", "chromium-browser"})
    if (browser.empty() && haveCommand(name)) browser = name;
  if (browser.empty() || !haveCommand("convert"))
    GTEST_SKIP() << "chromium or ImageMagick is not installed (scripts/install-deps.sh test)";
  test::TempDir dir;
  const auto page = dir / "page.html";
  test::RunOptions options;
  options.outputFile = page;
  // Only the first row of colours: cells of a full block in each colour, on black.
  ASSERT_EQ(runVidtwine({"--html", "-T"}, options).status, 0);
  std::string html = test::readFile(page);
  // A fixed, known cell geometry: 10 px wide, 20 px high, no page margin.
  html.replace(html.find("</style>"), 0,
               "pre.art{font-size:16px;line-height:20px}body{padding:0}"
               "pre.art span,pre.art{letter-spacing:0}\n");
  test::writeFile(page, html);
  const auto shot = dir / "shot.png";
  std::vector<std::string> args = {"--headless",
                                   "--disable-gpu",
                                   "--hide-scrollbars",
                                   "--force-device-scale-factor=1",
                                   "--window-size=900,700",
                                   "--screenshot=" + shot.string(),
                                   "file://" + page.string()};
  if (::geteuid() == 0) args.insert(args.begin(), "--no-sandbox");
  const auto started = runCommand(browser, args);
  if (!fs::exists(shot))
    GTEST_SKIP() << browser << " could not start or take a screenshot: " << started.err;

  // The page background, far right of the art.
  EXPECT_EQ(pixelAt(shot, 890, 690), "#000000");
  // The test page's table: its cells' backgrounds and full blocks in every VGA colour.
  // Rather than rely on one font's metrics for the cells' places, every colour must be
  // somewhere in the picture exactly; smoothed edges make only other colours.
  const auto colours =
      runCommand("convert", {shot.string(), "-unique-colors", "-depth", "8", "txt:-"});
  std::set<std::string> seen;
  std::smatch match;
  for (std::string rest = colours.out;
       std::regex_search(rest, match, std::regex("#[0-9A-Fa-f]{6}")); rest = match.suffix()) {
    std::string colour = match.str();
    for (char& c : colour)
      c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    seen.insert(colour);
  }
  for (const char* colour :
       {"#000000", "#AA0000", "#00AA00", "#AA5500", "#0000AA", "#AA00AA", "#00AAAA", "#AAAAAA",
        "#555555", "#FF5555", "#55FF55", "#FFFF55", "#5555FF", "#FF55FF", "#55FFFF", "#FFFFFF"})
    EXPECT_TRUE(seen.contains(colour)) << colour << " is nowhere in the screenshot";
}

}  // namespace
}  // namespace vidtwine
