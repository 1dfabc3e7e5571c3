#include "stream/dos_text_reader.hpp"

#include <string>

#include <gtest/gtest.h>

namespace vidtwine {
namespace {

std::unique_ptr<Stream> memoryWith(const std::string& bytes) {
  auto memory = MemoryStream::create(bytes.size() + 1);
  memory->write(bytes.data(), bytes.size());
  return memory;
}

std::string readAll(Stream& reader, std::size_t step) {
  std::string out;
  std::string buffer(step, '\0');
  for (;;) {
    const auto got = reader.read(buffer.data(), step);
    if (got == 0) break;
    out.append(buffer.data(), static_cast<std::size_t>(got));
  }
  return out;
}

struct Case {
  const char* name;
  std::string input;
  std::int64_t limit;
  bool ignoreEof;
  std::string expected;
};

TEST(DosTextReader, EndsAtTheEndByteOrTheLimitWhicheverComesFirst) {
  const Case cases[] = {
      {"end byte",
       std::string("abc\x1a"
                   "def"),
       -1, false, "abc"},
      {"end byte ignored",
       std::string("abc\x1a"
                   "def"),
       -1, true,
       std::string("abc\x1a"
                   "def")},
      {"starts with end byte",
       std::string("\x1a"
                   "abc"),
       -1, false, ""},
      {"limit", "abcdefgh", 5, false, "abcde"},
      {"limit zero", "abcdefgh", 0, false, ""},
      {"end byte behind limit", std::string("abcdefg\x1a"), 3, false, "abc"},
      {"limit behind end byte",
       std::string("ab\x1a"
                   "cdefg"),
       6, false, "ab"},
      {"limit beyond input", "abc", 10, false, "abc"},
      {"limit ignored with -E",
       std::string("abc\x1a"
                   "def"),
       2, true,
       std::string("abc\x1a"
                   "def")},
  };
  for (const auto& c : cases) {
    for (const std::size_t step : {std::size_t{1}, std::size_t{3}, std::size_t{4096}}) {
      DosTextReader reader(memoryWith(c.input), 4, c.limit, c.ignoreEof);
      EXPECT_EQ(readAll(reader, step), c.expected) << c.name << " step " << step;
    }
  }
}

TEST(DosTextReader, StatusTellsTheEndFromTheSourceEnd) {
  DosTextReader finished(memoryWith("ab\x1a"), 16, -1, false);
  readAll(finished, 16);
  EXPECT_EQ(finished.status(), StreamStatus::End);

  auto source = MemoryStream::create(64);
  source->putString("abc");
  auto* raw = source.get();
  DosTextReader open(std::move(source), 16, 10, false);
  EXPECT_EQ(readAll(open, 16), "abc");
  // The source ran dry, the reader is not finished: more data comes through.
  raw->putString("de");
  EXPECT_EQ(readAll(open, 16), "de");
}

TEST(DosTextReader, FindsTheEndByteInALaterBlock) {
  const std::string input = std::string(10000, 'x') + "\x1a" + std::string(50, 'y');
  for (const std::size_t step : {std::size_t{1}, std::size_t{777}, std::size_t{20000}}) {
    DosTextReader reader(memoryWith(input), 256, -1, false);
    EXPECT_EQ(readAll(reader, step), std::string(10000, 'x')) << step;
  }
  DosTextReader limited(memoryWith(std::string(3000, 'z')), 256, 2900, false);
  EXPECT_EQ(readAll(limited, 1).size(), 2900u);
}

TEST(DosTextReader, ServesRequestsLargerThanItsBuffer) {
  const std::uint64_t capacity = 256;
  DosTextReader whole(memoryWith(std::string(2 * capacity + 100, 'w')), capacity, -1, false);
  std::string buffer(2 * capacity + 100, '\0');
  EXPECT_EQ(whole.read(buffer.data(), buffer.size()), 2 * capacity + 100);

  // A short refill ends the call.
  auto source = memoryWith(std::string(capacity + 100, 's'));
  DosTextReader shortRefill(std::move(source), capacity, -1, false);
  std::string big(2 * capacity, '\0');
  EXPECT_EQ(shortRefill.read(big.data(), big.size()), capacity + 100);
}

}  // namespace
}  // namespace vidtwine
