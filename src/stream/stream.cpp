#include "stream/stream.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

namespace vidtwine {

// ---- allocation ----------------------------------------------------------------------

namespace {
void onExhaustedMemory() noexcept {
  const std::new_handler handler = std::get_new_handler();
  if (handler == nullptr) std::abort();
  handler();
}
}  // namespace

void* allocOrAbort(std::size_t size) noexcept {
  for (;;) {
    if (void* block = std::malloc(size == 0 ? 1 : size)) return block;
    onExhaustedMemory();
  }
}

void* reallocOrAbort(void* block, std::size_t size) noexcept {
  for (;;) {
    if (void* grown = std::realloc(block, size == 0 ? 1 : size)) return grown;
    onExhaustedMemory();
  }
}

void FreeDeleter::operator()(void* block) const noexcept {
  std::free(block);
}

// ---- Stream: the loops every kind shares ----------------------------------------------

std::uint64_t Stream::read(void* buffer, std::uint64_t n) {
  auto* bytes = static_cast<std::byte*>(buffer);
  std::uint64_t total = 0;
  while (total < n) {
    const std::uint64_t step = readSome(bytes + total, n - total);
    if (step == 0) break;
    total += step;
  }
  return total;
}

std::uint64_t Stream::write(const void* data, std::uint64_t n) {
  const auto* bytes = static_cast<const std::byte*>(data);
  std::uint64_t total = 0;
  while (total < n) {
    const std::uint64_t step = writeSome(bytes + total, n - total);
    if (step == 0) break;
    total += step;
  }
  return total;
}

int Stream::getByte() {
  std::byte value{};
  return read(&value, 1) == 1 ? std::to_integer<int>(value) : -1;
}

int Stream::putByte(int value) {
  const auto byte = static_cast<std::byte>(value & 0xFF);
  return write(&byte, 1) == 1 ? value : -1;
}

int Stream::printf(const char* format, ...) {
  std::va_list arguments;
  va_start(arguments, format);
  const int result = vprintf(format, arguments);
  va_end(arguments);
  return result;
}

int Stream::vprintf(const char* format, std::va_list arguments) {
  constexpr std::size_t kLocal = 1024;
  char local[kLocal];
  std::va_list again;
  va_copy(again, arguments);
  const int length = std::vsnprintf(local, kLocal, format, arguments);
  if (length < 0) {
    va_end(again);
    return length;
  }
  if (length == INT_MAX) {
    va_end(again);
    errno = EOVERFLOW;
    return -1;
  }
  const char* text = local;
  std::unique_ptr<char, FreeDeleter> block;
  if (static_cast<std::size_t>(length) >= kLocal) {
    block.reset(static_cast<char*>(allocOrAbort(static_cast<std::size_t>(length) + 1)));
    const int again_length =
        std::vsnprintf(block.get(), static_cast<std::size_t>(length) + 1, format, again);
    if (again_length < 0) {
      va_end(again);
      return again_length;
    }
    text = block.get();
  }
  va_end(again);
  return static_cast<int>(write(text, static_cast<std::uint64_t>(length)));
}

int Stream::flush(bool) {
  return -1;
}
StreamStatus Stream::status() const {
  return StreamStatus::Error;
}
std::int64_t Stream::size() {
  return -1;
}
std::int64_t Stream::seek(SeekOrigin, std::int64_t) {
  return -1;
}
int Stream::fileDescriptor() const {
  return -1;
}
std::uint64_t Stream::readSome(std::byte*, std::uint64_t) {
  return 0;
}
std::uint64_t Stream::writeSome(const std::byte*, std::uint64_t) {
  return 0;
}

// ---- FileStream ----------------------------------------------------------------------

std::unique_ptr<FileStream> FileStream::openStandard(int which) {
  switch (which) {
    case 0:
      return std::unique_ptr<FileStream>(new FileStream(0, kReadable | kStandard));
    case 1:
      return std::unique_ptr<FileStream>(new FileStream(1, kWritable | kStandard));
    default:
      return std::unique_ptr<FileStream>(new FileStream(2, kWritable | kStandard));
  }
}

std::unique_ptr<FileStream> FileStream::openPath(const char* path, OpenMode mode) {
  const auto bits = static_cast<std::uint32_t>(mode);
  int descriptor = -1;
  if ((bits & kWritable) != 0) {
    const int access = (bits & kReadable) != 0 ? O_RDWR : O_WRONLY;
    descriptor = ::open(path, access | O_CREAT | O_TRUNC, 0666);
  } else if ((bits & kReadable) != 0) {
    descriptor = ::open(path, O_RDONLY);
  } else {
    return nullptr;
  }
  if (descriptor < 0) return nullptr;
  return std::unique_ptr<FileStream>(new FileStream(descriptor, bits));
}

std::unique_ptr<FileStream> FileStream::adopt(int descriptor, OpenMode mode) {
  return std::unique_ptr<FileStream>(new FileStream(descriptor, static_cast<std::uint32_t>(mode)));
}

FileStream::~FileStream() {
  if ((flags_ & kStandard) == 0) ::close(descriptor_);
}

std::uint64_t FileStream::readSome(std::byte* buffer, std::uint64_t n) {
  if ((flags_ & kReadable) == 0 || status_ != StreamStatus::Ok) return 0;
  const std::size_t ask = static_cast<std::size_t>(std::min<std::uint64_t>(n, SSIZE_MAX));
  ssize_t got;
  do {
    got = ::read(descriptor_, buffer, ask);
  } while (got < 0 && errno == EINTR);
  if (got < 0) {
    status_ = StreamStatus::Error;
    error_ = errno;
    return 0;
  }
  if (got == 0) {
    status_ = StreamStatus::End;
    return 0;
  }
  return static_cast<std::uint64_t>(got);
}

std::uint64_t FileStream::writeSome(const std::byte* data, std::uint64_t n) {
  if ((flags_ & kWritable) == 0 || status_ != StreamStatus::Ok) return 0;
  const std::size_t ask = static_cast<std::size_t>(std::min<std::uint64_t>(n, SSIZE_MAX));
  ssize_t put;
  do {
    put = ::write(descriptor_, data, ask);
  } while (put < 0 && errno == EINTR);
  if (put < 0) {
    status_ = StreamStatus::Error;
    error_ = errno;
    return 0;
  }
  if (put == 0) {
    status_ = StreamStatus::End;
    return 0;
  }
  return static_cast<std::uint64_t>(put);
}

int FileStream::flush(bool sync) {
  if (!sync) return 0;
  if ((flags_ & kWritable) == 0) return -1;
  if (::fdatasync(descriptor_) == 0) return 0;
  // The system may report a failed write only now, when it writes out its cache; a file
  // that cannot be synced (EINVAL) has lost nothing.
  if (errno != EINVAL) {
    status_ = StreamStatus::Error;
    error_ = errno;
  }
  return -1;
}

std::int64_t FileStream::size() {
  struct stat info {};
  if (::fstat(descriptor_, &info) != 0 || !S_ISREG(info.st_mode)) return -1;
  return static_cast<std::int64_t>(info.st_size);
}

std::int64_t FileStream::seek(SeekOrigin origin, std::int64_t offset) {
  int whence = SEEK_SET;
  if (origin == SeekOrigin::FromCurrent) whence = SEEK_CUR;
  if (origin == SeekOrigin::FromEnd) whence = SEEK_END;
  const auto position =
      static_cast<std::int64_t>(::lseek(descriptor_, static_cast<off_t>(offset), whence));
  // As with fseek, a successful seek leaves the end behind: the file can be read again.
  if (position >= 0 && status_ == StreamStatus::End) status_ = StreamStatus::Ok;
  return position;
}

// ---- MemoryStream --------------------------------------------------------------------

MemoryStream::MemoryStream(std::uint64_t limit)
    : Stream(StreamKind::Memory),
      capacity_(std::min(limit, kGrowthStep)),
      limit_(limit),
      data_(static_cast<std::byte*>(allocOrAbort(static_cast<std::size_t>(capacity_)))) {}

std::unique_ptr<MemoryStream> MemoryStream::create(std::uint64_t limit) {
  return std::unique_ptr<MemoryStream>(new MemoryStream(limit));
}

std::uint64_t MemoryStream::readSome(std::byte* buffer, std::uint64_t n) {
  const std::uint64_t count = std::min(fill_ - position_, n);
  if (count == 0) return 0;
  std::memcpy(buffer, data_.get() + position_, static_cast<std::size_t>(count));
  position_ += count;
  return count;
}

std::uint64_t MemoryStream::writeSome(const std::byte* data, std::uint64_t n) {
  std::uint64_t count = n;
  if (count > limit_ - fill_) {
    failed_ = true;
    count = limit_ - fill_;
    if (count == 0) return 0;
  }
  const std::uint64_t needed = fill_ + count;
  if (needed > capacity_) {
    const std::uint64_t rounded = (needed + kGrowthStep - 1) / kGrowthStep * kGrowthStep;
    capacity_ = std::min(rounded, limit_);
    data_.reset(static_cast<std::byte*>(
        reallocOrAbort(data_.release(), static_cast<std::size_t>(capacity_))));
  }
  std::memcpy(data_.get() + fill_, data, static_cast<std::size_t>(count));
  fill_ = needed;
  return count;
}

int MemoryStream::flush(bool) {
  return -1;
}

StreamStatus MemoryStream::status() const {
  if (failed_) return StreamStatus::Error;
  return position_ == fill_ ? StreamStatus::End : StreamStatus::Ok;
}

std::int64_t MemoryStream::seek(SeekOrigin origin, std::int64_t offset) {
  const auto fill = static_cast<std::int64_t>(fill_);
  const auto position = static_cast<std::int64_t>(position_);
  switch (origin) {
    case SeekOrigin::FromStart:
      position_ = offset <= 0 ? 0 : static_cast<std::uint64_t>(std::min(offset, fill));
      break;
    case SeekOrigin::FromCurrent:
      if (offset < 0) {
        position_ = offset < -position ? 0 : static_cast<std::uint64_t>(position + offset);
      } else if (offset > 0) {
        position_ =
            offset > fill - position ? fill_ : static_cast<std::uint64_t>(position + offset);
      }
      break;
    case SeekOrigin::FromEnd:
      if (offset >= 0) {
        position_ = fill_;
      } else {
        position_ = offset < -fill ? 0 : static_cast<std::uint64_t>(fill + offset);
      }
      break;
  }
  return static_cast<std::int64_t>(position_);
}

std::unique_ptr<MemoryStream> copyToMemory(Stream& source, std::uint64_t limit) {
  constexpr std::uint64_t kChunk = 16384;
  auto memory = MemoryStream::create(limit);
  std::byte chunk[kChunk];
  for (;;) {
    const std::uint64_t got = source.read(chunk, kChunk);
    if (got == 0) break;
    if (memory->write(chunk, got) != got) return nullptr;
  }
  return memory;
}

// ---- filters -------------------------------------------------------------------------

StreamStatus StreamReader::status() const {
  return source_ ? source_->status() : StreamStatus::Error;
}

std::int64_t StreamReader::size() {
  return source_ ? source_->size() : -1;
}

std::int64_t StreamReader::seek(SeekOrigin origin, std::int64_t offset) {
  return source_ ? source_->seek(origin, offset) : -1;
}

int StreamReader::fileDescriptor() const {
  return source_ ? source_->fileDescriptor() : -1;
}

int StreamReader::flush(bool) {
  return -1;
}

int StreamWriter::flush(bool sync) {
  return target_ ? target_->flush(sync) : -1;
}

StreamStatus StreamWriter::status() const {
  return target_ ? target_->status() : StreamStatus::Error;
}

int StreamWriter::fileDescriptor() const {
  return target_ ? target_->fileDescriptor() : -1;
}

}  // namespace vidtwine
