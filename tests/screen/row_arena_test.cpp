#include "screen/row_arena.hpp"

#include <sys/mman.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <span>
#include <vector>

namespace vidtwine {
namespace {

TEST(RowArena, BlocksHoldTheirSizeApartAndComeBackByClass) {
  RowArena arena;
  // Sizes in the small classes, at class edges, in the large ones and beyond a chunk.
  const std::vector<std::size_t> sizes{1, 64, 65, 176, 4096, 4097, 70000, 5u << 20};
  std::vector<void*> blocks;
  for (std::size_t i = 0; i < sizes.size(); ++i) {
    blocks.push_back(arena.allocate(sizes[i]));
    std::memset(blocks.back(), static_cast<int>(i + 1), sizes[i]);
  }
  for (std::size_t i = 0; i < sizes.size(); ++i) {
    const auto* bytes = static_cast<const unsigned char*>(blocks[i]);
    EXPECT_EQ(bytes[0], i + 1) << sizes[i];
    EXPECT_EQ(bytes[sizes[i] - 1], i + 1) << sizes[i];
  }
  // A released block serves the next request of its class, not of another one.
  arena.release(blocks[3], 176);
  EXPECT_NE(arena.allocate(400), blocks[3]);
  EXPECT_EQ(arena.allocate(170), blocks[3]);
  arena.release(blocks[6], 70000);
  EXPECT_EQ(arena.allocate(69000), blocks[6]);
}

TEST(RowArena, AGivenFirstBlockIsHandedOutBeforeChunksOfItsOwn) {
  // Given at an odd place: blocks still come aligned, and none reaches past its end.
  std::vector<std::byte> first(1000);
  const std::span<std::byte> given = std::span(first).subspan(3, 900);
  RowArena arena(given);
  std::vector<std::byte*> blocks;
  for (int i = 0; i < 20; ++i) {
    blocks.push_back(static_cast<std::byte*>(arena.allocate(64)));
    std::memset(blocks.back(), i, 64);
  }
  const auto inside = [&](const std::byte* block) {
    return block >= given.data() && block + 64 <= given.data() + given.size();
  };
  EXPECT_EQ(std::count_if(blocks.begin(), blocks.end(), inside), 13);  // 13 whole blocks
  for (std::size_t i = 0; i < blocks.size(); ++i) {
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(blocks[i]) % alignof(std::max_align_t), 0u);
    EXPECT_EQ(inside(blocks[i]), i < 13) << i;
    EXPECT_EQ(std::to_integer<int>(blocks[i][63]), static_cast<int>(i));
  }
}

// How many of the pages from `begin` (page-aligned) over `bytes` are in memory.
std::size_t residentPages(const std::byte* begin, std::size_t bytes) {
  const auto page = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
  std::vector<unsigned char> resident((bytes + page - 1) / page);
  if (mincore(const_cast<std::byte*>(begin), bytes, resident.data()) != 0) return 0;
  return static_cast<std::size_t>(
      std::count_if(resident.begin(), resident.end(), [](unsigned char r) { return r & 1; }));
}

TEST(RowArena, PagesAreTakenAheadOfTheBlocksHandedOutButNotFarBeyond) {
  const auto page = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
  void* probe = mmap(nullptr, page, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  ASSERT_NE(probe, MAP_FAILED);
  const bool populates = madvise(probe, page, MADV_POPULATE_WRITE) == 0;
  munmap(probe, page);
  if (!populates) GTEST_SKIP() << "the system cannot take pages in advance";
  constexpr std::size_t kChunk = 64 * 1024;
  constexpr std::size_t kAhead = 16 * 1024;
  // Blocks handed out, never written: the pages they lie on come in all the same, and the
  // pages taken ahead stay within a few of them, so memory follows what was written.
  for (const std::size_t handed :
       {std::size_t{64}, std::size_t{20000}, std::size_t{40000}, kChunk}) {
    RowArena arena;
    const auto* first = static_cast<const std::byte*>(arena.allocate(64));
    for (std::size_t total = 64; total < handed; total += 64)
      arena.allocate(64);
    const std::size_t used = (handed + page - 1) / page;
    const std::size_t resident = residentPages(first, kChunk);
    EXPECT_GE(resident, used) << handed;
    EXPECT_LE(resident, std::min(kChunk / page, used + kAhead / page)) << handed;
  }
}

}  // namespace
}  // namespace vidtwine
