// Draws MS-DOS text with ANSI.SYS escape sequences onto a virtual screen.
#pragma once

#include <cstdint>

#include "screen/virtual_screen.hpp"
#include "stream/stream.hpp"

namespace vidtwine {

class AnsiSysInterpreter final {
 public:
  /// Reads `input` to its end and renders it onto `screen`. Text-mode switches are
  /// reported as key=value lines on `metadata` when it is given. The result is the number
  /// of bytes read, capped at 2147483647, or -1 when a sequence begins a ninth parameter
  /// (the run stops there) or the input ends with an error.
  static std::int32_t run(VirtualScreen& screen, Stream* metadata, Stream& input);
};

}  // namespace vidtwine
