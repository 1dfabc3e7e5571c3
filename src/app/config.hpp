// The settings of one run, as given on the command line.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace vidtwine {

class ConfigWriter;

/// Written only by the command-line parser, read-only afterwards. Texts point into the
/// program's arguments (they outlive the record); every other field is a plain number
/// whose -1 means "not given", left for the driver to resolve.
class Config final {
 public:
  /// The record with every default, as an empty command line gives it.
  Config() noexcept = default;

  /// The input file; nullptr: standard input.
  const char* inputPath() const noexcept { return inputPath_; }
  /// The output file; nullptr: standard output.
  const char* outputPath() const noexcept { return outputPath_; }
  /// The SAUCE fields to print (`-q`); nullptr when none were asked for.
  const char* sauceQuery() const noexcept { return sauceQuery_; }
  /// Tab stop distance 2..255, or -1.
  std::int32_t tabWidth() const noexcept { return tabWidth_; }
  /// Screen width 16..1024, or -1.
  std::int32_t width() const noexcept { return width_; }
  std::int32_t defaultColors() const noexcept { return defaultColors_; }
  std::int32_t ignoreEof() const noexcept { return ignoreEof_; }
  /// The input's code page id, 0 (437) to 19.
  std::int32_t codepage() const noexcept { return codepage_; }
  /// 4 when the code page name itself is a Euro variant, else 0.
  std::int32_t codepageEuro() const noexcept { return codepageEuro_; }
  /// 0 UTF-8, 1 UTF-16 big endian, 2 UTF-16LE, or -1.
  std::int32_t format() const noexcept { return format_; }
  /// -1 automatic, 0 never, 1 always.
  std::int32_t bom() const noexcept { return bom_; }
  std::int32_t colors() const noexcept { return colors_; }
  std::int32_t testPage() const noexcept { return testPage_; }
  std::int32_t crlf() const noexcept { return crlf_; }
  /// -1 automatic, 0 never, 1 always.
  std::int32_t brokenBar() const noexcept { return brokenBar_; }
  std::int32_t ltrOverride() const noexcept { return ltrOverride_; }
  std::int32_t euro() const noexcept { return euro_; }
  std::int32_t intenseColors() const noexcept { return intenseColors_; }
  std::int32_t exactColors() const noexcept { return exactColors_; }
  std::int32_t blink() const noexcept { return blink_; }
  std::int32_t reverse() const noexcept { return reverse_; }
  std::int32_t darkYellow() const noexcept { return darkYellow_; }
  std::int32_t genericAnsi() const noexcept { return genericAnsi_; }
  std::int32_t showSauce() const noexcept { return showSauce_; }
  std::int32_t ignoreSauce() const noexcept { return ignoreSauce_; }
  std::int32_t fullSgr() const noexcept { return fullSgr_; }
  std::int32_t rawComment() const noexcept { return rawComment_; }
  std::int32_t vgaLookalike() const noexcept { return vgaLookalike_; }
  /// Screen height 1..255, or -1.
  std::int32_t height() const noexcept { return height_; }
  std::int32_t metadata() const noexcept { return metadata_; }
  /// 24-bit colours with the exact VGA palette (`--truecolor`).
  std::int32_t trueColor() const noexcept { return trueColor_; }
  /// The input is read as BBS terminals and today's art editors read it (`--bbs`).
  std::int32_t bbs() const noexcept { return bbs_; }
  /// The input format chosen with `--format` (an `InputFormat` value), or -1.
  std::int32_t inputFormat() const noexcept { return inputFormat_; }
  /// 1 when `-c` named the code page.
  std::int32_t codepageGiven() const noexcept { return codepageGiven_; }
  /// An HTML page instead of text with colour sequences (`--html`).
  std::int32_t html() const noexcept { return html_; }
  /// The folder of a batch run (`-O`); nullptr for a single conversion.
  const char* outputDir() const noexcept { return outputDir_; }
  /// Conversions at a time in a batch run 1..1024, or -1 (one per processor).
  std::int32_t jobs() const noexcept { return jobs_; }
  /// Every input file given; the first is also `inputPath`.
  std::span<const char* const> inputPaths() const noexcept { return inputPaths_; }

 private:
  // The parser's private access; nothing else can change a record.
  friend class ConfigWriter;

  const char* inputPath_ = nullptr;
  const char* outputPath_ = nullptr;
  const char* sauceQuery_ = nullptr;
  std::int32_t tabWidth_ = -1;
  std::int32_t width_ = -1;
  std::int32_t defaultColors_ = 0;
  std::int32_t ignoreEof_ = 0;
  std::int32_t codepage_ = 0;
  std::int32_t codepageEuro_ = 0;
  std::int32_t format_ = -1;
  std::int32_t bom_ = -1;
  std::int32_t colors_ = 1;
  std::int32_t testPage_ = 0;
  std::int32_t crlf_ = 0;
  std::int32_t brokenBar_ = -1;
  std::int32_t ltrOverride_ = 0;
  std::int32_t euro_ = 0;
  std::int32_t intenseColors_ = 1;
  std::int32_t exactColors_ = 0;
  std::int32_t blink_ = 0;
  std::int32_t reverse_ = 0;
  std::int32_t darkYellow_ = 0;
  std::int32_t genericAnsi_ = 0;
  std::int32_t showSauce_ = 0;
  std::int32_t ignoreSauce_ = 0;
  std::int32_t fullSgr_ = 0;
  std::int32_t rawComment_ = 0;
  std::int32_t vgaLookalike_ = 1;
  std::int32_t height_ = -1;
  std::int32_t metadata_ = 0;
  std::int32_t trueColor_ = 0;
  std::int32_t bbs_ = 0;
  std::int32_t inputFormat_ = -1;
  std::int32_t codepageGiven_ = 0;
  std::int32_t html_ = 0;
  const char* outputDir_ = nullptr;
  std::int32_t jobs_ = -1;
  std::vector<const char*> inputPaths_;
};

}  // namespace vidtwine
