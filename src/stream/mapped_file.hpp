// A file's bytes read in place, without copying them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>

namespace vidtwine {

/// The first bytes of an open regular file, mapped read-only into memory. Reading a file
/// this way saves copying it through buffers, which is a fair share of the time of a
/// large file. A file that shrinks while mapped makes the process end with SIGBUS; the
/// driver catches that with `endOnLostInput`.
class MappedFile final {
 public:
  /// The first `size` bytes of the file open at `descriptor`; none when it cannot be mapped
  /// (an empty file, or one the system will not map), and the caller reads it instead.
  static std::unique_ptr<MappedFile> map(int descriptor, std::uint64_t size);
  ~MappedFile();
  MappedFile(const MappedFile&) = delete;
  MappedFile& operator=(const MappedFile&) = delete;

  std::span<const std::uint8_t> bytes() const noexcept { return {data_, size_}; }
  /// Gives back the pages of bytes before `end`, which will not be read again, so that the
  /// resident memory follows only what is being read.
  void release(const std::uint8_t* end) noexcept;

 private:
  MappedFile(const std::uint8_t* data, std::size_t size) noexcept : data_(data), size_(size) {}

  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t released_ = 0;
};

/// The part of a DOS text file that is its text: up to, not including, the first 0x1A
/// byte, and at most `limit` bytes (negative: none); with `ignoreEof`, all of it. The
/// same cut as `DosTextReader` makes.
std::span<const std::uint8_t> dosText(std::span<const std::uint8_t> file, std::int64_t limit,
                                      bool ignoreEof) noexcept;

}  // namespace vidtwine
