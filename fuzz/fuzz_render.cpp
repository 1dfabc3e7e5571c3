// The whole render path from arbitrary bytes: settings from the first bytes of the input,
// the rest as the input file, read through the DOS text reader, drawn by the interpreter
// and serialised through a colour writer, the Unicode writer and the output buffer.
//
// Input layout (missing bytes read as 0):
//   0      code page id (mod 20)
//   1      bits 0-3 MapperFlags, bit 4 a 24-bit ink, bit 5 a 24-bit paper, bit 6 the BBS
//          dialect
//   2      bits 0-3 SerializeFlags, bit 4 the ColorFlags bit above the low byte (24-bit
//          colours)
//   3      ColorFlags, the low byte
//   4      bits 0-1 UnicodeFormat (mod 3), bit 2 terminfo writer, bits 3-5 terminal,
//          bit 6 ignoreEof, bit 7 metadata stream
//   5      bits 0-1 output sink (/dev/null, memory, memory that fills up, /dev/full),
//          bit 2 SAUCE geometry, bits 3-5 reader capacity, bits 6-7 output buffer capacity
//   6-7    width 16..1024 (little endian, mod 1009, plus 16)
//   8      height 1..255
//   9      tab width 1..255, at most the width
//   10     limit of the memory that fills up, in units of 16 bytes
//   11-16  the 24-bit ink and paper set before rendering (red, green, blue each), where
//          byte 1 asks for them
//   17-    the input text
#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "codepage/codepage_mapper.hpp"
#include "fuzz_support.hpp"
#include "output/ansi_color_writer.hpp"
#include "output/color_flags.hpp"
#include "output/screen_serializer.hpp"
#include "output/terminfo_color_writer.hpp"
#include "output/unicode_encoder.hpp"
#include "sauce/sauce_record.hpp"
#include "screen/ansi_sys_interpreter.hpp"
#include "screen/virtual_screen.hpp"
#include "stream/buffered_writer.hpp"
#include "stream/dos_text_reader.hpp"

