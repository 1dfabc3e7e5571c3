#include "app/batch_run.hpp"

#include <poll.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "app/command_line.hpp"
#include "stream/stream.hpp"

namespace vidtwine {

namespace {

constexpr int kMaxDefaultJobs = 64;

/// A process that converts one file after another, so that the cost of starting a process
/// is paid once per worker, not per file. Each file still runs on its own in it: every
/// object of a conversion is made for it and gone when it ends.
struct Worker {
  pid_t pid = -1;
  /// The parent's end of a socket pair: file numbers go out, exit statuses come back.
  int channel = -1;
  /// The worker's standard error, emptied before each file: what the file's conversion
  /// said, also when the worker died of it.
  int messages = -1;
  /// The file it converts now.
  std::optional<std::size_t> input;
};

void closeWorker(Worker& worker) noexcept {
  ::close(worker.channel);
  ::close(worker.messages);
  worker.channel = worker.messages = -1;
}

bool sendIndex(int channel, std::size_t index) noexcept {
  const std::uint64_t value = index;
  // A worker that died must not end the parent with SIGPIPE.
  return ::send(channel, &value, sizeof value, MSG_NOSIGNAL) == static_cast<ssize_t>(sizeof value);
}

std::string readMessages(int messages) {
  std::string text;
  char buffer[4096];
  for (off_t offset = 0;;) {
    const ssize_t got = ::pread(messages, buffer, sizeof buffer, offset);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    text.append(buffer, static_cast<std::size_t>(got));
    offset += got;
  }
  return text;
}

/// The worker's loop: converts each file whose number arrives, until the parent is done.
template <typename Convert>
[[noreturn]] void serve(int channel, Convert convert) {
  for (;;) {
    std::uint64_t index = 0;
    ssize_t got;
    while ((got = ::recv(channel, &index, sizeof index, MSG_WAITALL)) < 0 && errno == EINTR) {
    }
    if (got != static_cast<ssize_t>(sizeof index)) ::_exit(0);
    // Standard error holds only this file's lines.
    if (::ftruncate(2, 0) != 0 || ::lseek(2, 0, SEEK_SET) != 0) ::_exit(1);
    const std::int32_t status = convert(static_cast<std::size_t>(index));
    if (::send(channel, &status, sizeof status, MSG_NOSIGNAL) !=
        static_cast<ssize_t>(sizeof status))
      ::_exit(1);
  }
}

/// Starts a worker that runs `body` with its end of the channel; a pid of -1 (errno set)
/// when it cannot.
template <typename Body>
Worker startWorker(const std::vector<Worker>& others, Body body) {
  Worker worker;
  int ends[2];
  if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends) != 0) return worker;
  worker.messages = ::memfd_create("vidtwine-messages", MFD_CLOEXEC);
  if (worker.messages < 0) {
    ::close(ends[0]);
    ::close(ends[1]);
    return worker;
  }
  worker.pid = ::fork();
  if (worker.pid == 0) {
    // Only the parent may hold the other workers' channels, or they would never see
    // their end.
    for (const Worker& other : others) {
      ::close(other.channel);
      ::close(other.messages);
    }
    ::close(ends[0]);
    ::dup2(worker.messages, 2);
    ::close(worker.messages);
    body(ends[1]);
    ::_exit(1);
  }
  ::close(ends[1]);
  worker.channel = ends[0];
  if (worker.pid < 0) {
    const int error = errno;
    closeWorker(worker);
    errno = error;
  }
  return worker;
}

/// Creates the folder (one level) or checks the one there; false after a message.
bool prepareFolder(const char* dir, Stream& err) {
  struct stat info {};
  if (::stat(dir, &info) != 0) {
    if (errno != ENOENT || ::mkdir(dir, 0777) != 0) {
      err.printf("Error creating folder `%s': %s\n", dir, std::strerror(errno));
      return false;
    }
  } else if (!S_ISDIR(info.st_mode)) {
    err.printf("Error: `%s' is not a folder\n", dir);
    return false;
  }
  if (::access(dir, W_OK | X_OK) != 0) {
    err.printf("Error writing into folder `%s': %s\n", dir, std::strerror(errno));
    return false;
  }
  return true;
}

/// The output paths, in the order of the inputs: the input's name without its extension,
/// then "-2", "-3"... where an earlier input of this run, or an input file itself, holds
/// the name.
std::vector<std::string> outputPaths(const Config& batch) {
  const std::string_view extension = batch.html() != 0     ? ".html"
                                     : batch.colors() == 0 ? ".txt"
                                                           : ".ans";
  std::set<std::pair<dev_t, ino_t>> inputs;
  for (const char* path : batch.inputPaths()) {
    struct stat info {};
    if (::stat(path, &info) == 0) inputs.insert({info.st_dev, info.st_ino});
  }
  const auto isInput = [&](const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && inputs.contains({info.st_dev, info.st_ino});
  };
  std::string dir(batch.outputDir());
  if (!dir.ends_with('/')) dir += '/';
  std::set<std::string> taken;
  std::vector<std::string> paths;
  for (const char* input : batch.inputPaths()) {
    std::string_view name(input);
    while (name.size() > 1 && name.ends_with('/'))
      name.remove_suffix(1);
    if (const auto slash = name.find_last_of('/'); slash != std::string_view::npos)
      name.remove_prefix(slash + 1);
    if (const auto dot = name.find_last_of('.'); dot != std::string_view::npos && dot != 0)
      name = name.substr(0, dot);
    const std::string stem =
        name.empty() || name == "." || name == ".." ? "output" : std::string(name);
    std::string path = dir + stem + std::string(extension);
    for (int suffix = 2; taken.contains(path) || isInput(path); ++suffix)
      path = dir + stem + '-' + std::to_string(suffix) + std::string(extension);
    taken.insert(path);
    paths.push_back(std::move(path));
  }
  return paths;
}

