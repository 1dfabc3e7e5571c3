#include "output/screen_serializer.hpp"

#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <string>
#include <string_view>

namespace vidtwine {
namespace {

const CodepageMapper& mapper() {
  static const CodepageMapper instance(0, MapperFlags{});
  return instance;
}

void put(VirtualScreen& screen, std::string_view text) {
  for (const char c : text)
    screen.putChar(static_cast<std::uint8_t>(c));
}

/// Spells the events it receives: "{begin styled}{style 4F}Hi{endRow}\n", with 24-bit
/// colours as "{style 07 fg=102030 bg=-}" and text units beyond ASCII as "<FEFF>". Fails
/// for good once it has received `room` text units.
class RecordingSink final : public TextEventSink {
 public:
  explicit RecordingSink(std::size_t room = std::string::npos) : room_(room) {}

  void begin(bool styled) override { events += styled ? "{begin styled}" : "{begin plain}"; }
  void style(const CellStyle& style) override {
    char spelled[48];
    std::snprintf(spelled, sizeof spelled, "{style %02X", style.attribute);
    events += spelled;
    if (style.colors != CellColors{}) {
      events += " fg=" + colour(style.colors.foreground) + " bg=" + colour(style.colors.background);
    }
    events += '}';
  }
  void text(std::span<const std::uint16_t> units) override {
    for (const std::uint16_t unit : units) {
      if (room_ == 0) {
        failed_ = true;
        return;
      }
      --room_;
      if (unit == mapper().map(' ')) {
        events += ' ';
      } else if (unit == '\n' || unit == '\r' || (unit >= 0x21 && unit < 0x7F)) {
        events += static_cast<char>(unit);
      } else {
        char spelled[8];
        std::snprintf(spelled, sizeof spelled, "<%04X>", unit);
        events += spelled;
      }
    }
  }
  void endRow() override { events += "{endRow}"; }
  bool finish() override { return !failed_; }
  bool failed() const override { return failed_; }

  std::string events;

 private:
  static std::string colour(TrueColor value) {
    if (value == kNoTrueColor) return "-";
    char spelled[8];
    std::snprintf(spelled, sizeof spelled, "%06X", value & 0xFFFFFF);
    return spelled;
  }

