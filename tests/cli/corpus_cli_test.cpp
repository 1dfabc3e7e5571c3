// Every real art file of the corpus renders, and its SAUCE record shows and queries.
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support/process.hpp"

namespace vidtwine {
namespace {

namespace fs = std::filesystem;

struct CorpusFile {
  std::string name;
  bool hasSauce = false;
  bool tooManyParameters = false;  // a sequence with a ninth parameter ends the run
  int sauceWidth = 0;
};

std::vector<CorpusFile> corpusFiles() {
  std::vector<CorpusFile> files;
  const auto dir = test::corpusDir();
  if (!dir) return files;
  std::ifstream manifest(*dir / "MANIFEST.tsv");
  std::string line;
  std::getline(manifest, line);  // column names
  while (std::getline(manifest, line)) {
    std::vector<std::string> columns;
    std::stringstream fields(line);
    for (std::string column; std::getline(fields, column, '\t');)
      columns.push_back(column);
    if (columns.size() < 7) continue;
    CorpusFile file;
    file.name = columns[0];
    file.hasSauce = columns[5] == "yes";
    file.tooManyParameters = line.find("more than 8 parameters") != std::string::npos;
    const auto width = columns[6].find("width=");
    const bool characterText = columns[6].find("datatype=0;") != std::string::npos ||
                               columns[6].find("datatype=1;") != std::string::npos;
    if (file.hasSauce && characterText && width != std::string::npos) {
      file.sauceWidth = std::atoi(columns[6].c_str() + width + 6);
    }
    files.push_back(file);
  }
  return files;
}

// Code points per line of plain UTF-8 output.
std::vector<std::size_t> lineLengths(const std::string& text) {
  std::vector<std::size_t> lengths;
  std::size_t count = 0;
  for (const char c : text) {
    if (c == '\n') {
      lengths.push_back(count);
      count = 0;
    } else if ((static_cast<unsigned char>(c) & 0xC0) != 0x80) {
      ++count;
    }
  }
  return lengths;
}

// Whether a 24-bit SGR colour in `text` has a level other than the VGA's 0, 85, 170, 255.
bool hasColourBeyondVga(const std::string& text) {
  for (std::size_t at = text.find("8;2;"); at != std::string::npos;
       at = text.find("8;2;", at + 1)) {
    std::stringstream levels(text.substr(at + 4, 12));
    for (int channel = 0; channel < 3; ++channel) {
      int level = 0;
      char separator = 0;
      levels >> level >> separator;
      if (level % 85 != 0) return true;
    }
  }
  return false;
}

class Corpus : public ::testing::TestWithParam<CorpusFile> {};

TEST_P(Corpus, RendersAsTheManifestSays) {
  const CorpusFile& file = GetParam();
  const auto path = (*test::corpusDir() / file.name).string();

  const auto plain = test::runVidtwine({"-a", "-C", path});
  if (file.tooManyParameters) {
    EXPECT_EQ(plain.status, 1);
    EXPECT_EQ(plain.out, "");
    return;
  }
  ASSERT_EQ(plain.status, 0) << plain.err;
  EXPECT_EQ(plain.err, "");
  // Every row is written at the screen's full width.
  const auto lengths = lineLengths(plain.out);
  ASSERT_FALSE(lengths.empty());
  const bool sameWidth =
      std::all_of(lengths.begin(), lengths.end(), [&](auto n) { return n == lengths.front(); });
  EXPECT_TRUE(sameWidth);
  if (file.sauceWidth > 0) {
    EXPECT_EQ(lengths.front(), static_cast<std::size_t>(file.sauceWidth)) << "SAUCE width";
  }

  test::RunOptions terminal;
  terminal.env["TERM"] = "xterm-256color";
  const auto coloured = test::runVidtwine({path}, terminal);
  EXPECT_EQ(coloured.status, 0);
  EXPECT_EQ(test::runVidtwine({"-a", "-x", "-r", "-u", "utf-16le", path}).status, 0);
}

// Art for BBS terminals and today's editors: no staircases, no failures on long
// parameter lists, 24-bit colours kept, music left out.
TEST_P(Corpus, RendersInTheBbsDialect) {
  const CorpusFile& file = GetParam();
  const auto path = (*test::corpusDir() / file.name).string();
  const auto result = test::runVidtwine({"--bbs", "--truecolor", path});
  ASSERT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(result.err, "");
  const auto rows = std::count(result.out.begin(), result.out.end(), '\n');
  if (file.name == "enigma_MATRIX.ANS") {
    EXPECT_LE(rows, 25);
  }
  if (file.name.starts_with("anim_INTRO") || file.name.starts_with("anim_XMASTREE")) {
    for (const char* music : {"T150", "mnt100", "O2L8"})
      EXPECT_EQ(result.out.find(music), std::string::npos) << music;
  }
  if (file.tooManyParameters || file.name == "pablo_README.ans" ||
      file.name == "iniq_zv_iniq.ans") {
    // The editors' `t` sequences give colours that are not VGA colours.
    EXPECT_TRUE(hasColourBeyondVga(result.out));
  }
}

TEST_P(Corpus, SauceShowsAndQueries) {
  const CorpusFile& file = GetParam();
  const auto path = (*test::corpusDir() / file.name).string();
  const auto shown = test::runVidtwine({"-a", "-s", path});
  const auto queried = test::runVidtwine({"-q", ":TAGDCtwhbsafc", path});
  if (!file.hasSauce) {
    EXPECT_EQ(shown.status, 1);
    EXPECT_EQ(shown.err, "No SAUCE found!\n");
    EXPECT_EQ(queried.status, 1);
    return;
  }
  EXPECT_EQ(shown.status, 0) << shown.err;
  EXPECT_NE(shown.out.find("SAUCE"), std::string::npos);
  EXPECT_EQ(queried.status, 0) << queried.err;
  // Twelve single-line fields plus the comment count and its lines, all quoted.
  const auto lines =
      static_cast<std::size_t>(std::count(queried.out.begin(), queried.out.end(), '\n'));
  EXPECT_GE(lines, 13u);
  EXPECT_EQ(queried.out.front(), '\'');
}

std::string nameOf(const ::testing::TestParamInfo<CorpusFile>& info) {
  std::string name = info.param.name;
  std::replace_if(
      name.begin(), name.end(), [](char c) { return !std::isalnum(static_cast<unsigned char>(c)); },
      '_');
  return name;
}

INSTANTIATE_TEST_SUITE_P(Files, Corpus, ::testing::ValuesIn(corpusFiles()), nameOf);
GTEST_ALLOW_UNINSTANTIATED_PARAMETERIZED_TEST(Corpus);

TEST(CorpusPresence, FolderIsThere) {
  if (!test::corpusDir()) {
    GTEST_SKIP() << "the art corpus (../shared/corpus or $VIDTWINE_CORPUS) is absent: "
                    "corpus tests skipped";
  }
  EXPECT_GE(corpusFiles().size(), 70u);
}

}  // namespace
}  // namespace vidtwine