namespace vidtwine::fuzz {
namespace {

// The descriptions compiled from fuzz/terminfo, a name that none has, and one repeated
// to fill eight slots.
constexpr const char* kDirectTerminal = "vtfuzz-direct";
constexpr std::array<const char*, 8> kTerminals = {
    "vtfuzz-8",    "vtfuzz-8bare",   "vtfuzz-16", "vtfuzz-256",
    "vtfuzz-mono", "vtfuzz-missing", "vtfuzz-8",  kDirectTerminal,
};
constexpr std::array<std::uint64_t, 8> kReaderCapacities = {1, 2, 3, 64, 4096, 65536, 262144, 7};
constexpr std::array<std::uint64_t, 4> kBufferCapacities = {1, 5, 4096, 262144};

// Serialising costs time in proportion to rows times width; beyond these the output is
// left out (the screen is still built), so that an iteration stays short.
constexpr std::uint64_t kMaxSerializedCells = std::uint64_t{1} << 19;
constexpr std::uint64_t kMaxComparedCells = std::uint64_t{1} << 15;
constexpr std::uint64_t kUnlimited = std::uint64_t{1} << 30;
constexpr std::uint64_t kMaxResult = 2147483647;

enum class Sink : std::uint8_t { Null = 0, Memory = 1, FillingMemory = 2, Full = 3 };

struct Settings {
  CodepageId codepage = 0;
  MapperFlags mapperFlags;
  Dialect dialect = Dialect::AnsiSys;
  CellColors pen;
  SerializeFlags serializeFlags;
  ColorFlags colorFlags;
  UnicodeFormat format = UnicodeFormat::Utf8;
  bool terminfo = false;
  const char* terminal = nullptr;
  bool ignoreEof = false;
  bool metadata = false;
  Sink sink = Sink::Null;
  bool sauceGeometry = false;
  std::uint64_t readerCapacity = 1;
  std::uint64_t bufferCapacity = 1;
  std::int32_t width = 80;
  std::int32_t height = 25;
  std::int32_t tabWidth = 8;
  std::uint64_t smallLimit = 0;
};

Settings readSettings(InputBytes& in) {
  Settings s;
  s.codepage = in.byte() % kCodepageCount;
  const std::uint8_t mapper = in.byte();
  s.mapperFlags = MapperFlags::fromBits(mapper & 0x0F);
  s.dialect = (mapper & 0x40) != 0 ? Dialect::Bbs : Dialect::AnsiSys;
  const std::uint8_t serialize = in.byte();
  s.serializeFlags = SerializeFlags::fromBits(serialize & 0x0F);
  s.colorFlags =
      ColorFlags::fromBits(static_cast<std::uint16_t>((serialize & 0x10) << 4 | in.byte()));
  const std::uint8_t output = in.byte();
  s.format = static_cast<UnicodeFormat>((output & 0x03) % 3);
  s.terminfo = (output & 0x04) != 0;
  s.terminal = kTerminals[(output >> 3) & 0x07];
  s.ignoreEof = (output & 0x40) != 0;
  s.metadata = (output & 0x80) != 0;
  const std::uint8_t chain = in.byte();
  s.sink = static_cast<Sink>(chain & 0x03);
  s.sauceGeometry = (chain & 0x04) != 0;
  s.readerCapacity = kReaderCapacities[(chain >> 3) & 0x07];
  s.bufferCapacity = kBufferCapacities[(chain >> 6) & 0x03];
  s.width = 16 + in.word() % 1009;
  s.height = 1 + in.byte() % 255;
  s.tabWidth = 1 + in.byte() % 255;
  s.smallLimit = std::uint64_t{in.byte()} * 16;
  const auto colour = [&in](bool wanted) {
    const std::uint8_t red = in.byte();
    const std::uint8_t green = in.byte();
    const std::uint8_t blue = in.byte();
    return wanted ? trueColor(red, green, blue) : kNoTrueColor;
  };
  s.pen.foreground = colour((mapper & 0x10) != 0);
  s.pen.background = colour((mapper & 0x20) != 0);
  return s;
}

/// The bytes the DOS text reader lets through: up to the first 0x1A and the SAUCE limit.
std::uint64_t expectedTextLength(std::span<const std::uint8_t> text, std::int64_t limit,
                                 bool ignoreEof) {
  if (ignoreEof) return text.size();
  const auto eof = std::find(text.begin(), text.end(), std::uint8_t{0x1A});
  auto length = static_cast<std::uint64_t>(eof - text.begin());
  if (limit >= 0) length = std::min(length, static_cast<std::uint64_t>(limit));
  return length;
}

std::unique_ptr<Stream> openSink(const Settings& s, Sink kind, CaptureSink*& memory,
                                 bool& refusing) {
  memory = nullptr;
  refusing = false;
  switch (kind) {
    case Sink::Null:
      return openNull();
    case Sink::Memory:
    case Sink::FillingMemory: {
      auto stream = std::make_unique<CaptureSink>(kind == Sink::Memory ? kUnlimited : s.smallLimit);
      memory = stream.get();
      return stream;
    }
    case Sink::Full: {
      auto full = FileStream::openPath("/dev/full", OpenMode::Write);
      refusing = full != nullptr;
      if (full != nullptr) return full;
      return openNull();
    }
  }
  return openNull();
}

struct Written {
  std::int32_t rows = 0;
  bool finished = false;
  bool refusing = false;  // the sink refuses every write
  std::string bytes;      // what reached a memory sink
};

/// Serialises `screen` through a fresh output chain into a sink of the given kind; with
/// `smallPieces` the buffer beneath the colour writer hands on one byte per call.
Written writeScreen(const VirtualScreen& screen, const Settings& s, const CodepageMapper& mapper,
                    Sink kind, bool smallPieces) {
  Written written;
  CaptureSink* memory = nullptr;
  std::unique_ptr<Stream> sink = openSink(s, kind, memory, written.refusing);
  std::unique_ptr<Stream> chain =
      std::make_unique<BufferedWriter>(std::move(sink), s.bufferCapacity);
  if (smallPieces) chain = std::make_unique<PieceByPieceWriter>(std::move(chain), 1);
  std::unique_ptr<ColorWriter> writer;
  if (s.terminfo) {
    ::setenv("TERM", s.terminal, 1);
    writer = TerminfoColorWriter::create(std::move(chain), s.format, s.colorFlags);
    // The previous chain is gone, so the one writer slot must be free.
    FUZZ_CHECK(writer != nullptr);
  } else {
    writer = std::make_unique<AnsiColorWriter>(std::move(chain), s.format, s.colorFlags);
  }

  written.rows = serialize(screen, *writer, mapper, s.serializeFlags);
  written.finished = writer->finish();
  // A failure is final and reported by finish.
  FUZZ_CHECK(written.rows != -1 || !written.finished);
  if (memory != nullptr) written.bytes = memory->contents();
  return written;
}

/// Checks the order and the amounts of the serialiser's events, and keeps the first
/// 24-bit colours that styles ask for.
class CheckingSink final : public TextEventSink {
 public:
  /// `pen`: the only 24-bit colours that cells can have, unless `anyColour`.
  CheckingSink(CellColors pen, bool anyColour) noexcept : pen_(pen), anyColour_(anyColour) {}

