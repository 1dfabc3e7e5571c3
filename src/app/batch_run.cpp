#include "app/batch_run.hpp"

#include <poll.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
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

struct Job {
  pid_t pid;
  int errorPipe;
  std::size_t input;
  std::string messages;
};

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
  const bool progress = ::isatty(2) != 0;
  const auto started = std::chrono::steady_clock::now();

  std::vector<Job> running;
  std::size_t next = 0;
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

  while (next < total || !running.empty()) {
    while (next < total && running.size() < slots) {
      int pipeEnds[2];
      if (::pipe(pipeEnds) != 0) break;
      const pid_t pid = ::fork();
      if (pid == 0) {
        ::close(pipeEnds[0]);
        for (const Job& job : running)
          ::close(job.errorPipe);
        ::dup2(pipeEnds[1], 2);
        ::close(pipeEnds[1]);
        const int status = convert(batchItemConfig(batch, inputs[next], outputs[next].c_str()));
        ::_exit(status);
      }
      ::close(pipeEnds[1]);
      if (pid < 0) {
        ::close(pipeEnds[0]);
        break;
      }
      running.push_back({pid, pipeEnds[0], next, {}});
      ++next;
    }
    if (running.empty()) {
      // Not even one process could start: the file fails, the rest may still go.
      report(next, 1 << 8, std::string("cannot start a process: ") + std::strerror(errno));
      ++next;
      continue;
    }
    std::vector<pollfd> polled;
    for (const Job& job : running)
      polled.push_back({job.errorPipe, POLLIN, 0});
    if (::poll(polled.data(), polled.size(), -1) < 0) {
      if (errno == EINTR) continue;
      break;
    }
    for (std::size_t index = running.size(); index-- > 0;) {
      if (polled[index].revents == 0) continue;
      Job& job = running[index];
      char buffer[4096];
      const ssize_t got = ::read(job.errorPipe, buffer, sizeof buffer);
      if (got > 0) {
        job.messages.append(buffer, static_cast<std::size_t>(got));
        continue;
      }
      if (got < 0 && errno == EINTR) continue;
      ::close(job.errorPipe);
      int status = 0;
      while (::waitpid(job.pid, &status, 0) < 0 && errno == EINTR) {
      }
      report(job.input, status, job.messages);
      running.erase(running.begin() + static_cast<std::ptrdiff_t>(index));
    }
  }

  clearProgress();
  err->printf("%zu of %zu files converted into `%s', %zu failed\n", done - failed, total,
              batch.outputDir(), failed);
  return failed == 0 && done == total ? 0 : 1;
}

}  // namespace vidtwine
