#include "app/command_line.hpp"

#include <bitset>
#include <cerrno>
#include <cstdlib>
#include <iterator>
#include <optional>
#include <string_view>

#include "app/finish_output.hpp"
#include "app/help_text.hpp"
#include "codepage/codepage_names.hpp"
#include "formats/input_format.hpp"
#include "sauce/sauce_query.hpp"
#include "stream/buffered_writer.hpp"
#include "stream/output_file.hpp"
#include "stream/stream.hpp"

#ifndef VIDTWINE_SYSTEM_NAME
#define VIDTWINE_SYSTEM_NAME "an unknown system"
#endif

namespace vidtwine {

namespace {

/// Letters that may appear once on the whole command line (`-h` and `-V` end the parse
/// and need no such guard).
constexpr std::string_view kSingleUseLetters = "ABCEHIOPRSTWXabcdejklmopqrstuvwxy";
/// Letters whose argument is the rest of their word or a following word.
constexpr std::string_view kArgumentLetters = "HOcjoqtuw";

constexpr std::size_t kUsageBufferSize = 512;
constexpr std::size_t kHelpBufferSize = 10240;

constexpr const char* kVersionFormat =
    "\nThis is vidtwine v2.0, built for %s\n"
    "I/O Backend: POSIX, terminfo output: yes (curses)\n\n"
    "Home page: https://vidtwine.example.org/\n"
    "Author: the vidtwine developers\n"
    "Licence: BSD 2-Clause\n"
    "\n";

constexpr const char* kMissingArguments = "Missing argument(s) for given flags";
constexpr const char* kExtraArguments = "Extra arguments found";

struct FormatName {
  std::string_view name;
  std::int32_t format;
};

// The spellings accepted by `-u`, compared without regard to letter case.
constexpr FormatName kFormatNames[] = {
    {"utf8", 0},    {"utf-8", 0},    {"utf16", 1},    {"utf-16", 1},
    {"utf16be", 1}, {"utf-16be", 1}, {"utf16-be", 1}, {"utf-16-be", 1},
    {"utf16le", 2}, {"utf-16le", 2}, {"utf16-le", 2}, {"utf-16-le", 2},
};

/// The long options; each may be given once. Those with a value take it as `--name=value`
/// or as the next word.
enum class LongOption : std::uint8_t {
  Help,
  Version,
  TrueColor,
  Bbs,
  Format,
  Html,
  OutputDir,
  Jobs
};

struct LongOptionName {
  std::string_view name;
  LongOption option;
  bool takesValue;
};

constexpr LongOptionName kLongOptions[] = {
    {"help", LongOption::Help, false},           {"version", LongOption::Version, false},
    {"truecolor", LongOption::TrueColor, false}, {"bbs", LongOption::Bbs, false},
    {"format", LongOption::Format, true},        {"html", LongOption::Html, false},
    {"output-dir", LongOption::OutputDir, true}, {"jobs", LongOption::Jobs, true},
};

const LongOptionName* findLongOption(std::string_view name) noexcept {
  for (const auto& entry : kLongOptions) {
    if (entry.name == name) return &entry;
  }
  return nullptr;
}

bool contains(std::string_view letters, char c) noexcept {
  return c != '\0' && letters.find(c) != std::string_view::npos;
}

// ASCII only: option values are spelled in ASCII, and the locale must not matter.
bool equalIgnoringCase(std::string_view a, std::string_view b) noexcept {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    const auto lower = [](char c) {
      return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c;
    };
    if (lower(a[i]) != lower(b[i])) return false;
  }
  return true;
}

/// The number in `word` if it is a whole base-10 long within [low, high]. Leading blanks
/// and a sign are allowed; the empty word reads as 0.
std::optional<std::int32_t> decimalInRange(const char* word, long low, long high) noexcept {
  errno = 0;
  char* end = nullptr;
  const long value = std::strtol(word, &end, 10);
  if (errno == ERANGE || *end != '\0' || value < low || value > high) return std::nullopt;
  return static_cast<std::int32_t>(value);
}

std::optional<std::int32_t> formatByName(std::string_view word) noexcept {
  for (const auto& entry : kFormatNames) {
    if (equalIgnoringCase(word, entry.name)) return entry.format;
  }
  return std::nullopt;
}

}  // namespace

