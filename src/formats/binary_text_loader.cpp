#include "formats/binary_text_loader.hpp"

#include <algorithm>
#include <array>
#include <memory>

#include "formats/cell_grid.hpp"

namespace vidtwine {

namespace {

constexpr auto kScreenAttributes = [] {
  std::array<CellAttribute, 256> table{};
  for (unsigned dos = 0; dos < 256; ++dos)
    table[dos] = screenAttribute(static_cast<std::uint8_t>(dos));
  return table;
}();

}  // namespace

LoadError BinaryTextLoader::load(VirtualScreen& screen, std::span<const std::uint8_t> data) {
  const std::uint32_t width = screen.width();
  const std::uint64_t cells = data.size() / 2;
  // One row at a time; a table lookup per cell is all the work.
  auto row = std::make_unique_for_overwrite<ScreenCell[]>(std::min<std::uint64_t>(width, cells));
  const std::uint8_t* next = data.data();
  for (std::uint64_t first = 0, index = 0; first < cells; first += width, ++index) {
    const auto count = static_cast<std::size_t>(std::min<std::uint64_t>(width, cells - first));
    for (std::size_t i = 0; i < count; ++i, next += 2)
      row[i] = static_cast<ScreenCell>(next[0] << 8 | kScreenAttributes[next[1]]);
    screen.putRow(index, 0, {row.get(), count});
  }
  return nullptr;
}

}  // namespace vidtwine
