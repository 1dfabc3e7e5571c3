// The manual page stays in step with the program: every option of the usage text has an
// entry, no entry describes an option that is gone, and the page is clean mdoc.
#include <gtest/gtest.h>

#include <filesystem>
#include <regex>
#include <set>
#include <sstream>
#include <string>

#include "support/process.hpp"

namespace vidtwine {
namespace {

const std::filesystem::path kManualPage =
    std::filesystem::path(VIDTWINE_SOURCE_DIR) / "doc" / "vidtwine.1";

std::string manualPage() {
  if (!std::filesystem::exists(kManualPage)) return {};
  return test::readFile(kManualPage);
}

/// The usage text as the binary prints it: the lines of `-h` before the first empty one.
std::string usageText() {
  test::RunOptions options;
  options.programName = "vidtwine";
  const auto result = test::runVidtwine({"-h"}, options);
  EXPECT_EQ(result.status, 0);
  const auto end = result.out.find("\n\n");
  return end == std::string::npos ? result.out : result.out.substr(0, end + 1);
}

/// Every option letter of the usage text: grouped flags ("[-ABC]") and single options
/// ("-V", "[-H scrheight]").
std::set<char> usageLetters(const std::string& usage) {
  std::set<char> letters;
  static const std::regex option(R"((?:^|[\s\[])-([A-Za-z]+))");
  for (auto it = std::sregex_iterator(usage.begin(), usage.end(), option);
       it != std::sregex_iterator(); ++it) {
    for (const char letter : (*it)[1].str())
      letters.insert(letter);
  }
  return letters;
}

/// The letters that have an entry of their own in a tagged list (".It Fl X ...").
std::set<char> documentedLetters(const std::string& page) {
  std::set<char> letters;
  static const std::regex entry(R"(^\.It Fl ([A-Za-z])(?:\s|$))");
  std::istringstream lines(page);
  std::string line;
  while (std::getline(lines, line)) {
    std::smatch match;
    if (std::regex_search(line, match, entry)) letters.insert(match[1].str()[0]);
  }
  return letters;
}

std::string joined(const std::set<char>& letters) {
  return {letters.begin(), letters.end()};
}

TEST(ManualPageCli, DocumentsEveryOptionOfTheUsageTextAndNoOther) {
  const std::string page = manualPage();
  ASSERT_FALSE(page.empty()) << kManualPage << " is missing or empty";
  const std::set<char> usage = usageLetters(usageText());
  // A parse that found nothing would make the comparison pass vacuously.
  ASSERT_GE(usage.size(), 30U) << joined(usage);

  const std::set<char> documented = documentedLetters(page);
  std::string missing;
  std::string stale;
  for (const char letter : usage) {
    if (documented.count(letter) == 0) missing += letter;
  }
  for (const char letter : documented) {
    if (usage.count(letter) == 0) stale += letter;
  }
  EXPECT_EQ(missing, "") << "options of the usage text without an .It Fl entry";
  EXPECT_EQ(stale, "") << "entries for options the program does not have";
}

TEST(ManualPageCli, SynopsisGroupsTheSameFlagsAsTheUsageText) {
  const std::string usage = usageText();
  std::smatch group;
  ASSERT_TRUE(std::regex_search(usage, group, std::regex(R"(\[-([A-Za-z]+)\])")));
  const std::string page = manualPage();
  EXPECT_NE(page.find("\n.Op Fl " + group[1].str() + "\n"), std::string::npos)
      << "SYNOPSIS lacks .Op Fl " << group[1].str();
}

TEST(ManualPageCli, PassesMandocLintWithoutWarnings) {
  if (test::run("/bin/sh", {"-c", "command -v mandoc >/dev/null"}).status != 0) {
    GTEST_SKIP() << "mandoc is not installed (scripts/install-deps.sh test installs it): "
                    "the manual page lint is skipped";
  }
  ASSERT_TRUE(std::filesystem::exists(kManualPage)) << kManualPage;
  const auto result =
      test::run("/usr/bin/env", {"mandoc", "-T", "lint", "-W", "warning", kManualPage.string()});
  EXPECT_EQ(result.status, 0) << result.out << result.err;
  EXPECT_EQ(result.out + result.err, "");
}

}  // namespace
}  // namespace vidtwine
