#include "sauce/sauce_display.hpp"

#include <array>
#include <cstdio>
#include <ctime>
#include <optional>

namespace vidtwine {

namespace {

// Colour numbers of the screen (SGR order); with bold, light gray shows white and brown yellow.
constexpr std::uint8_t kBrown = 3;
constexpr std::uint8_t kBlue = 4;
constexpr std::uint8_t kLightGray = 7;

// CP437 bytes of the frame.
constexpr std::uint8_t kTopLeft = 0xC9;      // double
constexpr std::uint8_t kTopRight = 0xBB;     // double
constexpr std::uint8_t kBottomLeft = 0xC8;   // double
constexpr std::uint8_t kBottomRight = 0xBC;  // double
constexpr std::uint8_t kDoubleHorizontal = 0xCD;
constexpr std::uint8_t kDoubleVertical = 0xBA;
constexpr std::uint8_t kSingleHorizontal = 0xC4;
constexpr std::uint8_t kLeftTeeToSingle = 0xC7;     // double vertical, single horizontal
constexpr std::uint8_t kRightTeeToSingle = 0xB6;    // double vertical, single horizontal
constexpr std::uint8_t kRightTeeFromDouble = 0xB5;  // single vertical, double horizontal
constexpr std::uint8_t kLeftTeeFromDouble = 0xC6;   // single vertical, double horizontal
constexpr std::uint8_t kHeart = 0x03;
constexpr std::uint8_t kDoubleNote = 0x0E;

// A comment line of the record is this wide; re-flowed rows are no wider.
constexpr std::size_t kCommentWidth = 64;

void putRepeated(VirtualScreen& screen, std::uint8_t byte, int count) {
  for (int i = 0; i < count; ++i) {
    screen.putChar(byte);
  }
}

void putText(VirtualScreen& screen, std::string_view text) {
  for (const char c : text) {
    screen.putChar(static_cast<std::uint8_t>(c));
  }
}

void useFrameColours(VirtualScreen& screen) {
  screen.setBackground(kBlue);
  screen.setForeground(kLightGray);
  screen.setBold(true);
}

void drawHeader(VirtualScreen& screen) {
  screen.putChar(kTopLeft);
  putRepeated(screen, kDoubleHorizontal, 4);
  screen.putChar(kRightTeeFromDouble);
  putText(screen, " SAUCE ");
  screen.putChar(kLeftTeeFromDouble);
  putRepeated(screen, kDoubleHorizontal, 65);
  screen.putChar(kTopRight);
}

void drawSeparator(VirtualScreen& screen) {
  screen.putChar(kLeftTeeToSingle);
  putRepeated(screen, kSingleHorizontal, kSauceBoxWidth - 2);
  screen.putChar(kRightTeeToSingle);
}

void drawFooter(VirtualScreen& screen) {
  screen.putChar(kBottomLeft);
  putRepeated(screen, kDoubleHorizontal, 51);
  screen.putChar(kRightTeeFromDouble);
  screen.putChar(' ');
  screen.putChar(kHeart);
  putText(screen, "  vidtwine v2.0  ");
  screen.putChar(kDoubleNote);
  screen.putChar(' ');
  screen.putChar(kLeftTeeFromDouble);
  putRepeated(screen, kDoubleHorizontal, 4);
  screen.putChar(kBottomRight);
}

void drawField(VirtualScreen& screen, std::string_view label, std::string_view value) {
  drawSauceRow(screen, SauceRowLayout::FieldRow, label, value);
}

void drawDate(VirtualScreen& screen, std::int64_t date) {
  char text[32] = "<Unknown>";
  if (date != -1) {
    const auto time = static_cast<std::time_t>(date);
    const std::tm* local = std::localtime(&time);
    if (local == nullptr || std::strftime(text, sizeof text, "%d %b %Y", local) == 0) {
      std::snprintf(text, sizeof text, "<Unknown>");
    }
  }
  drawField(screen, "Date", text);
}

void drawSize(VirtualScreen& screen, int width, int height) {
  char text[32];
  if (width >= 0 && height >= 0) {
    std::snprintf(text, sizeof text, "%d x %d", width, height);
    drawField(screen, "Size", text);
  } else if (width >= 0) {
    std::snprintf(text, sizeof text, "%d", width);
    drawField(screen, "Width", text);
  } else if (height >= 0) {
    std::snprintf(text, sizeof text, "%d", height);
    drawField(screen, "Height", text);
  }
}

/// Joins the comment lines into paragraphs again and breaks them anew at word boundaries
/// within 64 columns; lines of block graphics and empty lines are shown as they are.
class CommentFlow {
 public:
  CommentFlow(VirtualScreen& screen, const SauceRecord& record)
      : screen_(screen), record_(record), count_(static_cast<std::size_t>(record.commentCount())) {
    for (std::size_t i = 0; i < count_; ++i) {
      classes_[i] = classify(line(i));
    }
  }