  void begin(bool styled) override {
    FUZZ_CHECK(!begun_);
    begun_ = true;
    styled_ = styled;
  }
  void style(const CellStyle& style) override {
    FUZZ_CHECK(begun_ && styled_ && !rowEnded_);
    styles_ = true;
    for (const TrueColor colour : {style.colors.foreground, style.colors.background}) {
      FUZZ_CHECK(anyColour_ || colour == kNoTrueColor || colour == pen_.foreground ||
                 colour == pen_.background);
    }
    if (firstInk == kNoTrueColor) firstInk = style.colors.foreground;
    if (firstPaper == kNoTrueColor) firstPaper = style.colors.background;
  }
  void text(std::span<const std::uint16_t> units) override {
    FUZZ_CHECK(begun_ && !units.empty());
    units_ += units.size();
    rowEnded_ = false;
  }
  void endRow() override {
    FUZZ_CHECK(begun_ && styled_ && !rowEnded_);
    rowEnded_ = true;
    ++rowEnds_;
  }
  bool finish() override { return true; }
  bool failed() const override { return false; }

  /// After serialising `rows` rows of `width` cells: each row's characters (all of them
  /// without trimming) and line end, the marks around them, a row end per row where
  /// styled, and styles only then.
  void checkTotals(std::uint64_t rows, std::uint64_t width, SerializeFlags flags) const {
    if (rows == 0) {
      FUZZ_CHECK(!begun_ && units_ == 0);
      return;
    }
    FUZZ_CHECK(begun_ && styled_ == styles_);
    FUZZ_CHECK(rowEnds_ == (styled_ ? rows : 0));
    const std::uint64_t marks =
        (flags.has(SerializeFlag::Bom) ? 1 : 0) + (flags.has(SerializeFlag::LtrOverride) ? 2 : 0);
    const std::uint64_t lineEnd = flags.has(SerializeFlag::Crlf) ? 2 : 1;
    const std::uint64_t full = marks + rows * (width + lineEnd);
    if (flags.has(SerializeFlag::TrimBlanks)) {
      FUZZ_CHECK(units_ >= marks + rows * lineEnd && units_ <= full);
    } else {
      FUZZ_CHECK(units_ == full);
    }
  }

  TrueColor firstInk = kNoTrueColor;
  TrueColor firstPaper = kNoTrueColor;

