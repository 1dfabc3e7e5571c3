// Ends MS-DOS text at its end-of-file byte and before its SAUCE block.
#pragma once

#include <cstdint>
#include <memory>

#include "stream/stream.hpp"

namespace vidtwine {

/// A reader filter that delivers its source unchanged up to, not including, the first
/// 0x1A byte, and at most `limit` bytes (a negative limit: none), whichever comes first.
/// With `ignoreEof` neither ends the input. The source is read in blocks of `capacity`.
class DosTextReader final : public StreamReader {
 public:
  static constexpr std::byte kEndOfFile{0x1A};

  DosTextReader(std::unique_ptr<Stream> source, std::uint64_t capacity, std::int64_t limit,
                bool ignoreEof);

  StreamStatus status() const override;

 private:
  std::uint64_t readSome(std::byte* destination, std::uint64_t n) override;

  std::uint64_t capacity_;
  std::uint64_t fill_ = 0;
  std::uint64_t position_ = 0;
  std::int64_t limit_;
  std::int64_t delivered_ = 0;
  bool ignoreEof_;
  bool finished_ = false;
  std::unique_ptr<std::byte[]> buffer_;
};

/// Creates the reader over `source`, which it then owns.
std::unique_ptr<Stream> createDosTextReader(std::unique_ptr<Stream> source, std::uint64_t capacity,
                                            std::int64_t limit, bool ignoreEof);

}  // namespace vidtwine
