#include "stream/stream.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

#include <gtest/gtest.h>

#include "support/process.hpp"

namespace vidtwine {
namespace {

std::string contents(const MemoryStream& memory) {
  const auto bytes = memory.contents();
  return {reinterpret_cast<const char*>(bytes.data()), bytes.size()};
}

// A writer filter that passes everything on and has no flush of its own.
class PassThrough final : public StreamWriter {
 public:
  explicit PassThrough(std::unique_ptr<Stream> target) : StreamWriter(std::move(target)) {}

 private:
  std::uint64_t writeSome(const std::byte* data, std::uint64_t n) override {
    return target_->write(data, n);
  }
};

TEST(MemoryStream, KeepsItsLimitAndCutsTheWriteThatCrossesIt) {
  auto memory = MemoryStream::create(4096);
  const std::string block(4090, 'x');
  EXPECT_EQ(memory->write(block.data(), block.size()), 4090u);
  EXPECT_EQ(memory->status(), StreamStatus::Ok);  // unread bytes are held
  EXPECT_EQ(memory->write("0123456789", 10), 6u);
  EXPECT_EQ(memory->status(), StreamStatus::Error);
  EXPECT_EQ(memory->fill(), 4096u);
  EXPECT_EQ(contents(*memory).substr(4090), "012345");
  EXPECT_EQ(memory->putByte('z'), -1);
  EXPECT_EQ(memory->fill(), 4096u);
}

TEST(MemoryStream, GrowsInStepsOfOneKibibyteUpToTheLimit) {
  EXPECT_EQ(MemoryStream::create(100)->capacity(), 100u);
  auto memory = MemoryStream::create(4096);
  EXPECT_EQ(memory->capacity(), 1024u);
  std::vector<std::uint64_t> seen;
  for (int i = 0; i < 4096; ++i) {
    memory->putByte('a');
    if (seen.empty() || seen.back() != memory->capacity()) seen.push_back(memory->capacity());
  }
  EXPECT_EQ(seen, (std::vector<std::uint64_t>{1024, 2048, 3072, 4096}));

  auto odd = MemoryStream::create(1500);
  const std::string block(1400, 'b');
  odd->write(block.data(), block.size());
  EXPECT_EQ(odd->capacity(), 1500u);
}

TEST(MemoryStream, StatusFollowsWhatIsLeftToRead) {
  auto memory = MemoryStream::create(64);
  EXPECT_EQ(memory->status(), StreamStatus::End);
  memory->putString("ab");
  EXPECT_EQ(memory->status(), StreamStatus::Ok);
  EXPECT_EQ(memory->getByte(), 'a');
  EXPECT_EQ(memory->getByte(), 'b');
  EXPECT_EQ(memory->status(), StreamStatus::End);
  EXPECT_EQ(memory->getByte(), -1);
  memory->putString("c");  // End is not stored: more data ends it
  EXPECT_EQ(memory->status(), StreamStatus::Ok);
  EXPECT_EQ(memory->getByte(), 'c');
}

TEST(MemoryStream, SeekClampsToTheHeldBytes) {
  auto memory = MemoryStream::create(64);
  memory->putString("0123456789");
  struct Case {
    SeekOrigin origin;
    std::int64_t offset;
    std::int64_t expected;
  };
  const Case cases[] = {
      {SeekOrigin::FromStart, 20, 10},  {SeekOrigin::FromStart, -5, 0},
      {SeekOrigin::FromEnd, -3, 7},     {SeekOrigin::FromEnd, -30, 0},
      {SeekOrigin::FromEnd, 5, 10},     {SeekOrigin::FromStart, 4, 4},
      {SeekOrigin::FromCurrent, 0, 4},  {SeekOrigin::FromCurrent, -2, 2},
      {SeekOrigin::FromCurrent, -9, 0}, {SeekOrigin::FromCurrent, 100, 10},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(memory->seek(c.origin, c.offset), c.expected)
        << static_cast<int>(c.origin) << " " << c.offset;
  }
  memory->seek(SeekOrigin::FromStart, 7);
  EXPECT_EQ(memory->getByte(), '7');
  EXPECT_EQ(memory->size(), 10);
}

TEST(Stream, OperationsAKindCannotDoGiveNeutralResults) {
  auto memory = MemoryStream::create(16);
  EXPECT_EQ(memory->flush(false), -1);
  EXPECT_EQ(memory->fileDescriptor(), -1);
  PassThrough writer(MemoryStream::create(16));
  char buffer[4];
  EXPECT_EQ(writer.read(buffer, 4), 0u);
  EXPECT_EQ(writer.size(), -1);
  EXPECT_EQ(writer.seek(SeekOrigin::FromStart, 0), -1);
  EXPECT_EQ(writer.getByte(), -1);
  // Flushing ends at the memory stream: -1.
  EXPECT_EQ(writer.flush(false), -1);
}

TEST(Stream, PrintfFormatsShortAndLongTexts) {
  auto memory = MemoryStream::create(1 << 16);
  EXPECT_EQ(memory->printf("m_setwidth=%d\n", 80), 14);
  const std::string longText(1024, 'q');
  EXPECT_EQ(memory->printf("%s", longText.c_str()), 1024);
  const std::string exact(1023, 'r');
  EXPECT_EQ(memory->printf("%s", exact.c_str()), 1023);
  EXPECT_EQ(contents(*memory), "m_setwidth=80\n" + longText + exact);
}

TEST(Stream, PrintfReportsWhatTheStreamAccepted) {
  auto memory = MemoryStream::create(5);
  EXPECT_EQ(memory->printf("%s", "abcdefgh"), 5);
  EXPECT_EQ(memory->status(), StreamStatus::Error);
}

TEST(CopyToMemory, TakesEverythingUpToTheLimitAndRefusesMore) {
  auto source = MemoryStream::create(1 << 20);
  const std::string data(40000, 'd');
  source->write(data.data(), data.size());
  source->seek(SeekOrigin::FromStart, 100);
  auto copy = copyToMemory(*source, 40000);
  ASSERT_NE(copy, nullptr);
  EXPECT_EQ(copy->fill(), 39900u);
  EXPECT_EQ(copy->position(), 0u);

  source->seek(SeekOrigin::FromStart, 0);
  EXPECT_NE(copyToMemory(*source, 40000), nullptr);  // exactly the limit fits
  source->seek(SeekOrigin::FromStart, 0);
  EXPECT_EQ(copyToMemory(*source, 39999), nullptr);
}

TEST(FileStream, ReadsAFileToItsEndAndStaysThere) {
  test::TempDir dir;
  test::writeFile(dir / "in.txt", "hello");
  auto file = FileStream::openPath((dir / "in.txt").c_str(), OpenMode::Read);
  ASSERT_NE(file, nullptr);
  EXPECT_EQ(file->size(), 5);
  char buffer[16] = {};
  EXPECT_EQ(file->read(buffer, sizeof buffer), 5u);
  EXPECT_STREQ(buffer, "hello");
  EXPECT_EQ(file->status(), StreamStatus::End);
  EXPECT_EQ(file->read(buffer, sizeof buffer), 0u);
  // Reading from a read-only file never writes to it.
  EXPECT_EQ(file->write("x", 1), 0u);
  EXPECT_EQ(file->seek(SeekOrigin::FromEnd, -2), 3);
  EXPECT_EQ(file->flush(true), -1);
}

TEST(FileStream, OpenForWritingCreatesAndTruncates) {
  test::TempDir dir;
  const auto path = dir / "out.txt";
  test::writeFile(path, "previous content");
  {
    auto file = FileStream::openPath(path.c_str(), OpenMode::Write);
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(file->putString("new"), 3u);
    EXPECT_EQ(file->flush(true), 0);
  }
  EXPECT_EQ(test::readFile(path), "new");
  EXPECT_EQ(FileStream::openPath((dir / "missing" / "x").c_str(), OpenMode::Write), nullptr);
  EXPECT_EQ(FileStream::openPath((dir / "absent").c_str(), OpenMode::Read), nullptr);
  EXPECT_EQ(FileStream::openPath(path.c_str(), static_cast<OpenMode>(0)), nullptr);
}

TEST(FileStream, AFailedWriteSetsErrorForGood) {
  auto full = FileStream::openPath("/dev/full", OpenMode::Write);
  ASSERT_NE(full, nullptr);
  EXPECT_EQ(full->write("abc", 3), 0u);
  EXPECT_EQ(full->status(), StreamStatus::Error);
  EXPECT_EQ(full->error(), ENOSPC);  // the reason stays for the message
  EXPECT_EQ(full->putByte('a'), -1);
  EXPECT_EQ(full->size(), -1);  // a device has no size
}

TEST(FileStream, StandardStreamsStayOpenWhenReleased) {
  const int copy = ::dup(1);
  ASSERT_GE(copy, 0);
  { auto out = FileStream::openStandard(1); }
  { auto in = FileStream::openStandard(0); }
  { auto err = FileStream::openStandard(7); }
  EXPECT_NE(::fcntl(0, F_GETFD), -1);
  EXPECT_NE(::fcntl(1, F_GETFD), -1);
  EXPECT_NE(::fcntl(2, F_GETFD), -1);
  ::close(copy);
  // Writing to standard input or reading standard output moves nothing, status stays Ok.
  auto in = FileStream::openStandard(0);
  EXPECT_EQ(in->write("x", 1), 0u);
  EXPECT_EQ(in->status(), StreamStatus::Ok);
  auto out = FileStream::openStandard(1);
  char c;
  EXPECT_EQ(out->read(&c, 1), 0u);
  EXPECT_EQ(out->status(), StreamStatus::Ok);
  EXPECT_EQ(out->fileDescriptor(), 1);
}

TEST(FileStream, PipesHaveNoSize) {
  int fds[2];
  ASSERT_EQ(::pipe(fds), 0);
  const int saved = ::dup(0);
  ::dup2(fds[0], 0);
  EXPECT_EQ(FileStream::openStandard(0)->size(), -1);
  ::dup2(saved, 0);
  ::close(saved);
  ::close(fds[0]);
  ::close(fds[1]);
}

TEST(WriterChain, FlushWalksDownToTheFile) {
  test::TempDir dir;
  PassThrough overFile(FileStream::openPath((dir / "f").c_str(), OpenMode::Write));
  EXPECT_EQ(overFile.flush(false), 0);
  EXPECT_EQ(overFile.fileDescriptor(),
            static_cast<const Stream*>(overFile.target())->fileDescriptor());
  PassThrough overMemory(MemoryStream::create(8));
  EXPECT_EQ(overMemory.flush(false), -1);
  EXPECT_EQ(overMemory.fileDescriptor(), -1);
  EXPECT_EQ(overMemory.status(), StreamStatus::End);
}

TEST(WriterChain, FindFilterSearchesWriterTargetsOnly) {
  auto inner = std::make_unique<PassThrough>(MemoryStream::create(8));
  auto* innerAddress = inner.get();
  PassThrough outer(std::move(inner));
  EXPECT_EQ(findFilter<PassThrough>(&outer), &outer);
  EXPECT_EQ(findFilter<PassThrough>(outer.target()), innerAddress);
  auto memory = MemoryStream::create(8);
  EXPECT_EQ(findFilter<PassThrough>(memory.get()), nullptr);
  EXPECT_EQ(findFilter<PassThrough>(nullptr), nullptr);
}

}  // namespace
}  // namespace vidtwine