 private:
  CellColors pen_;
  bool anyColour_;
  bool begun_ = false;
  bool styled_ = false;
  bool styles_ = false;
  bool rowEnded_ = false;
  std::uint64_t rowEnds_ = 0;
  std::uint64_t units_ = 0;
};

/// Whether two screens hold the same cells and colours and leave the cursor at the same place.
bool sameScreen(const VirtualScreen& a, const VirtualScreen& b) {
  if (a.usedRows() != b.usedRows() || a.width() != b.width() || a.row() != b.row() ||
      a.column() != b.column()) {
    return false;
  }
  for (std::uint64_t row = 0; row < a.usedRows(); ++row) {
    for (std::uint32_t column = 0; column < a.width(); ++column) {
      if (a.cell(row, column) != b.cell(row, column) ||
          a.cellColors(row, column) != b.cellColors(row, column)) {
        return false;
      }
    }
  }
  return true;
}

/// Whether `bytes` hold an SGR parameter list naming `colour` after `prefix` ("38;2;" or
/// "48;2;"), ended by ';' or 'm'.
bool namesTrueColour(const std::string& bytes, const char* prefix, TrueColor colour) {
  const std::string name = prefix + std::to_string(redOf(colour)) + ";" +
                           std::to_string(greenOf(colour)) + ";" + std::to_string(blueOf(colour));
  return bytes.find(name + ";") != std::string::npos || bytes.find(name + "m") != std::string::npos;
}

/// Output bytes for a report: printable ASCII as it is, everything else as \xNN.
std::string printable(const std::string& bytes) {
  std::string text;
  for (const char c : bytes) {
    if (c >= 0x20 && c < 0x7F && c != '\\') {
      text += c;
    } else {
      char escaped[5];
      std::snprintf(escaped, sizeof escaped, "\\x%02X", static_cast<unsigned char>(c));
      text += escaped;
    }
  }
  return text;
}

}  // namespace
}  // namespace vidtwine::fuzz

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // Every terminal the target names comes from the descriptions built next to it.
  ::setenv("TERMINFO", VIDTWINE_FUZZ_TERMINFO_DIR, 1);
  ::setenv("TZ", "UTC", 1);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace vidtwine;
  using namespace vidtwine::fuzz;

  InputBytes in(data, size);
  const Settings s = readSettings(in);
  const std::span<const std::uint8_t> text = in.rest();

  // As the driver does it: the SAUCE record first, then the text up to it.
  std::unique_ptr<Stream> input = memoryStreamOf(text);
  const std::int64_t inputSize = input->size();
  std::unique_ptr<SauceRecord> record = readSauce(*input, inputSize);
  input->seek(SeekOrigin::FromStart, 0);
  const std::int64_t limit = record != nullptr ? record->dataSize() : -1;
  if (record != nullptr) FUZZ_CHECK(limit >= 0 && limit <= inputSize - 128);
  input = createDosTextReader(std::move(input), s.readerCapacity, limit, s.ignoreEof);

  std::int32_t width = s.width;
  std::int32_t height = s.height;
  if (s.sauceGeometry && record != nullptr) {
    if (record->width() >= 0) width = record->width();
    if (record->fontLines() >= 0) height = record->fontLines();
  }
  const std::int32_t tabWidth = std::min(s.tabWidth, width);
  const auto makeScreen = [&] {
    auto screen = VirtualScreen::create(width, height, tabWidth);
    FUZZ_CHECK(screen != nullptr);
    screen->setTrueForeground(s.pen.foreground);
    screen->setTrueBackground(s.pen.background);
    return screen;
  };
  auto screen = makeScreen();

  std::unique_ptr<Stream> metadata;
  if (s.metadata) metadata = std::make_unique<BufferedWriter>(openNull(), 1024);

  const std::int32_t bytesRead =
      AnsiSysInterpreter::run(*screen, metadata.get(), *input, s.dialect);
  input.reset();
  metadata.reset();
  // Only the ANSI.SYS reading stops early, at a ninth parameter; memory never fails.
  if (s.dialect == Dialect::Bbs) FUZZ_CHECK(bytesRead >= 0);
  const std::uint64_t cells = screen->usedRows() * screen->width();
  if (bytesRead >= 0) {
    const std::uint64_t expected = expectedTextLength(text, limit, s.ignoreEof);
    FUZZ_CHECK(static_cast<std::uint64_t>(bytesRead) == std::min(expected, kMaxResult));
    if (cells <= kMaxComparedCells) {
      // The reader must deliver exactly those bytes, whatever its buffer size: the same
      // text handed over directly gives the same screen.
      auto direct = memoryStreamOf(text.first(static_cast<std::size_t>(expected)));
      auto reference = makeScreen();
      FUZZ_CHECK(AnsiSysInterpreter::run(*reference, nullptr, *direct, s.dialect) == bytesRead);
      FUZZ_CHECK(sameScreen(*screen, *reference));
    }
  }
  if (cells > kMaxSerializedCells) return 0;

  const CodepageMapper mapper(s.codepage, s.mapperFlags);
  const std::uint64_t rows = std::min(screen->usedRows(), kMaxResult);
  // Only the BBS reading gives cells 24-bit colours of their own.
  CheckingSink events(s.pen, s.dialect == Dialect::Bbs);
  FUZZ_CHECK(static_cast<std::uint64_t>(serialize(*screen, events, mapper, s.serializeFlags)) ==
             rows);
  events.checkTotals(screen->usedRows(), screen->width(), s.serializeFlags);

  const Written written = writeScreen(*screen, s, mapper, s.sink, false);
  if (s.sink == Sink::Null || s.sink == Sink::Memory) {
    // Nothing can fail on the way to these.
    FUZZ_CHECK(static_cast<std::uint64_t>(written.rows) == rows && written.finished);
  }
  if (written.refusing) FUZZ_CHECK(!written.finished || rows == 0);
  if (cells > kMaxComparedCells) return 0;
  if (s.sink == Sink::Memory) {
    const Written pieces = writeScreen(*screen, s, mapper, Sink::Memory, true);
    if (written.bytes != pieces.bytes) {
      std::fprintf(stderr, "large pieces: %s\nsmall pieces: %s\n", printable(written.bytes).c_str(),
                   printable(pieces.bytes).c_str());
    }
    FUZZ_CHECK(written.bytes == pieces.bytes && pieces.finished);
    // Where 24-bit colours are spelled as such, the first ones asked for are named.
    const bool direct =
        s.terminfo ? s.terminal == kDirectTerminal : s.colorFlags.has(ColorFlag::DirectColors);
    if (direct && !s.colorFlags.has(ColorFlag::NoColors) && s.format == UnicodeFormat::Utf8) {
      if (events.firstInk != kNoTrueColor) {
        FUZZ_CHECK(namesTrueColour(written.bytes, "38;2;", events.firstInk));
      }
      if (events.firstPaper != kNoTrueColor) {
        FUZZ_CHECK(namesTrueColour(written.bytes, "48;2;", events.firstPaper));
      }
    }
  }
  if (s.sink == Sink::FillingMemory) {
    // Until the sink fills up the chain works as usual, and afterwards the sink takes
    // nothing more: what it holds is the start of the whole output, as much as fits, and
    // the run fails exactly when not all of it fits.
    Written whole = writeScreen(*screen, s, mapper, Sink::Memory, false);
    FUZZ_CHECK(written.finished == (whole.bytes.size() <= s.smallLimit));
    whole.bytes.resize(std::min<std::size_t>(whole.bytes.size(), s.smallLimit));
    if (written.bytes != whole.bytes) {
      std::fprintf(stderr, "limited: %s\nwhole:   %s\n", printable(written.bytes).c_str(),
                   printable(whole.bytes).c_str());
    }
    FUZZ_CHECK(written.bytes == whole.bytes);
  }
  return 0;
}
