#include "stream/mapped_file.hpp"

#include <sys/mman.h>
#include <unistd.h>

#include <cstring>

namespace vidtwine {

namespace {}  // namespace

std::unique_ptr<MappedFile> MappedFile::map(int descriptor, std::uint64_t size) {
  if (size == 0 || size > SIZE_MAX) return nullptr;
  // Pages come in as they are read, a few dozen at each fault, so that those already
  // read can be given back.
  void* data =
      ::mmap(nullptr, static_cast<std::size_t>(size), PROT_READ, MAP_PRIVATE, descriptor, 0);
  if (data == MAP_FAILED) return nullptr;
  ::madvise(data, static_cast<std::size_t>(size), MADV_SEQUENTIAL);
  return std::unique_ptr<MappedFile>(
      new MappedFile(static_cast<const std::uint8_t*>(data), static_cast<std::size_t>(size)));
}

MappedFile::~MappedFile() {
  ::munmap(const_cast<std::uint8_t*>(data_), size_);
}

void MappedFile::release(const std::uint8_t* end) noexcept {
  const auto page = static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
  const auto upTo = static_cast<std::size_t>(end - data_) / page * page;
  if (upTo <= released_) return;
  // The pages stay in the system's cache; only this process lets go of them.
  ::madvise(const_cast<std::uint8_t*>(data_) + released_, upTo - released_, MADV_DONTNEED);
  released_ = upTo;
}

std::span<const std::uint8_t> dosText(std::span<const std::uint8_t> file, std::int64_t limit,
                                      bool ignoreEof) noexcept {
  if (ignoreEof || file.empty()) return file;
  if (limit >= 0 && static_cast<std::uint64_t>(limit) < file.size())
    file = file.first(static_cast<std::size_t>(limit));
  if (const void* end = std::memchr(file.data(), 0x1A, file.size()))
    file =
        file.first(static_cast<std::size_t>(static_cast<const std::uint8_t*>(end) - file.data()));
  return file;
}

}  // namespace vidtwine
