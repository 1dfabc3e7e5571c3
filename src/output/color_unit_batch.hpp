// The code-unit loop shared by both colour writers.
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "output/color_flags.hpp"
#include "stream/char_stream.hpp"
#include "stream/stream.hpp"

namespace vidtwine {

/// The writeSome step of both colour writers. Ordinary code units are passed on unchanged;
/// when the writer's `dropsMarkers()` says so, markers and resets are simply left out;
/// for each attribute marker or reset the writer's `writeMarker(unit, out, ifUndelivered)`
/// appends the terminal's sequence to `out` and updates its known colours; it returns
/// false when it cannot produce the sequence (the unit is then not consumed), and sets
/// `ifUndelivered` to the colours to keep when the sequence does not reach the target.
///
/// Everything is collected and handed to the target in large writes, instead of one write
/// per run of text and one per sequence. The result is still that of handing each unit on
/// by itself: the bytes consumed are those of the units whose whole output the target
/// took, up to the first one whose output it did not take, and the writer is left with
/// the colours it would have then.
class ColorUnitBatch {
 public:
  ColorUnitBatch() {
    sequence_.reserve(kSequenceReserve);
    replay_.reserve(kSequenceReserve);
  }

  template <typename Writer>
  std::uint64_t write(Writer& writer, Stream& target, const std::byte* data, std::uint64_t n);

 private:
  static constexpr std::size_t kCapacity = 4096;
  /// More than any sequence needs; a longer one makes the buffer grow once.
  static constexpr std::size_t kSequenceReserve = 256;

  static std::uint16_t unitAt(const std::byte* data, std::uint64_t index) noexcept {
    std::uint16_t unit;
    std::memcpy(&unit, data + index * 2, sizeof unit);
    return unit;
  }

  /// Hands `units` units to the target; the number of them it took whole.
  static std::size_t deliver(Stream& target, const std::uint16_t* units, std::size_t count) {
    if (count == 0) return 0;
    return static_cast<std::size_t>(target.write(units, count * sizeof(std::uint16_t)) / 2);
  }

  /// After the target took only `taken` units of what the input units first..last - 1
  /// produced: processes them again from the colours `start`, without output, to find
  /// the first unit whose output was not taken whole. Returns its index and leaves the
  /// writer with the colours of that point.
  template <typename Writer>
  std::uint64_t replay(Writer& writer, KnownColors start, const std::byte* data,
                       std::uint64_t first, std::uint64_t last, std::size_t taken);

  std::array<std::uint16_t, kCapacity> batch_;
  std::size_t fill_ = 0;
  std::vector<std::uint16_t> sequence_;
  std::vector<std::uint16_t> replay_;
};

template <typename Writer>
std::uint64_t ColorUnitBatch::write(Writer& writer, Stream& target, const std::byte* data,
                                    std::uint64_t n) {
  const std::uint64_t units = n / 2;
  // The window: the input units whose output the batch holds.
  std::uint64_t windowStart = 0;
  KnownColors windowColors = writer.colors();
  std::uint64_t index = 0;
  fill_ = 0;

  // Hands on the batch, which holds the output of the units up to `end`; false, with
  // `index` moved back to the first unit not consumed, when the target did not take it
  // whole.
  const auto flush = [&](std::uint64_t end) -> bool {
    const std::size_t taken = deliver(target, batch_.data(), fill_);
    if (taken != fill_) {
      index = replay(writer, windowColors, data, windowStart, end, taken);
      return false;
    }
    fill_ = 0;
    windowStart = end;
    windowColors = writer.colors();
    return true;
  };

  if (writer.dropsMarkers()) {
    // Markers and resets make no output and change nothing: the units are copied, and
    // each marker is overwritten by the unit after it.
    while (index < units) {
      const std::uint64_t stop = std::min<std::uint64_t>(units, index + (kCapacity - fill_));
      for (; index < stop; ++index) {
        const std::uint16_t unit = unitAt(data, index);
        batch_[fill_] = unit;
        fill_ += charstream::isMarker(unit) ? 0 : 1;
      }
      if (fill_ == kCapacity && !flush(index)) return index * 2;
    }
    flush(index);
    return index * 2;
  }

  while (index < units) {
    const std::uint16_t unit = unitAt(data, index);
    if (!charstream::isMarker(unit)) {
      if (fill_ == kCapacity && !flush(index)) return index * 2;
      // The run of ordinary units up to the next marker, as far as the batch has room,
      // copied as it is scanned (runs are short in coloured art).
      const std::uint64_t stop = std::min<std::uint64_t>(units, index + (kCapacity - fill_));
      std::uint16_t* out = batch_.data() + fill_;
      *out++ = unit;
      for (++index; index < stop; ++index) {
        const std::uint16_t next = unitAt(data, index);
        if (charstream::isMarker(next)) break;
        *out++ = next;
      }
      fill_ = static_cast<std::size_t>(out - batch_.data());
      continue;
    }

    const KnownColors before = writer.colors();
    sequence_.clear();
    KnownColors ifUndelivered{};
    const bool produced = writer.writeMarker(unit, sequence_, ifUndelivered);
    if (sequence_.size() > kCapacity - fill_) {
      // What the batch holds goes first, as the output of the units before this one.
      const KnownColors after = writer.colors();
      writer.setColors(before);
      if (!flush(index)) return index * 2;
      writer.setColors(after);
      if (sequence_.size() > kCapacity) {
        // Longer than the whole batch: it goes on in a write of its own.
        if (deliver(target, sequence_.data(), sequence_.size()) != sequence_.size()) {
          writer.setColors(ifUndelivered);
          return index * 2;
        }
        if (!produced) return index * 2;
        windowStart = ++index;
        windowColors = writer.colors();
        continue;
      }
    }
    std::copy(sequence_.begin(), sequence_.end(),
              batch_.begin() + static_cast<std::ptrdiff_t>(fill_));
    fill_ += sequence_.size();
    if (!produced) {
      // What could be produced of the sequence still goes on; the unit is not consumed.
      flush(index + 1);
      return index * 2;
    }
    ++index;
  }
  flush(index);
  return index * 2;
}

template <typename Writer>
std::uint64_t ColorUnitBatch::replay(Writer& writer, KnownColors start, const std::byte* data,
                                     std::uint64_t first, std::uint64_t last, std::size_t taken) {
  writer.setColors(start);
  std::size_t output = 0;
  std::uint64_t index = first;
  for (; index < last; ++index) {
    const std::uint16_t unit = unitAt(data, index);
    if (!charstream::isMarker(unit)) {
      if (output == taken) break;
      ++output;
      continue;
    }
    replay_.clear();
    KnownColors ifUndelivered{};
    const bool produced = writer.writeMarker(unit, replay_, ifUndelivered);
    if (output + replay_.size() > taken) {
      writer.setColors(ifUndelivered);
      break;
    }
    if (!produced) break;
    output += replay_.size();
  }
  return index;
}

}  // namespace vidtwine
