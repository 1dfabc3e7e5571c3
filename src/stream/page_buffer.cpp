#include "stream/page_buffer.hpp"

#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <new>
#include <utility>

namespace vidtwine {

namespace {

// The size of a huge page on the machines we run on; elsewhere only the alignment is lost.
constexpr std::size_t kHugePage = 2 * 1024 * 1024;

}  // namespace

PageBuffer::PageBuffer(std::size_t bytes) {
  while (bytes != 0 && !map(bytes)) {
    const std::new_handler handler = std::get_new_handler();
    if (handler == nullptr) throw std::bad_alloc();
    handler();
  }
}

bool PageBuffer::map(std::size_t bytes) noexcept {
  // Buffers of a huge page or more start on a huge-page boundary, or no huge page fits.
  const std::size_t slack = bytes >= kHugePage ? kHugePage : 0;
  if (bytes > SIZE_MAX - slack) return false;
  void* mapping =
      mmap(nullptr, bytes + slack, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (mapping == MAP_FAILED) return false;
  mapping_ = static_cast<std::byte*>(mapping);
  mappingSize_ = bytes + slack;
  const auto address = reinterpret_cast<std::uintptr_t>(mapping_);
  data_ = mapping_ + ((slack - address % kHugePage) % kHugePage) * (slack != 0);
  size_ = bytes;
#ifdef MADV_HUGEPAGE
  // Advice only: without huge pages the buffer works the same.
  if (slack != 0) madvise(data_, bytes - bytes % kHugePage, MADV_HUGEPAGE);
#endif
  return true;
}

PageBuffer PageBuffer::prefaulted(std::size_t bytes) {
  PageBuffer buffer(bytes);
  prefault(buffer.data(), bytes);
  return buffer;
}

PageBuffer::PageBuffer(PageBuffer&& other) noexcept
    : mapping_(std::exchange(other.mapping_, nullptr)),
      mappingSize_(std::exchange(other.mappingSize_, 0)),
      data_(std::exchange(other.data_, nullptr)),
      size_(std::exchange(other.size_, 0)) {}

PageBuffer& PageBuffer::operator=(PageBuffer&& other) noexcept {
  if (this != &other) {
    release();
    mapping_ = std::exchange(other.mapping_, nullptr);
    mappingSize_ = std::exchange(other.mappingSize_, 0);
    data_ = std::exchange(other.data_, nullptr);
    size_ = std::exchange(other.size_, 0);
  }
  return *this;
}

PageBuffer::~PageBuffer() {
  release();
}

void PageBuffer::release() noexcept {
  if (mapping_ != nullptr) munmap(mapping_, mappingSize_);
  mapping_ = data_ = nullptr;
  mappingSize_ = size_ = 0;
}

void prefault(std::byte* begin, std::size_t bytes) noexcept {
#ifdef MADV_POPULATE_WRITE
  if (bytes == 0) return;
  // Widened to whole pages: the pages around the bytes are mapped too.
  static const auto page = static_cast<std::uintptr_t>(sysconf(_SC_PAGESIZE));
  const auto first = reinterpret_cast<std::uintptr_t>(begin) / page * page;
  const std::uintptr_t end = reinterpret_cast<std::uintptr_t>(begin) + bytes;
  madvise(reinterpret_cast<void*>(first), end - first, MADV_POPULATE_WRITE);
#else
  (void)begin;
  (void)bytes;
#endif
}

}  // namespace vidtwine
