#include "app/test_page.hpp"

#include <string>

#include <gtest/gtest.h>

namespace vidtwine {
namespace {

std::string pageFor(CodepageId id) {
  auto page = MemoryStream::create(kTestPageLimit);
  EXPECT_EQ(writeTestPage(*page, id), 0);
  const auto bytes = page->contents();
  return {reinterpret_cast<const char*>(bytes.data()), bytes.size()};
}

TEST(TestPage, HasTheSameSizeForEveryCodePage) {
  for (CodepageId id = 0; id < kCodepageCount; ++id)
    EXPECT_EQ(pageFor(id).size(), 1756u) << id;
}

TEST(TestPage, NamesTheCodePageAndListsEveryByte) {
  const std::string page = pageFor(17);
  EXPECT_EQ(page.rfind("Codepage KAM:\r\n\r\n\x1b[1;44m 0x  00  10  20 ", 0), 0u);
  // Row 0a: LF is named, then the bytes 0x1a, 0x2a, ... themselves; ESC in row 0b too.
  EXPECT_NE(page.find("\r\n\x1b[1;44m 0a \x1b[m\x1b[1;36m LF \x1b[m  \x1a   *   :   J "),
            std::string::npos);
  EXPECT_NE(page.find("\r\n\x1b[1;44m 0b \x1b[m  \x0b \x1b[1;36m ESC\x1b[m  +   ;   K "),
            std::string::npos);
  EXPECT_NE(page.find("\x1b[1;44m 00 \x1b[m\x1b[1;36m NUL\x1b[m  \x10       0   @ "),
            std::string::npos);
}

TEST(TestPage, EndsWithTheColourChartAndTheSignature) {
  const std::string page = pageFor(0);
  EXPECT_NE(page.find("\r\n\r\nColors:\r\n\r\n    Foreground:    \x1b[31m\x1e\x1f\x1b[32m"),
            std::string::npos);
  EXPECT_NE(page.find("\x1b[37m\x1e\x1f\x1b[1m\x1b[30m\x1e\x1f"), std::string::npos);
  EXPECT_NE(page.find("\x1b[m\r\n    Background:    \x1b[30m\x1b[41m\x01\x02"), std::string::npos);
  EXPECT_NE(page.find("\x1b[47m\x01\x02\x1b[5m\x1b[40m\x01\x02"), std::string::npos);
  const std::string ending = "\x1b[m\r\n\r\n  \x03  vidtwine v2.0  \x0e\x1b[m\r\n";
  EXPECT_EQ(page.substr(page.size() - ending.size()), ending);
}

}  // namespace
}  // namespace vidtwine
