// Input in blocks for loaders whose codes span several bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <optional>
#include <span>

#include "formats/load_report.hpp"
#include "stream/stream.hpp"

namespace vidtwine {

/// Reads `input` to its end and hands the bytes to `process(bytes, last)`, which returns
/// how many it has dealt with (all of them when `last`), or none to stop with `stopped`.
/// Bytes left over, the start of a code cut by the block's end, are handed again in front
/// of the next block; `process` leaves fewer than `kCarry` of them. The blocks are read
/// into `buffer` when it is larger than `kCarry`, else into memory of its own.
template <typename Process>
LoadError readBlocks(Stream& input, LoadError stopped, Process process,
                     std::span<std::byte> buffer = {}) {
  constexpr std::size_t kBlock = 64 * 1024;
  constexpr std::size_t kCarry = 64;
  std::unique_ptr<std::byte[]> own;
  if (buffer.size() <= kCarry) {
    own = std::make_unique_for_overwrite<std::byte[]>(kBlock + kCarry);
    buffer = {own.get(), kBlock + kCarry};
  }
  auto* const start = reinterpret_cast<std::uint8_t*>(buffer.data());
  const std::size_t block = buffer.size() - kCarry;
  std::size_t kept = 0;
  for (;;) {
    const std::uint64_t got = input.read(start + kept, block);
    const bool last = got < block;
    const std::size_t size = kept + static_cast<std::size_t>(got);
    const std::optional<std::size_t> done =
        process(std::span<const std::uint8_t>(start, size), last);
    if (!done) return stopped;
    if (last) break;
    kept = size - *done;
    std::memmove(start, start + *done, kept);
  }
  if (input.status() == StreamStatus::Error) return "read error";
  return nullptr;
}

}  // namespace vidtwine
