#include "app/driver.hpp"

#include <sys/stat.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <ctime>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "app/batch_run.hpp"
#include "app/command_line.hpp"
#include "app/config.hpp"
#include "app/finish_output.hpp"
#include "app/process_setup.hpp"
#include "app/test_page.hpp"
#include "codepage/codepage_mapper.hpp"
#include "codepage/codepage_names.hpp"
#include "formats/artworx_loader.hpp"
#include "formats/avatar_loader.hpp"
#include "formats/binary_text_loader.hpp"
#include "formats/format_detection.hpp"
#include "formats/ice_draw_loader.hpp"
#include "formats/pcboard_loader.hpp"
#include "formats/tundra_draw_loader.hpp"
#include "formats/xbin_loader.hpp"
#include "output/ansi_color_writer.hpp"
#include "output/color_flags.hpp"
#include "output/color_writer.hpp"
#include "output/html_writer.hpp"
#include "output/screen_serializer.hpp"
#include "output/terminfo_color_writer.hpp"
#include "output/unicode_writer.hpp"
#include "sauce/sauce_display.hpp"
#include "sauce/sauce_query.hpp"
#include "sauce/sauce_record.hpp"
#include "screen/ansi_sys_interpreter.hpp"
#include "screen/virtual_screen.hpp"
#include "stream/buffered_writer.hpp"
#include "stream/dos_text_reader.hpp"
#include "stream/output_file.hpp"
#include "stream/page_buffer.hpp"
#include "stream/stream.hpp"

namespace vidtwine {

namespace {

constexpr std::uint64_t kPipeCopyLimit = 4194304;
// No larger than the interpreter's reads, which then go straight into its own buffer and
// leave this one untouched: every page touched for the first time is a fault (a reader
// buffer of 256 KiB made whole runs 3% slower).
constexpr std::uint64_t kReaderCapacity = 65536;
// The output is written in pieces of this size, and an output smaller than it in one piece.
constexpr std::uint64_t kOutputCapacity = 262144;
constexpr std::uint64_t kMetadataCapacity = 1024;
// An input at least this large has the run's fixed-size buffers cut from one block of this
// size, a huge page where the system allows, so that memory stays within the input's own.
constexpr std::size_t kRunPages = 2 * 1024 * 1024;
// The pieces in which such an input is read: larger than the reader's buffer, so that they
// go straight in; four times the size of the pieces of short inputs (2 to 3.5% less time
// than 64 KiB, where no page costs a fault; 1 MiB was slower again).
constexpr std::size_t kRunReadBytes = 262144;
constexpr std::int32_t kDefaultWidth = 80;
constexpr std::int32_t kDefaultHeight = 25;
constexpr std::int32_t kDefaultTabWidth = 8;
constexpr std::int32_t kTestPageWidth = 70;
constexpr std::int32_t kSauceDisplayWidth = 80;
/// The usual width of binary text that has no metadata.
constexpr std::int32_t kBinaryTextWidth = 160;
constexpr std::size_t kSignatureBytes = 16;
constexpr std::uint8_t kSauceCharacter = 1;
constexpr std::uint8_t kSauceBinaryText = 5;

// Fonts of Amiga computers, whose text is ISO 8859-1 rather than an IBM code page.
constexpr std::string_view kAmigaFonts[] = {
    "Amiga Topaz 1",    "Amiga Topaz 1+",    "Amiga Topaz 2",      "Amiga Topaz 2+",
    "Amiga P0T-NOoDLE", "Amiga MicroKnight", "Amiga MicroKnight+", "Amiga mOsOul",
};

enum class Mode { Render, TestPage, SauceDisplay, SauceQuery };

Mode modeOf(const Config& config) noexcept {
  if (config.testPage() != 0) return Mode::TestPage;
  if (config.sauceQuery() != nullptr) return Mode::SauceQuery;
  if (config.showSauce() != 0) return Mode::SauceDisplay;
  return Mode::Render;
}

void printError(const char* format, const char* text) {
  auto err = FileStream::openStandard(2);
  err->printf(format, text);
}

/// "Error reading `name': what.", or for standard input "Error reading standard input: what."
void printLoadError(const char* path, const char* what) {
  auto err = FileStream::openStandard(2);
  if (path != nullptr) {
    err->printf("Error reading `%s': %s.\n", path, what);
  } else {
    err->printf("Error reading standard input: %s.\n", what);
  }
}

bool isDirectory(int descriptor) noexcept {
  struct stat info {};
  return ::fstat(descriptor, &info) == 0 && S_ISDIR(info.st_mode);
}

// The objects of one run, released by `cleanUp` in a fixed order: mapper, record,
// interpreter input, output chain, output file, metadata, screen, config.
class Run {
 public:
  int execute(std::unique_ptr<Config> config);

