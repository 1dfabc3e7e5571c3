#include "stream/output_file.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <cstring>

namespace vidtwine {

namespace {

constexpr int kEndingSignals[] = {SIGHUP,  SIGINT,  SIGQUIT, SIGTERM,
                                  SIGPIPE, SIGALRM, SIGXCPU, SIGXFSZ};
constexpr char kTemporaryName[] = ".vidtwine-XXXXXX";
/// As many links as the system follows in one path.
constexpr int kMaxLinks = 40;

// The temporary file not yet committed, where a signal handler can read it.
char temporaryPath[PATH_MAX];
volatile std::sig_atomic_t temporaryHeld = 0;

sigset_t endingSignals() noexcept {
  sigset_t set;
  ::sigemptyset(&set);
  for (const int number : kEndingSignals)
    ::sigaddset(&set, number);
  return set;
}

/// Keeps the ending signals waiting while the temporary file is created, renamed or
/// removed, so that a handler never sees it half done.
class SignalGuard {
 public:
  SignalGuard() noexcept {
    const sigset_t set = endingSignals();
    ::sigprocmask(SIG_BLOCK, &set, &saved_);
  }
  ~SignalGuard() { ::sigprocmask(SIG_SETMASK, &saved_, nullptr); }
  SignalGuard(const SignalGuard&) = delete;
  SignalGuard& operator=(const SignalGuard&) = delete;

