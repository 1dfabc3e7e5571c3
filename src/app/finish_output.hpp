// The end of an output, and the message when it failed.
#pragma once

#include "stream/output_file.hpp"

namespace vidtwine {

/// Commits `file` when the run has succeeded so far, and otherwise leaves it to be
/// abandoned. When a write failed, one line on standard error names the output and the
/// system's reason; a closed pipe is no news to the reader that closed it. Whether the
/// output is complete.
bool finishOutput(OutputFile& file, bool succeeded);

}  // namespace vidtwine
