// Where the output of a run goes, and the one place that decides when a file is replaced.
#pragma once

#include <memory>
#include <string>

#include "stream/stream.hpp"

namespace vidtwine {

/// Standard output, or the file that a path names.
///
/// A regular file, or a path where nothing exists yet, is written to a temporary file in
/// the same folder; `commit` syncs it and renames it over the file. Until then the file
/// keeps its old content, also when the run fails or is ended by a signal. A symbolic
/// link is followed, and the file it names is replaced; a hard link is broken. The new
/// file gets the old one's owner (where allowed) and permission bits, or 0666 less the
/// umask. Where no temporary file can stand in the folder, or the folder's sticky bit
/// would refuse the rename, the file is written in place. Anything else (a terminal, a
/// pipe, a FIFO, a device) is written directly.
///
/// One OutputFile at a time holds a temporary file: the handlers of the signals that end
/// the process remove it (SIGHUP, SIGINT, SIGQUIT, SIGTERM, SIGPIPE, SIGALRM, SIGXCPU,
/// SIGXFSZ, each unless ignored), and so does `removeTemporaryFile`.
class OutputFile {
 public:
  static std::unique_ptr<OutputFile> standardOutput();
  /// None when the file cannot be opened; `errno` says why. Opening a FIFO waits for
  /// a reader.
  static std::unique_ptr<OutputFile> open(const char* path);

  /// Removes the temporary file unless it was committed.
  ~OutputFile();
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  /// A stream into the file, for the bottom of a writer chain; it must not outlive this
  /// object, nor be written after `commit`.
  std::unique_ptr<Stream> stream();

  /// 0 once everything written is in place under the file's name; -1 when a write failed
  /// or finishing fails, and then the file keeps its old content where it had a temporary
  /// file. Standard output stays open.
  int commit();

  /// The system's error number of the first failure, or 0.
  int error() const noexcept;
  /// The path as given, or none for standard output.
  const char* path() const noexcept { return path_.empty() ? nullptr : path_.c_str(); }

  /// Removes the temporary file that is not yet committed, if any. Safe in a signal
  /// handler, for handlers that end the process.
  static void removeTemporaryFile() noexcept;

 private:
  OutputFile(std::unique_ptr<FileStream> file, std::string path, std::string target,
             bool regular) noexcept;

  /// Abandons the temporary file, if any; the file keeps its old content.
  void abandon() noexcept;

  std::unique_ptr<FileStream> file_;
  std::string path_;
  std::string target_;  // the file that is replaced; empty when written directly
  bool regular_;        // synced before it counts as written
  int error_ = 0;
};

}  // namespace vidtwine
