// PCBoard screens: ANSI.SYS text with @-codes for colours, clearing and the column.
#pragma once

#include "formats/load_report.hpp"
#include "screen/ansi_sys_interpreter.hpp"
#include "screen/virtual_screen.hpp"
#include "stream/stream.hpp"

namespace vidtwine {

class PcboardLoader final {
 public:
  /// Reads `input` to its end: `@X` with two hex digits (background, foreground) sets the
  /// colours, `@CLS@` clears the screen, `@POS:n@` moves to column n; other @-codes show
  /// as they stand. Everything else is read as ANSI.SYS text.
  static LoadError load(VirtualScreen& screen, Stream* metadata, Stream& input,
                        InterpreterReport& report);
};

}  // namespace vidtwine
