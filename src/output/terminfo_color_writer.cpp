#include "output/terminfo_color_writer.hpp"

// The curses headers define macros with short names (clear, columns, lines, ...): they stay
// in this file, and the function-like ones are switched off.
#define NCURSES_NOMACROS
#include <curses.h>
#include <term.h>

#include <algorithm>
#include <span>
#include <string_view>

#include "screen/vga_palette.hpp"

namespace vidtwine {

namespace {

// The one live writer, for the byte-output function handed to tputs.
TerminfoColorWriter* liveWriter = nullptr;

constexpr char kEmpty[] = "";
// Terminals whose colour capabilities take 24-bit values: those flagged `RGB`, and those
// with at least 2^24 colours.
constexpr int kDirectColors = 1 << 24;

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

// The extended `RGB` capability comes as a flag, a number or a string.
bool hasRgbCapability() noexcept {
  char name[] = "RGB";
  return tigetflag(name) > 0 || tigetnum(name) > 0 || capability(tigetstr(name)) != nullptr;
}

}  // namespace

std::unique_ptr<TerminfoColorWriter> TerminfoColorWriter::create(std::unique_ptr<Stream> target,
                                                                 UnicodeFormat format,
                                                                 ColorFlags flags) {
  if (liveWriter != nullptr) return nullptr;
  std::unique_ptr<TerminfoColorWriter> writer(
      new TerminfoColorWriter(std::move(target), format, flags));
  return writer;
}

TerminfoColorWriter::TerminfoColorWriter(std::unique_ptr<Stream> target, UnicodeFormat format,
                                         ColorFlags flags)
    : ColorWriter(std::move(target), format, flags, ColorPolicy{}) {
  liveWriter = this;
  if (flags.has(ColorFlag::NoColors) || !setUpTerminal()) {
    dropColors();
    return;
  }
  ColorPolicy policy;
  policy.depth = depth_;
  policy.defaultColors = flags.has(ColorFlag::DefaultColors);
  policy.defaultsByReset = true;
  policy.brightBackgroundAttribute = brightBgCap_ != nullptr;
  policy.brightBackgroundCode = brightBgCap_ != nullptr && *brightBgCap_ != '\0';
  policy.dimBackgrounds = brightBgCap_ != nullptr;
  policy.boldAttribute = boldCap_ != nullptr;
  policy.boldCode = boldCap_ != nullptr && *boldCap_ != '\0';
  replacePolicy(policy);
  const auto same = [](const char* cap) { return cap == nullptr || repeatable(cap); };
  if (same(resetCap_) && same(foregroundCap_) && same(backgroundCap_) && same(boldCap_) &&
      same(brightBgCap_)) {
    keepSpelledStyles();
  }
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
  if (setupterm(nullptr, targetDescriptor(), &error) != OK) return false;
  resetCap_ = capability(exit_attribute_mode);
  foregroundCap_ = capability(set_a_foreground);
  backgroundCap_ = capability(set_a_background);
  // tigetnum gives numbers beyond 32767 where the `max_colors` field is cut to a short.
  char colorsName[] = "colors";
  const int colors = tigetnum(colorsName);
  if (colors < 8 || resetCap_ == nullptr || foregroundCap_ == nullptr ||
      backgroundCap_ == nullptr) {
    return false;
  }
  if (colors < 16) {
    // Colours 8-15 cannot be named: intensity is bold, a bright background reverse or
    // nothing.
    depth_ = ColorDepth::Eight;
    boldCap_ = capabilityOrEmpty(enter_bold_mode);
    brightBgCap_ =
        flags().has(ColorFlag::ReverseForBrightBg) ? capabilityOrEmpty(enter_reverse_mode) : kEmpty;
  } else if (hasRgbCapability() || colors >= kDirectColors) {
    depth_ = ColorDepth::Direct;
  } else {
    depth_ = colors >= 256 ? ColorDepth::Palette256 : ColorDepth::Sixteen;
  }
  if (flags().has(ColorFlag::BlinkForBrightBg)) brightBgCap_ = capabilityOrEmpty(enter_blink_mode);
  return true;
}

int TerminfoColorWriter::outputByte(int byte) {
  TerminfoColorWriter* writer = liveWriter;
  if (writer == nullptr) return -1;
  const auto unit = static_cast<std::uint16_t>(byte & 0xFF);
  if (writer->putCount_ < writer->putBytes_.size())
    writer->putBytes_[writer->putCount_] = static_cast<char>(unit);
  ++writer->putCount_;
  writer->ColorWriter::put(unit);
  return byte;
}

bool TerminfoColorWriter::put(KeptOutput* kept, const char* capability, long parameter) {
  if (kept != nullptr && kept->kept) {
    if (kept->ascii) {
      putAscii({kept->bytes.data(), kept->length});
    } else {
      for (const char byte : std::span(kept->bytes).first(kept->length))
        ColorWriter::put(static_cast<std::uint8_t>(byte));
    }
    return true;
  }
  const char* text = parameter >= 0 ? tiparm(capability, parameter) : capability;
  putCount_ = 0;
  if (text == nullptr || tputs(text, 1, outputByte) == ERR) return false;
  if (kept != nullptr && putCount_ <= kept->bytes.size() && repeatable(capability) &&
      repeatable(text)) {
    std::copy_n(putBytes_.begin(), putCount_, kept->bytes.begin());
    kept->length = static_cast<std::uint8_t>(putCount_);
    kept->ascii = std::all_of(kept->bytes.begin(), kept->bytes.begin() + kept->length,
                              [](char byte) { return static_cast<unsigned char>(byte) < 0x80; });
    kept->kept = true;
  }
  return true;
}

bool TerminfoColorWriter::putColor(std::size_t slots, const char* capability, ColorValue value) {
  const bool darkYellow = flags().has(ColorFlag::DarkYellow);
  if (isVga(value)) {
    const auto index = static_cast<unsigned>(value);
    long parameter = value;
    if (depth_ == ColorDepth::Direct) {
      parameter = static_cast<long>(vgaColor(index, darkYellow) & 0xFFFFFF);
    } else if (depth_ == ColorDepth::Palette256) {
      parameter = exactPaletteIndex(index, darkYellow);
    }
    return put(&kept_[slots + index], capability, parameter);
  }
  if (value >= kPaletteColor && value < kPaletteColor + 256) {
    if (keptPalette_ == nullptr) keptPalette_ = std::make_unique<std::array<KeptOutput, 512>>();
    const auto entry = static_cast<std::size_t>(value - kPaletteColor);
    KeptOutput& kept = (*keptPalette_)[(slots == kBackgroundSlots ? 0 : 256) + entry];
    return put(&kept, capability, value - kPaletteColor);
  }
  return put(nullptr, capability, static_cast<long>(value & 0xFFFFFF));
}

bool TerminfoColorWriter::spellReset() {
  return put(&kept_[kResetSlot], resetCap_);
}

bool TerminfoColorWriter::spell(const ColorTransition& t) {
  if (t.reset && !put(&kept_[kResetSlot], resetCap_)) return false;
  if (t.brightBackground == Switch::On && !put(&kept_[kBrightBgSlot], brightBgCap_)) return false;
  if (t.bold == Switch::On && !put(&kept_[kBoldSlot], boldCap_)) return false;
  if (t.background != kUnknownColor && !putColor(kBackgroundSlots, backgroundCap_, t.background))
    return false;
  if (t.foreground != kUnknownColor && !putColor(kForegroundSlots, foregroundCap_, t.foreground))
    return false;
  return true;
}

}  // namespace vidtwine
