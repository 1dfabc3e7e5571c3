// An input whose screen makes the serialiser send exactly the markers of the colour
// writers' tables, and the output expected from one row of such a table.
#pragma once

#include <string>
#include <vector>

namespace vidtwine::test {

// One row of 16 columns whose attributes run 07 4F CF 07 0E 06 33 (the last for ten
// cells), then a row with one character on 07: the serialiser sends the markers
// 07 4F CF 07 0E 06 33, a reset, the marker 07 and a reset. Render with -w 16.
inline const std::string kMarkerInput =
    "\x1b[0mX\x1b[1;37;44mX\x1b[5mX\x1b[0mX\x1b[1;36mX\x1b[0;36mX\x1b[33;43mXXXXXXXXXX"
    "\x1b[0m\r\nX";

struct ColourRow {
  std::vector<std::string> options;
  /// What the writer makes of 07 4F CF 07 0E 06 33 reset 07.
  std::vector<std::string> outputs;

  bool trims() const {
    for (const auto& option : options) {
      if (option == "-d") return true;
    }
    return false;
  }
  std::string label() const {
    std::string text;
    for (const auto& option : options)
      text += option + " ";
    return text;
  }
  /// The whole output for kMarkerInput; -d trims the second row's blanks.
  std::string expected() const {
    const auto& o = outputs;
    std::string text = o[0] + "X" + o[1] + "X" + o[2] + "X" + o[3] + "X" + o[4] + "X" + o[5] + "X" +
                       o[6] + "XXXXXXXXXX" + o[7] + "\n" + o[8] + "X";
    if (!trims()) text += std::string(15, ' ');
    return text + o[7] + "\n";
  }
};

}  // namespace vidtwine::test
