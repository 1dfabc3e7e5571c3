// A fixed, seeded set of awkward inputs for the output digests: every control byte, escape
// and CSI sequences whole, broken and oversized, long lines, cursor movement, random SGR
// and SAUCE records both sound and lying. The same bytes on every platform and compiler.
#pragma once

#include <string>
#include <vector>

namespace vidtwine::test {

struct GeneratedInput {
  std::string id;  ///< a running number and the kind, e.g. "017-control-1b"
  std::string bytes;
};

std::vector<GeneratedInput> generatedInputs();

}  // namespace vidtwine::test
