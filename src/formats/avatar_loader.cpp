#include "formats/avatar_loader.hpp"

#include <algorithm>
#include <array>
#include <optional>

#include "formats/block_reader.hpp"
#include "formats/cell_grid.hpp"

namespace vidtwine {

namespace {

constexpr std::uint8_t kClear = 0x0C;
constexpr std::uint8_t kCommand = 0x16;
constexpr std::uint8_t kRepeat = 0x19;
/// The attribute that ^L leaves: cyan on black.
constexpr std::uint8_t kClearAttribute = 0x03;
/// The longest code: ^V ^H row column.
constexpr std::size_t kLongestCode = 4;

constexpr bool isCode(std::uint8_t byte) noexcept {
  return byte == kClear || byte == kCommand || byte == kRepeat;
}

}  // namespace

LoadError AvatarLoader::load(VirtualScreen& screen, Stream* metadata, Stream& input,
                             InterpreterReport& report) {
  AnsiSysFeed text(screen, metadata, &report);
  std::array<std::uint8_t, 255> repeated{};
  return readBlocks(
      input, "too many parameters in an escape sequence",
      [&](std::span<const std::uint8_t> bytes, bool last) -> std::optional<std::size_t> {
        std::size_t done = 0;
        while (done < bytes.size()) {
          const std::size_t at = static_cast<std::size_t>(
              std::find_if(bytes.begin() + static_cast<std::ptrdiff_t>(done), bytes.end(), isCode) -
              bytes.begin());
          if (!text.feed(bytes.subspan(done, at - done))) return std::nullopt;
          done = at;
          if (at == bytes.size()) break;
          const std::size_t left = bytes.size() - at;
          if (!last && left < kLongestCode) return at;
          // Inside an escape sequence the byte belongs to the sequence.
          if (!text.inText()) {
            if (!text.feed(bytes.subspan(at, 1))) return std::nullopt;
            ++done;
            continue;
          }
          const std::uint8_t code = bytes[at];
          std::size_t length = 1;
          if (code == kClear) {
            screen.moveTo(0, 0);
            screen.eraseScreen();
            screen.setRendition(screenAttribute(kClearAttribute));
          } else if (code == kRepeat) {
            if (left < 3) return bytes.size();  // cut off at the end: dropped
            const std::uint8_t count = bytes[at + 2];
            std::fill_n(repeated.begin(), count, bytes[at + 1]);
            if (!text.feed({repeated.data(), count})) return std::nullopt;
            length = 3;
          } else {
            if (left < 2) return bytes.size();
            length = 2;
            switch (bytes[at + 1]) {
              case 0x01:
                if (left < 3) return bytes.size();
                screen.setRendition(screenAttribute(bytes[at + 2]));
                length = 3;
                break;
              case 0x02:
                screen.setBlink(true);
                break;
              case 0x03:
                screen.cursorUp(1);
                break;
              case 0x04:
                screen.cursorDown(1);
                break;
              case 0x05:
                screen.cursorLeft(1);
                break;
              case 0x06:
                screen.cursorRight(1);
                break;
              case 0x07:
                screen.eraseToLineEnd();
                break;
              case 0x08: {
                if (left < 4) return bytes.size();
                const std::uint8_t row = bytes[at + 2];
                const std::uint8_t column = bytes[at + 3];
                screen.moveTo(column > 0 ? column - 1u : 0u, row > 0 ? row - 1u : 0u);
                length = 4;
                break;
              }
              default:  // unknown command: both bytes are consumed
                break;
            }
          }
          done += length;
        }
        return done;
      });
}

}  // namespace vidtwine
