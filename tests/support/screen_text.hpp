// A screen's rows as text, for expectations that read like the art.
#pragma once

#include <string>

#include "screen/virtual_screen.hpp"

namespace vidtwine::test {

/// The rows as characters, trailing blanks dropped, joined by '|'.
inline std::string screenText(const VirtualScreen& screen) {
  std::string all;
  for (std::uint64_t row = 0; row < screen.usedRows(); ++row) {
    std::string line;
    for (std::uint32_t column = 0; column < screen.width(); ++column)
      line += static_cast<char>(cellCharacter(screen.cell(row, column)));
    all +=
        line.substr(0, line.find_last_not_of(' ') + 1) + (row + 1 < screen.usedRows() ? "|" : "");
  }
  return all;
}

}  // namespace vidtwine::test