  void drawRaw() {
    for (std::size_t i = 0; i < count_; ++i) {
      drawRow(line(i));
    }
  }

  void drawReflowed() {
    std::size_t next = 0;
    while (next < count_) {
      if (classes_[next] == LineClass::Verbatim) {
        drawRow(line(next));
        ++next;
      } else {
        next = flowParagraph(next);
      }
    }
  }

 private:
  enum class LineClass : std::uint8_t {
    Verbatim,  ///< empty, or holds block graphics: drawn as it is
    Short,     ///< under 62 characters: the paragraph ends after it
    Split,     ///< 64 characters, the last not a space: its last word may go on
    Plain,     ///< all others
  };
  /// What follows the characters a take copied.
  enum class After : std::uint8_t { Space, End, Other };

  static LineClass classify(std::string_view text) noexcept {
    if (text.empty()) return LineClass::Verbatim;
    for (const char c : text) {
      // CP437 shading, box drawing and symbols begin at 0xB0.
      if (static_cast<std::uint8_t>(c) > 0xAF) return LineClass::Verbatim;
    }
    if (text.size() < 62) return LineClass::Short;
    if (text.size() == kCommentWidth && text.back() != ' ') return LineClass::Split;
    return LineClass::Plain;
  }

  std::string_view line(std::size_t index) const noexcept {
    return record_.comment(static_cast<std::int32_t>(index)).value_or(std::string_view());
  }

  /// Whether the last word of the line may go on at the start of the next one.
  bool glued(std::size_t index) const noexcept {
    return classes_[index] == LineClass::Split && index + 1 < count_ &&
           classes_[index + 1] != LineClass::Verbatim && line(index + 1).front() != ' ';
  }

  void drawRow(std::string_view text) {
    drawSauceRow(screen_, SauceRowLayout::CommentRow, firstRow_ ? "Comment" : "", text);
    firstRow_ = false;
  }

  void beginRow() noexcept {
    length_ = 0;
    separator_ = false;
  }

  void flush() {
    if (length_ > 0) drawRow(std::string_view(buffer_.data(), length_));
    beginRow();
  }

  /// Copies the characters of `text` from `position` up to a space or its end into the
  /// buffer behind the `wordLength` already at `offset`, as many as fit into the row.
  void copyWord(std::string_view text, std::size_t& position, std::size_t offset,
                std::size_t& wordLength) noexcept {
    while (position < text.size() && text[position] != ' ' && offset + wordLength < kCommentWidth) {
      buffer_[offset + wordLength] = text[position];
      ++position;
      ++wordLength;
    }
  }

