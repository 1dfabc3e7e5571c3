#include "app/command_line.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <initializer_list>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "app/help_text.hpp"
#include "codepage/codepage_names.hpp"

namespace vidtwine {
namespace {

using Field = std::int32_t (Config::*)() const noexcept;

/// An argv that outlives the Config made from it, as the real one does.
class CommandLine {
 public:
  explicit CommandLine(std::initializer_list<const char*> words) {
    words_.emplace_back("vidtwine");
    words_.insert(words_.end(), words.begin(), words.end());
    for (auto& word : words_)
      argv_.push_back(word.data());
    argv_.push_back(nullptr);
  }

  /// Parses, collecting what the parser printed on standard error.
  std::unique_ptr<Config> parse() {
    testing::internal::CaptureStderr();
    auto config = parseCommandLine(static_cast<int>(words_.size()), argv_.data());
    err = testing::internal::GetCapturedStderr();
    return config;
  }

  char* word(std::size_t index) { return argv_[index]; }

  std::string err;

 private:
  std::vector<std::string> words_;
  std::vector<char*> argv_;
};

std::string usage() {
  std::string text = kUsageFormat;
  for (auto at = text.find("%s"); at != std::string::npos; at = text.find("%s")) {
    text.replace(at, 2, "vidtwine");
  }
  return text;
}

TEST(CommandLineTest, EmptyCommandLineGivesTheDefaults) {
  // Fewer than two arguments: argv is not even looked at.
  const auto config = parseCommandLine(0, nullptr);
  ASSERT_NE(config, nullptr);
  EXPECT_EQ(config->inputPath(), nullptr);
  EXPECT_EQ(config->outputPath(), nullptr);
  EXPECT_EQ(config->sauceQuery(), nullptr);
  const std::vector<std::pair<Field, std::int32_t>> defaults = {
      {&Config::tabWidth, -1},    {&Config::width, -1},      {&Config::defaultColors, 0},
      {&Config::ignoreEof, 0},    {&Config::codepage, 0},    {&Config::codepageEuro, 0},
      {&Config::format, -1},      {&Config::bom, -1},        {&Config::colors, 1},
      {&Config::testPage, 0},     {&Config::crlf, 0},        {&Config::brokenBar, -1},
      {&Config::ltrOverride, 0},  {&Config::euro, 0},        {&Config::intenseColors, 1},
      {&Config::exactColors, 0},  {&Config::blink, 0},       {&Config::reverse, 0},
      {&Config::darkYellow, 0},   {&Config::genericAnsi, 0}, {&Config::showSauce, 0},
      {&Config::ignoreSauce, 0},  {&Config::fullSgr, 0},     {&Config::rawComment, 0},
      {&Config::vgaLookalike, 1}, {&Config::height, -1},     {&Config::metadata, 0},
  };
  for (std::size_t i = 0; i < defaults.size(); ++i) {
    EXPECT_EQ(((*config).*defaults[i].first)(), defaults[i].second) << "field " << i;
  }
}

struct FlagCase {
  const char* letters;
  Field field;
  std::int32_t value;
};

TEST(CommandLineTest, FlagsSetTheirFields) {
  const FlagCase cases[] = {
      {"-A", &Config::genericAnsi, 1},
      {"-A", &Config::fullSgr, 1},
      {"-B", &Config::bom, 0},
      {"-C", &Config::colors, 0},
      {"-E", &Config::ignoreEof, 1},
      {"-I", &Config::intenseColors, 0},
      {"-P", &Config::brokenBar, 0},
      {"-R", &Config::crlf, 0},
      {"-S", &Config::ignoreSauce, 1},
      {"-T", &Config::testPage, 1},
      {"-W", &Config::rawComment, 1},
      {"-X", &Config::brokenBar, 0},
      {"-X", &Config::vgaLookalike, 0},
      {"-a", &Config::genericAnsi, 1},
      {"-a", &Config::fullSgr, 0},
      {"-b", &Config::bom, 1},
      {"-d", &Config::defaultColors, 1},
      {"-e", &Config::euro, 1},
      {"-k", &Config::blink, 1},
      {"-l", &Config::ltrOverride, 1},
      {"-m", &Config::metadata, 1},
      {"-p", &Config::brokenBar, 1},
      {"-r", &Config::crlf, 1},
      {"-s", &Config::showSauce, 1},
      {"-v", &Config::intenseColors, 0},
      {"-v", &Config::reverse, 1},
      {"-x", &Config::exactColors, 1},
      {"-x", &Config::darkYellow, 0},
      {"-y", &Config::exactColors, 1},
      {"-y", &Config::darkYellow, 1},
      // The same field written twice keeps the value given last.
      {"-pP", &Config::brokenBar, 0},
      {"-Pp", &Config::brokenBar, 1},
      {"-pX", &Config::brokenBar, 0},
      {"-Bb", &Config::bom, 1},
      {"-bB", &Config::bom, 0},
      {"-rR", &Config::crlf, 0},
      {"-Rr", &Config::crlf, 1},
  };
  for (const auto& c : cases) {
    CommandLine line{c.letters};
    const auto config = line.parse();
    ASSERT_NE(config, nullptr) << c.letters;
    EXPECT_EQ(((*config).*c.field)(), c.value) << c.letters;
  }
}

TEST(CommandLineTest, GroupedAndSeparateFlagsCombine) {
  for (const auto& line : {CommandLine{"-aCkT"}, CommandLine{"-a", "-C", "-kT"}}) {
    CommandLine copy = line;
    const auto config = copy.parse();
    ASSERT_NE(config, nullptr);
    EXPECT_EQ(config->genericAnsi(), 1);
    EXPECT_EQ(config->colors(), 0);
    EXPECT_EQ(config->blink(), 1);
    EXPECT_EQ(config->testPage(), 1);
  }
}

TEST(CommandLineTest, ArgumentsMayBeAttached) {
  CommandLine line{"-w80", "-ofile.txt", "-H50", "-t4"};
  const auto config = line.parse();
  ASSERT_NE(config, nullptr);
  EXPECT_EQ(config->width(), 80);
  EXPECT_EQ(config->height(), 50);
  EXPECT_EQ(config->tabWidth(), 4);
  // Texts are not copied: they point into the argument words.
  EXPECT_EQ(config->outputPath(), line.word(2) + 2);
}

TEST(CommandLineTest, OptionLettersInsideAnAttachedArgumentStillTakeEffect) {
  CommandLine codepage{"-cCP437"};
  auto config = codepage.parse();
  ASSERT_NE(config, nullptr);
  EXPECT_EQ(config->colors(), 0);
  EXPECT_EQ(config->brokenBar(), 0);
  EXPECT_EQ(config->codepage(), codepageByName("437"));

  // The repeated `a` ends the scan, so the argument is the one-letter word.
  CommandLine output{"-oaa"};
  config = output.parse();
  ASSERT_NE(config, nullptr);
  EXPECT_EQ(config->genericAnsi(), 1);
  EXPECT_STREQ(config->outputPath(), "a");
}

TEST(CommandLineTest, ArgumentsAreTakenInTheOrderOfTheirLetters) {
  CommandLine line{"-co", "850", "out.txt"};
  auto config = line.parse();
  ASSERT_NE(config, nullptr);
  EXPECT_EQ(config->codepage(), codepageByName("850"));
  EXPECT_STREQ(config->outputPath(), "out.txt");
  EXPECT_EQ(config->inputPath(), nullptr);

  // The first waiting letter takes the attached rest, the next one the following word.
  CommandLine mixed{"-wt20", "4", "in.ans"};
  config = mixed.parse();
  ASSERT_NE(config, nullptr);
  EXPECT_EQ(config->width(), 20);
  EXPECT_EQ(config->tabWidth(), 4);
  EXPECT_STREQ(config->inputPath(), "in.ans");
}

TEST(CommandLineTest, CodepageNamesSetTheIdAndTheEuroBitOfTheName) {
  struct Case {
    const char* name;
    const char* canonical;
    std::int32_t euro;
  };
  for (const auto& c : {Case{"858", "850", 4}, Case{"cp-872", "855", 4}, Case{"850", "850", 0},
                        Case{"CP 866", "mik", 0}}) {
    CommandLine line{"-c", c.name};
    const auto config = line.parse();
    ASSERT_NE(config, nullptr) << c.name;
    EXPECT_EQ(config->codepage(), codepageByName(c.canonical)) << c.name;
    EXPECT_EQ(config->codepageEuro(), c.euro) << c.name;
  }
}

TEST(CommandLineTest, OutputFormatNamesIgnoreLetterCase) {
  struct Case {
    const char* name;
    std::int32_t format;
  };
  const Case cases[] = {
      {"utf8", 0},    {"UTF-8", 0},    {"utf16", 1},    {"utf-16", 1},
      {"utf16be", 1}, {"Utf-16BE", 1}, {"utf16-be", 1}, {"utf-16-be", 1},
      {"utf16le", 2}, {"UTF-16LE", 2}, {"utf16-le", 2}, {"utf-16-le", 2},
  };
  for (const auto& c : cases) {
    CommandLine line{"-u", c.name};
    const auto config = line.parse();
    ASSERT_NE(config, nullptr) << c.name;
    EXPECT_EQ(config->format(), c.format) << c.name;
  }
}

TEST(CommandLineTest, NumbersAreWholeDecimalsInRange) {
  struct Case {
    const char* letter;
    const char* word;
    Field field;
    std::int32_t value;  // -1: rejected
  };
  const Case cases[] = {
      {"-w", "16", &Config::width, 16},
      {"-w", "1024", &Config::width, 1024},
      {"-w", "+80", &Config::width, 80},
      {"-w", " \t80", &Config::width, 80},
      {"-w", "0080", &Config::width, 80},
      {"-w", "15", &Config::width, -1},
      {"-w", "1025", &Config::width, -1},
      {"-w", "80x", &Config::width, -1},
      {"-w", "80 ", &Config::width, -1},
      {"-w", "", &Config::width, -1},
      {"-w", " ", &Config::width, -1},
      {"-w", "-80", &Config::width, -1},
      {"-w", "0x50", &Config::width, -1},
      // 80 plus 2^32: must not wrap into range on the way to 32 bits.
      {"-w", "4294967376", &Config::width, -1},
      {"-w", "99999999999999999999999", &Config::width, -1},
      {"-t", "1", &Config::tabWidth, -1},
      {"-t", "2", &Config::tabWidth, 2},
      {"-t", "255", &Config::tabWidth, 255},
      {"-t", "256", &Config::tabWidth, -1},
      {"-H", "0", &Config::height, -1},
      {"-H", "1", &Config::height, 1},
      {"-H", "255", &Config::height, 255},
      {"-H", "256", &Config::height, -1},
  };
  for (const auto& c : cases) {
    CommandLine line{c.letter, c.word};
    const auto config = line.parse();
    if (c.value < 0) {
      EXPECT_EQ(config, nullptr) << c.letter << " '" << c.word << "'";
      EXPECT_NE(line.err.find("\nError: "), std::string::npos) << c.letter << " '" << c.word << "'";
    } else {
      ASSERT_NE(config, nullptr) << c.letter << " '" << c.word << "'";
      EXPECT_EQ(((*config).*c.field)(), c.value) << c.letter << " '" << c.word << "'";
    }
  }
}

TEST(CommandLineTest, SauceQueryMayBeEmptyAndImpliesShowSauce) {
  CommandLine empty{"-q", ""};
  auto config = empty.parse();
  ASSERT_NE(config, nullptr);
  ASSERT_NE(config->sauceQuery(), nullptr);
  EXPECT_STREQ(config->sauceQuery(), "");
  EXPECT_EQ(config->showSauce(), 1);

  CommandLine both{"-s", "-q", "T"};
  config = both.parse();
  ASSERT_NE(config, nullptr);
  EXPECT_STREQ(config->sauceQuery(), "T");
  EXPECT_EQ(config->showSauce(), 1);
}

TEST(CommandLineTest, DoubleDashEndsOptionsOnce) {
  struct Case {
    std::initializer_list<const char*> words;
    const char* input;
    const char* output;
  };
  const Case cases[] = {
      {{"--", "-x.ans"}, "-x.ans", nullptr},
      {{"in.ans", "--"}, "in.ans", nullptr},
      {{"--", "--"}, "--", nullptr},
      // A waiting letter does not take the first "--" but the word after it.
      {{"-o", "--", "-x"}, nullptr, "-x"},
      // A lone dash is a file name, not standard input.
      {{"-"}, "-", nullptr},
      {{"-", "--"}, "-", nullptr},
  };
  for (const auto& c : cases) {
    CommandLine line(c.words);
    const auto config = line.parse();
    ASSERT_NE(config, nullptr) << *c.words.begin();
    EXPECT_STREQ(config->inputPath(), c.input) << *c.words.begin();
    EXPECT_STREQ(config->outputPath(), c.output) << *c.words.begin();
    EXPECT_EQ(config->exactColors(), 0) << "-x after -- is no option";
  }
}

TEST(CommandLineTest, RejectionsPrintTheUsageAndTheirMessage) {
  struct Case {
    std::initializer_list<const char*> words;
    const char* message;  // nullptr: the usage text alone
  };
  const Case cases[] = {
      {{"-o"}, "Missing argument(s) for given flags"},
      {{"-ow", "out"}, "Missing argument(s) for given flags"},
      {{"-o", "-a", "file"}, "Missing argument(s) for given flags"},
      {{"in.ans", "x"}, "Extra arguments found"},
      {{"in.ans", "-a"}, "Extra arguments found"},
      {{"in.ans", "--", "x"}, "Extra arguments found"},
      {{"in.ans", "--", "--"}, "Extra arguments found"},
      {{"-H", "256"}, "Screen height out of valid range"},
      {{"-t1"}, "Tab width out of valid range"},
      {{"-w5"}, "Width out of valid range"},
      {{"-c", "999"}, "Unknown codepage"},
      {{"-c", ""}, "Unknown codepage"},
      {{"-u", "utf16_le"}, "Unknown output format"},
      {{"-u", "utf-8 "}, "Unknown output format"},
      {{"-q", "Tx"}, "Invalid SAUCE query"},
      {{"-O", "d", "-o", "x", "a"}, "-O cannot be combined with -o"},
      {{"-O", "d", "-q", "T", "a"}, "-O cannot be combined with -q"},
      {{"-O", "d", "-T", "a"}, "-O cannot be combined with -T"},
      {{"--output-dir=d"}, "-O needs input files"},
      {{"-O", ""}, "Empty output folder name"},
      {{"-O", "d", "--output-dir", "e", "a"}, "Output folder given twice"},
      {{"-j0", "-O", "d", "a"}, "Number of jobs out of valid range"},
      {{"-j", "2", "--jobs=3", "-O", "d", "a"}, "Number of jobs given twice"},
      // The first problem ends the parse: a later -h is never reached.
      {{"-w", "5", "-h"}, "Width out of valid range"},
      {{"-z"}, nullptr},
      {{"-aa"}, nullptr},
      {{"-a", "-a"}, nullptr},
      {{"-o", "a", "-o", "b"}, nullptr},
      {{"-a", "-Ta"}, nullptr},
  };
  for (const auto& c : cases) {
    CommandLine line(c.words);
    EXPECT_EQ(line.parse(), nullptr) << *c.words.begin();
    const std::string expected =
        c.message == nullptr ? usage() : usage() + "\nError: " + c.message + "\n";
    EXPECT_EQ(line.err, expected) << *c.words.begin();
  }
}

TEST(CommandLineTest, TakeArgumentServesTheOldestLetter) {
  Config config;
  ArgumentQueue queue;
  EXPECT_EQ(takeArgument(config, queue, "80").status, -1);
  EXPECT_EQ(takeArgument(config, queue, "80").message, nullptr);

  ASSERT_TRUE(queue.push('w'));
  ASSERT_TRUE(queue.push('t'));
  EXPECT_EQ(takeArgument(config, queue, "40").status, 0);
  const ArgumentOutcome refused = takeArgument(config, queue, "1");
  EXPECT_EQ(refused.status, -1);
  EXPECT_STREQ(refused.message, "Tab width out of valid range");
  EXPECT_TRUE(queue.empty());
  EXPECT_EQ(config.width(), 40);
  EXPECT_EQ(config.tabWidth(), -1);
}

// Help text layout: the lines that the help entries are made of.
std::vector<std::string> helpLines() {
  std::vector<std::string> lines;
  std::istringstream in{std::string(kHelpText)};
  for (std::string line; std::getline(in, line);)
    lines.push_back(line);
  return lines;
}

TEST(HelpTextTest, KeepsItsLayout) {
  ASSERT_FALSE(kHelpText.empty());
  EXPECT_EQ(kHelpText.front(), '\n') << "begins with an empty line";
  EXPECT_EQ(kHelpText.back(), '\n');
  const auto lines = helpLines();
  ASSERT_GT(lines.size(), 1U);
  EXPECT_TRUE(lines[0].empty());
  const std::string indent(19, ' ');
  for (std::size_t i = 1; i < lines.size(); ++i) {
    const std::string& line = lines[i];
    EXPECT_LE(line.size(), 77U) << line;
    ASSERT_GT(line.size(), 19U) << "no empty or stub lines inside: '" << line << "'";
    EXPECT_NE(line[19], ' ') << "description at column 19: " << line;
    EXPECT_EQ(line.find('\t'), std::string::npos) << line;
    if (line.compare(0, 19, indent) == 0) continue;
    // An entry: four spaces, the option and its argument name, padding up to column 19.
    EXPECT_EQ(line.compare(0, 4, "    "), 0) << line;
    EXPECT_NE(line[4], ' ') << line;
    EXPECT_EQ(line[18], ' ') << "option padded to 15 columns: " << line;
  }
}

/// The entries of the usage text ("-A", "-H scrheight", "infile", ...).
std::vector<std::string> usageEntries() {
  std::vector<std::string> entries;
  const std::string_view text = kUsageFormat;
  for (std::size_t at = 0; at < text.size(); ++at) {
    if (text[at] != '-' || (text[at - 1] != ' ' && text[at - 1] != '[')) continue;
    std::size_t end = at + 1;
    while (end < text.size() && std::isalpha(static_cast<unsigned char>(text[end])))
      ++end;
    const std::string letters(text.substr(at + 1, end - at - 1));
    if (letters.size() > 1) {
      for (const char letter : letters)
        entries.push_back(std::string("-") + letter);
    } else {
      const std::size_t close = text.find_first_of("]\n", end);
      entries.emplace_back(text.substr(at, close - at));
    }
    at = end;
  }
  entries.emplace_back("infile");
  return entries;
}

TEST(HelpTextTest, HasOneEntryPerUsageOptionInLetterOrder) {
  auto expected = usageEntries();
  // The long spellings of -h and -V have help entries but no place in the usage text.
  expected.insert(expected.end(), {"--help", "--version", "--jobs=jobs", "--output-dir"});
  // Options by their letter in ASCII order, then the long options by name, then the input file.
  const auto rank = [](const std::string& e) { return e == "infile" ? 2 : e[1] == '-' ? 1 : 0; };
  const auto inOrder = [&rank](const std::string& a, const std::string& b) {
    if (rank(a) != rank(b)) return rank(a) < rank(b);
    return rank(a) == 0 ? a[1] < b[1] : a < b;
  };
  std::sort(expected.begin(), expected.end(), inOrder);
  ASSERT_EQ(std::set<std::string>(expected.begin(), expected.end()).size(), expected.size());
  ASSERT_EQ(expected.size(), 44U) << "35 option letters, 8 long options and the input file";

  std::vector<std::string> entries;
  for (const auto& line : helpLines()) {
    if (line.size() < 19 || line[4] == ' ') continue;
    auto head = line.substr(4, 15);
    head.erase(head.find_last_not_of(' ') + 1);
    entries.push_back(head);
  }
  EXPECT_EQ(entries, expected);
}

}  // namespace
}  // namespace vidtwine
