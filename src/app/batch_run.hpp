// `-O`: many files in one run, each converted on its own into a folder.
#pragma once

#include <memory>

#include "app/config.hpp"

namespace vidtwine {

/// Converts one file with the record given; the exit status of a single run.
using ConvertFunction = int (*)(std::unique_ptr<Config> item);

/// Converts every input of `batch` into its output folder, `-j` of them at a time, in as
/// many worker processes, so that a file that crashes or exhausts memory ends only its own
/// conversion. Outputs are named
/// after the inputs, with a numeric suffix where an earlier input took the name. Prints one
/// line per failed file, progress on a terminal, and a summary; 0 when every file was
/// converted, else 1.
int runBatch(const Config& batch, ConvertFunction convert);

}  // namespace vidtwine
