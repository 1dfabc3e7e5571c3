// The input formats end to end: how one is chosen, the corpus files, failures.
#include <gtest/gtest.h>

#include <string>

#include "support/process.hpp"

namespace vidtwine {
namespace {

using test::runVidtwine;

TEST(FormatsCli, CorpusFilesAtTheirWidthWithTheirPalettes) {
  const auto dir = test::corpusDir();
  if (!dir) GTEST_SKIP() << "the art corpus is absent";
  struct Case {
    const char* name;
    const char* metadata;
  };
  const Case cases[] = {
      {"sx_T1-ICBO.BIN", "m_setwidth=160\nm_setheight=25\nm_format=bin\nm_height=23\n"},
      {"sx_HAL-HM-160col.BIN", "m_setwidth=160\nm_setheight=25\nm_format=bin\nm_height=61\n"},
      {"sbbs_avatars-corporate.bin", "m_setwidth=10\nm_setheight=25\nm_format=bin\nm_height=216\n"},
      {"itm_42_WOLVR.XB",
       "m_setwidth=80\nm_setheight=25\nm_format=xbin\nm_font=embedded\nm_height=108\n"},
      {"itm_0699MEMB.XB",
       "m_setwidth=80\nm_setheight=25\nm_format=xbin\nm_font=embedded\nm_height=141\n"},
  };
  for (const Case& c : cases) {
    const auto path = (*dir / c.name).string();
    if (!std::filesystem::exists(path)) continue;
    const auto result = runVidtwine({"-a", "-m", "-o", "/dev/null", path});
    EXPECT_EQ(result.status, 0) << c.name;
    EXPECT_EQ(result.err, c.metadata) << c.name;
  }
  // With -S the data still ends at the record, without the 0x1A in front of it.
  const auto hal = (*dir / "sx_HAL-HM-160col.BIN").string();
  EXPECT_EQ(runVidtwine({"-a", "-m", "-S", "-o", "/dev/null", hal}).err, cases[1].metadata);
  // The XBin's own dark gray, which the VGA does not have.
  const auto wolverine = runVidtwine({"--truecolor", (*dir / "itm_42_WOLVR.XB").string()});
  EXPECT_NE(wolverine.out.find("48;2;48;48;48"), std::string::npos);
  // Latin-1 for an Amiga font, code page 437 when -c says so.
  const auto topaz = (*dir / "moebius_anst-topaz.ans").string();
  EXPECT_NE(runVidtwine({"-a", topaz}).out.find("\xc2\xaf\xc2\xaf"), std::string::npos);
  EXPECT_EQ(runVidtwine({"-a", "-c", "437", topaz}).out.find("\xc2\xaf\xc2\xaf"),
            std::string::npos);
}

TEST(FormatsCli, ChoiceByOptionNameAndSignature) {
  test::TempDir dir;
  // Binary text: 0x1A is an attribute, the width 16 from -w, no SAUCE.
  std::string cells;
  for (int i = 0; i < 17; ++i)
    cells += std::string("a\x1a", 2);
  const auto bin = dir.path() / "ART.Bin";
  test::writeFile(bin, cells);
  auto result = runVidtwine({"-a", "-d", "-C", "-w", "16", "-m", bin.string()});
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.out, std::string(16, 'a') + "\na\n");
  EXPECT_EQ(result.err, "m_setwidth=16\nm_setheight=25\nm_format=bin\nm_height=2\n");
  // Read as ANSI text when told so, as before.
  result = runVidtwine({"-a", "-d", "-C", "--format=ansi", "-m", bin.string()});
  EXPECT_EQ(result.out, "a\n");
  EXPECT_EQ(result.err, "m_setwidth=80\nm_setheight=25\nm_height=1\n");

  // The signature outranks the name; standard input has none.
  test::RunOptions options;
  options.input = std::string("XBIN\x1a\x02\x00\x01\x00\x10\x00x\x07y\x07", 15);
  EXPECT_EQ(runVidtwine({"-a", "-C"}, options).out, "xy\n");
  options.input = "@X1Fhi";
  EXPECT_EQ(runVidtwine({"-a", "-C", "-d", "--format=PCBoard"}, options).out, "hi\n");
  EXPECT_EQ(runVidtwine({"-a", "-C", "-d", "--format", "avatar"}, options).out, "@X1Fhi\n");
  options.input = "a\nb";
  EXPECT_EQ(runVidtwine({"-a", "-C", "--format=bbs"}, options).out,
            runVidtwine({"-a", "-C", "--bbs"}, options).out);
}

TEST(FormatsCli, BadFilesAndNamesFail) {
  test::TempDir dir;
  const auto xb = dir.path() / "short.xb";
  test::writeFile(xb, std::string("XBIN\x1a\xff\xff\xff\xff\x10\x00"
                                  "ab",
                                  13));
  auto result = runVidtwine({"-a", xb.string()});
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(result.out, "");
  EXPECT_EQ(result.err, "Error reading `" + xb.string() + "': truncated XBin data.\n");

  test::RunOptions options;
  options.input = "XBIN";
  result = runVidtwine({"-a", "--format=xbin"}, options);
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(result.err, "Error reading standard input: truncated XBin header.\n");

  result = runVidtwine({"--format=rip"});
  EXPECT_EQ(result.status, 1);
  EXPECT_NE(result.err.find("\nError: Unknown format\n"), std::string::npos);
}

}  // namespace
}  // namespace vidtwine
