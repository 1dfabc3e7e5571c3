#include "app/process_setup.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
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

constexpr const char* kLostInput = "the file changed while it was read";

// The message for a lost input, made before it is needed: a signal handler cannot format.
char lostInputMessage[512];
std::size_t lostInputLength = 0;

void endOnBusError(int) {
  OutputFile::removeTemporaryFile();
  if (::write(2, lostInputMessage, lostInputLength) < 0) {
    // Nothing more can be done about it.
  }
  ::_exit(1);
}

}  // namespace

void endOnLostInput(const char* path) noexcept {
  const int length = path != nullptr
                         ? std::snprintf(lostInputMessage, sizeof lostInputMessage,
                                         "Error reading `%s': %s.\n", path, kLostInput)
                         : std::snprintf(lostInputMessage, sizeof lostInputMessage,
                                         "Error reading standard input: %s.\n", kLostInput);
  lostInputLength =
      std::min(static_cast<std::size_t>(std::max(length, 0)), sizeof lostInputMessage - 1);
  struct sigaction action {};
  action.sa_handler = endOnBusError;
  ::sigaction(SIGBUS, &action, nullptr);
}

void stopEndingOnLostInput() noexcept {
  struct sigaction action {};
  action.sa_handler = SIG_DFL;
  ::sigaction(SIGBUS, &action, nullptr);
}

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
