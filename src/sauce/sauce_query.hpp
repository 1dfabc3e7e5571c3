// `-q`: selected SAUCE fields for scripts, one per line.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string_view>

#include "codepage/codepage_mapper.hpp"
#include "stream/stream.hpp"

namespace vidtwine {

class SauceRecord;

/// The letters a query may hold.
inline constexpr std::string_view kSauceQueryAlphabet = ":TAGDCtwhbsafc";

/// The first character of `query` outside the alphabet, or none (an empty query is valid).
std::optional<char> validateSauceQuery(std::string_view query) noexcept;

/// Prints the fields that the letters of `query` name, one line each, as UTF-8 into
/// `output` (standard output when none); `crlf` ends lines with CR LF. 0 on success, -1
/// when the query is invalid or the output failed, also when it failed only while the
/// last buffered bytes were written out.
int querySauce(const SauceRecord& record, std::string_view query, bool crlf,
               std::unique_ptr<Stream> output = nullptr);

/// A writer filter that turns CP437 bytes into 16-bit code units for a Unicode writer,
/// optionally wrapping every line in single quotes the way a POSIX shell reads them.
class SauceQueryWriter final : public StreamWriter {
 public:
  SauceQueryWriter(std::unique_ptr<Stream> target, bool crlf);

  /// Takes effect at the next line; the query switches it only between lines.
  void setQuote(bool on) noexcept { quote_ = on; }

 private:
  std::uint64_t writeSome(const std::byte* data, std::uint64_t n) override;
  /// Whether the target took all of the units.
  bool writeUnits(const std::uint16_t* units, std::size_t count);
  /// Whether the byte needs more than mapping.
  bool endsRun(std::byte value) const noexcept;

  CodepageMapper mapper_;
  bool quote_ = false;
  bool crlf_;
  bool atLineStart_ = true;
};

}  // namespace vidtwine
