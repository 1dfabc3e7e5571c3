// What the process needs before a run may start unattended.
#pragma once

namespace vidtwine {

/// Opens /dev/null on those of descriptors 0 to 2 that are closed, so that no file opened
/// later lands on one of them. They are opened in the direction that makes their use
/// fail, as a closed descriptor would: reading standard input, writing standard output
/// or error. Then installs the new-handler that ends the run when memory is exhausted:
/// it removes a temporary output file, writes "vidtwine: out of memory" to standard
/// error and exits with status 1. False when /dev/null cannot be opened.
bool prepareProcess() noexcept;

}  // namespace vidtwine
