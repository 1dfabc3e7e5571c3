#include "stream/page_buffer.hpp"

#include <array>
#include <stdexcept>

#include <gtest/gtest.h>

namespace vidtwine {
namespace {

TEST(PageBuffer, PrefaultedObjectsAreMadeFromTheirArgumentsAndGiveBackTheirMemoryOnAThrow) {
  struct Large {
    explicit Large(int value) { values.fill(value); }
    std::array<int, 8192> values;
  };
  const auto large = makePrefaulted<Large>(7);
  EXPECT_EQ(large->values.front(), 7);
  EXPECT_EQ(large->values.back(), 7);

  // The sanitizers' leak check sees whether the memory went back.
  struct Refused {
    Refused() { throw std::runtime_error("refused"); }
    std::array<char, 20000> bytes;
  };
  EXPECT_THROW(makePrefaulted<Refused>(), std::runtime_error);
}

}  // namespace
}  // namespace vidtwine
