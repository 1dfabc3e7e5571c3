#include "formats/format_detection.hpp"

#include <algorithm>

namespace vidtwine {

namespace {

std::optional<InputFormat> formatOfSauce(std::uint8_t dataType, std::uint8_t fileType) noexcept {
  constexpr std::uint8_t kCharacter = 1;
  constexpr std::uint8_t kBinaryText = 5;
  constexpr std::uint8_t kXBin = 6;
  if (dataType == kBinaryText) return InputFormat::Bin;
  if (dataType == kXBin) return InputFormat::XBin;
  if (dataType == kCharacter) {
    switch (fileType) {
      case 4:
        return InputFormat::Pcboard;
      case 5:
        return InputFormat::Avatar;
      case 8:
        return InputFormat::Tnd;
      default:
        break;
    }
  }
  return std::nullopt;
}

bool startsWith(std::span<const std::uint8_t> head, std::string_view prefix) noexcept {
  return head.size() >= prefix.size() &&
         std::equal(prefix.begin(), prefix.end(), head.begin(),
                    [](char a, std::uint8_t b) { return static_cast<std::uint8_t>(a) == b; });
}

std::optional<InputFormat> formatOfSignature(std::span<const std::uint8_t> head) noexcept {
  using namespace std::string_view_literals;
  if (startsWith(head, "XBIN\x1A"sv)) return InputFormat::XBin;
  if (startsWith(head, "\x18TUNDRA24"sv)) return InputFormat::Tnd;
  if (startsWith(head,
                 "\x04"
                 "1.4"sv))
    return InputFormat::Idf;
  return std::nullopt;
}

std::optional<InputFormat> formatOfName(std::string_view path) noexcept {
  const std::size_t slash = path.find_last_of('/');
  const std::string_view name = slash == std::string_view::npos ? path : path.substr(slash + 1);
  const std::size_t dot = name.find_last_of('.');
  if (dot == std::string_view::npos) return std::nullopt;
  const std::string_view extension = name.substr(dot + 1);
  struct Extension {
    std::string_view text;
    InputFormat format;
  };
  static constexpr Extension kExtensions[] = {
      {"bin", InputFormat::Bin},     {"xb", InputFormat::XBin},    {"xbin", InputFormat::XBin},
      {"adf", InputFormat::Adf},     {"idf", InputFormat::Idf},    {"tnd", InputFormat::Tnd},
      {"pcb", InputFormat::Pcboard}, {"avt", InputFormat::Avatar},
  };
  for (const Extension& entry : kExtensions) {
    if (entry.text.size() != extension.size()) continue;
    const bool same = std::equal(
        entry.text.begin(), entry.text.end(), extension.begin(),
        [](char a, char b) { return a == (b >= 'A' && b <= 'Z' ? static_cast<char>(b + 32) : b); });
    if (same) return entry.format;
  }
  return std::nullopt;
}

}  // namespace

InputFormat detectFormat(const FormatClues& clues) noexcept {
  if (clues.chosen) return *clues.chosen;
  if (clues.sauceType) {
    if (const auto format = formatOfSauce(clues.sauceType->first, clues.sauceType->second)) {
      return *format;
    }
  }
  if (const auto format = formatOfSignature(clues.head)) return *format;
  if (!clues.path.empty()) {
    if (const auto format = formatOfName(clues.path)) return *format;
  }
  return InputFormat::Ansi;
}

}  // namespace vidtwine
