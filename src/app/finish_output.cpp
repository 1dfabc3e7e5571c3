#include "app/finish_output.hpp"

#include <cerrno>
#include <cstring>

namespace vidtwine {

bool finishOutput(OutputFile& file, bool succeeded) {
  if (succeeded && file.commit() < 0) succeeded = false;
  const int error = file.error();
  if (error == 0 || error == EPIPE) return succeeded && error == 0;
  auto err = FileStream::openStandard(2);
  if (file.path() != nullptr) {
    err->printf("Error writing `%s': %s\n", file.path(), std::strerror(error));
  } else {
    err->printf("Error writing standard output: %s\n", std::strerror(error));
  }
  return false;
}

}  // namespace vidtwine
