// The SAUCE metadata at the end of an art file: the record, its comment block, and the
// values the rest of the program derives from them.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "codepage/codepage_names.hpp"
#include "stream/stream.hpp"

namespace vidtwine {

/// How the code page of a record is known.
enum class CodepageSource : std::uint8_t {
  Default = 0,   ///< no font name was looked at
  Implicit = 1,  ///< an "IBM " font without a code page: 437
  Explicit = 2,  ///< the font name ends in the code page
  Other = 3,     ///< a font that is not an "IBM " font
};

class SauceRecord;

/// The record and comment block at the end of `stream`, checked, or none when there is no
/// valid SAUCE. `size` is the stream's size; a negative value has it asked of the stream.
/// The stream's position afterwards is wherever the last read ended.
std::unique_ptr<SauceRecord> readSauce(Stream& stream, std::int64_t size);

/// Validated SAUCE metadata. Texts are the file's code-page bytes, never converted; the
/// views returned live as long as the record. Created complete by `readSauce`, never changed.
class SauceRecord final {
 public:
  SauceRecord(const SauceRecord&) = delete;
  SauceRecord& operator=(const SauceRecord&) = delete;

  /// Bytes in front of the comment block, or of the record without comments.
  std::int64_t dataSize() const noexcept { return dataSize_; }
  std::optional<std::string_view> title() const noexcept { return text(title_); }
  std::optional<std::string_view> author() const noexcept { return text(author_); }
  std::optional<std::string_view> group() const noexcept { return text(group_); }
  /// Seconds since the epoch of the day at 00:00 local time, or -1 when missing or invalid.
  std::int64_t date() const noexcept { return date_; }
  int commentCount() const noexcept { return static_cast<int>(comments_.size()); }
  /// The comment line (empty for a blank one), or none when the index is out of range.
  std::optional<std::string_view> comment(std::int32_t index) const noexcept;
  /// Screen lines the font implies (50, 43 or 25), or -1.
  int fontLines() const noexcept { return fontLines_ == 0 ? -1 : fontLines_; }

  // Values that depend on the data and file type (untyped, character text, unsupported).

  /// A name, or a description in angle brackets.
  std::string_view typeName() const noexcept;
  /// Characters per line, or -1.
  int width() const noexcept;
  /// Number of lines, or -1.
  int height() const noexcept;
  /// 1 bright backgrounds, 0 blinking, -1 not stated.
  int backgroundMode() const noexcept;
  /// 0 8-pixel font, 1 9-pixel font, -1 not stated.
  int letterSpacing() const noexcept;
  /// 0 rectangular pixels, 1 square pixels, -1 not stated.
  int aspectRatio() const noexcept;
  /// The font name (without its code page), a description, or none.
  std::optional<std::string_view> font() const noexcept;
  /// The code page's three characters, a description, or none.
  std::optional<std::string_view> codepageText() const noexcept;
  /// The code page named by the font, or -1.
  CodepageId codepage() const noexcept;
  /// 4 (the mapper's euro bit) for a font code page that has the euro sign, else 0.
  int codepageEuro() const noexcept;

  std::uint16_t tInfo1() const noexcept { return tInfo1_; }
  std::uint16_t tInfo2() const noexcept { return tInfo2_; }
  std::uint8_t dataType() const noexcept { return dataType_; }
  std::uint8_t fileType() const noexcept { return fileType_; }
  std::uint8_t tFlags() const noexcept { return tFlags_; }
  CodepageSource codepageSource() const noexcept { return codepageSource_; }

 private:
  friend std::unique_ptr<SauceRecord> readSauce(Stream& stream, std::int64_t size);

  enum class TypeClass : std::uint8_t { Untyped, CharacterText, Unsupported };

  SauceRecord() = default;

  static std::optional<std::string_view> text(const std::string& field) noexcept {
    if (field.empty()) return std::nullopt;
    return std::string_view(field);
  }
  TypeClass typeClass() const noexcept;
  void analyseFontName();

  std::string title_;
  std::string author_;
  std::string group_;
  std::string fontName_;
  std::string fontCodepage_;
  std::vector<std::string> comments_;
  std::int64_t dataSize_ = 0;
  std::int64_t date_ = -1;
  std::uint16_t tInfo1_ = 0;
  std::uint16_t tInfo2_ = 0;
  std::uint8_t dataType_ = 0;
  std::uint8_t fileType_ = 0;
  std::uint8_t tFlags_ = 0;
  CodepageSource codepageSource_ = CodepageSource::Default;
  std::uint8_t fontLines_ = 0;
};

}  // namespace vidtwine
