#include "screen/ansi_sys_interpreter.hpp"

#include <algorithm>
#include <array>
#include <cstring>
#include <span>
#include <string_view>
#include <utility>

namespace vidtwine {

namespace {

constexpr std::uint8_t kEscape = 0x1B;
constexpr std::size_t kMaxParameters = 8;
constexpr std::size_t kBlockSize = 64 * 1024;
constexpr std::uint64_t kMaxResult = 2147483647;

/// The state of one run: where in a sequence the input stands, the parameters gathered
/// so far and the saved cursor position.
class SequenceParser {
 public:
  SequenceParser(VirtualScreen& screen, Stream* metadata) noexcept
      : screen_(screen), metadata_(metadata) {}

  /// Processes a block of input; false when a sequence begins a ninth parameter, which
  /// ends the run.
  bool feed(std::span<const std::uint8_t> block);

 private:
  enum class State : std::uint8_t { Text, Escape, Csi };

  void finishSequence(std::uint8_t final);
  void selectRendition();
  void setMode(bool set);
  void command(std::uint8_t final);
  void reportMode(std::string_view lines) {
    if (metadata_ != nullptr) metadata_->putString(lines);
  }

  VirtualScreen& screen_;
  Stream* metadata_;
  State state_ = State::Text;
  std::array<std::uint32_t, kMaxParameters> parameters_{};
  std::size_t count_ = 1;
  std::pair<std::int32_t, std::int32_t> saved_{0, 0};
};

bool SequenceParser::feed(std::span<const std::uint8_t> block) {
  const std::uint8_t* next = block.data();
  const std::uint8_t* const end = next + block.size();
  while (next != end) {
    switch (state_) {
      case State::Text: {
        // Text goes to the screen in runs up to the next ESC.
        const auto* escape = static_cast<const std::uint8_t*>(
            std::memchr(next, kEscape, static_cast<std::size_t>(end - next)));
        const std::uint8_t* stop = escape != nullptr ? escape : end;
        if (stop != next) screen_.putText({next, stop});
        if (stop == end) return true;
        next = stop + 1;
        state_ = State::Escape;
        break;
      }
      case State::Escape:
        if (*next++ == '[') {
          parameters_.fill(0);
          count_ = 1;
          state_ = State::Csi;
        } else {
          state_ = State::Text;
        }
        break;
      case State::Csi: {
        const std::uint8_t byte = *next++;
        if (byte >= '0' && byte <= '9') {
          // Unsigned arithmetic wraps modulo 2^32, as intended for oversized numbers.
          std::uint32_t& parameter = parameters_[count_ - 1];
          parameter = parameter * 10u + static_cast<std::uint32_t>(byte - '0');
        } else if (byte == ';' || byte == ',') {
          if (count_ == kMaxParameters) return false;
          ++count_;
        } else if (byte != '=' && byte != '>' && byte != '?') {
          state_ = State::Text;
          finishSequence(byte);
        }
        break;
      }
    }
  }
  return true;
}

void SequenceParser::finishSequence(std::uint8_t final) {
  switch (final) {
    case 'm':
      selectRendition();
      break;
    case 'h':
      setMode(true);
      break;
    case 'l':
      setMode(false);
      break;
    case 'A':
    case 'B':
    case 'C':
    case 'D':
    case 'H':
    case 'f':
    case 'J':
    case 'K':
    case 's':
    case 'u':
      command(final);
      break;
    default:  // unrecognised: the sequence has no effect
      break;
  }
}

void SequenceParser::selectRendition() {
  for (std::size_t index = 0; index < count_; ++index) {
    const std::uint32_t code = parameters_[index];
    switch (code) {
      case 0:
        screen_.resetAttributes();
        break;
      case 1:
        screen_.setBold(true);
        break;
      case 2:
      case 22:
        screen_.setBold(false);
        break;
      case 5:
      case 6:
        screen_.setBlink(true);
        break;
      case 7:
        screen_.setReverse(true);
        break;
      case 8:
        screen_.setConcealed(true);
        break;
      case 25:
        screen_.setBlink(false);
        break;
      case 27:
        screen_.setReverse(false);
        break;
      case 28:
        screen_.setConcealed(false);
        break;
      case 39:
        screen_.setForeground(7);
        break;
      case 49:
        screen_.setBackground(0);
        break;
      default:
        if (code >= 30 && code <= 37) {
          screen_.setForeground(static_cast<std::uint8_t>(code - 30));
        } else if (code >= 40 && code <= 47) {
          screen_.setBackground(static_cast<std::uint8_t>(code - 40));
        }
        break;
    }
  }
}

void SequenceParser::setMode(bool set) {
  switch (parameters_[0]) {
    case 0:
    case 1:
      screen_.resize(40, 25);
      reportMode("m_resetwidth=40\nm_resetheight=25\n");
      break;
    case 2:
    case 3:
      screen_.resize(80, 25);
      reportMode("m_resetwidth=80\nm_resetheight=25\n");
      break;
    case 7:
      screen_.setWrap(set);
      break;
    default:
      break;
  }
}

void SequenceParser::command(std::uint8_t final) {
  const std::uint32_t first = parameters_[0];
  const std::uint32_t second = parameters_[1];
  const std::uint32_t n = first != 0 ? first : 1;
  switch (final) {
    case 'A':
      screen_.cursorUp(n);
      break;
    case 'B':
      screen_.cursorDown(n);
      break;
    case 'C':
      screen_.cursorRight(n);
      break;
    case 'D':
      screen_.cursorLeft(n);
      break;
    case 'H':
    case 'f':
      // Rows and columns count from 1; 0 or an omitted number means the first.
      screen_.moveTo(second != 0 ? second - 1 : 0, n - 1);
      break;
    case 'J':
      if (first == 0) {
        screen_.eraseToScreenEnd();
      } else if (first == 1) {
        screen_.eraseToScreenStart();
      } else {
        screen_.moveTo(0, 0);
        screen_.eraseScreen();
      }
      break;
    case 'K':
      if (first == 0) {
        screen_.eraseToLineEnd();
      } else if (first == 1) {
        screen_.eraseToLineStart();
      } else {
        screen_.eraseLine();
      }
      break;
    case 's':
      saved_ = screen_.saveCursor();
      break;
    case 'u':
      screen_.moveTo(static_cast<std::uint32_t>(saved_.first),
                     static_cast<std::uint32_t>(saved_.second));
      break;
    default:
      break;
  }
}

}  // namespace

std::int32_t AnsiSysInterpreter::run(VirtualScreen& screen, Stream* metadata, Stream& input) {
  SequenceParser parser(screen, metadata);
  std::array<std::uint8_t, kBlockSize> block;
  std::uint64_t total = 0;
  for (;;) {
    const std::uint64_t got = input.read(block.data(), block.size());
    if (got == 0) break;
    if (!parser.feed({block.data(), static_cast<std::size_t>(got)})) return -1;
    total += got;
    // A short block means a read step delivered nothing: the input is done.
    if (got < block.size()) break;
  }
  if (input.status() == StreamStatus::Error) return -1;
  return static_cast<std::int32_t>(std::min(total, kMaxResult));
}

}  // namespace vidtwine
