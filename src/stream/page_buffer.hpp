// Large blocks of memory straight from the system.
#pragma once

#include <cstddef>
#include <memory>
#include <new>
#include <utility>

namespace vidtwine {

/// A block of memory mapped from the system, for buffers of megabytes. Where the system
/// allows, it is backed by huge pages: every page a process touches for the first time costs
/// a fault, and on virtual machines faults are dear (2 to 10 microseconds each, measured).
/// Pages are taken only as they are touched, so an unwritten tail costs nothing, unless
/// they are taken in advance.
class PageBuffer final {
 public:
  PageBuffer() noexcept = default;
  /// `bytes` bytes, zeroed. When the system refuses, the new-handler runs as for
  /// operator new (ours ends the process); without one, std::bad_alloc is thrown.
  explicit PageBuffer(std::size_t bytes);
  PageBuffer(PageBuffer&& other) noexcept;
  PageBuffer& operator=(PageBuffer&& other) noexcept;
  ~PageBuffer();

  /// A buffer whose pages are all taken at once (see `prefault`).
  static PageBuffer prefaulted(std::size_t bytes);

  std::byte* data() const noexcept { return data_; }
  std::size_t size() const noexcept { return size_; }
  bool empty() const noexcept { return size_ == 0; }

 private:
  /// False when the system refused.
  bool map(std::size_t bytes) noexcept;
  void release() noexcept;

  std::byte* mapping_ = nullptr;
  std::size_t mappingSize_ = 0;
  std::byte* data_ = nullptr;
  std::size_t size_ = 0;
};

/// Takes the pages that hold `bytes` bytes from `begin` on, which are mapped and writable,
/// now rather than at their first touch: for memory that is written all over soon, where
/// one call costs far less than a fault per page. Leaves the contents as they are; does
/// nothing where the system cannot.
void prefault(std::byte* begin, std::size_t bytes) noexcept;

/// A new `T` whose pages are taken (see `prefault`) before it is constructed: for objects of
/// several pages whose construction writes them all anyway.
template <typename T, typename... Args>
std::unique_ptr<T> makePrefaulted(Args&&... args) {
  static_assert(alignof(T) <= __STDCPP_DEFAULT_NEW_ALIGNMENT__);
  void* const memory = ::operator new(sizeof(T));
  prefault(static_cast<std::byte*>(memory), sizeof(T));
  try {
    return std::unique_ptr<T>(::new (memory) T(std::forward<Args>(args)...));
  } catch (...) {
    ::operator delete(memory);
    throw;
  }
}

}  // namespace vidtwine
