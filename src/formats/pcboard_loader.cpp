#include "formats/pcboard_loader.hpp"

#include <algorithm>
#include <cstring>
#include <optional>
#include <string_view>

#include "formats/block_reader.hpp"
#include "formats/cell_grid.hpp"

namespace vidtwine {

namespace {

/// The longest code: `@POS:` with three digits and `@`.
constexpr std::size_t kLongestCode = 9;

int hexDigit(std::uint8_t byte) noexcept {
  if (byte >= '0' && byte <= '9') return byte - '0';
  if (byte >= 'A' && byte <= 'F') return byte - 'A' + 10;
  if (byte >= 'a' && byte <= 'f') return byte - 'a' + 10;
  return -1;
}

bool startsWith(std::span<const std::uint8_t> bytes, std::string_view text) noexcept {
  return bytes.size() >= text.size() && std::memcmp(bytes.data(), text.data(), text.size()) == 0;
}

/// Applies the code at the start of `bytes` (which begins with '@'); its length, or 0
/// when it is no code.
std::size_t applyCode(VirtualScreen& screen, std::span<const std::uint8_t> bytes) {
  if (bytes.size() >= 4 && (bytes[1] == 'X' || bytes[1] == 'x')) {
    const int background = hexDigit(bytes[2]);
    const int foreground = hexDigit(bytes[3]);
    if (background < 0 || foreground < 0) return 0;
    screen.setRendition(screenAttribute(static_cast<std::uint8_t>(background << 4 | foreground)));
    return 4;
  }
  if (startsWith(bytes, "@CLS@")) {
    screen.moveTo(0, 0);
    screen.eraseScreen();
    return 5;
  }
  if (startsWith(bytes, "@POS:")) {
    std::uint32_t column = 0;
    std::size_t at = 5;
    for (; at < bytes.size() && at < kLongestCode - 1 && bytes[at] >= '0' && bytes[at] <= '9'; ++at)
      column = column * 10 + (bytes[at] - '0');
    if (at == 5 || at == bytes.size() || bytes[at] != '@') return 0;
    screen.moveTo(column > 0 ? column - 1 : 0, screen.windowRow());
    return at + 1;
  }
  return 0;
}

}  // namespace

LoadError PcboardLoader::load(VirtualScreen& screen, Stream* metadata, Stream& input,
                              InterpreterReport& report) {
  AnsiSysFeed text(screen, metadata, &report);
  return readBlocks(
      input, "too many parameters in an escape sequence",
      [&](std::span<const std::uint8_t> bytes, bool last) -> std::optional<std::size_t> {
        std::size_t done = 0;
        while (done < bytes.size()) {
          const auto* found = static_cast<const std::uint8_t*>(
              std::memchr(bytes.data() + done, '@', bytes.size() - done));
          const std::size_t at =
              found != nullptr ? static_cast<std::size_t>(found - bytes.data()) : bytes.size();
          if (!text.feed(bytes.subspan(done, at - done))) return std::nullopt;
          done = at;
          if (at == bytes.size()) break;
          // A code cut by the block's end waits for the next block.
          if (!last && bytes.size() - at < kLongestCode) return at;
          const std::size_t length = text.inText() ? applyCode(screen, bytes.subspan(at)) : 0;
          if (length != 0) {
            done += length;
          } else {
            if (!text.feed(bytes.subspan(at, 1))) return std::nullopt;
            ++done;
          }
        }
        return done;
      });
}

}  // namespace vidtwine
