// The whole render path from arbitrary bytes: settings from the first bytes of the input,
// the rest as the input file, read through the DOS text reader, drawn by the interpreter
// and serialised through a colour writer, the Unicode writer and the output buffer.
//
// Input layout (missing bytes read as 0):
//   0    code page id (mod 20)
//   1    MapperFlags
//   2    SerializeFlags
//   3    ColorFlags
//   4    bits 0-1 UnicodeFormat (mod 3), bit 2 terminfo writer, bits 3-5 terminal,
//        bit 6 ignoreEof, bit 7 metadata stream
//   5    bits 0-1 output sink (/dev/null, memory, memory that fills up, /dev/full),
//        bit 2 SAUCE geometry, bits 3-5 reader capacity, bits 6-7 output buffer capacity
//   6-7  width 16..1024 (little endian, mod 1009, plus 16)
//   8    height 1..255
//   9    tab width 1..255, at most the width
//   10   limit of the memory that fills up, in units of 16 bytes
//   11-  the input text
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
#include "output/terminfo_color_writer.hpp"
#include "output/unicode_writer.hpp"
#include "sauce/sauce_record.hpp"
#include "screen/ansi_sys_interpreter.hpp"
#include "screen/screen_serializer.hpp"
#include "screen/virtual_screen.hpp"
#include "stream/buffered_writer.hpp"
#include "stream/dos_text_reader.hpp"

namespace vidtwine::fuzz {
namespace {

// The descriptions compiled from fuzz/terminfo, a name that none has, and one repeated
// twice to fill eight slots.
constexpr std::array<const char*, 8> kTerminals = {
    "vtfuzz-8",    "vtfuzz-8bare",   "vtfuzz-16", "vtfuzz-256",
    "vtfuzz-mono", "vtfuzz-missing", "vtfuzz-8",  "vtfuzz-256",
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
  s.mapperFlags = MapperFlags::fromBits(in.byte() & 0x0F);
  s.serializeFlags = SerializeFlags::fromBits(in.byte() & 0x0F);
  s.colorFlags = ColorFlags::fromBits(in.byte());
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

std::unique_ptr<Stream> openSink(const Settings& s, Sink kind, CaptureSink*& memory) {
  memory = nullptr;
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
      if (full != nullptr) return full;
      return openNull();
    }
  }
  return openNull();
}

/// Serialises `screen` through a fresh output chain into a sink of the given kind; with
/// `unitByUnit` every filter is fed one code unit (below the Unicode writer: one byte) per
/// call. Returns serialize's result; `bytes` receives what reached a memory sink.
std::int32_t writeScreen(VirtualScreen& screen, const Settings& s, const CodepageMapper& mapper,
                         Sink kind, bool unitByUnit, std::string* bytes) {
  CaptureSink* memory = nullptr;
  std::unique_ptr<Stream> sink = openSink(s, kind, memory);
  std::unique_ptr<Stream> chain =
      std::make_unique<BufferedWriter>(std::move(sink), s.bufferCapacity);
  if (unitByUnit) chain = std::make_unique<PieceByPieceWriter>(std::move(chain), 1);
  chain = std::make_unique<UnicodeWriter>(std::move(chain), s.format);
  if (unitByUnit) chain = std::make_unique<PieceByPieceWriter>(std::move(chain), 2);
  if (s.terminfo) {
    ::setenv("TERM", s.terminal, 1);
    chain = TerminfoColorWriter::create(std::move(chain), s.colorFlags);
    // The previous chain is gone, so the one writer slot must be free.
    FUZZ_CHECK(chain != nullptr);
  } else {
    chain = std::make_unique<AnsiColorWriter>(std::move(chain), s.colorFlags);
  }
  if (unitByUnit) chain = std::make_unique<PieceByPieceWriter>(std::move(chain), 2);

  const std::int32_t rows = serialize(screen, *chain, mapper, s.serializeFlags);
  chain->flush(false);
  if (bytes != nullptr && memory != nullptr) *bytes = memory->contents();
  return rows;
}

/// Whether two screens hold the same cells and leave the cursor at the same place.
bool sameScreen(const VirtualScreen& a, const VirtualScreen& b) {
  if (a.usedRows() != b.usedRows() || a.width() != b.width() || a.row() != b.row() ||
      a.column() != b.column()) {
    return false;
  }
  for (std::uint64_t row = 0; row < a.usedRows(); ++row) {
    for (std::uint32_t column = 0; column < a.width(); ++column) {
      if (a.cell(row, column) != b.cell(row, column)) return false;
    }
  }
  return true;
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
  vidtwine::installAbortOnExhaustedMemory();
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
  auto screen = VirtualScreen::create(width, height, tabWidth);
  FUZZ_CHECK(screen != nullptr);

  std::unique_ptr<Stream> metadata;
  if (s.metadata) metadata = std::make_unique<BufferedWriter>(openNull(), 1024);

  const std::int32_t bytesRead = AnsiSysInterpreter::run(*screen, metadata.get(), *input);
  input.reset();
  metadata.reset();
  const std::uint64_t cells = screen->usedRows() * screen->width();
  if (bytesRead >= 0) {
    const std::uint64_t expected = expectedTextLength(text, limit, s.ignoreEof);
    FUZZ_CHECK(static_cast<std::uint64_t>(bytesRead) == std::min(expected, kMaxResult));
    if (cells <= kMaxComparedCells) {
      // The reader must deliver exactly those bytes, whatever its buffer size: the same
      // text handed over directly gives the same screen.
      auto direct = memoryStreamOf(text.first(static_cast<std::size_t>(expected)));
      auto reference = VirtualScreen::create(width, height, tabWidth);
      FUZZ_CHECK(AnsiSysInterpreter::run(*reference, nullptr, *direct) == bytesRead);
      FUZZ_CHECK(sameScreen(*screen, *reference));
    }
  }
  if (cells > kMaxSerializedCells) return 0;

  const CodepageMapper mapper(s.codepage, s.mapperFlags);
  std::string batched;
  const std::int32_t rows = writeScreen(*screen, s, mapper, s.sink, false, &batched);
  if (s.sink == Sink::Null || s.sink == Sink::Memory) {
    // Nothing can fail on the way to these.
    FUZZ_CHECK(static_cast<std::uint64_t>(rows) == std::min(screen->usedRows(), kMaxResult));
  }
  if (cells > kMaxComparedCells) return 0;
  if (s.sink == Sink::Memory) {
    std::string oneByOne;
    writeScreen(*screen, s, mapper, Sink::Memory, true, &oneByOne);
    if (batched != oneByOne) {
      std::fprintf(stderr, "batched:      %s\nunit by unit: %s\n", printable(batched).c_str(),
                   printable(oneByOne).c_str());
    }
    FUZZ_CHECK(batched == oneByOne);
  }
  if (s.sink == Sink::FillingMemory) {
    // Until the sink fills up the chain works as usual, and afterwards the sink takes
    // nothing more: what it holds is the start of the whole output, as much as fits.
    std::string whole;
    writeScreen(*screen, s, mapper, Sink::Memory, false, &whole);
    whole.resize(std::min<std::size_t>(whole.size(), s.smallLimit));
    if (batched != whole) {
      std::fprintf(stderr, "limited: %s\nwhole:   %s\n", printable(batched).c_str(),
                   printable(whole).c_str());
    }
    FUZZ_CHECK(batched == whole);
  }
  return 0;
}
