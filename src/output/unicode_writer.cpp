#include "output/unicode_writer.hpp"

#include <algorithm>
#include <array>
#include <cstring>

namespace vidtwine {

namespace {

// Units encoded per write into the target: at most 3 KiB of UTF-8 on the stack.
constexpr std::size_t kBatchUnits = 1024;

}  // namespace

UnicodeWriter::UnicodeWriter(std::unique_ptr<Stream> target, UnicodeFormat format)
    : StreamWriter(std::move(target)), encoder_(format) {}

std::uint64_t UnicodeWriter::writeSome(const std::byte* data, std::uint64_t n) {
  const auto units = static_cast<std::size_t>(std::min<std::uint64_t>(n / 2, kBatchUnits));
  if (units == 0 || target_ == nullptr) return 0;
  // The bytes need not be aligned as units are.
  std::array<std::uint16_t, kBatchUnits> unitCopy;
  std::memcpy(unitCopy.data(), data, units * 2);
  constexpr std::size_t kRoom =
      UnicodeEncoder::kMaxUnitBytes * kBatchUnits + UnicodeEncoder::kSlack;

  // Straight into the target's buffer where it has room for the longest encoding, which
  // saves copying every byte once more.
  if (const std::span<std::byte> room = target_->writeRoom();
      room.size() >= UnicodeEncoder::kMaxUnitBytes * units + UnicodeEncoder::kSlack) {
    target_->commitRoom(encoder_.encode(unitCopy.data(), units, room.data()));
    return target_->status() == StreamStatus::Ok ? units * 2 : 0;
  }

  std::byte encoded[kRoom];
  const std::size_t length = encoder_.encode(unitCopy.data(), units, encoded);
  const std::uint64_t written = target_->write(encoded, length);
  // A unit counts as consumed only when the target is still Ok after its bytes. The status
  // is looked at once per batch, so a batch the target took whole but then reports a
  // failure for counts as not consumed at all.
  if (written == length) return target_->status() == StreamStatus::Ok ? units * 2 : 0;
  // A short write: only the units whose bytes all went through count.
  std::uint64_t taken = 0;
  std::size_t whole = 0;
  while (whole < units && taken + encoder_.lengthOf(unitCopy[whole]) <= written) {
    taken += encoder_.lengthOf(unitCopy[whole]);
    ++whole;
  }
  return whole * 2;
}

}  // namespace vidtwine
