#include "output/terminfo_color_writer.hpp"

// The curses headers define macros with short names (clear, columns, lines, ...): they stay
// in this file, and the function-like ones are switched off.
#define NCURSES_NOMACROS
#include <curses.h>
#include <term.h>

#include <algorithm>
#include <string_view>

namespace vidtwine {

namespace {

// The one live writer, for the byte-output function handed to tputs.
TerminfoColorWriter* liveWriter = nullptr;

constexpr char kEmpty[] = "";

// An absent capability is a null pointer, a cancelled one (-1) counts as absent too.
const char* capability(const char* value) noexcept {
  return (value == nullptr || value == reinterpret_cast<const char*>(-1)) ? nullptr : value;
}

const char* capabilityOrEmpty(const char* value) noexcept {
  const char* present = capability(value);
  return present != nullptr ? present : kEmpty;
}

// Whether a capability puts out the same bytes every time: not when it asks for padding,
// which may also make the library wait, or uses the terminfo variables, which persist
// from one expansion to the next.
bool repeatable(std::string_view text) noexcept {
  return text.find("$<") == std::string_view::npos && text.find("%P") == std::string_view::npos &&
         text.find("%g") == std::string_view::npos;
}

constexpr int kBright = 0x8;

constexpr bool hasBright(int value) noexcept {
  return value >= 0 && (value & kBright) != 0;
}

}  // namespace

std::unique_ptr<Stream> TerminfoColorWriter::create(std::unique_ptr<Stream> target,
                                                    ColorFlags flags) {
  if (liveWriter != nullptr) return nullptr;
  std::unique_ptr<TerminfoColorWriter> writer(new TerminfoColorWriter(std::move(target), flags));
  liveWriter = writer.get();
  return writer;
}

TerminfoColorWriter::TerminfoColorWriter(std::unique_ptr<Stream> target, ColorFlags flags)
    : StreamWriter(std::move(target)), flags_(flags) {
  if (flags_.has(ColorFlag::NoColors) || !setUpTerminal()) flags_ = ColorFlag::NoColors;
  forgetColors();
}

TerminfoColorWriter::~TerminfoColorWriter() {
  if (liveWriter == this) liveWriter = nullptr;
}

bool TerminfoColorWriter::setUpTerminal() {
  // With an error-result location, a failure comes back as ERR instead of a message.
  int error = 0;
  // One writer lives at a time, so a description loaded for an earlier one is unused now:
  // release it instead of leaving it behind.
  if (cur_term != nullptr) del_curterm(cur_term);
  if (setupterm(nullptr, fileDescriptor(), &error) != OK) return false;
  resetCap_ = capability(exit_attribute_mode);
  foregroundCap_ = capability(set_a_foreground);
  backgroundCap_ = capability(set_a_background);
  const int colors = max_colors;
  if (colors < 8 || resetCap_ == nullptr || foregroundCap_ == nullptr ||
      backgroundCap_ == nullptr) {
    return false;
  }
  if (colors < 16) {
    // Colours 8-15 cannot be named: intensity is bold, a bright background reverse or
    // nothing.
    boldCap_ = capabilityOrEmpty(enter_bold_mode);
    brightBgCap_ =
        flags_.has(ColorFlag::ReverseForBrightBg) ? capabilityOrEmpty(enter_reverse_mode) : kEmpty;
  } else {
    flags_.clear(ColorFlag::ReverseForBrightBg);
    exactPalette_ = colors >= 256;
  }
  if (flags_.has(ColorFlag::BlinkForBrightBg)) brightBgCap_ = capabilityOrEmpty(enter_blink_mode);
  return true;
}

void TerminfoColorWriter::forgetColors() noexcept {
  const bool defaults = flags_.has(ColorFlag::DefaultColors);
  currentFg_ = defaults ? 7 : -1;
  currentBg_ = defaults ? 0 : -1;
}

std::uint64_t TerminfoColorWriter::writeSome(const std::byte* data, std::uint64_t n) {
  if (target_ == nullptr) return 0;
  return batch_.write(*this, *target_, data, n);
}

int TerminfoColorWriter::outputByte(int byte) {
  TerminfoColorWriter* writer = liveWriter;
  if (writer == nullptr || writer->sink_ == nullptr) return -1;
  writer->sink_->push_back(static_cast<std::uint16_t>(byte & 0xFF));
  return byte;
}

bool TerminfoColorWriter::put(std::size_t slot, const char* capability, int index) {
  KeptOutput& kept = kept_[slot];
  if (kept.kept) {
    sink_->insert(sink_->end(), kept.units.begin(), kept.units.begin() + kept.length);
    return true;
  }
  if (index >= 0 && exactPalette_) {
    index = exactPaletteIndex(static_cast<unsigned>(index), flags_.has(ColorFlag::DarkYellow));
  }
  const char* text = index >= 0 ? tiparm(capability, index) : capability;
  const std::size_t start = sink_->size();
  if (text == nullptr || tputs(text, 1, outputByte) == ERR) return false;
  const std::size_t length = sink_->size() - start;
  if (length <= kept.units.size() && repeatable(capability) && repeatable(text)) {
    std::copy(sink_->begin() + static_cast<std::ptrdiff_t>(start), sink_->end(),
              kept.units.begin());
    kept.length = static_cast<std::uint8_t>(length);
    kept.kept = true;
  }
  return true;
}

bool TerminfoColorWriter::writeMarker(std::uint16_t unit, std::vector<std::uint16_t>& out,
                                      KnownColors& ifUndelivered) {
  ifUndelivered = colors();
  if (flags_.has(ColorFlag::NoColors)) return true;
  sink_ = &out;
  if (unit == charstream::AttributeReset) {
    if (!put(kResetSlot, resetCap_)) return false;
    forgetColors();
    return true;
  }

  const int fg = unit & 0x0F;
  const int bg = (unit >> 4) & 0x0F;
  if (fg == currentFg_ && bg == currentBg_) return true;

  const bool defaults = flags_.has(ColorFlag::DefaultColors);
  if (defaults && fg == 7 && bg == 0) {
    if (!put(kResetSlot, resetCap_)) return false;
    currentFg_ = 7;
    currentBg_ = 0;
    return true;
  }

  const bool brightBgAttribute = brightBgCap_ != nullptr;
  const bool boldAttribute = boldCap_ != nullptr;
  bool reset = (brightBgAttribute && currentBg_ >= 8 && bg < 8) ||
               (boldAttribute && currentFg_ >= 8 && fg < 8);
  // With default colours, black and gray are reached by a reset, never set explicitly.
  if (defaults) {
    reset =
        reset ||
        (brightBgAttribute ? (bg & 0x7) == 0 && (currentBg_ & 0x7) != 0
                           : bg == 0 && currentBg_ != 0) ||
        (boldAttribute ? (fg & 0x7) == 7 && (currentFg_ & 0x7) != 7 : fg == 7 && currentFg_ != 7);
  }
  if (reset) {
    if (!put(kResetSlot, resetCap_)) return false;
    // The colours are forgotten even when the output does not get through.
    forgetColors();
    ifUndelivered = colors();
  }

  int bgIndex = bg;
  int currentBgIndex = currentBg_;
  if (brightBgAttribute) {
    if (hasBright(bg) && !hasBright(currentBg_) && *brightBgCap_ != '\0' &&
        !put(kBrightBgSlot, brightBgCap_)) {
      return false;
    }
    bgIndex = bg & 0x7;
    currentBgIndex = currentBg_ < 0 ? -1 : currentBg_ & 0x7;
  }
  int fgIndex = fg;
  int currentFgIndex = currentFg_;
  if (boldAttribute) {
    if (hasBright(fg) && !hasBright(currentFg_) && *boldCap_ != '\0' && !put(kBoldSlot, boldCap_)) {
      return false;
    }
    fgIndex = fg & 0x7;
    currentFgIndex = currentFg_ < 0 ? -1 : currentFg_ & 0x7;
  }
  if (bgIndex != currentBgIndex &&
      !put(kBackgroundSlots + static_cast<std::size_t>(bgIndex), backgroundCap_, bgIndex))
    return false;
  if (fgIndex != currentFgIndex &&
      !put(kForegroundSlots + static_cast<std::size_t>(fgIndex), foregroundCap_, fgIndex))
    return false;
  currentFg_ = fg;
  currentBg_ = bg;
  return true;
}

}  // namespace vidtwine
