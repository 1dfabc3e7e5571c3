#include "stream/output_file.hpp"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <set>
#include <string>

#include <gtest/gtest.h>

#include "support/process.hpp"

namespace vidtwine {
namespace {

namespace fs = std::filesystem;

/// The names in `dir`, hidden ones too, sorted.
std::string listing(const fs::path& dir) {
  std::set<std::string> names;
  for (const auto& entry : fs::directory_iterator(dir))
    names.insert(entry.path().filename().string());
  std::string text;
  for (const auto& name : names)
    text += name + " ";
  return text;
}

mode_t modeOf(const fs::path& path) {
  struct stat info {};
  EXPECT_EQ(::stat(path.c_str(), &info), 0);
  return info.st_mode & 07777;
}

TEST(OutputFile, ReplacesAFileOnlyWhenCommitted) {
  test::TempDir dir;
  const auto path = dir / "out.txt";
  test::writeFile(path, "old");
  ::chmod(path.c_str(), 0640);
  for (const bool commit : {false, true}) {
    auto file = OutputFile::open(path.c_str());
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(file->stream()->putString("new"), 3u);
    // Until the commit the new text stands beside the file in a hidden one.
    EXPECT_EQ(test::readFile(path), "old");
    EXPECT_EQ(listing(dir.path()).substr(0, 10), ".vidtwine-");
    if (commit) {
      EXPECT_EQ(file->commit(), 0);
    }
    file.reset();
    EXPECT_EQ(test::readFile(path), commit ? "new" : "old");
    EXPECT_EQ(listing(dir.path()), "out.txt ");
    EXPECT_EQ(modeOf(path), 0640u);
  }
}

TEST(OutputFile, NewFilesTakeTheUmask) {
  test::TempDir dir;
  for (const mode_t mask : {022, 077}) {
    const mode_t saved = ::umask(mask);
    const auto path = dir / ("new" + std::to_string(mask));
    auto file = OutputFile::open(path.c_str());
    ::umask(saved);
    ASSERT_NE(file, nullptr);
    // Nothing is there before the commit, not even an empty file.
    EXPECT_FALSE(fs::exists(path));
    EXPECT_EQ(file->commit(), 0);
    EXPECT_EQ(modeOf(path), 0666u & ~mask);
  }
  EXPECT_EQ(OutputFile::open((dir / "no" / "folder").c_str()), nullptr);
  EXPECT_EQ(errno, ENOENT);
}

TEST(OutputFile, LinksLeadToTheFileThatIsReplaced) {
  test::TempDir dir;
  fs::create_directory(dir / "sub");
  test::writeFile(dir / "sub" / "art.txt", "old");
  fs::create_hard_link(dir / "sub" / "art.txt", dir / "hard.txt");
  // A relative link is read from its own folder; a link may lead to another link, or to
  // nothing yet.
  fs::create_symlink("sub/art.txt", dir / "soft.txt");
  fs::create_symlink("art.txt", dir / "sub" / "inner.txt");
  fs::create_symlink("sub/inner.txt", dir / "twice.txt");
  fs::create_symlink("sub/later.txt", dir / "dangling.txt");
  const auto write = [&](const char* name) {
    auto file = OutputFile::open((dir / name).c_str());
    ASSERT_NE(file, nullptr) << name;
    file->stream()->putString(name);
    EXPECT_EQ(file->commit(), 0);
  };
  // A hard link is broken: the other name keeps the old text.
  write("hard.txt");
  EXPECT_EQ(test::readFile(dir / "hard.txt"), "hard.txt");
  EXPECT_EQ(test::readFile(dir / "sub" / "art.txt"), "old");
  for (const auto& [name, replaced] : {std::pair{"soft.txt", "sub/art.txt"},
                                       {"twice.txt", "sub/art.txt"},
                                       {"dangling.txt", "sub/later.txt"}}) {
    write(name);
    EXPECT_EQ(test::readFile(dir / replaced), name);
  }
  EXPECT_TRUE(fs::is_symlink(dir / "soft.txt"));
  EXPECT_TRUE(fs::is_symlink(dir / "dangling.txt"));
  EXPECT_EQ(listing(dir.path()), "dangling.txt hard.txt soft.txt sub twice.txt ");
  EXPECT_EQ(listing(dir / "sub"), "art.txt inner.txt later.txt ");
}

TEST(OutputFile, OtherFilesAreWrittenDirectly) {
  auto null = OutputFile::open("/dev/null");
  ASSERT_NE(null, nullptr);
  EXPECT_EQ(null->stream()->putString("gone"), 4u);
  EXPECT_EQ(null->commit(), 0);
  EXPECT_EQ(null->path(), std::string("/dev/null"));

  auto full = OutputFile::open("/dev/full");
  ASSERT_NE(full, nullptr);
  full->stream()->putString("x");
  EXPECT_EQ(full->commit(), -1);
  EXPECT_EQ(full->error(), ENOSPC);
  EXPECT_EQ(OutputFile::standardOutput()->path(), nullptr);
}

TEST(OutputFile, AFolderClosedToUsLeavesTheFileToBeWrittenInPlace) {
  if (::geteuid() == 0) GTEST_SKIP() << "root may write in any folder";
  test::TempDir dir;
  const auto path = dir / "out.txt";
  test::writeFile(path, "old text");
  ::chmod(dir.path().c_str(), 0555);
  auto file = OutputFile::open(path.c_str());
  ASSERT_NE(file, nullptr);
  file->stream()->putString("new");
  EXPECT_EQ(file->commit(), 0);
  EXPECT_EQ(test::readFile(path), "new");
  // A file that may not be written is not replaced either.
  ::chmod(path.c_str(), 0444);
  ::chmod(dir.path().c_str(), 0755);
  EXPECT_EQ(OutputFile::open(path.c_str()), nullptr);
  EXPECT_EQ(errno, EACCES);
}

}  // namespace
}  // namespace vidtwine
