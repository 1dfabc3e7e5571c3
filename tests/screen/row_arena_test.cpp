#include "screen/row_arena.hpp"

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

}  // namespace
}  // namespace vidtwine
