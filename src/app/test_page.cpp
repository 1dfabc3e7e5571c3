#include "app/test_page.hpp"

namespace vidtwine {

namespace {

// The bytes the screen acts on get a three-character name in the table instead of a glyph.
const char* controlName(unsigned byte) noexcept {
  switch (byte) {
    case 0x00:
      return "NUL";
    case 0x07:
      return "BEL";
    case 0x08:
      return "BS ";
    case 0x09:
      return "TAB";
    case 0x0A:
      return "LF ";
    case 0x0D:
      return "CR ";
    case 0x1B:
      return "ESC";
    default:
      return nullptr;
  }
}

}  // namespace

int writeTestPage(Stream& page, CodepageId codepage) {
  const char* name = codepageName(codepage);
  page.printf("Codepage %s:\r\n\r\n\x1b[1;44m 0x ", name != nullptr ? name : "437");
  for (unsigned column = 0; column < 16; ++column)
    page.printf(" %02x ", column * 16);

  for (unsigned row = 0; row < 16; ++row) {
    page.printf("\r\n\x1b[1;44m %02x \x1b[m", row);
    for (unsigned byte = row; byte < 256; byte += 16) {
      if (const char* control = controlName(byte)) {
        page.printf("\x1b[1;36m %s\x1b[m", control);
      } else {
        page.putString("  ");
        page.putByte(static_cast<int>(byte));
        page.putByte(' ');
      }
    }
  }
  page.putString("\r\n");

  page.putString("\r\nColors:\r\n\r\n    Foreground:    ");
  for (unsigned colour = 1; colour <= 15; ++colour) {
    if (colour == 8) page.putString("\x1b[1m");
    page.printf("\x1b[3%um\x1e\x1f", colour & 7);
  }
  page.putString("\x1b[m\r\n    Background:    \x1b[30m");
  for (unsigned colour = 1; colour <= 15; ++colour) {
    if (colour == 8) page.putString("\x1b[5m");
    page.printf("\x1b[4%um\x01\x02", colour & 7);
  }
  page.putString("\x1b[m\r\n\r\n  \x03  vidtwine v2.0  \x0e\x1b[m\r\n");
  return page.status() == StreamStatus::Ok ? 0 : -1;
}

}  // namespace vidtwine
