#include "screen/screen_serializer.hpp"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string_view>
#include <vector>

namespace vidtwine {
namespace {

using Units = std::vector<std::uint16_t>;

constexpr std::uint16_t kLf = 0x000A;
constexpr std::uint16_t kCr = 0x000D;
constexpr std::uint16_t kReset = 0xEF00;
constexpr std::uint16_t marker(CellAttribute attribute) {
  return 0xEE00 | attribute;
}

const CodepageMapper& mapper() {
  static const CodepageMapper instance(0, MapperFlags{});
  return instance;
}

std::uint16_t unit(char c) {
  return mapper().map(static_cast<std::uint8_t>(c));
}

void put(VirtualScreen& screen, std::string_view text) {
  for (const char c : text)
    screen.putChar(static_cast<std::uint8_t>(c));
}

struct Serialized {
  std::int32_t result;
  Units units;
};

Serialized serializeScreen(VirtualScreen& screen, SerializeFlags flags) {
  auto output = MemoryStream::create(64 * 1024 * 1024);
  Serialized serialized{serialize(screen, *output, mapper(), flags), {}};
  const auto bytes = output->contents();
  EXPECT_EQ(bytes.size() % 2, 0u);
  serialized.units.resize(bytes.size() / 2);
  if (!bytes.empty()) std::memcpy(serialized.units.data(), bytes.data(), bytes.size());
  return serialized;
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
    Units units;
  };
  const auto plain = [] {
    auto screen = VirtualScreen::create(4, 25, 4);
    put(*screen, "Hi");
    return screen;
  };
  const Case cases[] = {
      {"markers where the attribute changes",
       greeting,
       SerializeFlags(SerializeFlag::Crlf) | SerializeFlag::TrimBlanks,
       {marker(0x07), unit('H'), marker(0x4F), unit('i'), kReset, kCr, kLf}},
      {"untrimmed blanks get their own marker",
       greeting,
       {},
       {marker(0x07), unit('H'), marker(0x4F), unit('i'), marker(0x07), unit(' '), unit(' '),
        kReset, kLf}},
      {"plain text has no markers", plain, SerializeFlag::TrimBlanks, {unit('H'), unit('i'), kLf}},
      {"plain text untrimmed", plain, {}, {unit('H'), unit('i'), unit(' '), unit(' '), kLf}},
      {"byte order mark and override",
       plain,
       SerializeFlags(SerializeFlag::Bom) | SerializeFlag::LtrOverride | SerializeFlag::TrimBlanks,
       {0xFEFF, 0x202D, unit('H'), unit('i'), kLf, 0x202C}},
      {"override alone",
       plain,
       SerializeFlags(SerializeFlag::LtrOverride) | SerializeFlag::TrimBlanks,
       {0x202D, unit('H'), unit('i'), kLf, 0x202C}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto screen = c.make();
    const Serialized serialized = serializeScreen(*screen, c.flags);
    EXPECT_EQ(serialized.result, 1);
    EXPECT_EQ(serialized.units, c.units);
  }
}

TEST(ScreenSerializerTest, TrimmingStopsAtTheFirstNonBlankOnBlack) {
  struct Case {
    const char* name;
    std::function<void(VirtualScreen&)> setTail;
    std::uint8_t tailCharacter;
    bool trimmed;
  };
  const Case cases[] = {
      {"light gray on black", [](VirtualScreen&) {}, ' ', true},
      {"bright white on black", [](VirtualScreen& s) { s.setBold(true); }, ' ', true},
      {"red on black", [](VirtualScreen& s) { s.setForeground(1); }, ' ', true},
      {"blue background", [](VirtualScreen& s) { s.setBackground(4); }, ' ', false},
      {"blink", [](VirtualScreen& s) { s.setBlink(true); }, ' ', false},
      {"the byte 0xFF", [](VirtualScreen&) {}, 0xFF, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto screen = VirtualScreen::create(4, 25, 4);
    put(*screen, "a");
    c.setTail(*screen);
    screen->putChar(c.tailCharacter);
    screen->putChar(c.tailCharacter);
    const Serialized serialized = serializeScreen(*screen, SerializeFlag::TrimBlanks);
    const CellAttribute tail = screen->currentAttribute();
    Units expected;
    if (tail != 0x07 && !c.trimmed) expected.push_back(marker(0x07));
    expected.push_back(unit('a'));
    if (!c.trimmed) {
      if (tail != 0x07) expected.push_back(marker(tail));
      expected.insert(expected.end(), 2, mapper().map(c.tailCharacter));
      if (tail != 0x07) expected.push_back(kReset);
    }
    expected.push_back(kLf);
    // Trimmed cells do not call for markers either.
    EXPECT_EQ(serialized.units, expected);
  }
}

TEST(ScreenSerializerTest, OneColouredCellMarksEveryRow) {
  auto screen = VirtualScreen::create(3, 25, 3);
  put(*screen, "ab\r\n\r\n");
  screen->setForeground(1);
  put(*screen, "c");
  const Serialized trimmed = serializeScreen(*screen, SerializeFlag::TrimBlanks);
  EXPECT_EQ(trimmed.result, 3);
  EXPECT_EQ(trimmed.units, (Units{marker(0x07), unit('a'), unit('b'), kReset, kLf,  //
                                  kReset, kLf,                                      //
                                  marker(0x01), unit('c'), kReset, kLf}));

  const Serialized full = serializeScreen(*screen, {});
  const std::uint16_t space = unit(' ');
  EXPECT_EQ(full.units, (Units{marker(0x07), unit('a'), unit('b'), space, kReset, kLf,  //
                               marker(0x07), space, space, space, kReset, kLf,          //
                               marker(0x01), unit('c'), marker(0x07), space, space, kReset, kLf}));
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
  EXPECT_TRUE(serialized.units.empty());
}

TEST(ScreenSerializerTest, RowsOfBlanksStillCount) {
  auto screen = VirtualScreen::create(8, 25, 4);
  put(*screen, "  \r\n\t\r\n\r\n");
  ASSERT_EQ(screen->usedRows(), 2u);
  const Serialized trimmed = serializeScreen(*screen, SerializeFlag::TrimBlanks);
  EXPECT_EQ(trimmed.result, 2);
  EXPECT_EQ(trimmed.units, (Units{kLf, kLf}));
  const Serialized full = serializeScreen(*screen, SerializeFlag::Crlf);
  EXPECT_EQ(full.units.size(), 2u * (8 + 2));
}

TEST(ScreenSerializerTest, ErasedCharactersAreBlanks) {
  auto screen = VirtualScreen::create(4, 25, 4);
  screen->setBackground(2);
  put(*screen, "abcd");
  screen->moveTo(1, 0);
  screen->eraseToLineEnd();
  const Serialized serialized = serializeScreen(*screen, SerializeFlag::TrimBlanks);
  EXPECT_EQ(serialized.units, (Units{marker(0x27), unit('a'), kReset, kLf}));
}

TEST(ScreenSerializerTest, WideRowsKeepTheirOrder) {
  // More units than one output write carries.
  constexpr std::int32_t kWidth = 20'000;
  auto screen = VirtualScreen::create(kWidth, 25, 8);
  Units expected;
  for (std::int32_t column = 0; column < kWidth; ++column) {
    const auto colour = static_cast<std::uint8_t>(column % 3);
    screen->setBackground(colour);
    const char c = static_cast<char>('a' + column % 26);
    put(*screen, std::string_view(&c, 1));
    expected.push_back(marker(static_cast<CellAttribute>(colour << 4 | 7)));
    expected.push_back(unit(c));
  }
  expected.push_back(kReset);
  expected.push_back(kLf);
  const Serialized serialized = serializeScreen(*screen, {});
  EXPECT_EQ(serialized.result, 1);
  EXPECT_EQ(serialized.units, expected);
}

TEST(ScreenSerializerTest, FailedOutputIsReported) {
  auto screen = VirtualScreen::create(80, 25, 8);
  put(*screen, "Hello\r\nWorld");
  auto output = MemoryStream::create(6);
  EXPECT_EQ(serialize(*screen, *output, mapper(), {}), -1);
  EXPECT_EQ(output->fill(), 6u);
}

TEST(ScreenSerializerTest, ManyEmptyRowsAreCheap) {
  auto screen = VirtualScreen::create(1024, 25, 8);
  for (int i = 0; i < 1'000'000; ++i)
    screen->lineFeed();
  put(*screen, "x");
  const Serialized serialized = serializeScreen(*screen, SerializeFlag::TrimBlanks);
  EXPECT_EQ(serialized.result, 1'000'001);
  ASSERT_EQ(serialized.units.size(), 1'000'002u);
  EXPECT_EQ(serialized.units[1'000'000], unit('x'));
}

}  // namespace
}  // namespace vidtwine