  std::size_t room_;
  bool failed_ = false;
};

std::string hex(TrueColor color) {
  if (color == kNoTrueColor) return "-";
  char spelled[8];
  std::snprintf(spelled, sizeof spelled, "%06X", color & 0xFFFFFF);
  return spelled;
}

struct Serialized {
  std::int32_t result;
  std::string events;
};

Serialized serializeScreen(const VirtualScreen& screen, SerializeFlags flags) {
  RecordingSink sink;
  const std::int32_t result = serialize(screen, sink, mapper(), flags);
  return {result, sink.events};
}

/// 'H' on 0x07 and 'i' on 0x4F on a width-4 screen, the rest never written.
std::unique_ptr<VirtualScreen> greeting() {
  auto screen = VirtualScreen::create(4, 25, 4);
  put(*screen, "H");
  screen->setBackground(4);
  screen->setBold(true);
  put(*screen, "i");
  return screen;
}

TEST(ScreenSerializerTest, SingleRow) {
  struct Case {
    const char* name;
    std::function<std::unique_ptr<VirtualScreen>()> make;
    SerializeFlags flags;
    const char* events;
  };
  const auto plain = [] {
    auto screen = VirtualScreen::create(4, 25, 4);
    put(*screen, "Hi");
    return screen;
  };
  const Case cases[] = {
      {"a style where the attribute changes", greeting,
       SerializeFlags(SerializeFlag::Crlf) | SerializeFlag::TrimBlanks,
       "{begin styled}{style 07}H{style 4F}i{endRow}\r\n"},
      {"untrimmed blanks get their own style",
       greeting,
       {},
       "{begin styled}{style 07}H{style 4F}i{style 07}  {endRow}\n"},
      {"plain text has no styles", plain, SerializeFlag::TrimBlanks, "{begin plain}Hi\n"},
      {"plain text untrimmed", plain, {}, "{begin plain}Hi  \n"},
      {"byte order mark and override", plain,
       SerializeFlags(SerializeFlag::Bom) | SerializeFlag::LtrOverride | SerializeFlag::TrimBlanks,
       "{begin plain}<FEFF><202D>Hi\n<202C>"},
      {"override alone", plain,
       SerializeFlags(SerializeFlag::LtrOverride) | SerializeFlag::TrimBlanks,
       "{begin plain}<202D>Hi\n<202C>"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto screen = c.make();
    const Serialized serialized = serializeScreen(*screen, c.flags);
    EXPECT_EQ(serialized.result, 1);
    EXPECT_EQ(serialized.events, c.events);
  }
}

TEST(ScreenSerializerTest, TrimmingStopsAtTheFirstNonBlankOnBlack) {
  struct Case {
    const char* name;
    std::function<void(VirtualScreen&)> setTail;
    std::uint8_t tailCharacter;
    const char* events;
  };
  // Trimmed cells do not call for styles either.
  const Case cases[] = {
      {"light gray on black", [](VirtualScreen&) {}, ' ', "{begin plain}a\n"},
      {"bright white on black", [](VirtualScreen& s) { s.setBold(true); }, ' ', "{begin plain}a\n"},
      {"red on black", [](VirtualScreen& s) { s.setForeground(1); }, ' ', "{begin plain}a\n"},
      {"24-bit ink on black", [](VirtualScreen& s) { s.setTrueForeground(trueColor(1, 2, 3)); },
       ' ', "{begin plain}a\n"},
      {"blue background", [](VirtualScreen& s) { s.setBackground(4); }, ' ',
       "{begin styled}{style 07}a{style 47}  {endRow}\n"},
      {"24-bit paper", [](VirtualScreen& s) { s.setTrueBackground(trueColor(0, 0, 1)); }, ' ',
       "{begin styled}{style 07}a{style 07 fg=- bg=000001}  {endRow}\n"},
      {"blink", [](VirtualScreen& s) { s.setBlink(true); }, ' ',
       "{begin styled}{style 07}a{style 87}  {endRow}\n"},
      {"the byte 0xFF", [](VirtualScreen&) {}, 0xFF, "{begin plain}a<00A0><00A0>\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto screen = VirtualScreen::create(4, 25, 4);
    put(*screen, "a");
    c.setTail(*screen);
    screen->putChar(c.tailCharacter);
    screen->putChar(c.tailCharacter);
    EXPECT_EQ(serializeScreen(*screen, SerializeFlag::TrimBlanks).events, c.events);
  }
}

TEST(ScreenSerializerTest, OneColouredCellStylesEveryRow) {
  auto screen = VirtualScreen::create(3, 25, 3);
  put(*screen, "ab\r\n\r\n");
  screen->setForeground(1);
  put(*screen, "c");
  const Serialized trimmed = serializeScreen(*screen, SerializeFlag::TrimBlanks);
  EXPECT_EQ(trimmed.result, 3);
  EXPECT_EQ(trimmed.events, "{begin styled}{style 07}ab{endRow}\n{endRow}\n{style 01}c{endRow}\n");
  EXPECT_EQ(serializeScreen(*screen, {}).events,
            "{begin styled}{style 07}ab {endRow}\n{style 07}   {endRow}\n"
            "{style 01}c{style 07}  {endRow}\n");
}

TEST(ScreenSerializerTest, TrueColoursStyleTheirCells) {
  // The colours change within one attribute; the blanks after the stored cells have none.
  auto screen = VirtualScreen::create(5, 25, 4);
  put(*screen, "a");
  screen->setTrueForeground(trueColor(0x10, 0x20, 0x30));
  put(*screen, "bc");
  screen->setTrueBackground(trueColor(0xFF, 0, 0));
  put(*screen, "d");
  EXPECT_EQ(serializeScreen(*screen, {}).events,
            "{begin styled}{style 07}a{style 07 fg=102030 bg=-}bc{style 07 fg=102030 bg=FF0000}d"
            "{style 07} {endRow}\n");
}

TEST(ScreenSerializerTest, ScreenWithoutCharactersWritesNothing) {
  auto screen = VirtualScreen::create(80, 25, 8);
  put(*screen, "\r\n\n\x1b\a");
  screen->cursorDown(5);
  screen->eraseScreen();
  const SerializeFlags all = SerializeFlags(SerializeFlag::Bom) | SerializeFlag::LtrOverride |
                             SerializeFlag::Crlf | SerializeFlag::TrimBlanks;
  const Serialized serialized = serializeScreen(*screen, all);
  EXPECT_EQ(serialized.result, 0);
  EXPECT_EQ(serialized.events, "");
}

TEST(ScreenSerializerTest, RowsOfBlanksStillCount) {
  auto screen = VirtualScreen::create(8, 25, 4);
  put(*screen, "  \r\n\t\r\n\r\n");
  ASSERT_EQ(screen->usedRows(), 2u);
  const Serialized trimmed = serializeScreen(*screen, SerializeFlag::TrimBlanks);
  EXPECT_EQ(trimmed.result, 2);
  EXPECT_EQ(trimmed.events, "{begin plain}\n\n");
  EXPECT_EQ(serializeScreen(*screen, SerializeFlag::Crlf).events,
            "{begin plain}        \r\n        \r\n");
}

TEST(ScreenSerializerTest, ErasedCharactersAreBlanks) {
  auto screen = VirtualScreen::create(4, 25, 4);
  screen->setBackground(2);
  put(*screen, "abcd");
  screen->moveTo(1, 0);
  screen->eraseToLineEnd();
  EXPECT_EQ(serializeScreen(*screen, SerializeFlag::TrimBlanks).events,
            "{begin styled}{style 27}a{endRow}\n");
}

TEST(ScreenSerializerTest, WideRowsKeepTheirOrder) {
  // More units than one text event carries.
  constexpr std::int32_t kWidth = 20'000;
  auto screen = VirtualScreen::create(kWidth, 25, 8);
  std::string expected = "{begin styled}";
  for (std::int32_t column = 0; column < kWidth; ++column) {
    const auto colour = static_cast<std::uint8_t>(column % 3);
    screen->setBackground(colour);
    const char c = static_cast<char>('a' + column % 26);
    put(*screen, std::string_view(&c, 1));
    expected += "{style " + std::to_string(colour) + "7}" + c;
  }
  expected += "{endRow}\n";
  const Serialized serialized = serializeScreen(*screen, {});
  EXPECT_EQ(serialized.result, 1);
  EXPECT_EQ(serialized.events, expected);
}

TEST(ScreenSerializerTest, ColourChangesAtAnyPlaceOfAnyRow) {
  // Runs of random lengths, changes at every place among eight cells and at the edges of
  // the pieces that rows are handed on in; in rows with 24-bit colours too, where the
  // attribute or either colour may change alone.
  std::uint32_t state = 7;
  const auto next = [&state](std::uint32_t below) {
    state = state * 1103515245u + 12345u;
    return (state >> 16) % below;
  };
  for (const bool trueColors : {false, true}) {
    for (const std::int32_t width : {1, 7, 8, 9, 10, 80, 1023, 1024, 1025, 2100}) {
      auto screen = VirtualScreen::create(width, 25, 1);
      std::string expected = "{begin styled}";
      for (int row = 0; row < 3; ++row) {
        std::string shown;
        for (std::int32_t column = 0; column < width; ++column) {
          if (next(4) == 0)
            screen->setRendition(static_cast<Rendition>(next(3) == 0 ? 7 : next(256)));
          if (trueColors && next(4) == 0) {
            const TrueColor color =
                next(3) == 0 ? kNoTrueColor : trueColor(0, 0, static_cast<std::uint8_t>(next(3)));
            screen->setTrueColor(next(2) == 0, color);
          }
          char spelled[48];
          const CellColors colors = screen->trueColors();
          if (colors == CellColors{}) {
            std::snprintf(spelled, sizeof spelled, "{style %02X}", screen->currentAttribute());
          } else {
            std::snprintf(spelled, sizeof spelled, "{style %02X fg=%s bg=%s}",
                          screen->currentAttribute(), hex(colors.foreground).c_str(),
                          hex(colors.background).c_str());
          }
          if (spelled != shown) expected += shown = spelled;
          const char c = static_cast<char>('a' + next(26));
          put(*screen, std::string_view(&c, 1));
          expected += c;
        }
        expected += "{endRow}\n";
      }
      EXPECT_EQ(serializeScreen(*screen, {}).events, expected) << width << trueColors;
    }
  }
}

TEST(ScreenSerializerTest, FailedOutputIsReported) {
  auto screen = VirtualScreen::create(80, 25, 8);
  put(*screen, "Hello\r\nWorld");
  for (const std::size_t room : {0, 3, 80, 160}) {
    RecordingSink sink(room);
    EXPECT_EQ(serialize(*screen, sink, mapper(), {}), -1) << room;
  }
}

TEST(ScreenSerializerTest, ManyEmptyRowsAreCheap) {
  auto screen = VirtualScreen::create(1024, 25, 8);
  for (int i = 0; i < 1'000'000; ++i)
    screen->lineFeed();
  put(*screen, "x");
  const Serialized serialized = serializeScreen(*screen, SerializeFlag::TrimBlanks);
  EXPECT_EQ(serialized.result, 1'000'001);
  EXPECT_EQ(serialized.events, "{begin plain}" + std::string(1'000'000, '\n') + "x\n");
}

}  // namespace
}  // namespace vidtwine
