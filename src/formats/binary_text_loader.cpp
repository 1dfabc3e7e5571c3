#include "formats/binary_text_loader.hpp"

#include <algorithm>
#include <memory>

#include "formats/block_reader.hpp"
#include "formats/cell_grid.hpp"

namespace vidtwine {

LoadError BinaryTextLoader::load(VirtualScreen& screen, Stream& input, std::uint64_t size,
                                 bool dropEndOfFile) {
  const std::uint32_t width = screen.width();
  // Read in blocks rather than whole, so that memory does not hold the file as well as
  // the screen (3.5 MB less for 4 MiB, as fast).
  auto row = std::make_unique_for_overwrite<ScreenCell[]>(
      std::max<std::uint64_t>(1, std::min<std::uint64_t>(width, size / 2)));
  std::uint64_t left = size;
  std::uint64_t cell = 0;
  const auto put = [&](std::span<const std::uint8_t> pairs) {
    // One row piece at a time. The attribute is converted by bit operations rather than
    // from a table, so that the loop is vectorised (half the instructions of the table's).
    const std::uint8_t* next = pairs.data();
    for (std::uint64_t cells = pairs.size() / 2; cells != 0;) {
      const auto column = static_cast<std::uint32_t>(cell % width);
      const auto count = static_cast<std::size_t>(std::min<std::uint64_t>(width - column, cells));
      for (std::size_t i = 0; i < count; ++i, next += 2)
        row[i] = static_cast<ScreenCell>(next[0] << 8 | screenAttribute(next[1]));
      screen.putRow(cell / width, column, {row.get(), count});
      cell += count;
      cells -= count;
    }
  };
  // Once the data has ended, what follows it (the SAUCE block) is not read: stopping there
  // is no failure.
  return readBlocks(input, nullptr, [&](std::span<const std::uint8_t> bytes, bool last) {
    const auto wanted = static_cast<std::size_t>(std::min<std::uint64_t>(bytes.size(), left));
    if (last || wanted < bytes.size()) {
      // The data ends in this block: only now is its last byte known.
      auto data = bytes.first(wanted);
      if (dropEndOfFile && !data.empty() && data.back() == 0x1A) data = data.first(wanted - 1);
      put(data);
      // At the input's end its status tells whether the reading failed.
      return last ? std::optional<std::size_t>(bytes.size()) : std::nullopt;
    }
    // At least one byte stays for the next block, which may be the mark to drop.
    const std::size_t taken = wanted == 0 ? 0 : (wanted - 1) & ~std::size_t{1};
    put(bytes.first(taken));
    left -= taken;
    return std::optional<std::size_t>(taken);
  });
}

}  // namespace vidtwine
