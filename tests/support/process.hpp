// Runs the built binary the way a user's shell would, for end-to-end tests.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace vidtwine::test {

struct RunResult {
  int status = -1;  ///< exit status, or 128 + signal number when killed by a signal
  std::string out;
  std::string err;
};

struct RunOptions {
  /// Bytes fed through a pipe on standard input (the default: an empty pipe).
  std::string input;
  /// Standard input redirected from this file instead of a pipe.
  std::optional<std::filesystem::path> inputFile;
  /// Standard output redirected to this path (e.g. /dev/full) instead of being captured.
  std::optional<std::filesystem::path> outputFile;
  /// Environment changes: a value sets the variable, none removes it.
  std::map<std::string, std::optional<std::string>> env;
  /// Working directory of the child.
  std::optional<std::filesystem::path> directory;
  /// argv[0]; the binary's path when empty.
  std::string programName;
  /// Standard descriptors (0 to 2) that the child starts with closed.
  std::vector<int> closed;
  /// Limits of the child: file size (with SIGXFSZ ignored, so that a write fails instead)
  /// and address space, in bytes.
  std::optional<std::uint64_t> fileSizeLimit;
  std::optional<std::uint64_t> addressSpaceLimit;
  /// Called with the child's process id as soon as it runs, e.g. to signal it later.
  std::function<void(int)> started;
};

/// Runs `program` with `args`, collecting standard output and error.
RunResult run(const std::string& program, const std::vector<std::string>& args,
              const RunOptions& options = {});

/// Runs the vidtwine binary of this build. TERM is removed unless the options set it,
/// so that results never depend on the machine's terminal.
RunResult runVidtwine(const std::vector<std::string>& args, RunOptions options = {});

/// Whether this build runs under AddressSanitizer, which cannot run in a small address
/// space.
constexpr bool kAddressSanitizer =
#if defined(__SANITIZE_ADDRESS__)
    true;
#elif defined(__has_feature)
    __has_feature(address_sanitizer);
#else
    false;
#endif

/// The folder of real art files, or none when it is absent.
std::optional<std::filesystem::path> corpusDir();

std::string readFile(const std::filesystem::path& path);
void writeFile(const std::filesystem::path& path, const std::string& bytes);

/// A fresh directory removed with everything in it when the object goes.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::filesystem::path& path() const { return path_; }
  std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

 private:
  std::filesystem::path path_;
};

/// "\x1b" spelled as ESC in readable test expectations.
std::string visible(const std::string& bytes);

}  // namespace vidtwine::test
