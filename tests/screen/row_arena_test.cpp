#include "screen/row_arena.hpp"

#include <gtest/gtest.h>

#include <cstring>
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

}  // namespace
}  // namespace vidtwine
