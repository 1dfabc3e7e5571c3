#include "support/process.hpp"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <sstream>
#include <stdexcept>

extern char** environ;

namespace vidtwine::test {

namespace {

void check(bool ok, const char* what) {
  if (!ok) throw std::runtime_error(std::string(what) + ": " + std::strerror(errno));
}

/// The most that a run may write: a broken build that writes without end fails its test
/// instead of filling the memory of the test or the disk.
constexpr std::uint64_t kMostOutput = std::uint64_t{1} << 30;

/// Every program run inherits this limit on the size of the files it writes (past it, it
/// is killed by SIGXFSZ); its standard output and error are read up to kMostOutput.
void limitFileSizes() {
  rlimit limit{};
  check(::getrlimit(RLIMIT_FSIZE, &limit) == 0, "getrlimit");
  if (limit.rlim_cur == RLIM_INFINITY || limit.rlim_cur > kMostOutput) {
    limit.rlim_cur = static_cast<rlim_t>(kMostOutput);
    check(::setrlimit(RLIMIT_FSIZE, &limit) == 0, "setrlimit");
  }
}

}  // namespace

RunResult run(const std::string& program, const std::vector<std::string>& args,
              const RunOptions& options) {
  static const bool limited = (limitFileSizes(), true);
  (void)limited;
  int inPipe[2] = {-1, -1};
  int outPipe[2];
  int errPipe[2];
  if (!options.inputFile) check(::pipe(inPipe) == 0, "pipe");
  check(::pipe(outPipe) == 0, "pipe");
  check(::pipe(errPipe) == 0, "pipe");

  std::vector<std::string> argvStrings;
  argvStrings.push_back(options.programName.empty() ? program : options.programName);
  argvStrings.insert(argvStrings.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (auto& a : argvStrings)
    argv.push_back(a.data());
  argv.push_back(nullptr);

  std::map<std::string, std::string> envMap;
  for (char** e = environ; *e != nullptr; ++e) {
    std::string entry(*e);
    const auto eq = entry.find('=');
    if (eq != std::string::npos) envMap[entry.substr(0, eq)] = entry.substr(eq + 1);
  }
  for (const auto& [name, value] : options.env) {
    if (value) {
      envMap[name] = *value;
    } else {
      envMap.erase(name);
    }
  }
  std::vector<std::string> envStrings;
  for (const auto& [name, value] : envMap)
    envStrings.push_back(name + "=" + value);
  std::vector<char*> envp;
  for (auto& e : envStrings)
    envp.push_back(e.data());
  envp.push_back(nullptr);

  pid_t pid = 0;
  if (!options.closed.empty() || options.fileSizeLimit || options.addressSpaceLimit) {
    // Closed descriptors and limits need a fork: posix_spawn cannot set limits.
    pid = ::fork();
    check(pid >= 0, "fork");
    if (pid == 0) {
      ::signal(SIGPIPE, SIG_DFL);
      if (options.inputFile) {
        const int fd = ::open(options.inputFile->c_str(), O_RDONLY);
        if (fd < 0) _exit(126);
        ::dup2(fd, 0);
        ::close(fd);
      } else {
        ::dup2(inPipe[0], 0);
      }
      if (options.outputFile) {
        const int fd = ::open(options.outputFile->c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (fd < 0) _exit(126);
        ::dup2(fd, 1);
        ::close(fd);
      } else {
        ::dup2(outPipe[1], 1);
      }
      ::dup2(errPipe[1], 2);
      for (int fd : {inPipe[0], inPipe[1], outPipe[0], outPipe[1], errPipe[0], errPipe[1]}) {
        if (fd > 2) ::close(fd);
      }
      for (const int fd : options.closed)
        ::close(fd);
      const auto limit = [](int resource, std::uint64_t bytes) {
        const rlimit value{static_cast<rlim_t>(bytes), static_cast<rlim_t>(bytes)};
        if (::setrlimit(resource, &value) != 0) _exit(126);
      };
      if (options.fileSizeLimit) {
        ::signal(SIGXFSZ, SIG_IGN);
        limit(RLIMIT_FSIZE, *options.fileSizeLimit);
      }
      if (options.addressSpaceLimit) limit(RLIMIT_AS, *options.addressSpaceLimit);
      if (options.directory && ::chdir(options.directory->c_str()) != 0) _exit(126);
      ::execve(program.c_str(), argv.data(), envp.data());
      _exit(127);
    }

  } else {
    // posix_spawn rather than fork: copying a large test process (a sanitizer build's above
    // all) for every run of the binary costs more than the run itself.
    posix_spawn_file_actions_t actions;
    ::posix_spawn_file_actions_init(&actions);
    if (options.inputFile) {
      ::posix_spawn_file_actions_addopen(&actions, 0, options.inputFile->c_str(), O_RDONLY, 0);
    } else {
      ::posix_spawn_file_actions_adddup2(&actions, inPipe[0], 0);
    }
    if (options.outputFile) {
      ::posix_spawn_file_actions_addopen(&actions, 1, options.outputFile->c_str(),
                                         O_WRONLY | O_CREAT | O_TRUNC, 0644);
    } else {
      ::posix_spawn_file_actions_adddup2(&actions, outPipe[1], 1);
    }
    ::posix_spawn_file_actions_adddup2(&actions, errPipe[1], 2);
    for (int fd : {inPipe[0], inPipe[1], outPipe[0], outPipe[1], errPipe[0], errPipe[1]}) {
      if (fd > 2) ::posix_spawn_file_actions_addclose(&actions, fd);
    }
    if (options.directory) {
      ::posix_spawn_file_actions_addchdir_np(&actions, options.directory->c_str());
    }
    // The test ignores SIGPIPE (below); the child gets it back, as from a shell.
    posix_spawnattr_t attributes;
    ::posix_spawnattr_init(&attributes);
    sigset_t defaults;
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGPIPE);
    ::posix_spawnattr_setsigdefault(&attributes, &defaults);
    ::posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF);
    const int spawnError =
        ::posix_spawn(&pid, program.c_str(), &actions, &attributes, argv.data(), envp.data());
    ::posix_spawnattr_destroy(&attributes);
    ::posix_spawn_file_actions_destroy(&actions);
    if (spawnError != 0) {
      // The child never started: its input or output could not be opened, its directory
      // entered or the program run; 127 as a shell would say.
      for (int fd : {inPipe[0], inPipe[1], outPipe[0], outPipe[1], errPipe[0], errPipe[1]}) {
        if (fd >= 0) ::close(fd);
      }
      RunResult failed;
      failed.status = 127;
      return failed;
    }
  }
  if (options.started) options.started(pid);
  ::close(outPipe[1]);
  ::close(errPipe[1]);
  if (inPipe[0] >= 0) ::close(inPipe[0]);
  int inFd = inPipe[1];
  if (inFd >= 0) ::fcntl(inFd, F_SETFL, O_NONBLOCK);
  // A child that stops reading must not kill the test with SIGPIPE.
  ::signal(SIGPIPE, SIG_IGN);

  RunResult result;
  std::size_t inputSent = 0;
  if (inFd >= 0 && options.input.empty()) {
    ::close(inFd);
    inFd = -1;
  }
  int openOutputs = 2;
  bool outOpen = true;
  bool errOpen = true;
  char buffer[65536];
  while (openOutputs > 0 || inFd >= 0) {
    pollfd fds[3];
    nfds_t count = 0;
    if (outOpen) fds[count++] = {outPipe[0], POLLIN, 0};
    if (errOpen) fds[count++] = {errPipe[0], POLLIN, 0};
    if (inFd >= 0) fds[count++] = {inFd, POLLOUT, 0};
    if (::poll(fds, count, -1) < 0) {
      if (errno == EINTR) continue;
      check(false, "poll");
    }
    for (nfds_t i = 0; i < count; ++i) {
      if (fds[i].revents == 0) continue;
      if (fds[i].fd == inFd) {
        const ssize_t put =
            ::write(inFd, options.input.data() + inputSent, options.input.size() - inputSent);
        if (put > 0) inputSent += static_cast<std::size_t>(put);
        if (put < 0 && errno != EAGAIN) inputSent = options.input.size();
        if (inputSent >= options.input.size()) {
          ::close(inFd);
          inFd = -1;
        }
        continue;
      }
      const ssize_t got = ::read(fds[i].fd, buffer, sizeof buffer);
      if (got > 0) {
        (fds[i].fd == outPipe[0] ? result.out : result.err)
            .append(buffer, static_cast<std::size_t>(got));
        if (result.out.size() + result.err.size() > kMostOutput) ::kill(pid, SIGKILL);
      } else {
        if (fds[i].fd == outPipe[0]) outOpen = false;
        if (fds[i].fd == errPipe[0]) errOpen = false;
        --openOutputs;
      }
    }
  }
  ::close(outPipe[0]);
  ::close(errPipe[0]);
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0)
    check(errno == EINTR, "waitpid");
  result.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  return result;
}

