#include "screen/ansi_sys_interpreter.hpp"

#include <algorithm>
#include <array>
#include <span>
#include <string_view>
#include <utility>

namespace vidtwine {

namespace {

constexpr std::size_t kMaxParameters = 8;
constexpr std::size_t kBlockSize = 64 * 1024;
constexpr std::uint64_t kMaxResult = 2147483647;

/// What one SGR code does to the screen's rendition.
struct RenditionChange {
  Rendition keep;
  Rendition set;
};

/// The codes from here up change nothing.
constexpr std::uint32_t kUnknownCode = 50;

constexpr auto kRenditionChanges = [] {
  constexpr Rendition kAll = 0xFFFF;
  std::array<RenditionChange, kUnknownCode + 1> changes{};
  changes.fill({kAll, 0});
  const auto clear = [](Rendition bits) { return RenditionChange{Rendition(kAll & ~bits), 0}; };
  const auto set = [](Rendition bits) { return RenditionChange{kAll, bits}; };
  changes[0] = {0, kDefaultRendition};
  changes[1] = set(kRenditionBold);
  changes[2] = changes[22] = clear(kRenditionBold);
  changes[5] = changes[6] = set(kRenditionBlink);
  changes[7] = set(kRenditionReverse);
  changes[8] = set(kRenditionConcealed);
  changes[25] = clear(kRenditionBlink);
  changes[27] = clear(kRenditionReverse);
  changes[28] = clear(kRenditionConcealed);
  for (Rendition colour = 0; colour < 8; ++colour) {
    changes[30 + colour] = {Rendition(kAll & ~kRenditionForeground), colour};
    changes[40 + colour] = {Rendition(kAll & ~kRenditionBackground), Rendition(colour << 4)};
  }
  changes[39] = {Rendition(kAll & ~kRenditionForeground), 7};
  changes[49] = {Rendition(kAll & ~kRenditionBackground), 0};
  return changes;
}();

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
        // Text goes to the screen up to the next ESC, which the screen finds for us.
        next += screen_.putTextUntilEscape({next, end});
        if (next == end) return true;
        ++next;
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
        // The parameter being read is kept in a local until the sequence or the block ends.
        // Unsigned arithmetic wraps modulo 2^32, as intended for oversized numbers.
        std::uint32_t parameter = parameters_[count_ - 1];
        for (;;) {
          if (next == end) {
            parameters_[count_ - 1] = parameter;
            return true;
          }
          const std::uint8_t byte = *next++;
          const auto digit = static_cast<std::uint32_t>(byte - '0');
          if (digit < 10) {
            parameter = parameter * 10u + digit;
            continue;
          }
          parameters_[count_ - 1] = parameter;
          if (byte == ';' || byte == ',') {
            if (count_ == kMaxParameters) return false;
            ++count_;
            parameter = 0;
          } else if (byte != '=' && byte != '>' && byte != '?') {
            state_ = State::Text;
            finishSequence(byte);
            break;
          }
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
  // Each code keeps some bits of the rendition and sets others, so a sequence of them is
  // applied without a branch per code; parameters in art are mixed unpredictably.
  Rendition rendition = screen_.rendition();
  for (std::size_t index = 0; index < count_; ++index) {
    const RenditionChange& change =
        kRenditionChanges[std::min<std::uint32_t>(parameters_[index], kUnknownCode)];
    rendition = static_cast<Rendition>((rendition & change.keep) | change.set);
  }
  screen_.setRendition(rendition);
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