/// The failure line's reason: the conversion's own messages on one line, or how it ended.
std::string reasonOf(int status, const std::string& messages) {
  if (WIFSIGNALED(status)) return std::string("ended by signal: ") + strsignal(WTERMSIG(status));
  std::string reason;
  for (const char c : messages) {
    if (c == '\n') {
      if (!reason.empty() && reason.back() != ' ') reason += ' ';
    } else {
      reason += c;
    }
  }
  while (!reason.empty() && reason.back() == ' ')
    reason.pop_back();
  return reason.empty() ? "conversion failed" : reason;
}

}  // namespace

int runBatch(const Config& batch, ConvertFunction convert) {
  auto err = FileStream::openStandard(2);
  if (!prepareFolder(batch.outputDir(), *err)) return 1;
  const std::vector<std::string> outputs = outputPaths(batch);
  const std::span<const char* const> inputs = batch.inputPaths();
  const std::size_t total = inputs.size();
  std::size_t slots = batch.jobs() > 0 ? static_cast<std::size_t>(batch.jobs()) : 0;
  if (slots == 0) {
    const long cores = ::sysconf(_SC_NPROCESSORS_ONLN);
    slots = static_cast<std::size_t>(cores > 0 ? std::min<long>(cores, kMaxDefaultJobs) : 1);
  }
  slots = std::min(slots, total);
  const bool progress = ::isatty(2) != 0;
  const auto started = std::chrono::steady_clock::now();

  std::size_t done = 0;
  std::size_t failed = 0;
  const auto clearProgress = [&] {
    if (progress) err->putString("\r\x1b[K");
  };
  const auto showProgress = [&] {
    if (!progress) return;
    const double elapsed =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    const long left =
        done == 0
            ? 0
            : static_cast<long>(
                  elapsed * static_cast<double>(total - done) / static_cast<double>(done) + 0.5);
    err->printf("\r\x1b[K%zu of %zu files done, %zu failed, about %lds left", done, total, failed,
                left);
  };
  const auto report = [&](std::size_t input, int status, const std::string& messages) {
    ++done;
    const bool ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    clearProgress();
    if (ok) {
      // A good conversion's own lines (-m) are handed on whole.
      err->putString(messages);
    } else {
      ++failed;
      err->printf("Failed `%s': %s\n", inputs[input], reasonOf(status, messages).c_str());
    }
    showProgress();
  };

  std::vector<Worker> workers;
  std::size_t next = 0;
  const auto start = [&] {
    Worker worker = startWorker(workers, [&](int channel) {
      serve(channel, [&](std::size_t input) {
        return convert(batchItemConfig(batch, inputs[input], outputs[input].c_str()));
      });
    });
    if (worker.pid >= 0) workers.push_back(worker);
    return worker.pid >= 0;
  };
  // Hands the next file to an idle worker, or lets it end when none is left.
  const auto assign = [&](Worker& worker) {
    if (next < total && sendIndex(worker.channel, next)) {
      worker.input = next++;
    } else {
      worker.input.reset();
      ::shutdown(worker.channel, SHUT_WR);
    }
  };

  while (workers.size() < slots && start()) {
  }
  for (Worker& worker : workers)
    assign(worker);
  while (done < total) {
    if (workers.empty()) {
      // Not even one process could start: the file fails, the rest may still go.
      if (!start()) {
        report(next, 1 << 8, std::string("cannot start a process: ") + std::strerror(errno));
        ++next;
      } else {
        assign(workers.back());
      }
      continue;
    }
    std::vector<pollfd> polled;
    for (const Worker& worker : workers)
      polled.push_back({worker.channel, POLLIN, 0});
    if (::poll(polled.data(), polled.size(), -1) < 0) {
      if (errno == EINTR) continue;
      break;
    }
    for (std::size_t index = workers.size(); index-- > 0;) {
      if (polled[index].revents == 0) continue;
      Worker& worker = workers[index];
      std::int32_t status = 0;
      const ssize_t got = ::recv(worker.channel, &status, sizeof status, MSG_WAITALL);
      if (got < 0 && errno == EINTR) continue;
      if (got == static_cast<ssize_t>(sizeof status) && worker.input) {
        report(*worker.input, status << 8, readMessages(worker.messages));
        assign(worker);
        continue;
      }
      // The worker has ended: by its own hand when nothing was left, or in the middle of
      // a file, which then fails with what it said and how it ended.
      int ended = 0;
      while (::waitpid(worker.pid, &ended, 0) < 0 && errno == EINTR) {
      }
      const std::optional<std::size_t> input = worker.input;
      const std::string messages = readMessages(worker.messages);
      closeWorker(worker);
      workers.erase(workers.begin() + static_cast<std::ptrdiff_t>(index));
      if (input) {
        report(*input, ended == 0 ? 1 << 8 : ended, messages);
        if (next < total && start()) assign(workers.back());
      }
    }
  }
  for (Worker& worker : workers) {
    ::shutdown(worker.channel, SHUT_WR);
    int ended = 0;
    while (::waitpid(worker.pid, &ended, 0) < 0 && errno == EINTR) {
    }
    closeWorker(worker);
  }

  clearProgress();
  err->printf("%zu of %zu files converted into `%s', %zu failed\n", done - failed, total,
              batch.outputDir(), failed);
  return failed == 0 && done == total ? 0 : 1;
}

}  // namespace vidtwine
