// The program's one run: parse, pick the mode, render, write, clean up.
#pragma once

namespace vidtwine {

/// Runs one conversion and returns the exit status, 0 or 1.
int runDriver(int argc, char** argv);

}  // namespace vidtwine
