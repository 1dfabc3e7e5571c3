#include "sauce/sauce_record.hpp"

#include <algorithm>
#include <array>
#include <cstring>
#include <ctime>

namespace vidtwine {

namespace {

// Field offsets and sizes of the 128-byte record, from the published SAUCE 00 layout.
constexpr std::int64_t kRecordSize = 128;
constexpr std::size_t kIdOffset = 0;
constexpr std::string_view kIdAndVersion = "SAUCE00";
constexpr std::size_t kTitleOffset = 7;
constexpr std::size_t kTitleSize = 35;
constexpr std::size_t kAuthorOffset = 42;
constexpr std::size_t kAuthorSize = 20;
constexpr std::size_t kGroupOffset = 62;
constexpr std::size_t kGroupSize = 20;
constexpr std::size_t kDateOffset = 82;
constexpr std::size_t kDataTypeOffset = 94;
constexpr std::size_t kFileTypeOffset = 95;
constexpr std::size_t kTInfo1Offset = 96;
constexpr std::size_t kTInfo2Offset = 98;
constexpr std::size_t kCommentsOffset = 104;
constexpr std::size_t kTFlagsOffset = 105;
constexpr std::size_t kTInfoSOffset = 106;
constexpr std::size_t kTInfoSSize = 22;

// The comment block in front of the record: "COMNT" and lines of 64 bytes.
constexpr std::string_view kCommentId = "COMNT";
constexpr std::size_t kCommentLineSize = 64;

constexpr std::uint8_t kDataTypeNone = 0;
constexpr std::uint8_t kDataTypeCharacter = 1;
constexpr std::uint8_t kLastCharacterFileType = 2;  // ASCII 0, ANSi 1, ANSiMation 2

// Font names that end in a code page: one of these prefixes and exactly three characters.
constexpr std::array<std::string_view, 5> kCodepageFontPrefixes = {
    "IBM VGA ", "IBM VGA50 ", "IBM VGA25G ", "IBM EGA ", "IBM EGA43 ",
};

std::uint16_t readLittleEndian16(const unsigned char* bytes) noexcept {
  return static_cast<std::uint16_t>(bytes[0] | (bytes[1] << 8));
}

/// Cleans a text field in place and returns its length: the field ends at the first NUL,
/// control bytes that would move a cursor become spaces (and count as content), and
/// trailing spaces are dropped.
std::size_t cleanField(unsigned char* field, std::size_t size) noexcept {
  std::size_t length = 0;
  for (std::size_t i = 0; i < size; ++i) {
    switch (field[i]) {
      case 0x00:
        return length;
      case 0x07:  // BEL
      case 0x08:  // BS
      case 0x09:  // TAB
      case 0x0A:  // LF
      case 0x0D:  // CR
      case 0x1B:  // ESC
        field[i] = ' ';
        length = i + 1;
        break;
      case ' ':
        break;
      default:
        length = i + 1;
        break;
    }
  }
  return length;
}

std::string cleanText(unsigned char* field, std::size_t size) {
  const std::size_t length = cleanField(field, size);
  return std::string(reinterpret_cast<const char*>(field), length);
}

struct ParsedNumber {
  long value = 0;
  std::size_t end = 0;  ///< index behind the last digit, or the start without digits
  bool found = false;
};

/// Parses a decimal number the way `strtol` would, but never beyond `text`.
ParsedNumber parseNumber(std::string_view text, std::size_t start) noexcept {
  ParsedNumber result{0, start, false};
  std::size_t i = start;
  while (i < text.size() && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r'))) {
    ++i;
  }
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
    negative = text[i] == '-';
    ++i;
  }
  long value = 0;
  const std::size_t digitsStart = i;
  while (i < text.size() && text[i] >= '0' && text[i] <= '9') {
    value = value * 10 + (text[i] - '0');
    ++i;
  }
  if (i == digitsStart) return result;
  result.value = negative ? -value : value;
  result.end = i;
  result.found = true;
  return result;
}

bool isDigit(char c) noexcept {
  return c >= '0' && c <= '9';
}

/// Day or month: two characters, parsed from the second when the first is not a digit.
std::optional<long> parseTwoDigits(std::string_view text) noexcept {
  const ParsedNumber number = parseNumber(text, isDigit(text[0]) ? 0 : 1);
  if (!number.found) return std::nullopt;
  return number.value;
}

/// The CCYYMMDD date as local midnight, or -1.
std::int64_t parseDate(std::string_view field) noexcept {
  const auto day = parseTwoDigits(field.substr(6, 2));
  if (!day) return -1;
  const auto month = parseTwoDigits(field.substr(4, 2));
  if (!month) return -1;

  const std::string_view yearText = field.substr(0, 4);
  std::size_t start = 0;
  if (!isDigit(yearText[0])) start = isDigit(yearText[1]) ? 1 : 2;
  const ParsedNumber yearNumber = parseNumber(yearText, start);
  // A single leading digit is not a year.
  if (yearNumber.end < 2) return -1;
  long year = yearNumber.value;
  if (year > 99) {
    if (year < 1970) return -1;
  } else {
    year += year < 70 ? 2000 : 1900;
  }

  std::tm broken{};
  broken.tm_year = static_cast<int>(year - 1900);
  broken.tm_mon = static_cast<int>(*month - 1);
  broken.tm_mday = static_cast<int>(*day);
  broken.tm_isdst = 0;
  return static_cast<std::int64_t>(std::mktime(&broken));
}

/// A comment line cleaned like a text field; one trailing space is kept, so that a line
/// that ends between words can be told from one that ends inside a word.
std::string cleanCommentLine(unsigned char* line) {
  std::size_t length = cleanField(line, kCommentLineSize);
  if (length >= 1 && length <= kCommentLineSize - 1 && line[length] == ' ') ++length;
  return std::string(reinterpret_cast<const char*>(line), length);
}

}  // namespace

