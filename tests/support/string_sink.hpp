// The bottom of an output chain in tests: keeps what it is given in a string the test
// owns, like a file on a disk that fills up after `room` bytes.
#pragma once

#include <algorithm>
#include <cstddef>
#include <limits>
#include <string>

#include "stream/stream.hpp"

namespace vidtwine::test {

/// Its status is Ok until a write is cut at `room` bytes, then Error. (A memory stream does
/// not serve here: its status concerns reading back, and is End while it is empty.)
class StringSink final : public Stream {
 public:
  explicit StringSink(std::string& bytes,
                      std::size_t room = std::numeric_limits<std::size_t>::max())
      : Stream(StreamKind::File), bytes_(bytes), room_(room) {}
  int flush(bool) override { return 0; }
  StreamStatus status() const override { return failed_ ? StreamStatus::Error : StreamStatus::Ok; }

 private:
  std::uint64_t writeSome(const std::byte* data, std::uint64_t n) override {
    const std::size_t count =
        std::min<std::size_t>(static_cast<std::size_t>(n), room_ - std::min(room_, bytes_.size()));
    if (count == 0) failed_ = true;
    bytes_.append(reinterpret_cast<const char*>(data), count);
    return count;
  }

  std::string& bytes_;
  std::size_t room_;
  bool failed_ = false;
};

}  // namespace vidtwine::test
