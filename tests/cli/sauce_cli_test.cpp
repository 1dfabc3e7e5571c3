// SAUCE records through the binary: queries for scripts, the box, and what rendering takes.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "sauce/sauce_builder.hpp"
#include "support/process.hpp"

namespace vidtwine {
namespace {

using test::runVidtwine;

class SauceCli : public testing::Test {
 protected:
  std::string save(const std::string& bytes, const std::string& name = "art.ans") {
    const auto path = dir_ / name;
    test::writeFile(path, bytes);
    return path.string();
  }
  test::RunResult run(std::vector<std::string> args, test::RunOptions options = {}) {
    options.env["TZ"] = "UTC";
    return runVidtwine(std::move(args), options);
  }
  test::TempDir dir_;
};

TEST_F(SauceCli, QueryQuotesForTheShell) {
  test::SauceBuilder sauce;
  sauce.title = "It's";
  sauce.author = "Ann";
  sauce.group = "G|\x82";
  sauce.comments = {"first line", ""};
  const auto path = save(sauce.file("text"));

  auto result = run({"-q", "T:AGD", path});
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.out, "It's\n'Ann'\n'G|\xc3\xa9'\n'19980305'\n");
  result = run({"-q", ":T:C", "-r", path});
  EXPECT_EQ(result.out, "'It'\\''s'\r\n2\r\nfirst line \r\n\r\n");
  result = run({"-q", "twhbsafc", path});
  EXPECT_EQ(result.out, "ANSI text\n\n\n0\n\n\n\n\n");
  result = run({"-q", "", path});
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.out, "");
}

TEST_F(SauceCli, QueryWritesToStandardOutputOnly) {
  test::SauceBuilder sauce;
  sauce.title = "Title";
  const auto path = save(sauce.file("text"));
  const auto out = dir_ / "out.txt";
  auto result = run({"-q", "T", "-o", out.string(), "-u", "utf-16", path});
  EXPECT_EQ(result.out, "Title\n");
  EXPECT_FALSE(std::filesystem::exists(out));

  test::RunOptions full;
  full.outputFile = "/dev/full";
  result = run({"-q", "T", path}, full);
  EXPECT_EQ(result.status, 1);
}

TEST_F(SauceCli, NoRecordIsReportedForDisplayAndQuery) {
  const auto path = save("just text");
  for (const auto& option : {std::vector<std::string>{"-s"}, {"-q", "T"}, {"-s", "-S"}}) {
    std::vector<std::string> args = option;
    args.push_back(path);
    const auto result = run(args);
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.err, "No SAUCE found!\n");
    EXPECT_EQ(result.out, "");
  }
  // A comment count the file cannot hold rejects the whole record.
  test::SauceBuilder lying;
  lying.commentCount = 200;
  EXPECT_EQ(run({"-s", save(lying.file("x"), "lying.ans")}).err, "No SAUCE found!\n");
  test::SauceBuilder badBlock;
  badBlock.comments = {"a comment"};
  badBlock.commentId = "CMNT!";
  EXPECT_EQ(run({"-q", "T", save(badBlock.file("x"), "bad.ans")}).status, 1);
}

TEST_F(SauceCli, RenderingTakesWidthCodePageAndBlinkFromTheRecord) {
  test::SauceBuilder sauce;
  sauce.tInfo1 = 20;
  sauce.fontName = "IBM VGA 866";
  sauce.comments = {"never rendered"};
  const auto path = save(sauce.file("\x80\x1b[5;44mX"));
  auto result = run({"-a", "-w", "40", "-c", "850", path});
  EXPECT_EQ(result.status, 0);
  // Width 20 and code page 866 from the record; its blink mode shows blink.
  EXPECT_EQ(test::visible(result.out),
            "ESC[40;37m\xd0\x90"
            "ESC[5;44mX"
            "ESC[;40;37m" +
                std::string(18, ' ') + "ESC[m\n");

  // -S: the options count, the SAUCE block still stays out of the text.
  result = run({"-a", "-S", "-w", "16", "-c", "850", path});
  EXPECT_EQ(test::visible(result.out),
            "ESC[40;37m\xc3\x87"
            "ESC[104mX"
            "ESC[40m" +
                std::string(14, ' ') + "ESC[m\n");
}

TEST_F(SauceCli, BlinkFollowsTheRecordOrTheOption) {
  test::SauceBuilder bright;
  bright.tFlags = 1;  // bright backgrounds
  const auto path = save(bright.file("\x1b[5;44mX"));
  auto result = run({"-a", "-d", "-w", "16", path});
  EXPECT_EQ(test::visible(result.out), "ESC[104mXESC[m\n");
  result = run({"-a", "-d", "-k", "-w", "16", path});
  EXPECT_EQ(test::visible(result.out), "ESC[5;44mXESC[m\n");
}

TEST_F(SauceCli, DisplayDrawsTheBoxInCodePage437) {
  test::SauceBuilder sauce;
  sauce.title =
      "\x80"
      "ber|";
  sauce.fontName = "IBM VGA50 866";
  const auto path = save(sauce.file("text"));
  auto result = run({"-a", "-C", "-c", "866", "-m", "-s", path});
  ASSERT_EQ(result.status, 0) << result.err;
  EXPECT_NE(result.out.find("\xe2\x95\x94\xe2\x95\x90"), std::string::npos);  // top left corner
  EXPECT_NE(result.out.find(" \xc3\x87"
                            "ber\xc2\xa6 "),
            std::string::npos);  // 437, broken bar
  EXPECT_EQ(result.err, "m_setwidth=80\nm_setheight=50\nm_height=10\n");
  // -X keeps the plain bar; -S changes nothing for the display.
  result = run({"-a", "-C", "-X", "-S", "-s", path});
  EXPECT_NE(result.out.find(" \xc3\x87"
                            "ber| "),
            std::string::npos);
}

}  // namespace
}  // namespace vidtwine
