// Pins today's output: for every corpus file and every generated input, under each option
// set below, the SHA-256 of standard output and of standard error and the exit status must
// match tests/cli/regression_digests.tsv. A change meant to keep the output as it is must
// pass unchanged.
//
// After a deliberate change of the output, write the digests anew with (in the source root)
//   VIDTWINE_UPDATE_DIGESTS=$PWD/tests/cli/regression_digests.tsv
//   build/test/tests/cli_tests --gtest_filter='Sets/Digests.*'
// Then each option set replaces its own lines of that file instead of comparing (under a
// lock, so a parallel ctest run may do it too); lines of corpus files that are absent stay.
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support/generated_inputs.hpp"
#include "support/process.hpp"
#include "support/sha256.hpp"

namespace vidtwine {
namespace {

namespace fs = std::filesystem;

TEST(Sha256, KnownVectors) {
  EXPECT_EQ(test::sha256Hex(""),
            "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
  EXPECT_EQ(test::sha256Hex("abc"),
            "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
  // 56 bytes: the length no longer fits the first padding block.
  EXPECT_EQ(test::sha256Hex("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq"),
            "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");
  EXPECT_EQ(test::sha256Hex(std::string(1000000, 'a')),
            "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");
}

struct OptionSet {
  const char* id;
  std::vector<std::string> args;
  const char* terminal = nullptr;  // the test's own terminal whose colours the set writes
};

const std::vector<OptionSet> kOptionSets = {
    {"a", {"-a"}},
    {"a-x", {"-a", "-x"}},
    {"a-I-d", {"-a", "-I", "-d"}},
    {"A-utf16le-b", {"-A", "-u", "utf-16le", "-b"}},
    {"C-d-w132", {"-C", "-d", "-w", "132"}},
    {"a-k", {"-a", "-k"}},
    {"a-v-R-l", {"-a", "-v", "-R", "-l"}},
    {"s-C", {"-s", "-C"}},
    {"query", {"-q", ":TAGDCtwhbsafc"}},
    {"term8", {}, "digest-8"},
    {"term16", {}, "digest-16"},
    {"term256", {}, "digest-256"},
};

// Terminals of the test's own, with an xterm's sequences, so that no machine's database
// changes the output.
constexpr const char* kTerminals = R"(
digest-8|eight colours,
	colors#8, pairs#64, sgr0=\E[m, op=\E[39;49m,
	setaf=\E[3%p1%dm, setab=\E[4%p1%dm,
	bold=\E[1m, blink=\E[5m, rev=\E[7m,
digest-16|sixteen colours,
	colors#16, pairs#256,
	setaf=\E[%?%p1%{8}%<%t3%p1%d%e9%p1%{8}%-%d%;m,
	setab=\E[%?%p1%{8}%<%t4%p1%d%e10%p1%{8}%-%d%;m,
	use=digest-8,
digest-256|256 colours,
	colors#256, pairs#32767,
	setaf=\E[%?%p1%{8}%<%t3%p1%d%e%p1%{16}%<%t9%p1%{8}%-%d%e38;5;%p1%d%;m,
	setab=\E[%?%p1%{8}%<%t4%p1%d%e%p1%{16}%<%t10%p1%{8}%-%d%e48;5;%p1%d%;m,
	use=digest-8,
)";

const fs::path kDigestFile = fs::path(VIDTWINE_SOURCE_DIR) / "tests/cli/regression_digests.tsv";
constexpr const char* kHeader = "# option set\tinput\tstdout SHA-256\tstderr SHA-256\tstatus\n";
constexpr std::size_t kReportLimit = 20;

// One input as the binary sees it: a file name relative to the run's working directory, so
// that messages naming it are the same everywhere.
struct Input {
  std::string id;  // "gen/..." or "corpus/..."
  fs::path directory;
  std::string name;
};

bool isGenerated(const std::string& key) {
  return key.find("\tgen/") != std::string::npos;
}

// "set<TAB>input" -> "stdout<TAB>stderr<TAB>status", from the lines of a digest file.
std::map<std::string, std::string> parseDigests(const std::string& text) {
  std::map<std::string, std::string> digests;
  std::istringstream lines(text);
  for (std::string line; std::getline(lines, line);) {
    if (line.empty() || line[0] == '#') continue;
    const auto second = line.find('\t', line.find('\t') + 1);
    if (second == std::string::npos) continue;
    digests[line.substr(0, second)] = line.substr(second + 1);
  }
  return digests;
}

// Replaces the lines of `set` in the file at `path` by `current`; corpus lines stay when the
// corpus is absent.
void updateDigests(const std::string& path, const std::string& set,
                   const std::map<std::string, std::string>& current, bool corpusPresent) {
  const int fd = ::open(path.c_str(), O_RDWR | O_CREAT, 0644);
  ASSERT_GE(fd, 0) << "cannot open " << path;
  ASSERT_EQ(::flock(fd, LOCK_EX), 0);
  std::string text;
  char buffer[65536];
  for (ssize_t got; (got = ::read(fd, buffer, sizeof buffer)) > 0;)
    text.append(buffer, static_cast<std::size_t>(got));
  auto digests = parseDigests(text);
  std::erase_if(digests, [&](const auto& entry) {
    return entry.first.starts_with(set + "\t") && (corpusPresent || isGenerated(entry.first));
  });
  digests.insert(current.begin(), current.end());
  text = kHeader;
  for (const auto& [key, value] : digests)
    text += key + "\t" + value + "\n";
  ASSERT_EQ(::ftruncate(fd, 0), 0);
  ASSERT_EQ(::pwrite(fd, text.data(), text.size(), 0), static_cast<ssize_t>(text.size()));
  ::close(fd);
}

// What differs between two "stdout<TAB>stderr<TAB>status" values, e.g. "stdout, status 0 -> 1".
std::string difference(const std::string& expected, const std::string& actual) {
  const auto fields = [](const std::string& value) {
    std::vector<std::string> parts;
    std::istringstream in(value);
    for (std::string part; std::getline(in, part, '\t');)
      parts.push_back(part);
    parts.resize(3);
    return parts;
  };
  const auto was = fields(expected);
  const auto is = fields(actual);
  std::string text;
  if (was[0] != is[0]) text += "stdout, ";
  if (was[1] != is[1]) text += "stderr, ";
  if (was[2] != is[2]) text += "status " + was[2] + " -> " + is[2] + ", ";
  return text.substr(0, text.size() - 2);
}

class Digests : public testing::TestWithParam<OptionSet> {
 protected:
  static void SetUpTestSuite() {
    files_ = new test::TempDir;
    test::writeFile(*files_ / "terminals.src", kTerminals);
    const auto tic = test::run("/bin/sh", {"-c", "tic -x -o '" + files_->path().string() + "' '" +
                                                     (*files_ / "terminals.src").string() + "'"});
    ticError_ = tic.status == 0 ? "" : tic.err + "(status " + std::to_string(tic.status) + ")";

    if (const auto corpus = test::corpusDir()) {
      for (const auto& entry : fs::directory_iterator(*corpus)) {
        const std::string name = entry.path().filename().string();
        if (entry.is_regular_file() && name != "MANIFEST.tsv") {
          // Keyed by a hash of the name: the digest file stays independent of how the
          // corpus names its files.
          const std::string id = "corpus/" + test::sha256Hex(name).substr(0, 16);
          corpusNames_[id] = name;
          inputs_.push_back({id, *corpus, name});
        }
      }
      std::sort(inputs_.begin(), inputs_.end(),
                [](const Input& a, const Input& b) { return a.id < b.id; });
    }
    const fs::path generated = *files_ / "generated";
    fs::create_directory(generated);
    for (const auto& input : test::generatedInputs()) {
      test::writeFile(generated / (input.id + ".ans"), input.bytes);
      inputs_.push_back({"gen/" + input.id, generated, input.id + ".ans"});
    }
  }
  static void TearDownTestSuite() {
    delete files_;
    files_ = nullptr;
    inputs_.clear();
  }

  static inline test::TempDir* files_ = nullptr;
  static inline std::string ticError_;
  static inline std::vector<Input> inputs_;
  static inline std::map<std::string, std::string> corpusNames_;  // id to file name
};

TEST_P(Digests, OutputIsUnchanged) {
  const OptionSet& set = GetParam();
  if (set.terminal != nullptr && !ticError_.empty()) {
    GTEST_SKIP() << "tic could not compile the test terminals: " << ticError_;
  }
  const bool corpusPresent = test::corpusDir().has_value();
  if (!corpusPresent) {
    std::cout << "the art corpus (../shared/corpus or $VIDTWINE_CORPUS) is absent: "
                 "only generated inputs are checked\n";
  }

  std::map<std::string, std::string> current;
  std::map<std::string, std::string> messages;  // the first line of stderr, for the report
  // A sanitizer build starts the binary ten times slower: there each input is checked under
  // every third option set, in turn, and without the leak check at exit, which other tests
  // make. Every input and every set are still covered.
  const bool sample = test::kAddressSanitizer && std::getenv("VIDTWINE_UPDATE_DIGESTS") == nullptr;
  const auto setIndex =
      static_cast<std::size_t>(std::find_if(kOptionSets.begin(), kOptionSets.end(),
                                            [&set](const OptionSet& s) { return s.id == set.id; }) -
                               kOptionSets.begin());
  for (std::size_t index = 0; index < inputs_.size(); ++index) {
    const Input& input = inputs_[index];
    if (sample && (index + setIndex) % 3 != 0) continue;
    test::RunOptions options;
    if (sample) options.env["ASAN_OPTIONS"] = "detect_leaks=0";
    options.directory = input.directory;
    options.programName = "vidtwine";
    // Always one of the test's own, so that the machine's database never matters.
    options.env["TERM"] = set.terminal != nullptr ? set.terminal : "digest-256";
    options.env["TERMINFO"] = files_->path().string();
    options.env["TERMINFO_DIRS"] = std::nullopt;
    options.env["TZ"] = "UTC0";
    options.env["LC_ALL"] = "C";
    auto args = set.args;
    args.push_back(input.name);
    const auto result = test::runVidtwine(args, options);
    const std::string key = std::string(set.id) + "\t" + input.id;
    if (!result.err.empty()) messages[key] = result.err.substr(0, result.err.find('\n'));
    current[key] = test::sha256Hex(result.out) + "\t" + test::sha256Hex(result.err) + "\t" +
                   std::to_string(result.status);
  }

  if (const char* updatePath = std::getenv("VIDTWINE_UPDATE_DIGESTS")) {
    updateDigests(updatePath, set.id, current, corpusPresent);
    std::cout << "wrote " << current.size() << " digests of option set " << set.id << " to "
              << updatePath << "\n";
    return;
  }

  ASSERT_TRUE(fs::exists(kDigestFile))
      << kDigestFile << " is missing; VIDTWINE_UPDATE_DIGESTS=PATH writes one";
  auto expected = parseDigests(test::readFile(kDigestFile));
  std::erase_if(expected, [&](const auto& e) {
    return !e.first.starts_with(std::string(set.id) + "\t") ||
           (sample && current.find(e.first) == current.end());
  });

  std::vector<std::string> differences;
  std::size_t unrecorded = 0;
  for (const auto& [key, actual] : current) {
    const auto found = expected.find(key);
    if (found == expected.end()) {
      if (isGenerated(key)) {
        differences.push_back(key + ": no digest recorded");
      } else {
        ++unrecorded;
      }
      continue;
    }
    if (found->second != actual) {
      const auto message = messages.find(key);
      const auto corpusName = corpusNames_.find(key.substr(key.find('\t') + 1));
      differences.push_back(
          key + ": " + difference(found->second, actual) +
          (corpusName != corpusNames_.end() ? " [" + corpusName->second + "]" : "") +
          (message != messages.end() ? " (stderr: " + message->second + ")" : ""));
    }
    expected.erase(found);
  }
  std::size_t absent = 0;
  for (const auto& [key, digest] : expected) {
    if (isGenerated(key)) {
      differences.push_back(key + ": recorded, but no longer generated");
    } else {
      ++absent;
    }
  }
  if (absent > 0) std::cout << absent << " corpus files with digests are absent: skipped\n";
  if (unrecorded > 0) std::cout << unrecorded << " corpus files have no digest: unchecked\n";

  std::string report;
  for (std::size_t i = 0; i < differences.size() && i < kReportLimit; ++i)
    report += "  " + differences[i].replace(differences[i].find('\t'), 1, " ") + "\n";
  if (differences.size() > kReportLimit) {
    report += "  ... and " + std::to_string(differences.size() - kReportLimit) + " more\n";
  }
  EXPECT_TRUE(differences.empty()) << differences.size() << " of " << current.size()
                                   << " cases of option set " << set.id << " differ:\n"
                                   << report;
}

std::string nameOf(const testing::TestParamInfo<OptionSet>& param) {
  std::string name = param.param.id;
  std::replace(name.begin(), name.end(), '-', '_');
  return name;
}

INSTANTIATE_TEST_SUITE_P(Sets, Digests, testing::ValuesIn(kOptionSets), nameOf);

}  // namespace
}  // namespace vidtwine
