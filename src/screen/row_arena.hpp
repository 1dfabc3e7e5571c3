// Storage for the rows of one screen.
#pragma once

#include <array>
#include <cstddef>
#include <span>
#include <vector>

#include "stream/page_buffer.hpp"

namespace vidtwine {

/// Hands out blocks for row storage from large chunks, so that a screen of many rows costs
/// a few allocations instead of one per row, and keeps released blocks for reuse by size.
/// Every block lives until the arena does. A block's size is rounded up to a size class at
/// most a quarter larger, so memory still follows what was written.
class RowArena final {
 public:
  RowArena() = default;
  /// Hands out `first` (which must outlive the arena) before mapping chunks of its own.
  explicit RowArena(std::span<std::byte> first) noexcept;
  ~RowArena();
  RowArena(const RowArena&) = delete;
  RowArena& operator=(const RowArena&) = delete;

  /// A block of at least `bytes` bytes (not 0), aligned for any row data, contents undefined.
  void* allocate(std::size_t bytes);
  /// Returns a block from `allocate` with the same `bytes`, for reuse.
  void release(void* block, std::size_t bytes) noexcept;

 private:
  /// The smallest class holds 64 bytes; classes step by 64 bytes up to 4 KiB, then by
  /// quarters of each power of two, up to any size.
  static constexpr std::size_t kClasses = 64 + 4 * 52;
  static std::size_t classIndex(std::size_t bytes) noexcept;
  static std::size_t classSize(std::size_t index) noexcept;

  struct FreeBlock {
    FreeBlock* next;
  };

  std::span<std::byte> first_;
  std::vector<PageBuffer> chunks_;
  std::byte* next_ = nullptr;
  std::byte* end_ = nullptr;
  /// The end of the current chunk's pages taken in advance (see `allocate`).
  std::byte* populated_ = nullptr;
  std::array<FreeBlock*, kClasses> free_{};
};

}  // namespace vidtwine
