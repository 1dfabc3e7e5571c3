// Memory and time follow what was written, not the declared width or the rows written.
#include <string>

#include <gtest/gtest.h>

#include "support/process.hpp"

namespace vidtwine {
namespace {

// A SAUCE record for character text of the given width.
std::string sauceRecord(std::size_t dataSize, unsigned width) {
  std::string record = "SAUCE00";
  record += std::string(35, ' ') + std::string(20, ' ') + std::string(20, ' ') + "20260101";
  for (int shift = 0; shift < 32; shift += 8)
    record += static_cast<char>(dataSize >> shift & 0xFF);
  record += "\x01\x01";
  record += static_cast<char>(width & 0xFF);
  record += static_cast<char>(width >> 8);
  record += std::string(8, '\0');
  record += std::string("IBM VGA") + std::string(15, '\0');
  return record;
}

std::string repeated(const std::string& piece, int count) {
  std::string text;
  for (int i = 0; i < count; ++i)
    text += piece;
  return text;
}

// Runs the binary under an address-space limit, which a sanitizer build cannot live with.
test::RunResult runLimited(const test::TempDir& dir, const std::string& args, int limitKib) {
  test::RunOptions options;
  options.directory = dir.path();
#if defined(__SANITIZE_ADDRESS__)
  const std::string limit;
  (void)limitKib;
#else
  const std::string limit = "ulimit -v " + std::to_string(limitKib) + "; ";
#endif
  return test::run("/bin/sh", {"-c", limit + "exec " + std::string(VIDTWINE_BINARY) + " " + args},
                   options);
}

TEST(ScreenMemoryCli, WideRowsCostOnlyWhatWasWritten) {
  // 65535 columns by 20,000 rows would take 2.6 GB if rows were stored whole.
  test::TempDir dir;
  const std::string text = repeated("A\r\n", 20000);
  test::writeFile(dir / "wide.ans", text + "\x1a" + sauceRecord(text.size(), 65535));
  const auto trimmed = runLimited(dir, "-C -d wide.ans", 64 * 1024);
  EXPECT_EQ(trimmed.status, 0) << trimmed.err;
  EXPECT_EQ(trimmed.out, repeated("A\n", 20000));

  // Without trimming every row is written out at its full width, as before.
  const std::string few = repeated("A\r\n", 20);
  test::writeFile(dir / "few.ans", few + "\x1a" + sauceRecord(few.size(), 65535));
  const auto padded = runLimited(dir, "-C few.ans", 64 * 1024);
  EXPECT_EQ(padded.status, 0);
  EXPECT_EQ(padded.out, repeated("A" + std::string(65534, ' ') + "\n", 20));
}

TEST(ScreenMemoryCli, ModeSwitchesDoNotRewriteEveryRow) {
  // 40 then 80 columns, 80,000 times after 25,000 written rows: each switch used to copy
  // every row. The rows written at 80 columns keep only what fits in 40.
  test::TempDir dir;
  const std::string wide = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
  test::writeFile(dir / "switches.ans",
                  repeated(wide + "\r\n", 25000) + repeated("\x1b[=1h\x1b[=3h", 80000) + "!");
  const auto result = runLimited(dir, "-C -d switches.ans", 64 * 1024);
  ASSERT_EQ(result.status, 0);
  EXPECT_EQ(result.out, repeated(wide.substr(0, 40) + "\n", 25000) + "!\n");
}

}  // namespace
}  // namespace vidtwine
