#include "stream/buffered_writer.hpp"

#include <algorithm>
#include <cstring>

#include "stream/page_buffer.hpp"

namespace vidtwine {

BufferedWriter::BufferedWriter(std::unique_ptr<Stream> target, std::uint64_t capacity)
    : StreamWriter(std::move(target)),
      capacity_(capacity),
      owned_(new std::byte[static_cast<std::size_t>(capacity)]),
      buffer_(owned_.get()) {}

BufferedWriter::BufferedWriter(std::unique_ptr<Stream> target, std::span<std::byte> buffer)
    : StreamWriter(std::move(target)), capacity_(buffer.size()), buffer_(buffer.data()) {}

BufferedWriter::~BufferedWriter() {
  // Closing a chain writes out what is held before the target goes.
  flush(false);
}

void BufferedWriter::prefaultMore(std::uint64_t end) noexcept {
  const std::uint64_t through =
      std::min(capacity_, std::max({end, kFirstPrefault, 2 * prefaulted_}));
  prefault(buffer_ + prefaulted_, static_cast<std::size_t>(through - prefaulted_));
  prefaulted_ = through;
}

std::uint64_t BufferedWriter::writeSome(const std::byte* data, std::uint64_t n) {
  const std::uint64_t room = capacity_ - fill_;
  prefaultThrough(std::min(fill_ + n, capacity_));
  if (n <= room) {
    std::memcpy(buffer_ + fill_, data, static_cast<std::size_t>(n));
    fill_ += n;
    return n;
  }
  std::uint64_t taken = 0;
  if (room > 0 && n <= capacity_) {
    std::memcpy(buffer_ + fill_, data, static_cast<std::size_t>(room));
    fill_ = capacity_;
    taken = room;
  }
  if (fill_ > 0) {
    if (target_ == nullptr || target_->write(buffer_, fill_) == 0) return 0;
    fill_ = 0;
  }
  if (target_->flush(false) < 0) return 0;
  const std::uint64_t rest = n - taken;
  if (rest <= capacity_) {
    std::memcpy(buffer_, data + taken, static_cast<std::size_t>(rest));
    fill_ = rest;
    return n;
  }
  return taken + target_->write(data + taken, rest);
}

int BufferedWriter::flush(bool sync) {
  if (fill_ > 0) {
    if (target_ == nullptr || target_->write(buffer_, fill_) == 0) return -1;
    fill_ = 0;
  }
  return target_ ? target_->flush(sync) : -1;
}

void discard(Stream* stream) noexcept {
  if (auto* writer = findFilter<BufferedWriter>(stream)) writer->discardBuffer();
}

}  // namespace vidtwine
