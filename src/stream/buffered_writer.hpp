// Collects small writes and hands them to the stream beneath in large pieces.
#pragma once

#include <cstdint>
#include <memory>

#include "stream/stream.hpp"

namespace vidtwine {

/// A writer filter with a buffer of fixed capacity. The target sees either whole buffers
/// of exactly `capacity` bytes, or, for one write larger than the buffer, what was held
/// followed by that write itself.
class BufferedWriter final : public StreamWriter {
 public:
  BufferedWriter(std::unique_ptr<Stream> target, std::uint64_t capacity);
  ~BufferedWriter() override;

  /// Writes out what is held, then flushes the target; -1 when the target took nothing.
  int flush(bool sync) override;

  std::uint64_t capacity() const noexcept { return capacity_; }
  std::uint64_t fill() const noexcept { return fill_; }
  std::span<std::byte> writeRoom() noexcept override {
    return {buffer_.get() + fill_, static_cast<std::size_t>(capacity_ - fill_)};
  }
  void commitRoom(std::size_t bytes) noexcept override { fill_ += bytes; }
  /// Drops what is held; nothing of it reaches the target.
  void discardBuffer() noexcept { fill_ = 0; }

 private:
  std::uint64_t writeSome(const std::byte* data, std::uint64_t n) override;

  std::uint64_t capacity_;
  std::uint64_t fill_ = 0;
  std::unique_ptr<std::byte[]> buffer_;
};

/// Drops what the first `BufferedWriter` in the writer chain at `stream` holds, if any.
void discard(Stream* stream) noexcept;

}  // namespace vidtwine
