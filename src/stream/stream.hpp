// The one byte-stream type that all input and output passes through.
#pragma once

#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string_view>

namespace vidtwine {

enum class StreamKind : std::uint8_t { File, Memory, Reader, Writer };

enum class StreamStatus : std::uint8_t { Ok = 0, End = 1, Error = 2 };

enum class SeekOrigin : std::uint8_t { FromStart = 0, FromCurrent = 1, FromEnd = 2 };

enum class OpenMode : std::uint8_t { Read = 1, Write = 2, ReadWrite = 3 };

/// A byte stream of one of four kinds. The read and write loops live here; each kind
/// supplies the one-step `readSome`/`writeSome`, which may move fewer bytes than asked.
/// Operations that make no sense for a kind return a neutral failure value.
class Stream {
 public:
  Stream(const Stream&) = delete;
  Stream& operator=(const Stream&) = delete;
  virtual ~Stream() = default;

  StreamKind kind() const noexcept { return kind_; }

  /// Bytes delivered, 0..n; stops early only when a step delivers nothing.
  std::uint64_t read(void* buffer, std::uint64_t n);
  /// Bytes accepted, 0..n; stops early only when a step accepts nothing.
  std::uint64_t write(const void* data, std::uint64_t n);
  std::uint64_t write(std::span<const std::byte> data) { return write(data.data(), data.size()); }

  /// The next byte 0..255, or -1 when none could be read.
  int getByte();
  /// The value written (its low eight bits), or -1 when nothing was accepted.
  int putByte(int value);
  std::uint64_t putString(std::string_view text) { return write(text.data(), text.size()); }
  /// Bytes accepted, or a negative value; short texts are formatted without the heap.
  int printf(const char* format, ...) __attribute__((format(printf, 2, 3)));
  int vprintf(const char* format, std::va_list arguments) __attribute__((format(printf, 2, 0)));

  /// 0, or -1.
  virtual int flush(bool sync);
  virtual StreamStatus status() const;
  /// Bytes, or -1 when the size cannot be had.
  virtual std::int64_t size();
  /// The new position, or -1.
  virtual std::int64_t seek(SeekOrigin origin, std::int64_t offset);
  /// The descriptor at the bottom of the chain, or -1.
  virtual int fileDescriptor() const;
  /// Free room in a buffer of this stream that a writer on top may fill in place, then
  /// hand over with `commitRoom`, instead of filling a buffer of its own and copying it;
  /// empty where the stream has none. Bytes put there count as written by `write`.
  virtual std::span<std::byte> writeRoom() noexcept { return {}; }
  virtual void commitRoom(std::size_t) noexcept {}

 protected:
  explicit Stream(StreamKind kind) noexcept : kind_(kind) {}

  virtual std::uint64_t readSome(std::byte* buffer, std::uint64_t n);
  virtual std::uint64_t writeSome(const std::byte* data, std::uint64_t n);

 private:
  StreamKind kind_;
};

/// A stream over a POSIX descriptor. It holds no buffer: every step is a system call.
class FileStream final : public Stream {
 public:
  /// 0: standard input; 1: standard output; anything else: standard error. `close`
  /// (destruction) leaves the descriptor open.
  static std::unique_ptr<FileStream> openStandard(int which);
  /// None when the path cannot be opened.
  static std::unique_ptr<FileStream> openPath(const char* path, OpenMode mode);
  /// A stream over an open descriptor, which it closes when it goes.
  static std::unique_ptr<FileStream> adopt(int descriptor, OpenMode mode);

  ~FileStream() override;

  int flush(bool sync) override;
  StreamStatus status() const override { return status_; }
  std::int64_t size() override;
  std::int64_t seek(SeekOrigin origin, std::int64_t offset) override;
  int fileDescriptor() const override { return descriptor_; }
  /// The system's error number of the read, write or sync that failed, or 0.
  int error() const noexcept { return error_; }

 private:
  static constexpr std::uint32_t kReadable = 0x1;
  static constexpr std::uint32_t kWritable = 0x2;
  static constexpr std::uint32_t kStandard = 0x8000;

  FileStream(int descriptor, std::uint32_t flags) noexcept
      : Stream(StreamKind::File), descriptor_(descriptor), flags_(flags) {}

