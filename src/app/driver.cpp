#include "app/driver.hpp"

#include <sys/stat.h>

#include <cstdio>
#include <memory>
#include <string_view>

#include "app/command_line.hpp"
#include "app/config.hpp"
#include "app/finish_output.hpp"
#include "app/process_setup.hpp"
#include "app/test_page.hpp"
#include "codepage/codepage_mapper.hpp"
#include "output/ansi_color_writer.hpp"
#include "output/color_flags.hpp"
#include "output/color_writer.hpp"
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
#include "stream/stream.hpp"

namespace vidtwine {

namespace {

constexpr std::uint64_t kPipeCopyLimit = 4194304;
constexpr std::uint64_t kReaderCapacity = 262144;
constexpr std::uint64_t kOutputCapacity = 262144;
constexpr std::uint64_t kMetadataCapacity = 1024;
constexpr std::int32_t kDefaultWidth = 80;
constexpr std::int32_t kDefaultHeight = 25;
constexpr std::int32_t kDefaultTabWidth = 8;
constexpr std::int32_t kTestPageWidth = 70;
constexpr std::int32_t kSauceDisplayWidth = 80;

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

bool isDirectory(int descriptor) noexcept {
  struct stat info {};
  return ::fstat(descriptor, &info) == 0 && S_ISDIR(info.st_mode);
}

// The objects of one run, released by `cleanUp` in a fixed order: mapper, record,
// interpreter input, output chain, output file, metadata, screen, config.
class Run {
 public:
  int execute(int argc, char** argv);

 private:
  bool openInput();
  bool writeOutput(Mode mode);
  ColorFlags colorFlags(Mode mode) const;
  int cleanUp(int status);

  std::unique_ptr<Config> config_;
  std::unique_ptr<Stream> input_;  // the input file, later the interpreter's input
  std::int64_t inputSize_ = -1;
  std::unique_ptr<SauceRecord> record_;
  bool recordApplies_ = false;  // render mode without -S: the record's values are used
  std::unique_ptr<Stream> metadata_;
  std::unique_ptr<VirtualScreen> screen_;
  std::unique_ptr<OutputFile> outputFile_;
  std::unique_ptr<ColorWriter> output_;  // the chain into `outputFile_`
  std::unique_ptr<CodepageMapper> mapper_;
  InterpreterReport report_;
};

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

int Run::execute(int argc, char** argv) {
  config_ = parseCommandLine(argc, argv);
  if (config_ == nullptr) return 1;
  const Config& c = *config_;
  const Mode mode = modeOf(c);

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
    record_ = readSauce(*input_, inputSize_);
    if (mode != Mode::Render) {
      input_.reset();
      if (record_ == nullptr) {
        printError("%s", "No SAUCE found!\n");
        return cleanUp(1);
      }
    } else {
      input_->seek(SeekOrigin::FromStart, 0);
      const std::int64_t limit = record_ != nullptr ? record_->dataSize() : -1;
      input_ = createDosTextReader(std::move(input_), kReaderCapacity, limit, c.ignoreEof() != 0);
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
  }

  screen_ = VirtualScreen::create(width, height, tabWidth);
  if (screen_ == nullptr) return cleanUp(1);

  if (mode == Mode::SauceDisplay) {
    drawSauce(*screen_, *record_, c.rawComment() != 0);
  } else {
    const Dialect dialect = c.bbs() != 0 ? Dialect::Bbs : Dialect::AnsiSys;
    const std::int32_t bytesRead =
        AnsiSysInterpreter::run(*screen_, metadata_.get(), *input_, dialect, &report_);
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

  auto buffered = std::make_unique<BufferedWriter>(outputFile_->stream(), kOutputCapacity);
  const auto format =
      c.format() >= 0 ? static_cast<UnicodeFormat>(c.format()) : UnicodeFormat::Utf8;
  auto unicode = std::make_unique<UnicodeWriter>(std::move(buffered), format);
  const ColorFlags colors = colorFlags(mode);
  if (c.genericAnsi() != 0) {
    output_ = std::make_unique<AnsiColorWriter>(std::move(unicode), colors);
  } else {
    output_ = TerminfoColorWriter::create(std::move(unicode), colors);
    if (output_ == nullptr) return false;
  }

  CodepageId codepage = 0;
  int euroBit = 0;
  if (mode == Mode::Render && recordApplies_ && record_->codepage() >= 0) {
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
  serializeFlags.set(SerializeFlag::Crlf, c.crlf() != 0);
  serializeFlags.set(SerializeFlag::Bom,
                     c.bom() == 1 || (c.bom() == -1 && (c.format() == 1 || c.format() == 2)));
  serializeFlags.set(SerializeFlag::LtrOverride, c.ltrOverride() != 0);
  serializeFlags.set(SerializeFlag::TrimBlanks, c.defaultColors() != 0);

  const std::int32_t rows = serialize(*screen_, *output_, *mapper_, serializeFlags);
  if (rows < 0) return false;
  if (metadata_ != nullptr) metadata_->printf("m_height=%d\n", rows);
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
  config_.reset();
  return status;
}

}  // namespace

int runDriver(int argc, char** argv) {
  if (!prepareProcess()) return 1;
  Run run;
  return run.execute(argc, argv);
}

}  // namespace vidtwine