  /// Re-flows the paragraph that begins with line `first`; returns the line to go on with.
  std::size_t flowParagraph(std::size_t first) {
    std::size_t current = first;
    std::size_t position = 0;
    beginRow();
    for (;;) {
      const std::size_t takeLine = current;
      const std::size_t takePosition = position;
      std::string_view text = line(current);

      std::size_t spaces = 0;
      while (position < text.size() && text[position] == ' ') {
        ++position;
        ++spaces;
      }
      if (length_ == 0) {
        spaces = 0;  // a row never begins with spaces
      } else if (length_ + spaces >= kCommentWidth) {
        flush();
        current = takeLine;
        position = takePosition;
        continue;
      }

      // The word goes into the buffer behind the spaces, which are filled in once it fits.
      const std::size_t wordOffset = length_ + spaces;
      std::size_t wordLength = 0;
      copyWord(text, position, wordOffset, wordLength);
      bool movedOn = false;
      if (position == text.size() && glued(current)) {
        // A word cut at column 64 goes on at the start of the next line.
        movedOn = true;
        ++current;
        text = line(current);
        position = 0;
        copyWord(text, position, wordOffset, wordLength);
      }
      const After after = position == text.size() ? After::End
                          : text[position] == ' ' ? After::Space
                                                  : After::Other;

      if (spaces > 0) separator_ = true;
      if (separator_ && length_ + spaces + wordLength == kCommentWidth) {
        // A row that ends exactly at column 64 must end with a whole word.
        const bool lastLine = takeLine + 1 == count_ && !movedOn;
        const bool complete = lastLine ? after == After::End : after == After::Space;
        if (!complete) {
          flush();
          current = takeLine;
          position = takePosition;
          continue;
        }
      }
      for (std::size_t i = 0; i < spaces; ++i) {
        buffer_[length_ + i] = ' ';
      }
      length_ += spaces + wordLength;

      if (movedOn || position < text.size()) continue;
      // The current line is used up.
      if (classes_[current] == LineClass::Short) {
        flush();
        return current + 1;
      }
      if (current + 1 == count_) {
        flush();
        return count_;
      }
      if (classes_[current + 1] == LineClass::Verbatim) {
        flush();
        drawRow(line(current + 1));
        return current + 2;
      }
      // The row goes on with the next line; a space it kept at its end separates the two.
      ++current;
      position = 0;
    }
  }

  VirtualScreen& screen_;
  const SauceRecord& record_;
  std::size_t count_;
  std::array<LineClass, 256> classes_{};
  bool firstRow_ = true;
  std::array<char, kCommentWidth> buffer_{};
  std::size_t length_ = 0;
  bool separator_ = false;
};

}  // namespace

void drawSauceRow(VirtualScreen& screen, const SauceRowLayout& layout, std::string_view label,
                  std::string_view value) {
  screen.putChar(kDoubleVertical);
  screen.setForeground(kBrown);
  if (label.size() > layout.labelWidth) label = label.substr(label.size() - layout.labelWidth);
  putRepeated(screen, ' ', static_cast<int>(layout.labelWidth - label.size()));
  putText(screen, label);
  screen.putChar(label.empty() ? ' ' : ':');
  screen.putChar(' ');

  screen.setBackground(kLightGray);
  screen.setForeground(kBlue);
  screen.setBold(false);
  screen.putChar(' ');
  value = value.substr(0, layout.valueWidth);
  putText(screen, value);
  putRepeated(screen, ' ', static_cast<int>(layout.valueWidth - value.size()));

  useFrameColours(screen);
  putRepeated(screen, ' ', layout.trailingBlanks);
  screen.putChar(kDoubleVertical);
}

void drawSauce(VirtualScreen& screen, const SauceRecord& record, bool rawComment) {
  useFrameColours(screen);
  drawHeader(screen);

  drawField(screen, "Title", record.title().value_or("<Unnamed>"));
  drawField(screen, "Author", record.author().value_or("<Unknown>"));
  if (const auto group = record.group()) drawField(screen, "Group", *group);
  drawDate(screen, record.date());

  drawSeparator(screen);
  drawField(screen, "File type", record.typeName());
  drawSize(screen, record.width(), record.height());
  switch (record.backgroundMode()) {
    case 0:
      drawField(screen, "Background mode", "blinking (default)");
      break;
    case 1:
      drawField(screen, "Background mode", "bright colors");
      break;
    default:
      break;
  }
  switch (record.letterSpacing()) {
    case 0:
      drawField(screen, "Letter spacing", "unspaced (8px VGA)");
      break;
    case 1:
      drawField(screen, "Letter spacing", "spaced (9px VGA)");
      break;
    default:
      break;
  }
  switch (record.aspectRatio()) {
    case 0:
      drawField(screen, "Pixel aspect", "rectangular pixels");
      break;
    case 1:
      drawField(screen, "Pixel aspect", "square pixels");
      break;
    default:
      break;
  }
  if (const auto font = record.font()) drawField(screen, "Font", *font);
  if (const auto codepage = record.codepageText()) drawField(screen, "Codepage", *codepage);

  if (record.commentCount() != 0) {
    drawSeparator(screen);
    CommentFlow comment(screen, record);
    if (rawComment) {
      comment.drawRaw();
    } else {
      comment.drawReflowed();
    }
  }

  drawFooter(screen);
}

}  // namespace vidtwine
