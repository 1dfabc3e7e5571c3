#include "stream/dos_text_reader.hpp"

#include <algorithm>
#include <cstring>

namespace vidtwine {

DosTextReader::DosTextReader(std::unique_ptr<Stream> source, std::uint64_t capacity,
                             std::int64_t limit, bool ignoreEof)
    : StreamReader(std::move(source)),
      capacity_(capacity),
      limit_(limit),
      ignoreEof_(ignoreEof),
      buffer_(new std::byte[static_cast<std::size_t>(capacity)]) {}

std::unique_ptr<Stream> createDosTextReader(std::unique_ptr<Stream> source, std::uint64_t capacity,
                                            std::int64_t limit, bool ignoreEof) {
  return std::make_unique<DosTextReader>(std::move(source), capacity, limit, ignoreEof);
}

std::uint64_t DosTextReader::readSome(std::byte* destination, std::uint64_t n) {
  if (finished_) return 0;
  std::uint64_t total = 0;
  while (!finished_ && total < n) {
    std::byte* const out = destination + total;
    // A read of a buffer's worth or more goes straight to the caller when nothing is held:
    // no copy, and the own buffer's pages are never touched.
    const bool direct = position_ == fill_ && n - total >= capacity_;
    const std::byte* from = out;
    std::uint64_t chunk = 0;
    // The source delivered less than asked: it has ended for now.
    bool sourceShort = false;
    if (direct) {
      chunk = source_ ? source_->read(out, n - total) : 0;
      if (chunk == 0) break;
      sourceShort = chunk < n - total;
    } else {
      if (position_ == fill_) {
        position_ = 0;
        fill_ = source_ ? source_->read(buffer_.get(), capacity_) : 0;
        if (fill_ == 0) break;
      }
      from = buffer_.get() + position_;
      chunk = std::min(fill_ - position_, n - total);
      sourceShort = fill_ < capacity_;
    }
    if (!ignoreEof_) {
      if (const void* end = std::memchr(from, 0x1A, static_cast<std::size_t>(chunk))) {
        chunk = static_cast<std::uint64_t>(static_cast<const std::byte*>(end) - from);
        finished_ = true;
      }
      if (limit_ >= 0) {
        delivered_ += static_cast<std::int64_t>(chunk);
        if (delivered_ > limit_) {
          finished_ = true;
          chunk -= static_cast<std::uint64_t>(delivered_ - limit_);
          delivered_ = limit_;
        }
      }
    }
    if (chunk == 0) break;
    if (!direct) {
      std::memcpy(out, from, static_cast<std::size_t>(chunk));
      position_ += chunk;
    }
    total += chunk;
    if (sourceShort) break;
  }
  return total;
}

StreamStatus DosTextReader::status() const {
  return finished_ ? StreamStatus::End : StreamReader::status();
}

}  // namespace vidtwine
