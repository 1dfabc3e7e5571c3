// The command-line parser over argument vectors split from the input at NUL bytes.
//
// `-h` and `-V` end the process, which libFuzzer would take for a crash: in words that begin
// with '-' the letters 'h' and 'V' are replaced by 'H' and 'v' before parsing. Usage and
// error texts go to standard error (run with -close_fd_mask=2 to keep them out of the log).
#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "app/command_line.hpp"
#include "app/config.hpp"
#include "fuzz_support.hpp"
#include "sauce/sauce_query.hpp"

namespace vidtwine::fuzz {
namespace {

constexpr std::size_t kMaxWords = 64;

/// Whether `text` is null or points into one of the argument words.
bool pointsIntoArguments(const char* text, const std::vector<char*>& argv) {
  if (text == nullptr) return true;
  return std::any_of(argv.begin() + 1, argv.end(), [text](const char* word) {
    return text >= word && text <= word + std::char_traits<char>::length(word);
  });
}

void checkConfig(const Config& c, const std::vector<char*>& argv) {
  FUZZ_CHECK(c.width() == -1 || (c.width() >= 16 && c.width() <= 1024));
  FUZZ_CHECK(c.height() == -1 || (c.height() >= 1 && c.height() <= 255));
  FUZZ_CHECK(c.tabWidth() == -1 || (c.tabWidth() >= 2 && c.tabWidth() <= 255));
  FUZZ_CHECK(c.codepage() >= 0 && c.codepage() < kCodepageCount);
  FUZZ_CHECK(c.codepageEuro() == 0 || c.codepageEuro() == 4);
  FUZZ_CHECK(c.format() >= -1 && c.format() <= 2);
  FUZZ_CHECK(c.bom() >= -1 && c.bom() <= 1);
  FUZZ_CHECK(c.brokenBar() >= -1 && c.brokenBar() <= 1);
  FUZZ_CHECK(pointsIntoArguments(c.inputPath(), argv));
  FUZZ_CHECK(pointsIntoArguments(c.outputPath(), argv));
  FUZZ_CHECK(pointsIntoArguments(c.sauceQuery(), argv));
  if (c.sauceQuery() != nullptr) {
    FUZZ_CHECK(!validateSauceQuery(c.sauceQuery()).has_value());
    FUZZ_CHECK(c.showSauce() == 1);
  }
}

}  // namespace
}  // namespace vidtwine::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace vidtwine;
  using namespace vidtwine::fuzz;

  std::vector<std::string> words{"vidtwine"};
  std::string word;
  for (std::size_t i = 0; i < size && words.size() <= kMaxWords; ++i) {
    if (data[i] == 0) {
      words.push_back(word);
      word.clear();
    } else {
      word += static_cast<char>(data[i]);
    }
  }
  if (size > 0 && words.size() <= kMaxWords) words.push_back(word);
  for (std::string& w : words) {
    // The spellings of help and version end the process; they are tested end to end.
    if (w.starts_with("--help")) w[5] = 'q';
    if (w.starts_with("--version")) w[8] = 'N';
    if (!w.starts_with('-') || w.starts_with("--")) continue;
    std::replace(w.begin(), w.end(), 'h', 'H');
    std::replace(w.begin(), w.end(), 'V', 'v');
  }

  std::vector<char*> argv;
  for (std::string& w : words)
    argv.push_back(w.data());
  argv.push_back(nullptr);
  const int argc = static_cast<int>(words.size());

  const auto config = parseCommandLine(argc, argv.data());
  if (config != nullptr) {
    argv.pop_back();
    checkConfig(*config, argv);
  }
  return 0;
}
