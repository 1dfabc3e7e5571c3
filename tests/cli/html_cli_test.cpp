// --html end to end: the page's pieces, its validity for every corpus file, and what a
// real browser shows.
#include <unistd.h>

#include <cstddef>
#include <cstdio>
#include <filesystem>
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
      {{"-v"}, "\x1b[5;44;1;37mX", {"<span class=\"f15 b12\">X</span>"}, {}},
      {{"--bbs"},
       "\x1b[38;2;255;0;171;48;2;0;16;254mX",
       {"<span style=\"color:#ff00ab;background:#0010fe\">X</span>"},
       {}},
      {{"-w", "20"}, "x", {"pre.art{width:20ch}", "x                   \n"}, {}},
      {{"-d", "-w", "20"}, "x", {">x\n</pre>"}, {}},
      // A row longer than the writer's pieces, each character an entity.
      {{"-d", "-w", "1000"},
       std::string(1000, '"'),
       {[] {
         std::string quotes;
         for (int n = 0; n < 1000; ++n)
           quotes += "&quot;";
         return ">" + quotes + "\n</pre>";
       }()},
       {}},
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

/// A screenshot's pixels as 8-bit RGB, read once with ImageMagick.
struct Picture {
  std::string rgb;
  int width = 0;

  std::string at(double x, double y) const {
    const auto i = 3 * (static_cast<std::size_t>(y) * static_cast<std::size_t>(width) +
                        static_cast<std::size_t>(x));
    if (i + 3 > rgb.size()) return "outside";
    char text[8];
    std::snprintf(text, sizeof text, "#%02X%02X%02X", static_cast<unsigned char>(rgb[i]),
                  static_cast<unsigned char>(rgb[i + 1]), static_cast<unsigned char>(rgb[i + 2]));
    return text;
  }
};

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
  // iCE colours, so that the test page's row of backgrounds holds all fifteen non-black ones.
  ASSERT_EQ(runVidtwine({"--html", "-T", "-v"}, options).status, 0);
  std::string html = test::readFile(page);
  // Lines 20 px apart from the top of the window; the columns' pitch is the font's.
  html.replace(html.find("</style>"), 0,
               "pre.art{font-size:16px;line-height:20px}body{padding:0}"
               "pre.art span,pre.art{letter-spacing:0}\n");
  test::writeFile(page, html);
  const auto shot = dir / "shot.png";
  const int width = 900;
  std::vector<std::string> args = {"--headless",
                                   "--disable-gpu",
                                   "--hide-scrollbars",
                                   "--force-device-scale-factor=1",
                                   "--window-size=" + std::to_string(width) + ",700",
                                   "--screenshot=" + shot.string(),
                                   "file://" + page.string()};
  if (::geteuid() == 0) args.insert(args.begin(), "--no-sandbox");
  const auto started = runCommand(browser, args);
  if (!fs::exists(shot))
    GTEST_SKIP() << browser << " could not start or take a screenshot: " << started.err;
  const Picture picture{runCommand("convert", {shot.string(), "-depth", "8", "rgb:-"}).out, width};

  // The table's heading, line 2, is 68 cells on blue that begin and end with a blank: its
  // ends give the first column's place and the pitch.
  constexpr double kLine = 20;
  int left = -1;
  int right = -1;
  for (int x = 0; x < width; ++x) {
    if (picture.at(x, 2.5 * kLine) != "#0000AA") continue;
    if (left < 0) left = x;
    right = x + 1;
  }
  ASSERT_GE(left, 0) << "no blue heading in the screenshot";
  const double pitch = (right - left) / 68.0;
  // Glyph cells are sampled at their centre, background cells near their top, above the ink.
  const auto cell = [&](int line, int column, double down) {
    return picture.at(left + (column + 0.5) * pitch, (line + down) * kLine);
  };
  const char* const vga[] = {"#000000", "#AA0000", "#00AA00", "#AA5500", "#0000AA", "#AA00AA",
                             "#00AAAA", "#AAAAAA", "#555555", "#FF5555", "#55FF55", "#FFFF55",
                             "#5555FF", "#FF55FF", "#55FFFF", "#FFFFFF"};
  EXPECT_EQ(cell(14, 58, 0.5), vga[7]) << "the full block of the table, row 0b column d0";
  EXPECT_EQ(cell(18, 0, 0.5), vga[4]) << "the blank before the table's row 0f";
  EXPECT_EQ(cell(19, 0, 0.5), vga[0]) << "the blank line under the table";
  // Line 23 shows each background c from 1 to 15 behind a pair of faces from column 17 + 2c.
  for (int c = 1; c < 16; ++c)
    EXPECT_EQ(cell(23, 17 + 2 * c, 0.1), vga[c]) << "background " << c;
}

}  // namespace
}  // namespace vidtwine