bool ArgumentQueue::push(char letter) noexcept {
  if (count_ == kCapacity) return false;
  letters_[static_cast<std::size_t>(count_++)] = letter;
  return true;
}

char ArgumentQueue::pop() noexcept {
  if (count_ == 0) return '\0';
  const char oldest = letters_[0];
  for (int i = 1; i < count_; ++i) {
    letters_[static_cast<std::size_t>(i - 1)] = letters_[static_cast<std::size_t>(i)];
  }
  --count_;
  return oldest;
}

/// The parser's write access to a Config.
class ConfigWriter final {
 public:
  explicit ConfigWriter(Config& config) noexcept : c_(config) {}

  /// Applies a letter of the flag table; false when `letter` is no flag.
  bool applyFlag(char letter) noexcept {
    bool found = false;
    for (const auto& effect : kFlagEffects) {
      if (effect.letter != letter) continue;
      c_.*effect.field = effect.value;
      found = true;
    }
    return found;
  }

  /// Validates and stores the argument of `letter`; the error line's text on refusal.
  std::optional<const char*> storeArgument(char letter, const char* word) noexcept {
    switch (letter) {
      case 'H':
        if (const auto height = decimalInRange(word, 1, 255)) {
          c_.height_ = *height;
          return std::nullopt;
        }
        return "Screen height out of valid range";
      case 'c': {
        const CodepageId id = codepageByName(word);
        if (id < 0) return "Unknown codepage";
        c_.codepage_ = id;
        c_.codepageEuro_ = codepageEuroByName(word);
        c_.codepageGiven_ = 1;
        return std::nullopt;
      }
      case 'O':
        // The letter and the long form are one option.
        if (c_.outputDir_ != nullptr) return "Output folder given twice";
        if (*word == '\0') return "Empty output folder name";
        c_.outputDir_ = word;
        return std::nullopt;
      case 'j':
        if (c_.jobs_ >= 0) return "Number of jobs given twice";
        if (const auto jobs = decimalInRange(word, 1, 1024)) {
          c_.jobs_ = *jobs;
          return std::nullopt;
        }
        return "Number of jobs out of valid range";
      case 'o':
        c_.outputPath_ = word;
        return std::nullopt;
      case 'q':
        if (validateSauceQuery(word)) return "Invalid SAUCE query";
        c_.sauceQuery_ = word;
        c_.showSauce_ = 1;
        return std::nullopt;
      case 't':
        if (const auto tabWidth = decimalInRange(word, 2, 255)) {
          c_.tabWidth_ = *tabWidth;
          return std::nullopt;
        }
        return "Tab width out of valid range";
      case 'u':
        if (const auto format = formatByName(word)) {
          c_.format_ = *format;
          return std::nullopt;
        }
        return "Unknown output format";
      case 'w':
        if (const auto width = decimalInRange(word, 16, 1024)) {
          c_.width_ = *width;
          return std::nullopt;
        }
        return "Width out of valid range";
      default:
        // Only argument letters are ever queued.
        return nullptr;
    }
  }

  void addInputPath(const char* path) {
    if (c_.inputPath_ == nullptr) c_.inputPath_ = path;
    c_.inputPaths_.push_back(path);
  }

  /// The record for one file of a batch: its input, and its output instead of the folder.
  static std::unique_ptr<Config> batchItem(const Config& batch, const char* input,
                                           const char* output) {
    auto item = std::make_unique<Config>(batch);
    item->inputPath_ = input;
    item->inputPaths_ = {input};
    item->outputPath_ = output;
    item->outputDir_ = nullptr;
    return item;
  }