std::unique_ptr<SauceRecord> readSauce(Stream& stream, std::int64_t size) {
  if (size < 0) size = stream.size();
  if (size < kRecordSize) return nullptr;

  std::int64_t dataSize = stream.seek(SeekOrigin::FromEnd, -kRecordSize);
  if (dataSize < 0) return nullptr;
  std::array<unsigned char, kRecordSize> raw{};
  if (stream.read(raw.data(), raw.size()) != raw.size()) return nullptr;
  if (std::memcmp(raw.data() + kIdOffset, kIdAndVersion.data(), kIdAndVersion.size()) != 0) {
    return nullptr;
  }

  const std::size_t commentCount = raw[kCommentsOffset];
  std::vector<unsigned char> block;
  if (commentCount > 0) {
    const auto blockSize =
        static_cast<std::int64_t>(kCommentId.size() + kCommentLineSize * commentCount);
    if (size < kRecordSize + blockSize) return nullptr;
    dataSize = stream.seek(SeekOrigin::FromEnd, -(kRecordSize + blockSize));
    if (dataSize < 0) return nullptr;
    block.resize(static_cast<std::size_t>(blockSize));
    if (stream.read(block.data(), block.size()) != block.size()) return nullptr;
    if (std::memcmp(block.data(), kCommentId.data(), kCommentId.size()) != 0) return nullptr;
  }

  std::unique_ptr<SauceRecord> record(new SauceRecord());
  record->title_ = cleanText(raw.data() + kTitleOffset, kTitleSize);
  record->author_ = cleanText(raw.data() + kAuthorOffset, kAuthorSize);
  record->group_ = cleanText(raw.data() + kGroupOffset, kGroupSize);
  record->fontName_ = cleanText(raw.data() + kTInfoSOffset, kTInfoSSize);
  record->dataSize_ = dataSize;
  record->date_ =
      parseDate(std::string_view(reinterpret_cast<const char*>(raw.data() + kDateOffset), 8));
  record->tInfo1_ = readLittleEndian16(raw.data() + kTInfo1Offset);
  record->tInfo2_ = readLittleEndian16(raw.data() + kTInfo2Offset);
  record->dataType_ = raw[kDataTypeOffset];
  record->fileType_ = raw[kFileTypeOffset];
  record->tFlags_ = raw[kTFlagsOffset];
  record->comments_.reserve(commentCount);
  for (std::size_t i = 0; i < commentCount; ++i) {
    record->comments_.push_back(
        cleanCommentLine(block.data() + kCommentId.size() + kCommentLineSize * i));
  }
  record->analyseFontName();
  return record;
}

void SauceRecord::analyseFontName() {
  if (typeClass() == TypeClass::Unsupported || fontName_.empty()) return;

  codepageSource_ =
      fontName_.starts_with("IBM ") ? CodepageSource::Implicit : CodepageSource::Other;
  for (const std::string_view prefix : kCodepageFontPrefixes) {
    if (fontName_.size() == prefix.size() + 3 && fontName_.starts_with(prefix)) {
      fontCodepage_ = fontName_.substr(prefix.size());
      // The name reads without the space and the code page.
      fontName_.resize(prefix.size() - 1);
      codepageSource_ = CodepageSource::Explicit;
      break;
    }
  }

  if (fontName_.starts_with("IBM VGA50")) {
    fontLines_ = 50;
  } else if (fontName_.starts_with("IBM EGA43")) {
    fontLines_ = 43;
  } else if (fontName_.starts_with("IBM ")) {
    fontLines_ = 25;
  }
}