RunResult runVidtwine(const std::vector<std::string>& args, RunOptions options) {
  if (options.env.find("TERM") == options.env.end()) options.env["TERM"] = std::nullopt;
  return run(VIDTWINE_BINARY, args, options);
}

std::optional<std::filesystem::path> corpusDir() {
  std::filesystem::path dir = VIDTWINE_DEFAULT_CORPUS;
  if (const char* fromEnv = std::getenv("VIDTWINE_CORPUS")) dir = fromEnv;
  std::error_code error;
  if (!std::filesystem::is_directory(dir, error)) return std::nullopt;
  return dir;
}

std::string readFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void writeFile(const std::filesystem::path& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

TempDir::TempDir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "vidtwine-test-XXXXXX").string();
  check(::mkdtemp(pattern.data()) != nullptr, "mkdtemp");
  path_ = pattern;
}

TempDir::~TempDir() {
  std::error_code error;
  std::filesystem::permissions(path_, std::filesystem::perms::owner_all,
                               std::filesystem::perm_options::add, error);
  std::filesystem::remove_all(path_, error);
}

std::string visible(const std::string& bytes) {
  std::string text;
  for (const char c : bytes) {
    if (c == '\x1b') {
      text += "ESC";
    } else {
      text += c;
    }
  }
  return text;
}

}  // namespace vidtwine::test