  /// Applies a long option other than --help and --version; the error line's text on
  /// refusal (nullptr: the usage text alone).
  std::optional<const char*> applyLongOption(LongOption option, const char* value) noexcept {
    switch (option) {
      case LongOption::TrueColor:
        c_.trueColor_ = 1;
        c_.genericAnsi_ = 1;
        return std::nullopt;
      case LongOption::Bbs:
        c_.bbs_ = 1;
        return std::nullopt;
      case LongOption::Html:
        c_.html_ = 1;
        return std::nullopt;
      case LongOption::OutputDir:
        return storeArgument('O', value);
      case LongOption::Jobs:
        return storeArgument('j', value);
      case LongOption::Format: {
        std::string_view name(value);
        std::optional<InputFormat> format;
        for (const std::string_view known : kInputFormatNames) {
          if (equalIgnoringCase(name, known)) format = inputFormatByName(known);
        }
        if (!format) return "Unknown format";
        // The BBS reading is a dialect of ANSI text, as with `--bbs`.
        if (*format == InputFormat::Bbs) {
          c_.bbs_ = 1;
          format = InputFormat::Ansi;
        }
        c_.inputFormat_ = static_cast<std::int32_t>(*format);
        return std::nullopt;
      }
      default:
        return nullptr;
    }
  }

 private:
  struct FlagEffect {
    char letter;
    std::int32_t Config::*field;
    std::int32_t value;
  };

  // What each flag letter sets; a letter with two effects has two rows.
  static constexpr FlagEffect kFlagEffects[] = {
      {'A', &Config::genericAnsi_, 1},  {'A', &Config::fullSgr_, 1},
      {'B', &Config::bom_, 0},          {'C', &Config::colors_, 0},
      {'E', &Config::ignoreEof_, 1},    {'I', &Config::intenseColors_, 0},
      {'P', &Config::brokenBar_, 0},    {'R', &Config::crlf_, 0},
      {'S', &Config::ignoreSauce_, 1},  {'T', &Config::testPage_, 1},
      {'W', &Config::rawComment_, 1},   {'X', &Config::brokenBar_, 0},
      {'X', &Config::vgaLookalike_, 0}, {'a', &Config::genericAnsi_, 1},
      {'b', &Config::bom_, 1},          {'d', &Config::defaultColors_, 1},
      {'e', &Config::euro_, 1},         {'k', &Config::blink_, 1},
      {'l', &Config::ltrOverride_, 1},  {'m', &Config::metadata_, 1},
      {'p', &Config::brokenBar_, 1},    {'r', &Config::crlf_, 1},
      {'s', &Config::showSauce_, 1},    {'v', &Config::intenseColors_, 0},
      {'v', &Config::reverse_, 1},      {'x', &Config::exactColors_, 1},
      {'y', &Config::exactColors_, 1},  {'y', &Config::darkYellow_, 1},
  };

  Config& c_;
};

ArgumentOutcome takeArgument(Config& config, ArgumentQueue& queue, const char* word) {
  const char letter = queue.pop();
  if (letter == '\0') return {-1, nullptr};
  if (const auto message = ConfigWriter(config).storeArgument(letter, word)) {
    return {-1, *message};
  }
  return {};
}

std::unique_ptr<Config> batchItemConfig(const Config& batch, const char* input,
                                        const char* output) {
  return ConfigWriter::batchItem(batch, input, output);
}