SauceRecord::TypeClass SauceRecord::typeClass() const noexcept {
  if (dataType_ == kDataTypeNone) return TypeClass::Untyped;
  if (dataType_ == kDataTypeCharacter && fileType_ <= kLastCharacterFileType) {
    return TypeClass::CharacterText;
  }
  return TypeClass::Unsupported;
}

std::optional<std::string_view> SauceRecord::comment(std::int32_t index) const noexcept {
  if (index < 0 || index >= commentCount()) return std::nullopt;
  return std::string_view(comments_[static_cast<std::size_t>(index)]);
}

std::string_view SauceRecord::typeName() const noexcept {
  switch (typeClass()) {
    case TypeClass::Untyped:
      return "<Unspecified>";
    case TypeClass::CharacterText:
      switch (fileType_) {
        case 0:
          return "ASCII text";
        case 1:
          return "ANSI text";
        default:
          return "ANSiMation";
      }
    case TypeClass::Unsupported:
      break;
  }
  return "<Unsupported>";
}

int SauceRecord::width() const noexcept {
  if (typeClass() == TypeClass::Unsupported || tInfo1_ == 0) return -1;
  return tInfo1_;
}

int SauceRecord::height() const noexcept {
  if (typeClass() == TypeClass::Unsupported || tInfo2_ == 0) return -1;
  return tInfo2_;
}

int SauceRecord::backgroundMode() const noexcept {
  // Plain ASCII text has no colours, so its flag says nothing.
  if (typeClass() != TypeClass::CharacterText || fileType_ == 0) return -1;
  return tFlags_ & 0x01;
}

namespace {

// Two-bit TFlags fields: 1 and 2 are the two choices (0 and 1), 0 and 3 say nothing.
int twoBitChoice(unsigned bits) noexcept {
  switch (bits & 0x03) {
    case 1:
      return 0;
    case 2:
      return 1;
    default:
      return -1;
  }
}

}  // namespace

int SauceRecord::letterSpacing() const noexcept {
  if (typeClass() != TypeClass::CharacterText) return -1;
  return twoBitChoice(tFlags_ >> 1u);
}

int SauceRecord::aspectRatio() const noexcept {
  if (typeClass() != TypeClass::CharacterText) return -1;
  return twoBitChoice(tFlags_ >> 3u);
}

std::optional<std::string_view> SauceRecord::font() const noexcept {
  switch (typeClass()) {
    case TypeClass::Untyped:
      return text(fontName_);
    case TypeClass::CharacterText:
      if (fontName_.empty()) return "<IBM VGA (default)>";
      return std::string_view(fontName_);
    case TypeClass::Unsupported:
      break;
  }
  return std::nullopt;
}

std::optional<std::string_view> SauceRecord::codepageText() const noexcept {
  const TypeClass type = typeClass();
  if (type == TypeClass::Unsupported) return std::nullopt;
  switch (codepageSource_) {
    case CodepageSource::Implicit:
      return "<437 (implicit)>";
    case CodepageSource::Explicit:
      return std::string_view(fontCodepage_);
    case CodepageSource::Default:
      if (type == TypeClass::CharacterText) return "<437 (default)>";
      break;
    case CodepageSource::Other:
      if (type == TypeClass::CharacterText) return "<Other (unknown)>";
      break;
  }
  return std::nullopt;
}

CodepageId SauceRecord::codepage() const noexcept {
  if (typeClass() != TypeClass::CharacterText) return -1;
  switch (codepageSource_) {
    case CodepageSource::Implicit:
      return codepageByName("437");
    case CodepageSource::Explicit:
      return codepageByName(fontCodepage_);
    default:
      return -1;
  }
}

int SauceRecord::codepageEuro() const noexcept {
  if (typeClass() != TypeClass::CharacterText) return 0;
  switch (codepageSource_) {
    case CodepageSource::Implicit:
      return codepageEuroByName("437");
    case CodepageSource::Explicit:
      return codepageEuroByName(fontCodepage_);
    default:
      return 0;
  }
}

}  // namespace vidtwine