 private:
  sigset_t saved_;
};

void removeAndEnd(int number) {
  OutputFile::removeTemporaryFile();
  // The signal is blocked while this runs: it ends the process on return, as it would
  // have without the handler.
  ::signal(number, SIG_DFL);
  ::raise(number);
}

void installHandlers() noexcept {
  static bool installed = false;
  if (installed) return;
  installed = true;
  struct sigaction action {};
  action.sa_handler = removeAndEnd;
  action.sa_mask = endingSignals();
  for (const int number : kEndingSignals) {
    struct sigaction previous {};
    // An ignored signal stays ignored (nohup): it ends nothing.
    if (::sigaction(number, nullptr, &previous) != 0 || previous.sa_handler != SIG_DFL) continue;
    ::sigaction(number, &action, nullptr);
  }
}

std::string folderOf(const std::string& path) {
  const auto slash = path.rfind('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

/// The path that `path` leads to after its symbolic links, as open() follows them, also
/// when it ends at a file that does not exist yet.
std::string followLinks(const char* path) {
  std::string current = path;
  char link[PATH_MAX];
  for (int step = 0; step < kMaxLinks; ++step) {
    const ssize_t length = ::readlink(current.c_str(), link, sizeof link);
    if (length <= 0 || static_cast<std::size_t>(length) == sizeof link) break;
    const std::string next(link, static_cast<std::size_t>(length));
    current = next.front() == '/' ? next : folderOf(current) + next;
  }
  return current;
}

/// Whether a file of another user in a folder with the sticky bit keeps us from
/// renaming over it.
bool stickyFolderRefuses(const std::string& target, const struct stat& info) {
  const uid_t user = ::geteuid();
  if (user == 0 || info.st_uid == user) return false;
  const std::string folder = folderOf(target);
  struct stat folderInfo {};
  if (::stat(folder.empty() ? "." : folder.c_str(), &folderInfo) != 0) return false;
  return (folderInfo.st_mode & S_ISVTX) != 0 && folderInfo.st_uid != user;
}

/// A new temporary file in `folder`, or -1 with errno set.
int createTemporary(const std::string& folder) noexcept {
  const std::string pattern = folder + kTemporaryName;
  if (pattern.size() >= sizeof temporaryPath) {
    errno = ENAMETOOLONG;
    return -1;
  }
  if (temporaryHeld != 0) {
    errno = EBUSY;
    return -1;
  }
  installHandlers();
  SignalGuard guard;
  std::memcpy(temporaryPath, pattern.c_str(), pattern.size() + 1);
  const int descriptor = ::mkostemp(temporaryPath, O_CLOEXEC);
  if (descriptor >= 0) temporaryHeld = 1;
  return descriptor;
}

/// Closes `descriptor` and gives none; errno stays as it was.
std::unique_ptr<OutputFile> closeAndFail(int descriptor) noexcept {
  const int error = errno;
  ::close(descriptor);
  errno = error;
  return nullptr;
}

mode_t creationMode() noexcept {
  const mode_t mask = ::umask(0);
  ::umask(mask);
  return 0666 & ~mask;
}

/// The bottom of a writer chain: passes everything to the file that the OutputFile keeps,
/// so that the file, and what became of it, outlive the chain.
class FileView final : public Stream {
 public:
  explicit FileView(FileStream& file) noexcept : Stream(StreamKind::File), file_(file) {}
  int flush(bool sync) override { return file_.flush(sync); }
  StreamStatus status() const override { return file_.status(); }
  int fileDescriptor() const override { return file_.fileDescriptor(); }

 private:
  std::uint64_t writeSome(const std::byte* data, std::uint64_t n) override {
    return file_.write(data, n);
  }

  FileStream& file_;
};

}  // namespace

OutputFile::OutputFile(std::unique_ptr<FileStream> file, std::string path, std::string target,
                       bool regular) noexcept
    : file_(std::move(file)),
      path_(std::move(path)),
      target_(std::move(target)),
      regular_(regular) {}

OutputFile::~OutputFile() {
  abandon();
}

std::unique_ptr<OutputFile> OutputFile::standardOutput() {
  return std::unique_ptr<OutputFile>(new OutputFile(FileStream::openStandard(1), {}, {}, false));
}

std::unique_ptr<OutputFile> OutputFile::open(const char* path) {
  const std::string target = followLinks(path);
  struct stat info {};
  const bool exists = ::stat(target.c_str(), &info) == 0;
  if ((exists && !S_ISREG(info.st_mode)) || (!exists && errno != ENOENT)) {
    auto file = FileStream::openPath(path, OpenMode::Write);
    if (file == nullptr) return nullptr;
    return std::unique_ptr<OutputFile>(new OutputFile(std::move(file), path, {}, false));
  }

  int temporary = -1;
  mode_t mode = creationMode();
  if (exists) {
    // Only a file that may be written is replaced.
    const int existing = ::open(target.c_str(), O_WRONLY | O_CLOEXEC);
    if (existing < 0) return nullptr;
    // Only a folder that is closed to us leaves the file to be written in place: a full
    // disk, say, must not.
    const bool refused = stickyFolderRefuses(target, info);
    if (!refused) temporary = createTemporary(folderOf(target));
    if (temporary < 0) {
      if (!refused && errno != EACCES && errno != EPERM) return closeAndFail(existing);
      if (::ftruncate(existing, 0) != 0) return closeAndFail(existing);
      return std::unique_ptr<OutputFile>(
          new OutputFile(FileStream::adopt(existing, OpenMode::Write), path, {}, true));
    }
    ::close(existing);
    // The set-user and set-group bits only stay with the owner and group they were for.
    const bool ownerKept = ::fchown(temporary, info.st_uid, info.st_gid) == 0;
    const bool groupKept =
        ownerKept || ::fchown(temporary, static_cast<uid_t>(-1), info.st_gid) == 0;
    mode = info.st_mode & 07777;
    if (!ownerKept) mode &= ~static_cast<mode_t>(S_ISUID);
    if (!groupKept) mode &= ~static_cast<mode_t>(S_ISGID);
  } else {
    temporary = createTemporary(folderOf(target));
    if (temporary < 0) return nullptr;
  }
  auto output = std::unique_ptr<OutputFile>(
      new OutputFile(FileStream::adopt(temporary, OpenMode::Write), path, target, true));
  if (::fchmod(temporary, mode) != 0) {
    const int error = errno;
    output.reset();
    errno = error;
    return nullptr;
  }
  return output;
}

std::unique_ptr<Stream> OutputFile::stream() {
  return std::make_unique<FileView>(*file_);
}

int OutputFile::commit() {
  if (file_ == nullptr) return error_ == 0 ? 0 : -1;
  if (regular_) file_->flush(true);
  if (file_->status() != StreamStatus::Ok) {
    error_ = file_->error() != 0 ? file_->error() : EIO;
    abandon();
    return -1;
  }
  file_.reset();
  if (target_.empty()) return 0;
  SignalGuard guard;
  if (::rename(temporaryPath, target_.c_str()) != 0) {
    error_ = errno;
    removeTemporaryFile();
  }
  temporaryHeld = 0;
  target_.clear();
  return error_ == 0 ? 0 : -1;
}

int OutputFile::error() const noexcept {
  if (error_ != 0 || file_ == nullptr) return error_;
  return file_->error();
}

void OutputFile::abandon() noexcept {
  file_.reset();
  if (target_.empty()) return;
  SignalGuard guard;
  removeTemporaryFile();
  target_.clear();
}

void OutputFile::removeTemporaryFile() noexcept {
  if (temporaryHeld == 0) return;
  ::unlink(temporaryPath);
  temporaryHeld = 0;
}

}  // namespace vidtwine
