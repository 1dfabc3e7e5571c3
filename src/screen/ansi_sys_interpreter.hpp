// Draws MS-DOS text with ANSI.SYS escape sequences onto a virtual screen.
#pragma once

#include <cstdint>
#include <memory>
#include <span>

#include "screen/virtual_screen.hpp"
#include "stream/stream.hpp"

namespace vidtwine {

/// The two readings of escape sequences: the DOS console driver's, and that of BBS
/// terminals and today's art editors (line feeds that return, any number of parameters,
/// extended and 24-bit colours, iCE colour switches, ANSI music, editing sequences).
enum class Dialect : std::uint8_t { AnsiSys, Bbs };

/// What an input asked of the output by itself.
struct InterpreterReport {
  /// The last iCE colour switch: 1 bright backgrounds (`ESC[?33h`), 0 blink
  /// (`ESC[?33l`), -1 none.
  int iceColors = -1;
};

class AnsiSysInterpreter final {
 public:
  /// Reads `input` to its end and renders it onto `screen`. Text-mode switches are
  /// reported as key=value lines on `metadata` when it is given. The result is the number
  /// of bytes read, capped at 2147483647, or -1 when the input ends with an error or, in
  /// the ANSI.SYS dialect, when a sequence begins a ninth parameter (the run stops there).
  /// The input is read in pieces into `buffer` when it is given (not empty), else into
  /// memory of its own.
  static std::int32_t run(VirtualScreen& screen, Stream* metadata, Stream& input,
                          Dialect dialect = Dialect::AnsiSys, InterpreterReport* report = nullptr,
                          std::span<std::byte> buffer = {});
};

/// The reading fed piece by piece: for formats that mix their own codes into ANSI.SYS
/// text, which hand over the text between their codes, and for input that is in memory
/// already.
class AnsiSysFeed final {
 public:
  AnsiSysFeed(VirtualScreen& screen, Stream* metadata, InterpreterReport* report,
              Dialect dialect = Dialect::AnsiSys);
  ~AnsiSysFeed();
  AnsiSysFeed(const AnsiSysFeed&) = delete;
  AnsiSysFeed& operator=(const AnsiSysFeed&) = delete;

  /// False when an ANSI.SYS sequence begins a ninth parameter; nothing more may be fed then.
  bool feed(std::span<const std::uint8_t> bytes);
  /// Whether the input stands outside any escape sequence, where the other codes apply.
  bool inText() const noexcept;

 private:
  struct Parser;
  InterpreterReport ignored_;
  std::unique_ptr<Parser> parser_;
};

}  // namespace vidtwine
