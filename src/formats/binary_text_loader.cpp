#include "formats/binary_text_loader.hpp"

#include <algorithm>
#include <span>

#include "formats/block_reader.hpp"
#include "formats/cell_grid.hpp"

namespace vidtwine {

LoadError BinaryTextLoader::load(VirtualScreen& screen, Stream& input, std::uint64_t size,
                                 bool dropEndOfFile, std::span<std::byte> buffer) {
  const std::uint32_t width = screen.width();
  // Read in blocks rather than whole, so that memory does not hold the file as well as
  // the screen (3.5 MB less for 4 MiB, as fast).
  std::uint64_t left = size;
  std::uint64_t cell = 0;
  const auto put = [&](std::span<const std::uint8_t> pairs) {
    // One row piece at a time, made in the screen's row. The attribute is converted by bit
    // operations rather than from a table, so that the loop is vectorised (half the
    // instructions of the table's).
    const std::uint8_t* next = pairs.data();
    for (std::uint64_t cells = pairs.size() / 2; cells != 0;) {
      const auto column = static_cast<std::uint32_t>(cell % width);
      const auto count = static_cast<std::uint32_t>(std::min<std::uint64_t>(width - column, cells));
      screen.putRowWith(cell / width, column, count, [next](std::span<ScreenCell> row) {
        for (std::size_t i = 0; i < row.size(); ++i)
          row[i] = static_cast<ScreenCell>(next[2 * i] << 8 | screenAttribute(next[2 * i + 1]));
      });
      next += 2 * std::size_t{count};
      cell += count;
      cells -= count;
    }
  };
  // Once the data has ended, what follows it (the SAUCE block) is not read: stopping there
  // is no failure.
  const auto process = [&](std::span<const std::uint8_t> bytes, bool last) {
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
  };
  return readBlocks(input, nullptr, process, buffer);
}

}  // namespace vidtwine
