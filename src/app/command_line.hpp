// Turns the program's arguments into a Config; prints usage, help and version texts.
#pragma once

#include <array>
#include <cstdint>
#include <memory>

#include "app/config.hpp"

namespace vidtwine {

/// Option letters that wait for their argument words, oldest first. Each argument letter
/// may be given once, so the nine of them always fit.
class ArgumentQueue final {
 public:
  static constexpr int kCapacity = 10;

  bool empty() const noexcept { return count_ == 0; }
  int size() const noexcept { return count_; }
  /// False when the queue is full; the letter is then dropped.
  bool push(char letter) noexcept;
  /// The oldest letter, removed; '\0' when none waits.
  char pop() noexcept;

 private:
  std::array<char, kCapacity> letters_{};
  int count_ = 0;
};

/// What became of a word handed to a waiting letter.
struct ArgumentOutcome {
  /// 0: validated and stored; -1: refused.
  int status = 0;
  /// On refusal, the text of the error line; nullptr when the usage text alone is due
  /// (no letter was waiting).
  const char* message = nullptr;
};

/// Hands `word` to the oldest letter in `queue`, which validates and stores it.
ArgumentOutcome takeArgument(Config& config, ArgumentQueue& queue, const char* word);

/// The Config of this command line, or nullptr when it was rejected (the usage text and
/// any error line are printed by then). `-h` and `-V` print their text and end the
/// process, with status 0, or 1 when the text could not be written.
std::unique_ptr<Config> parseCommandLine(int argc, char** argv);

/// A copy of the batch run's `batch` for one of its files: that input, written to
/// `output`.
std::unique_ptr<Config> batchItemConfig(const Config& batch, const char* input, const char* output);

/// The usage text on standard error, followed by an error line when `message` is given.
void printUsage(const char* programName, const char* message);
/// The version text on standard output; false, after a message, when it failed.
bool printVersion();
/// The usage and help texts on standard output; false, after a message, when it failed.
bool printHelp(const char* programName);

}  // namespace vidtwine
