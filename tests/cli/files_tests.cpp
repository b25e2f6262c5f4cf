// SPDX-License-Identifier: GPL-2.0-or-later
// Reading and writing files: bounded reads, no file replaced unasked, no link followed.
#include "Cli_Files.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include <fcntl.h>
#include <unistd.h>

namespace tamsel::cli {
namespace {

TEST(Files, NeverOverwriteWithoutForce) {
  namespace fs = std::filesystem;
  const fs::path dir = fs::temp_directory_path() / ("tamsel-files-" + std::to_string(::getpid()));
  const fs::path file = dir / "a" / "b.txt";
  std::string error;
  EXPECT_EQ(WriteWholeFile(file, "one", false, error), TWriteResult::Written);
  EXPECT_EQ(WriteWholeFile(file, "one", false, error), TWriteResult::Unchanged);
  EXPECT_EQ(WriteWholeFile(file, "two", false, error), TWriteResult::Exists);
  std::string content;
  ASSERT_TRUE(ReadWholeFile(file.string(), content, error));
  EXPECT_EQ(content, "one");
  EXPECT_EQ(WriteWholeFile(file, "two", true, error), TWriteResult::Written);
  ASSERT_TRUE(ReadWholeFile(file.string(), content, error));
  EXPECT_EQ(content, "two");
  EXPECT_EQ(std::distance(fs::directory_iterator(dir / "a"), fs::directory_iterator()), 1);
  EXPECT_EQ(WriteWholeFile(dir / "a", "x", true, error), TWriteResult::Failed);
  EXPECT_FALSE(ReadWholeFile(dir.string(), content, error));
  EXPECT_EQ(error, "is a directory");
  fs::remove_all(dir);
}

TEST(Files, ReadingIsBounded) {
  namespace fs = std::filesystem;
  const fs::path dir = fs::temp_directory_path() / ("tamsel-read-" + std::to_string(::getpid()));
  fs::create_directories(dir);
  std::string content, error;
  ASSERT_EQ(WriteWholeFile(dir / "ten", "0123456789", false, error), TWriteResult::Written);
  EXPECT_TRUE(ReadWholeFile((dir / "ten").string(), content, error, 10));
  EXPECT_EQ(content, "0123456789");
  EXPECT_FALSE(ReadWholeFile((dir / "ten").string(), content, error, 9));
  EXPECT_EQ(error, "larger than the 9 bytes limit");
  // A sparse file far above the limit is refused by its size, unread.
  const int fd = ::open((dir / "sparse").c_str(), O_WRONLY | O_CREAT, 0600);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(::ftruncate(fd, off_t{3} << 30), 0);
  ::close(fd);
  EXPECT_FALSE(ReadWholeFile((dir / "sparse").string(), content, error));
  EXPECT_EQ(error, "larger than the 64 MiB limit");
  EXPECT_TRUE(content.empty());
  // A stream stops one byte past the limit.
  EXPECT_FALSE(ReadWholeFile("/dev/zero", content, error, 1000));
  EXPECT_EQ(content.size(), 1001u);
  fs::create_symlink(dir / "ten", dir / "link");
  EXPECT_FALSE(ReadWholeFile((dir / "link").string(), content, error, 100, false));
  EXPECT_EQ(error, "is a symbolic link");
  fs::remove_all(dir);
}

TEST(Files, OutputFoldersFollowNoLinks) {
  namespace fs = std::filesystem;
  const fs::path dir = fs::temp_directory_path() / ("tamsel-out-" + std::to_string(::getpid()));
  fs::create_directories(dir / "elsewhere");
  TOutputFolder out;
  std::string error;
  ASSERT_TRUE(out.Open(dir / "pages", error));
  EXPECT_EQ(out.Write("ns/sub/page.txt", "text", false, error), TWriteResult::Written);
  EXPECT_TRUE(out.SyncFolders(error)) << error;
  fs::create_directory_symlink(dir / "elsewhere", dir / "pages" / "linked");
  EXPECT_EQ(out.Write("linked/page.txt", "text", true, error), TWriteResult::Failed);
  EXPECT_EQ(error, "linked is a symbolic link; not followed");
  fs::create_symlink(dir / "elsewhere" / "target.txt", dir / "pages" / "ns" / "file.txt");
  EXPECT_EQ(out.Write("ns/file.txt", "text", true, error), TWriteResult::Failed);
  EXPECT_EQ(error, "is a symbolic link; not written through");
  EXPECT_TRUE(fs::is_empty(dir / "elsewhere"));
  EXPECT_EQ(out.Write("../escape.txt", "text", true, error), TWriteResult::Failed);
  EXPECT_FALSE(fs::exists(dir / "escape.txt"));

  // Temporary files of a run that was killed go; those of a live run stay.
  std::ofstream(dir / "pages" / "ns" / ".tamsel-999999999-1f.tmp") << "half";
  std::ofstream(dir / "pages" / ".page.txt.tamsel-999999999-3") << "half, older form";
  const std::string live = ".tamsel-" + std::to_string(::getppid()) + "-2.tmp";
  std::ofstream(dir / "pages" / live) << "being written";
  std::ofstream(dir / "pages" / ".tamsel-notes.tmp") << "not ours";
  EXPECT_EQ(out.RemoveLeftovers(), 2u);
  EXPECT_TRUE(fs::exists(dir / "pages" / live));
  EXPECT_TRUE(fs::exists(dir / "pages" / ".tamsel-notes.tmp"));
  fs::remove_all(dir);
}

TEST(Files, OutputOfOneDocumentNeverReplacesWhatItWritesThrough) {
  namespace fs = std::filesystem;
  const fs::path dir = fs::temp_directory_path() / ("tamsel-o-" + std::to_string(::getpid()));
  fs::create_directories(dir);
  std::string error, content;
  ASSERT_TRUE(WriteOutputFile((dir / "plain.txt").string(), "one", error));
  fs::permissions(dir / "plain.txt", fs::perms::owner_read | fs::perms::owner_write);
  ASSERT_TRUE(WriteOutputFile((dir / "plain.txt").string(), "two", error));
  EXPECT_EQ(fs::status(dir / "plain.txt").permissions() & fs::perms::all,
            fs::perms::owner_read | fs::perms::owner_write);
  fs::create_symlink("plain.txt", dir / "link.txt");
  ASSERT_TRUE(WriteOutputFile((dir / "link.txt").string(), "three", error));
  EXPECT_TRUE(fs::is_symlink(dir / "link.txt"));
  ASSERT_TRUE(ReadWholeFile((dir / "plain.txt").string(), content, error));
  EXPECT_EQ(content, "three");
  fs::create_symlink("new.txt", dir / "dangling.txt");
  ASSERT_TRUE(WriteOutputFile((dir / "dangling.txt").string(), "four", error));
  EXPECT_TRUE(fs::is_symlink(dir / "dangling.txt"));
  EXPECT_TRUE(fs::is_regular_file(dir / "new.txt"));
  ASSERT_TRUE(WriteOutputFile("/dev/null", "into the void", error));
  EXPECT_TRUE(fs::is_character_file("/dev/null"));
  EXPECT_FALSE(WriteOutputFile(dir.string(), "x", error));
  EXPECT_EQ(error, "is a directory");
  fs::remove_all(dir);
}

} // namespace
} // namespace tamsel::cli
