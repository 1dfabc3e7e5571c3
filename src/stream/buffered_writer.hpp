// Collects small writes and hands them to the stream beneath in large pieces.
#pragma once

#include <cstdint>
#include <memory>
#include <span>

#include "stream/stream.hpp"

namespace vidtwine {

/// A writer filter with a buffer of fixed capacity. The target sees either whole buffers
/// of exactly `capacity` bytes, or, for one write larger than the buffer, what was held
/// followed by that write itself.
class BufferedWriter final : public StreamWriter {
 public:
  BufferedWriter(std::unique_ptr<Stream> target, std::uint64_t capacity);
  /// Buffers in `buffer`, which must outlive the writer, instead of memory of its own.
  BufferedWriter(std::unique_ptr<Stream> target, std::span<std::byte> buffer);
  ~BufferedWriter() override;

  /// Writes out what is held, then flushes the target; -1 when the target took nothing.
  int flush(bool sync) override;

  std::uint64_t capacity() const noexcept { return capacity_; }
  std::uint64_t fill() const noexcept { return fill_; }
  /// The room up to the pages taken so far, at least kFirstPrefault bytes of it (or the
  /// rest of the buffer).
  std::span<std::byte> writeRoom() noexcept override {
    prefaultThrough(fill_ + kFirstPrefault);
    return {buffer_ + fill_, static_cast<std::size_t>(prefaulted_ - fill_)};
  }
  void commitRoom(std::size_t bytes) noexcept override { fill_ += bytes; }
  /// Drops what is held; nothing of it reaches the target.
  void discardBuffer() noexcept { fill_ = 0; }

 private:
  std::uint64_t writeSome(const std::byte* data, std::uint64_t n) override;
  /// Takes the buffer's pages up to at least `end` (at most the capacity) ahead of the
  /// writes, in steps that double, from kFirstPrefault on: a fault per page cost 5% of
  /// binary text and 2% of ANSI art (measured), while a short output takes few pages.
  void prefaultThrough(std::uint64_t end) noexcept {
    if (end > prefaulted_) prefaultMore(end);
  }
  void prefaultMore(std::uint64_t end) noexcept;

  static constexpr std::uint64_t kFirstPrefault = 16 * 1024;

  std::uint64_t capacity_;
  std::uint64_t fill_ = 0;
  std::uint64_t prefaulted_ = 0;
  std::unique_ptr<std::byte[]> owned_;  // none when the buffer was given
  std::byte* buffer_;
};

/// Drops what the first `BufferedWriter` in the writer chain at `stream` holds, if any.
void discard(Stream* stream) noexcept;

}  // namespace vidtwine
