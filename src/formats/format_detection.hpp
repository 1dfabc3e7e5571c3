// Which loader reads an input: the user's choice, the SAUCE type, the file's signature or
// its name.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

#include "formats/input_format.hpp"

namespace vidtwine {

/// What is known of an input before it is read.
struct FormatClues {
  /// `--format`, when given.
  std::optional<InputFormat> chosen;
  /// The SAUCE record's DataType and FileType, when a record is used.
  std::optional<std::pair<std::uint8_t, std::uint8_t>> sauceType;
  /// The first bytes of the input (16 suffice).
  std::span<const std::uint8_t> head;
  /// The input file's name; empty for standard input.
  std::string_view path;
};

/// The first of: the chosen format, the SAUCE type, the signature, the name's extension
/// (in any letter case); ANSI text otherwise.
InputFormat detectFormat(const FormatClues& clues) noexcept;

}  // namespace vidtwine
