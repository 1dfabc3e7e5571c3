// Builds SAUCE records and comment blocks byte by byte, for the SAUCE tests.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <ctime>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "sauce/sauce_record.hpp"
#include "stream/stream.hpp"

namespace vidtwine::test {

/// The fields of one record; texts shorter than their field are padded with `padding`.
struct SauceBuilder {
  std::string title;
  std::string author;
  std::string group;
  std::string date = "19980305";
  std::uint8_t dataType = 1;
  std::uint8_t fileType = 1;
  std::uint16_t tInfo1 = 0;
  std::uint16_t tInfo2 = 0;
  std::uint8_t tFlags = 0;
  std::string fontName;
  /// Comment lines, padded with spaces to 64 bytes.
  std::vector<std::string> comments;
  /// The Comments byte; the number of `comments` when none.
  std::optional<std::uint8_t> commentCount;
  std::string version = "00";
  std::string commentId = "COMNT";
  char padding = ' ';

  static std::string padded(std::string_view text, std::size_t size, char pad) {
    std::string field(text.substr(0, size));
    field.resize(size, pad);
    return field;
  }

  /// The 128 bytes of the record.
  std::string record() const {
    std::string bytes = "SAUCE" + padded(version, 2, ' ');
    bytes += padded(title, 35, padding);
    bytes += padded(author, 20, padding);
    bytes += padded(group, 20, padding);
    bytes += padded(date, 8, ' ');
    bytes += std::string(4, '\0');  // FileSize, never consulted
    bytes += static_cast<char>(dataType);
    bytes += static_cast<char>(fileType);
    bytes += static_cast<char>(tInfo1 & 0xFF);
    bytes += static_cast<char>(tInfo1 >> 8);
    bytes += static_cast<char>(tInfo2 & 0xFF);
    bytes += static_cast<char>(tInfo2 >> 8);
    bytes += std::string(4, '\0');  // TInfo3, TInfo4
    bytes += static_cast<char>(commentCount.value_or(static_cast<std::uint8_t>(comments.size())));
    bytes += static_cast<char>(tFlags);
    bytes += padded(fontName, 22, '\0');
    return bytes;
  }

  /// "COMNT" and the comment lines; empty without comments.
  std::string commentBlock() const {
    if (comments.empty()) return {};
    std::string bytes = commentId;
    for (const std::string& line : comments) {
      bytes += padded(line, 64, ' ');
    }
    return bytes;
  }

  /// `content`, the comment block and the record.
  std::string file(std::string_view content = "") const {
    return std::string(content) + commentBlock() + record();
  }
};

inline std::unique_ptr<MemoryStream> memoryStreamOf(std::string_view bytes) {
  auto stream = MemoryStream::create(bytes.size() + 1);
  stream->write(bytes.data(), bytes.size());
  return stream;
}

/// The record that `readSauce` finds in `bytes`, or none.
inline std::unique_ptr<SauceRecord> readSauceFrom(std::string_view bytes) {
  auto stream = memoryStreamOf(bytes);
  return readSauce(*stream, -1);
}

/// Sets the time zone for the lifetime of the object and restores the old one after it.
class ScopedTimeZone {
 public:
  explicit ScopedTimeZone(const char* zone) {
    if (const char* old = std::getenv("TZ")) saved_ = old;
    ::setenv("TZ", zone, 1);
    ::tzset();
  }
  ~ScopedTimeZone() {
    if (saved_) {
      ::setenv("TZ", saved_->c_str(), 1);
    } else {
      ::unsetenv("TZ");
    }
    ::tzset();
  }
  ScopedTimeZone(const ScopedTimeZone&) = delete;
  ScopedTimeZone& operator=(const ScopedTimeZone&) = delete;

 private:
  std::optional<std::string> saved_;
};

}  // namespace vidtwine::test