 private:
  bool openInput();
  /// Chooses the loader and, for binary formats, reads the data before the record.
  void chooseFormat();
  /// The screen width for the chosen format, or -1 after an error message.
  std::int32_t formatWidth(std::int32_t ansiWidth);
  /// Draws the input with the chosen loader; false after an error message.
  bool load();
  bool writeOutput(Mode mode);
  ColorFlags colorFlags(Mode mode) const;
  /// What the HTML page says besides the art.
  HtmlPageInfo pageInfo(Mode mode) const;
  int cleanUp(int status);

  /// Cuts `runPages_` into the buffers of a run over a large input.
  void takeRunPages();
  /// The interpreter's pieces of a smaller input, the pages taken that the input fills.
  void takeReadPages();

  std::unique_ptr<Config> config_;
  /// Before the objects that use its buffers, so that it outlives them.
  PageBuffer runPages_;
  /// A smaller input's pieces, where `runPages_` is not taken.
  std::unique_ptr<std::byte[]> readPieces_;
  std::span<std::byte> readBuffer_;    // the interpreter's pieces of input
  std::span<std::byte> outputBuffer_;  // the output's buffer
  std::span<std::byte> styleTable_;    // the colour writer's kept spellings
  std::span<std::byte> firstRows_;     // the screen's first rows
  std::unique_ptr<Stream> input_;      // the input file, later the interpreter's input
  std::int64_t inputSize_ = -1;
  std::int64_t readSize_ = 0;  // the input's size, piped input's too
  std::unique_ptr<SauceRecord> record_;
  bool recordApplies_ = false;  // render mode without -S: the record's values are used
  std::unique_ptr<Stream> metadata_;
  std::unique_ptr<VirtualScreen> screen_;
  std::unique_ptr<OutputFile> outputFile_;
  std::unique_ptr<TextEventSink> output_;  // the chain into `outputFile_`
  std::unique_ptr<CodepageMapper> mapper_;
  InterpreterReport report_;
  InputFormat format_ = InputFormat::Ansi;
  /// The bytes of the other binary formats: all before the SAUCE block, 0x1A included,
  /// read into `dataBytes_`.
  PageBuffer dataBytes_;
  std::span<const std::uint8_t> data_;
  /// Binary text's bytes before the SAUCE block, read from `input_` as they are drawn,
  /// and whether a last 0x1A in front of the block is dropped (-S drops the record later).
  std::uint64_t binarySize_ = 0;
  bool binaryEndMark_ = false;
  LoadReport loadReport_;
};

void Run::takeRunPages() {
  // Each page of a buffer touched for the first time costs a fault, and on virtual
  // machines faults are dear: the input's pieces, the output buffer, the kept colour
  // spellings and the first rows took about 120 of them, and a huge page takes one (with
  // the larger pieces of input: ANSI art 9 to 13% faster, binary text 14%, measured).
  runPages_ = PageBuffer(kRunPages);
  std::span<std::byte> pages(runPages_.data(), runPages_.size());
  const auto cut = [&pages](std::size_t bytes) {
    const std::span<std::byte> piece = pages.first(bytes);
    pages = pages.subspan(bytes);
    return piece;
  };
  readBuffer_ = cut(kRunReadBytes);
  outputBuffer_ = cut(kOutputCapacity);
  styleTable_ = cut(ColorWriter::kStyleTableBytes);
  firstRows_ = pages;
}

void Run::takeReadPages() {
  // As large as the reader's buffer, so that reads go straight into it; only the pages the
  // input fills are taken, in one call rather than a fault each (9 of them for a 36 KB
  // file, 2 to 3% of its time). From the heap, which batch runs reuse from file to file.
  readPieces_ = std::make_unique_for_overwrite<std::byte[]>(kReaderCapacity);
  prefault(readPieces_.get(),
           static_cast<std::size_t>(std::min<std::int64_t>(readSize_, kReaderCapacity)));
  readBuffer_ = {readPieces_.get(), kReaderCapacity};
}

bool Run::openInput() {
  const char* path = config_->inputPath();
  std::unique_ptr<FileStream> file =
      path != nullptr ? FileStream::openPath(path, OpenMode::Read) : FileStream::openStandard(0);
  if (file == nullptr || (path != nullptr && isDirectory(file->fileDescriptor()))) {
    printError("Error opening `%s' for reading.\n", path);
    return false;
  }
  inputSize_ = file->size();
  if (inputSize_ >= 0) {
    input_ = std::move(file);
    return true;
  }
  // Pipes and terminals cannot be rewound: read them whole first, up to a limit.
  auto copy = copyToMemory(*file, kPipeCopyLimit);
  const bool readFailed = file->status() == StreamStatus::Error;
  file.reset();
  if (readFailed) {
    if (path != nullptr) {
      printError("Error opening `%s' for reading.\n", path);
    } else {
      printError("%s", "Error reading standard input.\n");
    }
    return false;
  }
  if (copy == nullptr) return false;
  input_ = std::move(copy);
  return true;
}

ColorFlags Run::colorFlags(Mode mode) const {
  const Config& c = *config_;
  const bool recordBlinks = record_ != nullptr && (recordApplies_ || mode == Mode::SauceDisplay) &&
                            record_->backgroundMode() == 0;
  // An iCE colour switch in the art itself outranks the record; -k outranks both.
  const bool artBlinks = report_.iceColors >= 0 ? report_.iceColors == 0 : recordBlinks;
  const bool blink = artBlinks || c.blink() != 0;
  ColorFlags flags;
  flags.set(ColorFlag::NoColors, c.colors() == 0);
  flags.set(ColorFlag::DefaultColors, c.defaultColors() != 0);
  flags.set(ColorFlag::BlinkForBrightBg, blink);
  flags.set(ColorFlag::ReverseForBrightBg, c.reverse() != 0 && !blink);
  flags.set(ColorFlag::IntenseColors, c.intenseColors() != 0);
  flags.set(ColorFlag::ExactColors, c.exactColors() != 0);
  flags.set(ColorFlag::DarkYellow, c.darkYellow() != 0);
  flags.set(ColorFlag::FullSgr, c.fullSgr() != 0);
  flags.set(ColorFlag::DirectColors, c.trueColor() != 0);
  return flags;
}

int Run::execute(std::unique_ptr<Config> config) {
  config_ = std::move(config);
  if (config_ == nullptr) return 1;
  const Config& c = *config_;
  const Mode mode = modeOf(c);

  bool largeInput = false;
  if (mode == Mode::TestPage) {
    auto page = MemoryStream::create(kTestPageLimit);
    writeTestPage(*page, c.codepage());
    input_ = std::move(page);
    // The page has no SAUCE record: a query fails silently, the display says why.
    if (c.sauceQuery() != nullptr) return cleanUp(1);
    if (c.showSauce() != 0) {
      printError("%s", "No SAUCE found!\n");
      return cleanUp(1);
    }
  } else {
    if (!openInput()) return cleanUp(1);
    // Piped input was read whole already: its size is known too.
    readSize_ = input_->size();
    largeInput = readSize_ >= static_cast<std::int64_t>(kRunPages);
    record_ = readSauce(*input_, inputSize_);
    if (mode != Mode::Render) {
      input_.reset();
      if (record_ == nullptr) {
        printError("%s", "No SAUCE found!\n");
        return cleanUp(1);
      }
    } else {
      chooseFormat();
      if (!isBinaryFormat(format_)) {
        const std::int64_t limit = record_ != nullptr ? record_->dataSize() : -1;
        // Read through a buffer rather than mapped, as binary data is (see `chooseFormat`).
        input_->seek(SeekOrigin::FromStart, 0);
        input_ = createDosTextReader(std::move(input_), kReaderCapacity, limit, c.ignoreEof() != 0);
      }
      // With -S the SAUCE block still stays out of the text, but nothing else is used.
      if (c.ignoreSauce() != 0) record_.reset();
      recordApplies_ = record_ != nullptr;
    }
  }

  if (mode == Mode::SauceQuery) {
    outputFile_ = OutputFile::standardOutput();
    return cleanUp(
        querySauce(*record_, c.sauceQuery(), c.crlf() != 0, outputFile_->stream()) < 0 ? 1 : 0);
  }

  // Geometry: SAUCE values before options before the defaults.
  std::int32_t width = kDefaultWidth;
  std::int32_t height = kDefaultHeight;
  if (mode == Mode::TestPage) {
    width = kTestPageWidth;
  } else {
    if (mode == Mode::SauceDisplay) {
      width = kSauceDisplayWidth;
    } else if (recordApplies_ && record_->width() >= 0) {
      width = record_->width();
    } else if (c.width() >= 0) {
      width = c.width();
    }
    if (mode == Mode::Render) {
      width = formatWidth(width);
      if (width < 0) return cleanUp(1);
    }
    if (record_ != nullptr && record_->fontLines() >= 0) {
      height = record_->fontLines();
    } else if (c.height() >= 0) {
      height = c.height();
    }
  }
  std::int32_t tabWidth = c.tabWidth() >= 0 ? c.tabWidth() : kDefaultTabWidth;
  if (tabWidth >= width) tabWidth = width;

  if (c.metadata() != 0) {
    metadata_ = std::make_unique<BufferedWriter>(FileStream::openStandard(2), kMetadataCapacity);
    metadata_->printf("m_setwidth=%d\n", width);
    metadata_->printf("m_setheight=%d\n", height);
    if (mode == Mode::Render && format_ != InputFormat::Ansi) {
      const std::string_view name = inputFormatName(format_);
      metadata_->printf("m_format=%.*s\n", static_cast<int>(name.size()), name.data());
    }
  }

  if (mode == Mode::Render && largeInput) {
    takeRunPages();
  } else if (mode == Mode::Render && format_ == InputFormat::Ansi && readSize_ > 0) {
    takeReadPages();
  }
  screen_ = VirtualScreen::create(width, height, tabWidth, firstRows_);
  if (screen_ == nullptr) return cleanUp(1);

  if (mode == Mode::SauceDisplay) {
    drawSauce(*screen_, *record_, c.rawComment() != 0);
  } else if (format_ != InputFormat::Ansi) {
    if (!load()) return cleanUp(1);
  } else {
    const Dialect dialect = c.bbs() != 0 ? Dialect::Bbs : Dialect::AnsiSys;
    const std::int32_t bytesRead =
        AnsiSysInterpreter::run(*screen_, metadata_.get(), *input_, dialect, &report_, readBuffer_);
    // The input is closed before any output is opened, so -o may name the input file.
    input_.reset();
    if (bytesRead < 0) return cleanUp(1);
    if (bytesRead == 0 && metadata_ != nullptr) {
      discard(metadata_.get());
      return cleanUp(1);
    }
  }

  return cleanUp(writeOutput(mode) ? 0 : 1);
}

bool Run::writeOutput(Mode mode) {
  const Config& c = *config_;
  const char* path = c.outputPath();
  outputFile_ = path != nullptr ? OutputFile::open(path) : OutputFile::standardOutput();
  if (outputFile_ == nullptr) {
    printError("Error opening `%s' for writing.\n", path);
    return false;
  }

  auto buffered = outputBuffer_.empty()
                      ? std::make_unique<BufferedWriter>(outputFile_->stream(), kOutputCapacity)
                      : std::make_unique<BufferedWriter>(outputFile_->stream(), outputBuffer_);
  // A page is always UTF-8.
  const auto format = c.format() >= 0 && c.html() == 0 ? static_cast<UnicodeFormat>(c.format())
                                                       : UnicodeFormat::Utf8;
  ColorFlags colors = colorFlags(mode);
  if (c.html() != 0) {
    // A page shows the VGA itself: attribute bit 7 blinks unless the art asks for iCE
    // colours (or -v does), whatever a terminal would be given.
    const bool recordIce = record_ != nullptr && (recordApplies_ || mode == Mode::SauceDisplay) &&
                           record_->backgroundMode() == 1;
    const bool ice = report_.iceColors >= 0 ? report_.iceColors == 1 : recordIce;
    colors.set(ColorFlag::BlinkForBrightBg, c.blink() != 0 || (!ice && c.reverse() == 0));
    auto unicode = std::make_unique<UnicodeWriter>(std::move(buffered), format);
    output_ = std::make_unique<HtmlWriter>(std::move(unicode), colors, pageInfo(mode));
  } else {
    std::unique_ptr<ColorWriter> writer;
    if (c.genericAnsi() != 0) {
      writer = std::make_unique<AnsiColorWriter>(std::move(buffered), format, colors);
    } else {
      writer = TerminfoColorWriter::create(std::move(buffered), format, colors);
      if (writer == nullptr) return false;
    }
    writer->keepStylesIn(styleTable_);
    writer->sizeStylesFor(static_cast<std::uint64_t>(std::max<std::int64_t>(readSize_, 0)));
    output_ = std::move(writer);
  }

  CodepageId codepage = 0;
  int euroBit = 0;
  const auto font = mode == Mode::Render && recordApplies_ ? record_->font() : std::nullopt;
  const bool amigaFont = font && std::find(std::begin(kAmigaFonts), std::end(kAmigaFonts), *font) !=
                                     std::end(kAmigaFonts);
  if (amigaFont && c.codepageGiven() == 0) {
    codepage = codepageByName("819");
  } else if (mode == Mode::Render && recordApplies_ && record_->codepage() >= 0) {
    codepage = record_->codepage();
    euroBit = record_->codepageEuro();
  } else if (mode != Mode::SauceDisplay) {
    codepage = c.codepage();
    euroBit = c.codepageEuro();
  }
  MapperFlags mapperFlags;
  mapperFlags.set(MapperFlag::PlainBar, c.brokenBar() == 0);
  mapperFlags.set(MapperFlag::BrokenBar, c.brokenBar() == 1);
  mapperFlags.set(MapperFlag::Euro, c.euro() != 0 || euroBit != 0);
  mapperFlags.set(MapperFlag::VgaLookalike, c.vgaLookalike() != 0);
  mapper_ = std::make_unique<CodepageMapper>(codepage, mapperFlags);

  SerializeFlags serializeFlags;
  // Line ends, byte order marks and direction marks are the page's own business.
  const bool text = c.html() == 0;
  serializeFlags.set(SerializeFlag::Crlf, text && c.crlf() != 0);
  serializeFlags.set(
      SerializeFlag::Bom,
      text && (c.bom() == 1 || (c.bom() == -1 && (c.format() == 1 || c.format() == 2))));
  serializeFlags.set(SerializeFlag::LtrOverride, text && c.ltrOverride() != 0);
  serializeFlags.set(SerializeFlag::TrimBlanks, c.defaultColors() != 0);
  serializeFlags.set(SerializeFlag::NoStyles, c.colors() == 0);

  const std::int32_t rows = serialize(*screen_, *output_, *mapper_, serializeFlags);
  if (rows < 0) return false;
  if (metadata_ != nullptr) metadata_->printf("m_height=%d\n", rows);
  return true;
}

HtmlPageInfo Run::pageInfo(Mode mode) const {
  HtmlPageInfo info;
  info.columns = static_cast<std::int32_t>(screen_->width());
  const char* path = config_->inputPath();
  if (mode == Mode::TestPage) {
    info.fallbackTitle = u"vidtwine test page";
  } else if (path != nullptr) {
    const std::string_view name = std::string_view(path).substr(
        std::string_view(path).find_last_of('/') == std::string_view::npos
            ? 0
            : std::string_view(path).find_last_of('/') + 1);
    info.fallbackTitle.assign(name.begin(), name.end());
    // File names are mostly ASCII; other bytes become the replacement character rather
    // than guessed characters.
    for (char16_t& unit : info.fallbackTitle)
      if (unit >= 0x80) unit = u'\uFFFD';
  }
  if (record_ == nullptr || !(recordApplies_ || mode == Mode::SauceDisplay)) return info;
  // The record's texts are in code page 437, as a SAUCE query reads them.
  const CodepageMapper sauceMapper(0, MapperFlags(MapperFlag::PlainBar));
  const auto mapped = [&](std::optional<std::string_view> bytes) {
    std::u16string units;
    if (!bytes) return units;
    for (const char byte : *bytes)
      units.push_back(static_cast<char16_t>(sauceMapper.map(static_cast<std::uint8_t>(byte))));
    while (!units.empty() && units.back() == u' ')
      units.pop_back();
    return units;
  };
  info.title = mapped(record_->title());
  info.author = mapped(record_->author());
  info.group = mapped(record_->group());
  // The record's date is a time stamp, read as the SAUCE query shows it.
  if (const std::int64_t date = record_->date(); date != -1) {
    const auto time = static_cast<std::time_t>(date);
    char text[16] = "";
    if (const std::tm* local = std::localtime(&time))
      if (std::strftime(text, sizeof text, "%Y-%m-%d", local) != 0) info.date = text;
  }
  for (int index = 0; index < record_->commentCount(); ++index)
    info.comment.push_back(mapped(record_->comment(index)));
  return info;
}

void Run::chooseFormat() {
  const Config& c = *config_;
  std::array<std::uint8_t, kSignatureBytes> head{};
  input_->seek(SeekOrigin::FromStart, 0);
  const std::uint64_t got = input_->read(head.data(), head.size());
  FormatClues clues;
  if (c.inputFormat() >= 0) clues.chosen = static_cast<InputFormat>(c.inputFormat());
  if (record_ != nullptr && c.ignoreSauce() == 0) {
    clues.sauceType = std::pair{record_->dataType(), record_->fileType()};
  }
  clues.head = {head.data(), static_cast<std::size_t>(got)};
  if (c.inputPath() != nullptr) clues.path = c.inputPath();
  format_ = detectFormat(clues);
  // `--bbs` is a dialect of ANSI text: the driver keeps its own path for both.
  if (format_ == InputFormat::Bbs) format_ = InputFormat::Ansi;
  if (!isBinaryFormat(format_)) return;

  // Binary data ends only at the record: 0x1A is a character or an attribute here.
  std::int64_t size = input_->size();
  if (record_ != nullptr && record_->dataSize() < size) size = record_->dataSize();
  input_->seek(SeekOrigin::FromStart, 0);
  const auto wanted = static_cast<std::size_t>(size > 0 ? size : 0);
  // Binary text is drawn as it is read, in blocks.
  if (format_ == InputFormat::Bin) {
    binarySize_ = wanted;
    binaryEndMark_ = record_ != nullptr;
    return;
  }
  // Read, not mapped: on the virtual machines measured, the page faults of a mapping cost
  // more than the copy (binary text 10% and ANSI art 5% slower).
  dataBytes_ = PageBuffer(wanted);
  data_ = {reinterpret_cast<const std::uint8_t*>(dataBytes_.data()),
           static_cast<std::size_t>(input_->read(dataBytes_.data(), wanted))};
  // The end-of-file byte that goes in front of a SAUCE record is no part of the art.
  if (record_ != nullptr && !data_.empty() && data_.back() == 0x1A)
    data_ = data_.first(data_.size() - 1);
  // The input is closed before any output is opened, so -o may name the input file.
  input_.reset();
}

std::int32_t Run::formatWidth(std::int32_t ansiWidth) {
  const Config& c = *config_;
  // The record's values for types it does not describe in general.
  const auto sauceWidth = [&](std::uint8_t dataType) {
    if (!recordApplies_ || record_->dataType() != dataType) return -1;
    if (dataType == kSauceBinaryText) return 2 * record_->fileType();
    return record_->tInfo1() != 0 ? int{record_->tInfo1()} : -1;
  };
  const auto orOption = [&](std::int32_t fromRecord, std::int32_t fallback) {
    if (fromRecord > 0) return fromRecord;
    return c.width() >= 0 ? c.width() : fallback;
  };
  switch (format_) {
    case InputFormat::Bin:
      return orOption(sauceWidth(kSauceBinaryText), kBinaryTextWidth);
    case InputFormat::XBin: {
      XBinHeader header;
      if (const LoadError error = XBinLoader::probe(data_, header)) {
        printLoadError(c.inputPath(), error);
        return -1;
      }
      return static_cast<std::int32_t>(header.width);
    }
    case InputFormat::Adf:
      return static_cast<std::int32_t>(ArtworxLoader::kWidth);
    case InputFormat::Idf: {
      std::uint32_t width = 0;
      if (const LoadError error = IceDrawLoader::probe(data_, width)) {
        printLoadError(c.inputPath(), error);
        return -1;
      }
      return static_cast<std::int32_t>(width);
    }
    case InputFormat::Tnd:
      return orOption(sauceWidth(kSauceCharacter),
                      static_cast<std::int32_t>(TundraDrawLoader::kDefaultWidth));
    case InputFormat::Pcboard:
    case InputFormat::Avatar:
      return orOption(sauceWidth(kSauceCharacter), ansiWidth);
    default:
      return ansiWidth;
  }
}

bool Run::load() {
  const Config& c = *config_;
  LoadError error = nullptr;
  switch (format_) {
    case InputFormat::Bin:
      error = BinaryTextLoader::load(*screen_, *input_, binarySize_, binaryEndMark_, readBuffer_);
      break;
    case InputFormat::XBin:
      error = XBinLoader::load(*screen_, data_, loadReport_);
      break;
    case InputFormat::Adf:
      error = ArtworxLoader::load(*screen_, data_, loadReport_);
      break;
    case InputFormat::Idf:
      error = IceDrawLoader::load(*screen_, data_, loadReport_);
      break;
    case InputFormat::Tnd:
      error = TundraDrawLoader::load(*screen_, data_, loadReport_);
      break;
    case InputFormat::Pcboard:
      error = PcboardLoader::load(*screen_, metadata_.get(), *input_, report_);
      break;
    case InputFormat::Avatar:
      error = AvatarLoader::load(*screen_, metadata_.get(), *input_, report_);
      break;
    default:
      break;
  }
  input_.reset();
  data_ = {};
  dataBytes_ = PageBuffer();
  if (error != nullptr) {
    printLoadError(c.inputPath(), error);
    return false;
  }
  if (loadReport_.iceColors >= 0) {
    report_.iceColors = loadReport_.iceColors;
  } else if (report_.iceColors < 0 && recordApplies_ &&
             (record_->dataType() == kSauceBinaryText || record_->dataType() == kSauceCharacter)) {
    // The record's iCE flag, for the types whose flags it does not describe in general.
    report_.iceColors = record_->tFlags() & 0x01;
  }
  if (metadata_ != nullptr && loadReport_.embeddedFont) metadata_->putString("m_font=embedded\n");
  return true;
}

int Run::cleanUp(int status) {
  mapper_.reset();
  record_.reset();
  input_.reset();
  if (output_ != nullptr) {
    // The last piece of the output is written only now; if it cannot be written the run
    // has failed, it must not claim success.
    if (!output_->finish()) status = 1;
    output_.reset();
  }
  // A file output replaces the old file only now, and only after a complete run.
  if (outputFile_ != nullptr && !finishOutput(*outputFile_, status == 0)) status = 1;
  outputFile_.reset();
  if (metadata_ != nullptr) {
    // Lines a script asked for that cannot be written fail the run.
    if (metadata_->flush(false) < 0 || metadata_->status() != StreamStatus::Ok) status = 1;
    metadata_.reset();
  }
  screen_.reset();
  runPages_ = PageBuffer();
  config_.reset();
  return status;
}

}  // namespace

int runDriver(int argc, char** argv) {
  if (!prepareProcess()) return 1;
  std::unique_ptr<Config> config = parseCommandLine(argc, argv);
  if (config == nullptr) return 1;
  if (config->outputDir() != nullptr) {
    return runBatch(*config, [](std::unique_ptr<Config> item) {
      Run run;
      return run.execute(std::move(item));
    });
  }
  Run run;
  return run.execute(std::move(config));
}

}  // namespace vidtwine