  std::uint64_t readSome(std::byte* buffer, std::uint64_t n) override;
  std::uint64_t writeSome(const std::byte* data, std::uint64_t n) override;

  int descriptor_;
  std::uint32_t flags_;
  StreamStatus status_ = StreamStatus::Ok;
  int error_ = 0;
};

struct FreeDeleter {
  void operator()(void* block) const noexcept;
};

/// A growable buffer with a hard limit. Writes append at `fill`; reads start at `position`.
class MemoryStream final : public Stream {
 public:
  /// Grows in steps of this many bytes.
  static constexpr std::uint64_t kGrowthStep = 1024;

  static std::unique_ptr<MemoryStream> create(std::uint64_t limit);

  int flush(bool sync) override;
  StreamStatus status() const override;
  std::int64_t size() override { return static_cast<std::int64_t>(fill_); }
  std::int64_t seek(SeekOrigin origin, std::int64_t offset) override;

  std::uint64_t capacity() const noexcept { return capacity_; }
  std::uint64_t limit() const noexcept { return limit_; }
  std::uint64_t position() const noexcept { return position_; }
  std::uint64_t fill() const noexcept { return fill_; }
  std::span<const std::byte> contents() const noexcept { return {data_.get(), fill_}; }

 private:
  explicit MemoryStream(std::uint64_t limit);

  std::uint64_t readSome(std::byte* buffer, std::uint64_t n) override;
  std::uint64_t writeSome(const std::byte* data, std::uint64_t n) override;

  std::uint64_t capacity_;
  std::uint64_t limit_;
  std::uint64_t position_ = 0;
  std::uint64_t fill_ = 0;
  bool failed_ = false;
  std::unique_ptr<std::byte, FreeDeleter> data_;
};

/// Everything `source` still delivers, read in chunks of 16384 bytes, in a new memory
/// stream positioned at 0; none when more than `limit` bytes come. The source is neither
/// closed nor rewound.
std::unique_ptr<MemoryStream> copyToMemory(Stream& source, std::uint64_t limit);

/// A reader filter: produces bytes by reading the stream it owns.
class StreamReader : public Stream {
 public:
  StreamStatus status() const override;
  std::int64_t size() override;
  std::int64_t seek(SeekOrigin origin, std::int64_t offset) override;
  int fileDescriptor() const override;
  int flush(bool sync) override;

  Stream* source() const noexcept { return source_.get(); }

 protected:
  explicit StreamReader(std::unique_ptr<Stream> source) noexcept
      : Stream(StreamKind::Reader), source_(std::move(source)) {}

  std::unique_ptr<Stream> source_;
};

/// A writer filter: consumes bytes and writes to the stream it owns. Destroying the top
/// of a chain tears the chain down from the top; buffering filters write out what they
/// hold before the stream beneath them goes.
class StreamWriter : public Stream {
 public:
  /// Passes on to the stream beneath; -1 when there is none.
  int flush(bool sync) override;
  StreamStatus status() const override;
  std::int64_t size() override { return -1; }
  std::int64_t seek(SeekOrigin, std::int64_t) override { return -1; }
  int fileDescriptor() const override;

  Stream* target() const noexcept { return target_.get(); }

 protected:
  explicit StreamWriter(std::unique_ptr<Stream> target) noexcept
      : Stream(StreamKind::Writer), target_(std::move(target)) {}

  std::unique_ptr<Stream> target_;
};

/// The first writer filter of type `Filter` in the writer chain that begins at `stream`.
template <typename Filter>
Filter* findFilter(Stream* stream) noexcept {
  while (stream != nullptr && stream->kind() == StreamKind::Writer) {
    if (auto* filter = dynamic_cast<Filter*>(stream)) return filter;
    stream = static_cast<StreamWriter*>(stream)->target();
  }
  return nullptr;
}

/// malloc/realloc that never return none: when memory is exhausted they call the
/// new-handler as operator new does, which is expected to end the process; without one
/// they abort.
void* allocOrAbort(std::size_t size) noexcept;
void* reallocOrAbort(void* block, std::size_t size) noexcept;

}  // namespace vidtwine
