#include "screen/row_arena.hpp"

#include <algorithm>
#include <bit>
#include <cstdint>
#include <utility>

#if defined(__SANITIZE_ADDRESS__)
#define VIDTWINE_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define VIDTWINE_ASAN 1
#endif
#endif

#if defined(VIDTWINE_ASAN)
#include <sanitizer/asan_interface.h>
// Blocks of a chunk are fenced off from each other, as separate allocations would be.
#define VIDTWINE_POISON(address, size) __asan_poison_memory_region(address, size)
#define VIDTWINE_UNPOISON(address, size) __asan_unpoison_memory_region(address, size)
#else
#define VIDTWINE_POISON(address, size) ((void)(address), (void)(size))
#define VIDTWINE_UNPOISON(address, size) ((void)(address), (void)(size))
#endif

namespace vidtwine {

namespace {

constexpr std::size_t kAlignment = alignof(std::max_align_t);
constexpr std::size_t kSmallStep = 64;
constexpr std::size_t kSmallLimit = 4096;
// The first chunk is small, so that a short file costs little; the others are large enough
// for huge pages, which save a fault for every 4 KiB written (a third of the time of
// 24-bit art on a virtual machine, measured).
constexpr std::size_t kFirstChunk = 64 * 1024;
constexpr std::size_t kChunk = 4 * 1024 * 1024;
// The pages of the first chunk are taken this many bytes ahead of the blocks handed out:
// one call for four pages instead of a fault for each, which costs about ten times as
// much on a virtual machine (a 36 KB file of art 2 to 4% faster, measured). The larger
// chunks take a huge page per fault.
constexpr std::size_t kPopulateAhead = 16 * 1024;

}  // namespace

RowArena::RowArena(std::span<std::byte> first) noexcept {
  // Begins where blocks may begin, and holds whole blocks of the smallest class.
  const auto address = reinterpret_cast<std::uintptr_t>(first.data());
  const std::size_t skip = std::min(first.size(), (kAlignment - address % kAlignment) % kAlignment);
  first = first.subspan(skip);
  first_ = first.first(first.size() / kSmallStep * kSmallStep);
  next_ = first_.data();
  end_ = populated_ = next_ + first_.size();
  VIDTWINE_POISON(next_, first_.size());
}

RowArena::~RowArena() {
  // The fences go with the chunks: memory mapped later at the same place is fresh.
  VIDTWINE_UNPOISON(first_.data(), first_.size());
  for (const PageBuffer& chunk : chunks_)
    VIDTWINE_UNPOISON(chunk.data(), chunk.size());
}

std::size_t RowArena::classIndex(std::size_t bytes) noexcept {
  if (bytes <= kSmallLimit) return (std::max<std::size_t>(bytes, 1) - 1) / kSmallStep;
  // Above 4 KiB: four classes per power of two.
  const std::size_t last = bytes - 1;
  const auto exponent = static_cast<std::size_t>(std::bit_width(last)) - 1;  // 12 and up
  const std::size_t quarter = (last >> (exponent - 2)) & 3;
  return kSmallLimit / kSmallStep + (exponent - 12) * 4 + quarter;
}

std::size_t RowArena::classSize(std::size_t index) noexcept {
  if (index < kSmallLimit / kSmallStep) return (index + 1) * kSmallStep;
  const std::size_t large = index - kSmallLimit / kSmallStep;
  const std::size_t exponent = 12 + large / 4;
  return (std::size_t{4} + large % 4 + 1) << (exponent - 2);
}

void* RowArena::allocate(std::size_t bytes) {
  const std::size_t index = classIndex(bytes);
  if (FreeBlock* reused = free_[index]; reused != nullptr) {
    VIDTWINE_UNPOISON(reused, sizeof(FreeBlock));
    free_[index] = reused->next;
    VIDTWINE_UNPOISON(reused, bytes);
    return reused;
  }
  const std::size_t size = classSize(index);
  if (static_cast<std::size_t>(end_ - next_) < size) {
    // The rest of the current chunk is left unused: at most one block's worth.
    const std::size_t chunk =
        std::max(chunks_.empty() && first_.empty() ? kFirstChunk : kChunk, size);
    // Pages of a chunk are not touched until blocks are written, so a fresh chunk does not
    // count towards the resident memory.
    chunks_.emplace_back(chunk);
    next_ = chunks_.back().data();
    end_ = next_ + chunk;
    populated_ = chunk >= kChunk ? end_ : next_;
    VIDTWINE_POISON(next_, chunk);
  }
  void* block = next_;
  next_ += size;
  if (next_ > populated_) {
    std::byte* const through =
        next_ + std::min(kPopulateAhead, static_cast<std::size_t>(end_ - next_));
    prefault(populated_, static_cast<std::size_t>(through - populated_));
    populated_ = through;
  }
  static_assert(kSmallStep % kAlignment == 0);
  VIDTWINE_UNPOISON(block, bytes);
  return block;
}

void RowArena::release(void* block, std::size_t bytes) noexcept {
  if (block == nullptr) return;
  const std::size_t index = classIndex(bytes);
  auto* freed = static_cast<FreeBlock*>(block);
  VIDTWINE_POISON(block, bytes);
  VIDTWINE_UNPOISON(block, sizeof(FreeBlock));
  freed->next = free_[index];
  free_[index] = freed;
  VIDTWINE_POISON(block, sizeof(FreeBlock));
}

}  // namespace vidtwine
