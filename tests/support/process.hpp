// Runs the built binary the way a user's shell would, for end-to-end tests.
#pragma once

#include <filesystem>
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
};

/// Runs `program` with `args`, collecting standard output and error.
RunResult run(const std::string& program, const std::vector<std::string>& args,
              const RunOptions& options = {});

/// Runs the vidtwine binary of this build. TERM is removed unless the options set it,
/// so that results never depend on the machine's terminal.
RunResult runVidtwine(const std::vector<std::string>& args, RunOptions options = {});

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
