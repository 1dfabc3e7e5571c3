#include "output/ansi_color_writer.hpp"

#include <array>
#include <cstddef>
#include <vector>

namespace vidtwine {

namespace {

constexpr std::uint16_t kEscape = 0x1B;

// ESC, the body and 'm' as code units. The longest body is a reset, a blink switch and two
// 256-colour parameters: "[;25;48;5;231;38;5;231", far below the capacity.
class SgrSequence {
 public:
  SgrSequence() noexcept { units_[0] = kEscape; }

  bool empty() const noexcept { return length_ == 1; }

  /// An empty first parameter: the terminal takes it as 0, a reset.
  void addReset() noexcept {
    units_[length_++] = '[';
    separator_ = ';';
  }

  /// A parameter of at most three digits.
  void add(unsigned parameter) noexcept {
    units_[length_++] = separator_;
    separator_ = ';';
    if (parameter >= 100) units_[length_++] = static_cast<std::uint16_t>('0' + parameter / 100);
    if (parameter >= 10) units_[length_++] = static_cast<std::uint16_t>('0' + parameter / 10 % 10);
    units_[length_++] = static_cast<std::uint16_t>('0' + parameter % 10);
  }

  /// Appends the sequence with its final 'm' to `out`; an empty one appends nothing.
  void appendTo(std::vector<std::uint16_t>& out) {
    if (empty()) return;
    units_[length_++] = 'm';
    out.insert(out.end(), units_.begin(), units_.begin() + static_cast<std::ptrdiff_t>(length_));
  }

 private:
  std::array<std::uint16_t, 40> units_;
  std::size_t length_ = 1;
  std::uint16_t separator_ = '[';
};

// Bit 3 of a colour value: intensity for a foreground, blink or bright for a background.
constexpr int kBright = 0x8;

// An unknown current value counts as changed only when the new value has the bit set, so
// that an "off" parameter is never written for a state nobody switched on.
constexpr bool brightChanged(int current, int value) noexcept {
  return current < 0 ? (value & kBright) != 0 : ((current ^ value) & kBright) != 0;
}

constexpr int withoutBright(int value) noexcept {
  return value < 0 ? value : value & 0x7;
}

}  // namespace

AnsiColorWriter::AnsiColorWriter(std::unique_ptr<Stream> target, ColorFlags flags)
    : StreamWriter(std::move(target)), flags_(flags) {
  // Reverse stands in for bright backgrounds only where colours 8-15 cannot be named.
  if (flags_.has(ColorFlag::IntenseColors) || flags_.has(ColorFlag::ExactColors)) {
    flags_.clear(ColorFlag::ReverseForBrightBg);
  }
  forgetColors();
}

void AnsiColorWriter::forgetColors() noexcept {
  const bool defaults = flags_.has(ColorFlag::DefaultColors);
  currentFg_ = defaults ? 7 : -1;
  currentBg_ = defaults ? 0 : -1;
}

std::uint64_t AnsiColorWriter::writeSome(const std::byte* data, std::uint64_t n) {
  if (target_ == nullptr) return 0;
  return batch_.write(*this, *target_, data, n);
}

bool AnsiColorWriter::writeMarker(std::uint16_t unit, std::vector<std::uint16_t>& out,
                                  KnownColors& ifUndelivered) {
  ifUndelivered = colors();
  if (flags_.has(ColorFlag::NoColors)) return true;
  if (unit == charstream::AttributeReset) {
    SgrSequence sequence;
    sequence.addReset();
    sequence.appendTo(out);
    forgetColors();
    return true;
  }

  const int fg = unit & 0x0F;
  int bg = (unit >> 4) & 0x0F;
  if (fg == currentFg_ && bg == currentBg_) return true;

  const bool defaults = flags_.has(ColorFlag::DefaultColors);
  const bool blink = flags_.has(ColorFlag::BlinkForBrightBg);
  const bool reverse = flags_.has(ColorFlag::ReverseForBrightBg);
  const bool exact = flags_.has(ColorFlag::ExactColors);
  const bool eightColors = !exact && !flags_.has(ColorFlag::IntenseColors);

  SgrSequence sequence;
  if (defaults && fg == 7 && bg == 0) {
    sequence.addReset();
  } else {
    if (!flags_.has(ColorFlag::FullSgr) && (((blink || reverse) && currentBg_ >= 8 && bg < 8) ||
                                            (eightColors && currentFg_ >= 8 && fg < 8))) {
      sequence.addReset();
      // The colours are forgotten even when the sequence does not get through.
      forgetColors();
      ifUndelivered = colors();
    }
    int currentBg = currentBg_;
    if (eightColors) {
      if ((blink || reverse) && brightChanged(currentBg_, bg)) {
        const bool on = (bg & kBright) != 0;
        sequence.add(reverse ? (on ? 7 : 27) : (on ? 5 : 25));
      }
      if (brightChanged(currentFg_, fg)) sequence.add((fg & kBright) != 0 ? 1 : 22);
      if (currentBg_ < 0 || ((currentBg_ ^ bg) & 0x7) != 0) {
        sequence.add(defaults && bg == 0 ? 49 : 40 + static_cast<unsigned>(bg & 0x7));
      }
      if (currentFg_ < 0 || ((currentFg_ ^ fg) & 0x7) != 0) {
        sequence.add(defaults && fg == 7 ? 39 : 30 + static_cast<unsigned>(fg & 0x7));
      }
    } else {
      if (blink) {
        if (brightChanged(currentBg_, bg)) sequence.add((bg & kBright) != 0 ? 5 : 25);
        bg = withoutBright(bg);
        currentBg = withoutBright(currentBg_);
      }
      const bool darkYellow = flags_.has(ColorFlag::DarkYellow);
      if (bg != currentBg) {
        if (defaults && bg == 0) {
          sequence.add(49);
        } else if (exact) {
          sequence.add(48);
          sequence.add(5);
          sequence.add(exactPaletteIndex(static_cast<unsigned>(bg), darkYellow));
        } else {
          const auto colour = static_cast<unsigned>(bg & 0x7);
          sequence.add((bg & kBright) != 0 ? 100 + colour : 40 + colour);
        }
      }
      if (fg != currentFg_) {
        if (defaults && fg == 7) {
          sequence.add(39);
        } else if (exact) {
          sequence.add(38);
          sequence.add(5);
          sequence.add(exactPaletteIndex(static_cast<unsigned>(fg), darkYellow));
        } else {
          const auto colour = static_cast<unsigned>(fg & 0x7);
          sequence.add((fg & kBright) != 0 ? 90 + colour : 30 + colour);
        }
      }
    }
  }
  sequence.appendTo(out);
  currentFg_ = fg;
  currentBg_ = (unit >> 4) & 0x0F;
  return true;
}

}  // namespace vidtwine
