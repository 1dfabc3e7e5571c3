#include "sauce/sauce_query.hpp"

#include <ctime>

#include "output/unicode_writer.hpp"
#include "sauce/sauce_record.hpp"
#include "stream/buffered_writer.hpp"

namespace vidtwine {

namespace {

constexpr std::uint64_t kQueryBufferSize = 1024;

constexpr std::uint8_t kCarriageReturn = 0x0D;
constexpr std::uint8_t kLineFeed = 0x0A;
constexpr std::uint8_t kApostrophe = 0x27;

constexpr std::uint16_t kUnitApostrophe = 0x0027;
constexpr std::uint16_t kUnitBackslash = 0x005C;
constexpr std::uint16_t kUnitCarriageReturn = 0x000D;
constexpr std::uint16_t kUnitLineFeed = 0x000A;

void printLine(Stream& out, std::string_view text) {
  out.putString(text);
  out.putString("\n");
}

/// Bracketed descriptions are for people; a script gets an empty line instead.
void printValue(Stream& out, std::optional<std::string_view> text) {
  if (!text || text->starts_with('<')) text = std::string_view();
  printLine(out, *text);
}

void printNumber(Stream& out, int value) {
  if (value < 0) {
    out.putString("\n");
  } else {
    out.printf("%d\n", value);
  }
}

void printDate(Stream& out, std::int64_t date) {
  char text[10] = "";
  if (date != -1) {
    const auto time = static_cast<std::time_t>(date);
    if (const std::tm* local = std::localtime(&time)) {
      if (std::strftime(text, sizeof text, "%Y%m%d", local) == 0) text[0] = '\0';
    }
  }
  printLine(out, text);
}

}  // namespace

std::optional<char> validateSauceQuery(std::string_view query) noexcept {
  for (const char letter : query) {
    if (kSauceQueryAlphabet.find(letter) == std::string_view::npos) return letter;
  }
  return std::nullopt;
}

int querySauce(const SauceRecord& record, std::string_view query, bool crlf,
               std::unique_ptr<Stream> output) {
  if (validateSauceQuery(query)) return -1;

  if (!output) output = FileStream::openStandard(1);
  auto buffered = std::make_unique<BufferedWriter>(std::move(output), kQueryBufferSize);
  auto unicode = std::make_unique<UnicodeWriter>(std::move(buffered), UnicodeFormat::Utf8);
  std::unique_ptr<Stream> out = std::make_unique<SauceQueryWriter>(std::move(unicode), crlf);

  bool quote = false;
  for (const char letter : query) {
    switch (letter) {
      case ':':
        quote = !quote;
        findFilter<SauceQueryWriter>(out.get())->setQuote(quote);
        break;
      case 'T':
        printLine(*out, record.title().value_or(""));
        break;
      case 'A':
        printLine(*out, record.author().value_or(""));
        break;
      case 'G':
        printLine(*out, record.group().value_or(""));
        break;
      case 'D':
        printDate(*out, record.date());
        break;
      case 'C':
        out->printf("%d\n", record.commentCount());
        for (int i = 0; i < record.commentCount(); ++i) {
          printLine(*out, *record.comment(i));
        }
        break;
      case 't':
        printValue(*out, record.typeName());
        break;
      case 'w':
        printNumber(*out, record.width());
        break;
      case 'h':
        printNumber(*out, record.height());
        break;
      case 'b':
        printNumber(*out, record.backgroundMode());
        break;
      case 's':
        printNumber(*out, record.letterSpacing());
        break;
      case 'a':
        printNumber(*out, record.aspectRatio());
        break;
      case 'f':
        printValue(*out, record.font());
        break;
      case 'c':
        printValue(*out, record.codepageText());
        break;
      default:
        break;
    }
  }

  // The buffer is written out here rather than by the teardown, so that a failure at
  // this last moment (a full disk, say) is still reported.
  const int flushed = out->flush(false);
  const StreamStatus status = out->status();
  out.reset();
  return flushed == 0 && status == StreamStatus::Ok ? 0 : -1;
}

SauceQueryWriter::SauceQueryWriter(std::unique_ptr<Stream> target, bool crlf)
    : StreamWriter(std::move(target)), mapper_(0, MapperFlags(MapperFlag::PlainBar)), crlf_(crlf) {}

bool SauceQueryWriter::writeUnits(const std::uint16_t* units, std::size_t count) {
  const std::uint64_t bytes = count * sizeof(std::uint16_t);
  return target_ != nullptr && target_->write(units, bytes) == bytes;
}

bool SauceQueryWriter::endsRun(std::byte value) const noexcept {
  const auto byte = std::to_integer<std::uint8_t>(value);
  return byte == kCarriageReturn || byte == kLineFeed || (byte == kApostrophe && quote_);
}

std::uint64_t SauceQueryWriter::writeSome(const std::byte* data, std::uint64_t n) {
  constexpr std::size_t kRunLength = 256;
  std::uint16_t units[kRunLength];
  std::uint64_t done = 0;
  while (done < n) {
    if (atLineStart_) {
      atLineStart_ = false;
      if (quote_ && !writeUnits(&kUnitApostrophe, 1)) return done;
    }
    switch (std::to_integer<std::uint8_t>(data[done])) {
      case kCarriageReturn:
        // Line ends are written with the LF alone.
        ++done;
        continue;
      case kLineFeed: {
        std::size_t count = 0;
        if (quote_) units[count++] = kUnitApostrophe;
        if (crlf_) units[count++] = kUnitCarriageReturn;
        units[count++] = kUnitLineFeed;
        atLineStart_ = true;
        if (!writeUnits(units, count)) return done;
        ++done;
        continue;
      }
      case kApostrophe:
        if (quote_) {
          // Close the quoted string, add an escaped apostrophe, open a new one: '\''
          constexpr std::uint16_t kEscaped[] = {kUnitApostrophe, kUnitBackslash, kUnitApostrophe,
                                                kUnitApostrophe};
          if (!writeUnits(kEscaped, 4)) return done;
          ++done;
          continue;
        }
        break;
      default:
        break;
    }
    // A run of bytes that need nothing but mapping, up to the next special one.
    std::size_t count = 0;
    do {
      units[count] = mapper_.map(std::to_integer<std::uint8_t>(data[done + count]));
      ++count;
    } while (done + count < n && count < kRunLength && !endsRun(data[done + count]));
    const std::uint64_t accepted =
        target_ == nullptr ? 0 : target_->write(units, count * sizeof(std::uint16_t));
    done += accepted / sizeof(std::uint16_t);
    if (accepted < count * sizeof(std::uint16_t)) return done;
  }
  return done;
}

}  // namespace vidtwine
