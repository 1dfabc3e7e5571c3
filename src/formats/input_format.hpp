// The kinds of input file that can be drawn onto the screen.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace vidtwine {

/// ANSI text in the ANSI.SYS or the BBS reading, binary text and its relatives, and the
/// BBS formats with their own colour codes.
enum class InputFormat : std::uint8_t { Ansi, Bbs, Bin, XBin, Adf, Idf, Tnd, Pcboard, Avatar };

inline constexpr std::string_view kInputFormatNames[] = {"ansi", "bbs", "bin",     "xbin",  "adf",
                                                         "idf",  "tnd", "pcboard", "avatar"};

constexpr std::string_view inputFormatName(InputFormat format) noexcept {
  return kInputFormatNames[static_cast<std::size_t>(format)];
}

/// The format of a `--format` name, in lower case as listed above.
constexpr std::optional<InputFormat> inputFormatByName(std::string_view name) noexcept {
  for (std::size_t i = 0; i < std::size(kInputFormatNames); ++i) {
    if (kInputFormatNames[i] == name) return static_cast<InputFormat>(i);
  }
  return std::nullopt;
}

/// Whether the format is read as bytes up to its SAUCE record, 0x1A included.
constexpr bool isBinaryFormat(InputFormat format) noexcept {
  return format == InputFormat::Bin || format == InputFormat::XBin || format == InputFormat::Adf ||
         format == InputFormat::Idf || format == InputFormat::Tnd;
}

}  // namespace vidtwine
