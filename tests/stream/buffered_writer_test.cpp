#include "stream/buffered_writer.hpp"

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support/process.hpp"

namespace vidtwine {
namespace {

// Records every write that reaches it, so that spill sizes can be checked.
class Recorder final : public Stream {
 public:
  Recorder() : Stream(StreamKind::File) {}
  std::vector<std::uint64_t> writes;
  std::string bytes;
  bool refuse = false;
  int flushResult = 0;
  int flush(bool) override { return flushResult; }
  StreamStatus status() const override { return StreamStatus::Ok; }

 private:
  std::uint64_t writeSome(const std::byte* data, std::uint64_t n) override {
    if (refuse) return 0;
    writes.push_back(n);
    bytes.append(reinterpret_cast<const char*>(data), static_cast<std::size_t>(n));
    return n;
  }
};

struct Chain {
  Recorder* recorder;
  std::unique_ptr<BufferedWriter> writer;
};

Chain makeChain(std::uint64_t capacity) {
  auto recorder = std::make_unique<Recorder>();
  auto* raw = recorder.get();
  return {raw, std::make_unique<BufferedWriter>(std::move(recorder), capacity)};
}

// The same with a buffer the caller owns.
Chain makeChain(std::span<std::byte> buffer) {
  auto recorder = std::make_unique<Recorder>();
  auto* raw = recorder.get();
  return {raw, std::make_unique<BufferedWriter>(std::move(recorder), buffer)};
}

TEST(BufferedWriter, AFullBufferSpillsOnlyWhenMoreArrives) {
  auto [recorder, writer] = makeChain(512);
  const std::string piece(128, 'a');
  for (int i = 0; i < 4; ++i)
    EXPECT_EQ(writer->write(piece.data(), piece.size()), 128u);
  EXPECT_TRUE(recorder->writes.empty());
  EXPECT_EQ(writer->putByte('b'), 'b');
  EXPECT_EQ(recorder->writes, std::vector<std::uint64_t>{512});
  EXPECT_EQ(writer->fill(), 1u);
}

TEST(BufferedWriter, RoomHandedOutInStepsAndWritesMixedKeepEveryByteInOrder) {
  // Writers fill the buffer in place as far as it hands out room, which grows in steps as
  // its pages are taken ahead, or write into it; the buffer is the writer's own or given.
  std::vector<std::byte> given(262144);
  for (const bool own : {true, false}) {
    SCOPED_TRACE(own ? "own buffer" : "given buffer");
    auto [recorder, writer] = own ? makeChain(262144) : makeChain(given);
    std::string expected;
    std::uint32_t state = 1;
    for (int i = 0; i < 400; ++i) {
      state = state * 1103515245 + 12345;
      const std::size_t size = state >> 16 & 0x3FFF;
      const char byte = static_cast<char>('a' + i % 26);
      if (i % 3 == 0) {
        writer->write(std::string(size, byte).data(), size);
      } else {
        const std::span<std::byte> room = writer->writeRoom();
        const std::uint64_t rest = writer->capacity() - writer->fill();
        ASSERT_LE(room.size(), rest);
        ASSERT_GE(room.size(), std::min<std::uint64_t>(rest, 16384));
        const std::size_t used = std::min(size, room.size());
        std::memset(room.data(), byte, used);
        writer->commitRoom(used);
        if (used == rest) writer->flush(false);
        expected.append(used, byte);
        continue;
      }
      expected.append(size, byte);
    }
    writer->flush(false);
    EXPECT_EQ(recorder->bytes, expected);
    for (std::size_t i = 0; i + 1 < recorder->writes.size(); ++i)
      EXPECT_EQ(recorder->writes[i], 262144u);
  }
}

TEST(BufferedWriter, ALargeWriteGoesStraightThroughAfterWhatIsHeld) {
  auto [recorder, writer] = makeChain(512);
  writer->write(std::string(10, 'h').data(), 10);
  const std::string large(1000, 'L');
  EXPECT_EQ(writer->write(large.data(), large.size()), 1000u);
  EXPECT_EQ(recorder->writes, (std::vector<std::uint64_t>{10, 1000}));
  EXPECT_EQ(writer->fill(), 0u);
}

TEST(BufferedWriter, AWriteThatOverflowsFillsTheBufferFirst) {
  auto [recorder, writer] = makeChain(512);
  writer->write(std::string(500, 'h').data(), 500);
  const std::string more(100, 'm');
  EXPECT_EQ(writer->write(more.data(), more.size()), 100u);
  EXPECT_EQ(recorder->writes, std::vector<std::uint64_t>{512});
  EXPECT_EQ(writer->fill(), 88u);
  EXPECT_EQ(writer->flush(false), 0);
  EXPECT_EQ(recorder->bytes, std::string(500, 'h') + more);
}

TEST(BufferedWriter, ATargetThatRefusesKeepsTheBytesHeld) {
  auto [recorder, writer] = makeChain(8);
  writer->write("12345678", 8);
  recorder->refuse = true;
  EXPECT_EQ(writer->write("9", 1), 0u);
  EXPECT_EQ(writer->flush(false), -1);
  EXPECT_EQ(writer->fill(), 8u);
  recorder->refuse = false;
  EXPECT_EQ(writer->flush(false), 0);
  EXPECT_EQ(recorder->bytes, "12345678");
}

TEST(BufferedWriter, AFailingFlushOfTheTargetFailsTheSpill) {
  auto [recorder, writer] = makeChain(4);
  writer->write("abcd", 4);
  recorder->flushResult = -1;
  EXPECT_EQ(writer->write("e", 1), 0u);
  EXPECT_EQ(recorder->bytes, "abcd");
}

TEST(BufferedWriter, OverMemoryFailsAtTheFirstSpill) {
  BufferedWriter writer(MemoryStream::create(64), 4);
  EXPECT_EQ(writer.write("abcd", 4), 4u);
  EXPECT_EQ(writer.write("e", 1), 0u);
}

TEST(BufferedWriter, ClosingTheChainWritesOutWhatIsHeld) {
  test::TempDir dir;
  const auto path = dir / "out";
  {
    auto writer =
        std::make_unique<BufferedWriter>(FileStream::openPath(path.c_str(), OpenMode::Write), 1024);
    writer->printf("m_setwidth=%d\n", 80);
    EXPECT_EQ(test::readFile(path), "");
  }
  EXPECT_EQ(test::readFile(path), "m_setwidth=80\n");
  {
    auto writer =
        std::make_unique<BufferedWriter>(FileStream::openPath(path.c_str(), OpenMode::Write), 1024);
    writer->printf("m_setwidth=%d\n", 80);
    writer->printf("m_setheight=%d\n", 25);
    discard(writer.get());
  }
  EXPECT_EQ(test::readFile(path), "");
  auto memory = MemoryStream::create(8);
  discard(memory.get());  // not a chain with a buffered writer: nothing happens
}

TEST(BufferedWriter, DiscardedBytesNeverReachTheTarget) {
  auto recorder = std::make_unique<Recorder>();
  auto* raw = recorder.get();
  BufferedWriter writer(std::move(recorder), 64);
  writer.putString("dropped");
  discard(&writer);
  writer.putString("kept");
  EXPECT_EQ(writer.flush(false), 0);
  EXPECT_EQ(raw->bytes, "kept");
}

}  // namespace
}  // namespace vidtwine
