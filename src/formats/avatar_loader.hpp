// Avatar/0: control codes for colours, repeats and the cursor, with ANSI.SYS text.
#pragma once

#include "formats/load_report.hpp"
#include "screen/ansi_sys_interpreter.hpp"
#include "screen/virtual_screen.hpp"
#include "stream/stream.hpp"

namespace vidtwine {

class AvatarLoader final {
 public:
  /// Reads `input` to its end: ^L clears the screen, ^Y repeats a character, ^V leads the
  /// commands ^A (attribute), ^B (blink), ^C to ^F (up, down, left, right), ^G (erase
  /// to the line's end) and ^H (row and column). Everything else is ANSI.SYS text.
  static LoadError load(VirtualScreen& screen, Stream* metadata, Stream& input,
                        InterpreterReport& report);
};

}  // namespace vidtwine
