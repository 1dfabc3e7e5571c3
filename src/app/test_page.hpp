// `-T`: a built-in input that shows the code page table and every colour.
#pragma once

#include "codepage/codepage_names.hpp"
#include "stream/stream.hpp"

namespace vidtwine {

/// The memory limit the driver gives the page; the page itself takes 1756 bytes.
inline constexpr std::uint64_t kTestPageLimit = 4096;

/// Writes the test page for `codepage` as code-page bytes with ANSI.SYS sequences, exactly
/// like an input file. 0, or -1 when the stream is not Ok after the last write.
int writeTestPage(Stream& page, CodepageId codepage);

}  // namespace vidtwine
