// The whole output chain, as the driver stacks it, for generated screens and the art
// corpus: the same bytes whether the filters are handed large pieces or the smallest
// ones, and a target that fills up midway fails the run with the start of the output.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "codepage/codepage_mapper.hpp"
#include "output/ansi_color_writer.hpp"
#include "output/screen_serializer.hpp"
#include "output/terminfo_color_writer.hpp"
#include "output/unicode_encoder.hpp"
#include "screen/ansi_sys_interpreter.hpp"
#include "stream/buffered_writer.hpp"
#include "stream/dos_text_reader.hpp"
#include "support/process.hpp"
#include "support/string_sink.hpp"

namespace vidtwine {
namespace {

// Hands `step` bytes per call to the filter beneath.
class PieceByPiece final : public StreamWriter {
 public:
  PieceByPiece(std::unique_ptr<Stream> target, std::uint64_t step)
      : StreamWriter(std::move(target)), step_(step) {}

 private:
  std::uint64_t writeSome(const std::byte* data, std::uint64_t n) override {
    return n < step_ ? 0 : target_->write(data, step_);
  }

  std::uint64_t step_;
};

struct Settings {
  const char* name;
  const char* term;  // for the terminfo writer; none: the generic one
  ColorFlags colors;
  UnicodeFormat format;
  SerializeFlags layout;
};

struct Output {
  std::int32_t rows;
  bool finished;
  std::string bytes;
};

Output render(const VirtualScreen& screen, const Settings& settings, std::size_t room,
              bool smallPieces) {
  const auto split = [smallPieces](std::unique_ptr<Stream> stream,
                                   std::uint64_t step) -> std::unique_ptr<Stream> {
    if (!smallPieces) return stream;
    return std::make_unique<PieceByPiece>(std::move(stream), step);
  };
  Output output{};
  // In small pieces, a small buffer, so that the sink gets many pieces and the writer has
  // too little room in it to write there; else a buffer like the program's.
  std::unique_ptr<Stream> chain =
      split(std::make_unique<BufferedWriter>(std::make_unique<test::StringSink>(output.bytes, room),
                                             smallPieces ? 4096 : 262144),
            1);
  std::unique_ptr<ColorWriter> writer;
  if (settings.term == nullptr) {
    writer = std::make_unique<AnsiColorWriter>(std::move(chain), settings.format, settings.colors);
  } else {
    setenv("TERM", settings.term, 1);
    writer = TerminfoColorWriter::create(std::move(chain), settings.format, settings.colors);
  }
  EXPECT_NE(writer, nullptr);
  if (writer == nullptr) return output;
  const CodepageMapper mapper(0, MapperFlag::VgaLookalike);
  output.rows = serialize(screen, *writer, mapper, settings.layout);
  output.finished = writer->finish();
  return output;
}

/// Every attribute and some 24-bit colours, in rows of different lengths.
std::unique_ptr<VirtualScreen> generatedScreen() {
  auto screen = VirtualScreen::create(80, 25, 8);
  for (unsigned i = 0; i < 600; ++i) {
    screen->setRendition(static_cast<Rendition>(i * 7 % 256));
    screen->setTrueForeground(i % 5 == 0 ? trueColor(static_cast<std::uint8_t>(i), 0x80, 0) : 0);
    screen->setTrueBackground(i % 7 == 0 ? trueColor(0, 0, static_cast<std::uint8_t>(i)) : 0);
    screen->putChar(static_cast<std::uint8_t>(i % 3 == 0 ? ' ' : 0xB0 + i % 4));
    if (i % 97 == 0) screen->putChar('\n');
  }
  return screen;
}

// The tests set TERM for the terminfo writer; the test program's own comes back after.
class OutputChain : public testing::Test {
 protected:
  void SetUp() override {
    if (const char* term = std::getenv("TERM")) savedTerm_ = term;
  }
  void TearDown() override {
    if (savedTerm_) {
      setenv("TERM", savedTerm_->c_str(), 1);
    } else {
      unsetenv("TERM");
    }
  }

  std::optional<std::string> savedTerm_;
};

TEST_F(OutputChain, SmallPiecesAndAFullTargetKeepTheOutput) {
  std::vector<std::pair<std::string, std::unique_ptr<VirtualScreen>>> screens;
  screens.emplace_back("generated", generatedScreen());
  if (const auto corpus = test::corpusDir()) {
    for (const auto& entry : std::filesystem::directory_iterator(*corpus)) {
      if (entry.path().filename() == "MANIFEST.tsv") continue;
      auto screen = VirtualScreen::create(80, 25, 8);
      auto input = createDosTextReader(FileStream::openPath(entry.path().c_str(), OpenMode::Read),
                                       262144, -1, false);
      AnsiSysInterpreter::run(*screen, nullptr, *input);
      screens.emplace_back(entry.path().filename().string(), std::move(screen));
    }
  } else {
    std::printf("the art corpus is absent: only a generated screen goes through the chain\n");
  }
  using enum ColorFlag;
  const SerializeFlags none;
  const Settings settings[] = {
      {"-a", nullptr, IntenseColors, UnicodeFormat::Utf8, none},
      {"-a -x", nullptr, ColorFlags(IntenseColors) | ExactColors, UnicodeFormat::Utf8, none},
      {"-a --truecolor", nullptr, ColorFlags(IntenseColors) | DirectColors, UnicodeFormat::Utf8,
       none},
      {"-a -I -k", nullptr, BlinkForBrightBg, UnicodeFormat::Utf8, none},
      {"-a -d -r -u utf-16le", nullptr, ColorFlags(IntenseColors) | DefaultColors,
       UnicodeFormat::Utf16Le,
       SerializeFlags(SerializeFlag::Crlf) | SerializeFlag::Bom | SerializeFlag::TrimBlanks},
      {"-C", "xterm-256color", ColorFlags(IntenseColors) | NoColors, UnicodeFormat::Utf8, none},
      {"TERM=xterm-256color", "xterm-256color", IntenseColors, UnicodeFormat::Utf8, none},
      {"TERM=xterm -k", "xterm", ColorFlags(IntenseColors) | BlinkForBrightBg, UnicodeFormat::Utf8,
       none},
  };
  for (const auto& [name, screen] : screens) {
    const auto rows = static_cast<std::int32_t>(screen->usedRows());
    for (const Settings& s : settings) {
      SCOPED_TRACE(name + " " + s.name);
      const Output whole = render(*screen, s, std::string::npos, false);
      EXPECT_EQ(whole.rows, rows);
      EXPECT_TRUE(whole.finished);
      const Output pieces = render(*screen, s, std::string::npos, true);
      EXPECT_EQ(pieces.rows, rows);
      EXPECT_TRUE(pieces.finished);
      EXPECT_TRUE(pieces.bytes == whole.bytes);
      // Room for about two thirds: the run fails, and what got through is the start.
      const std::size_t room = whole.bytes.size() * 2 / 3;
      const Output cut = render(*screen, s, room, false);
      EXPECT_FALSE(cut.finished);
      EXPECT_TRUE(cut.bytes == whole.bytes.substr(0, room));
    }
  }
}

}  // namespace
}  // namespace vidtwine
