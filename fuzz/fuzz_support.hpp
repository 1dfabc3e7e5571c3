// Helpers shared by the fuzz targets: taking settings from the front of an input, checks
// that end the run as a crash, and output sinks.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <span>
#include <string>
#include <string_view>

#include "stream/stream.hpp"

/// A broken expectation is a finding: report it and crash, so that libFuzzer keeps the input.
#define FUZZ_CHECK(condition)                                                            \
  do {                                                                                   \
    if (!(condition)) {                                                                  \
      std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #condition); \
      std::abort();                                                                      \
    }                                                                                    \
  } while (false)

namespace vidtwine::fuzz {

/// Consumes an input from the front; past its end every byte reads as 0.
class InputBytes {
 public:
  InputBytes(const std::uint8_t* data, std::size_t size) noexcept : data_(data), size_(size) {}

  std::uint8_t byte() noexcept {
    if (size_ == 0) return 0;
    --size_;
    return *data_++;
  }
  std::uint16_t word() noexcept {
    const std::uint8_t low = byte();
    return static_cast<std::uint16_t>(low | (byte() << 8));
  }
  /// Up to `n` bytes, fewer when the input ends first.
  std::span<const std::uint8_t> take(std::size_t n) noexcept {
    if (n > size_) n = size_;
    std::span<const std::uint8_t> taken(data_, n);
    data_ += n;
    size_ -= n;
    return taken;
  }
  std::span<const std::uint8_t> rest() noexcept { return take(size_); }

 private:
  const std::uint8_t* data_;
  std::size_t size_;
};

inline std::string_view asText(std::span<const std::uint8_t> bytes) noexcept {
  return {reinterpret_cast<const char*>(bytes.data()), bytes.size()};
}

/// A memory stream holding `bytes`, positioned at their start.
inline std::unique_ptr<MemoryStream> memoryStreamOf(std::span<const std::uint8_t> bytes) {
  auto stream = MemoryStream::create(bytes.size());
  FUZZ_CHECK(stream->write(bytes.data(), bytes.size()) == bytes.size());
  stream->seek(SeekOrigin::FromStart, 0);
  return stream;
}

/// /dev/null for writing; every write succeeds.
inline std::unique_ptr<Stream> openNull() {
  auto null = FileStream::openPath("/dev/null", OpenMode::Write);
  FUZZ_CHECK(null != nullptr);
  return null;
}

/// An output that keeps what it is given, like a file on a disk that fills up after `limit`
/// bytes: its status is Ok until a write is cut, then Error. (A memory stream does not
/// serve here: its status concerns reading back, and is End while it is empty.)
class CaptureSink final : public Stream {
 public:
  explicit CaptureSink(std::uint64_t limit) noexcept : Stream(StreamKind::Memory), limit_(limit) {}

  int flush(bool) override { return failed_ ? -1 : 0; }
  StreamStatus status() const override { return failed_ ? StreamStatus::Error : StreamStatus::Ok; }
  const std::string& contents() const noexcept { return contents_; }

 private:
  std::uint64_t writeSome(const std::byte* data, std::uint64_t n) override {
    if (failed_) return 0;
    const std::uint64_t room = limit_ - contents_.size();
    if (n > room) {
      failed_ = true;
      n = room;
    }
    contents_.append(reinterpret_cast<const char*>(data), static_cast<std::size_t>(n));
    return n;
  }

  std::uint64_t limit_;
  std::string contents_;
  bool failed_ = false;
};

/// A writer filter that hands what it is given to its target in pieces of `pieceSize`
/// bytes, one per call: the slowest way the chain beneath can be driven (pieces of two
/// bytes above a filter that takes 16-bit units, of one byte below the Unicode writer).
/// Batching in the chain beneath must not show in what comes out of it.
class PieceByPieceWriter final : public StreamWriter {
 public:
  PieceByPieceWriter(std::unique_ptr<Stream> target, std::uint64_t pieceSize) noexcept
      : StreamWriter(std::move(target)), pieceSize_(pieceSize) {}

 private:
  std::uint64_t writeSome(const std::byte* data, std::uint64_t n) override {
    if (n < pieceSize_ || target_ == nullptr) return 0;
    return target_->write(data, pieceSize_);
  }

  std::uint64_t pieceSize_;
};

}  // namespace vidtwine::fuzz
