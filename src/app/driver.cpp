#include "app/driver.hpp"

#include "app/command_line.hpp"
#include "stream/stream.hpp"

namespace vidtwine {

int runDriver(int argc, char** argv) {
  installAbortOnExhaustedMemory();
  auto config = parseCommandLine(argc, argv);
  if (!config) return 1;
  return 1;
}

}  // namespace vidtwine