std::unique_ptr<Config> parseCommandLine(int argc, char** argv) {
  auto config = std::make_unique<Config>();
  if (argc < 2) return config;

  ConfigWriter writer(*config);
  ArgumentQueue queue;
  std::bitset<256> used;
  bool optionsEnded = false;
  bool inputTaken = false;
  const char* programName = argv[0];

  // Every rejection prints and drops the record before the caller sees none.
  const auto fail = [&](const char* message) {
    printUsage(programName, message);
    config.reset();
    return nullptr;
  };

  std::bitset<std::size(kLongOptions)> longUsed;

  for (int index = 1; index < argc; ++index) {
    const char* word = argv[index];
    const std::string_view text(word);

    // The first "--" ends the options, even where an argument or nothing more is due.
    if (!optionsEnded && text == "--") {
      optionsEnded = true;
      continue;
    }

    if (!optionsEnded && !inputTaken && text.size() > 2 && text.starts_with("--")) {
      if (!queue.empty()) return fail(kMissingArguments);
      const std::size_t equals = text.find('=');
      const LongOptionName* entry = findLongOption(text.substr(2, equals - 2));
      if (entry == nullptr) return fail(nullptr);
      const auto slot = static_cast<std::size_t>(entry - std::begin(kLongOptions));
      if (longUsed[slot]) return fail(nullptr);
      longUsed[slot] = true;
      const char* value = nullptr;
      if (entry->takesValue) {
        if (equals != std::string_view::npos) {
          value = word + equals + 1;
        } else if (index + 1 < argc) {
          value = argv[++index];
        } else {
          return fail(kMissingArguments);
        }
      } else if (equals != std::string_view::npos) {
        return fail(nullptr);
      }
      if (entry->option == LongOption::Version) {
        config.reset();
        printVersion();
        std::exit(0);
      }
      if (entry->option == LongOption::Help) {
        config.reset();
        printHelp(programName);
        std::exit(0);
      }
      if (const auto message = writer.applyLongOption(entry->option, value)) {
        return fail(*message);
      }
      continue;
    }

    if (!optionsEnded && !inputTaken && text.size() >= 2 && text[0] == '-') {
      if (!queue.empty()) return fail(kMissingArguments);
      std::size_t at = 1;
      for (; at < text.size(); ++at) {
        const char letter = text[at];
        if (contains(kSingleUseLetters, letter)) {
          const auto slot = static_cast<unsigned char>(letter);
          if (used[slot]) break;
          used[slot] = true;
        }
        if (writer.applyFlag(letter)) continue;
        if (letter == 'V') {
          config.reset();
          std::exit(printVersion() ? 0 : 1);
        }
        if (letter == 'h') {
          config.reset();
          std::exit(printHelp(programName) ? 0 : 1);
        }
        if (!contains(kArgumentLetters, letter)) break;
        queue.push(letter);
      }
      if (at == text.size()) continue;
      // The rest of the word, from the first character that is no fresh option letter
      // on, is an attached argument.
      const ArgumentOutcome outcome = takeArgument(*config, queue, word + at);
      if (outcome.status != 0) return fail(outcome.message);
      continue;
    }

    if (!queue.empty()) {
      const ArgumentOutcome outcome = takeArgument(*config, queue, word);
      if (outcome.status != 0) return fail(outcome.message);
    } else {
      // More than one file only for a batch; -O comes before the files.
      writer.addInputPath(word);
      inputTaken = true;
    }
  }

  if (!queue.empty()) return fail(kMissingArguments);
  const Config& c = *config;
  if (c.outputDir() == nullptr) {
    if (c.inputPaths().size() > 1) return fail(kExtraArguments);
    return config;
  }
  if (c.outputPath() != nullptr) return fail("-O cannot be combined with -o");
  if (c.sauceQuery() != nullptr) return fail("-O cannot be combined with -q");
  if (c.testPage() != 0) return fail("-O cannot be combined with -T");
  if (c.inputPaths().empty()) return fail("-O needs input files");
  return config;
}

void printUsage(const char* programName, const char* message) {
  const char* name = programName != nullptr ? programName : "vidtwine";
  auto standardError = FileStream::openStandard(2);
  if (message == nullptr) {
    standardError->printf(kUsageFormat, name, name, name, name);
    return;
  }
  BufferedWriter out(std::move(standardError), kUsageBufferSize);
  out.printf(kUsageFormat, name, name, name, name);
  out.printf("\nError: %s\n", message);
}

bool printVersion() {
  auto file = OutputFile::standardOutput();
  file->stream()->printf(kVersionFormat, VIDTWINE_SYSTEM_NAME);
  return finishOutput(*file, true);
}

bool printHelp(const char* programName) {
  const char* name = programName != nullptr ? programName : "vidtwine";
  auto file = OutputFile::standardOutput();
  {
    BufferedWriter out(file->stream(), kHelpBufferSize);
    out.printf(kUsageFormat, name, name, name, name);
    out.putString(kHelpText);
  }
  return finishOutput(*file, true);
}

}  // namespace vidtwine
