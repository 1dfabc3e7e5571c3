#include "app/process_setup.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <new>

#include "stream/output_file.hpp"

namespace vidtwine {

namespace {

[[noreturn]] void endOnExhaustedMemory() {
  OutputFile::removeTemporaryFile();
  static constexpr char kMessage[] = "vidtwine: out of memory\n";
  if (::write(2, kMessage, sizeof kMessage - 1) < 0) {
    // Nothing more can be done about it.
  }
  ::_exit(1);
}

}  // namespace

bool prepareProcess() noexcept {
  for (int descriptor = 0; descriptor <= 2; ++descriptor) {
    if (::fcntl(descriptor, F_GETFD) >= 0 || errno != EBADF) continue;
    // The lowest free descriptor is this one.
    const int opened = ::open("/dev/null", descriptor == 0 ? O_WRONLY : O_RDONLY);
    if (opened != descriptor) return false;
  }
  std::set_new_handler(endOnExhaustedMemory);
  return true;
}

}  // namespace vidtwine
