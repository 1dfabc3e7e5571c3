// Encodes the 16-bit code units it receives; knows nothing of colours or line ends.
#pragma once

#include <cstdint>
#include <memory>

#include "stream/stream.hpp"

namespace vidtwine {

enum class UnicodeFormat : std::uint8_t { Utf8 = 0, Utf16Be = 1, Utf16Le = 2 };

/// A writer filter: every two bytes written into it are one code unit in host byte
/// order, encoded as UTF-8 (1 to 3 bytes, no surrogate pairing), UTF-16BE or UTF-16LE.
class UnicodeWriter final : public StreamWriter {
 public:
  UnicodeWriter(std::unique_ptr<Stream> target, UnicodeFormat format);

 private:
  std::uint64_t writeSome(const std::byte* data, std::uint64_t n) override;

  UnicodeFormat format_;
};

}  // namespace vidtwine
