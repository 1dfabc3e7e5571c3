// Encodes the 16-bit code units it receives; knows nothing of colours or line ends.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "output/unicode_encoder.hpp"
#include "stream/stream.hpp"

namespace vidtwine {

/// A writer filter: every two bytes written into it are one code unit in host byte
/// order, encoded as UTF-8 (1 to 3 bytes, no surrogate pairing), UTF-16BE or UTF-16LE.
class UnicodeWriter final : public StreamWriter {
 public:
  UnicodeWriter(std::unique_ptr<Stream> target, UnicodeFormat format);

 private:
  std::uint64_t writeSome(const std::byte* data, std::uint64_t n) override;

  UnicodeEncoder encoder_;
};

}  // namespace vidtwine
