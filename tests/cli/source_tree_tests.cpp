// SPDX-License-Identifier: GPL-2.0-or-later
// Opening a scanned tree's files after the tree changed: what was swapped in
// is never followed, nothing blocks.
#include "Cli_Files.h"
#include "Tamsel_ReadFile.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include <fcntl.h>
#include <pty.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

namespace tamsel::cli {
namespace {

namespace fs = std::filesystem;

class SourceTree : public ::testing::Test {
protected:
  void SetUp() override {
    Dir = fs::temp_directory_path() / ("tamsel-tree-" + std::to_string(::getpid()));
    fs::remove_all(Dir);
    Put("src/docs/page.html", "inside");
    Put("outside/page.html", "outside");
  }
  void TearDown() override { fs::remove_all(Dir); }

  void Put(const std::string& relative, const std::string& text) {
    fs::create_directories((Dir / relative).parent_path());
    std::ofstream(Dir / relative) << text;
  }

  // Scans src/docs into tree (keeping at most keep descriptors) and returns
  // the folder's number.
  std::size_t ScanDocs(TSourceTree& tree, std::size_t keep) {
    std::string error;
    EXPECT_TRUE(tree.Open(Dir / "src", error, keep)) << error;
    struct stat st {};
    const std::optional<std::size_t> docs = tree.AddFolder(TSourceTree::kRoot, "docs", st, error);
    EXPECT_TRUE(docs.has_value()) << error;
    return docs.value_or(0);
  }

  std::string Read(const TSourceTree& tree, std::size_t folder, const std::string& name,
                   std::string& error) {
    std::string bytes;
    if (!TSourceFile{&tree, folder, name}.Read(bytes, error, 1000)) return "<refused>";
    return bytes;
  }

  fs::path Dir;
};

TEST_F(SourceTree, FolderSwappedAfterTheScanIsNeverFollowed) {
  // Each swap as an attacker would make it between the scan and the read:
  // how the kept descriptor reads, and how the walk from the root refuses.
  struct TCase {
    const char* Name;
    void (*Swap)(const fs::path& dir);
    const char* Kept; // what a kept descriptor reads
    const char* Walk; // the walk's refusal
  };
  const TCase cases[] = {
      {"link to a folder outside",
       [](const fs::path& dir) {
         fs::rename(dir / "src/docs", dir / "docs.old");
         fs::create_directory_symlink(dir / "outside", dir / "src/docs");
       },
       "inside", "folder docs was replaced since the scan, not followed"},
      {"another folder moved in",
       [](const fs::path& dir) {
         fs::rename(dir / "src/docs", dir / "docs.old");
         fs::rename(dir / "outside", dir / "src/docs");
       },
       "inside", "folder docs was replaced since the scan"},
      {"file in its place",
       [](const fs::path& dir) {
         fs::rename(dir / "src/docs", dir / "docs.old");
         std::ofstream(dir / "src/docs") << "x";
       },
       "inside", "folder docs was replaced since the scan, not followed"},
  };
  for (const TCase& c : cases) {
    for (const std::size_t keep : {std::size_t{100}, std::size_t{1}}) {
      SetUp();
      TSourceTree tree;
      const std::size_t docs = ScanDocs(tree, keep);
      EXPECT_EQ(tree.KeptDescriptors(), keep == 1 ? 1u : 2u);
      c.Swap(Dir);
      std::string error;
      const std::string read = Read(tree, docs, "page.html", error);
      if (keep > 1) {
        EXPECT_EQ(read, c.Kept) << c.Name;
      } else {
        EXPECT_EQ(read, "<refused>") << c.Name;
        EXPECT_EQ(error, c.Walk) << c.Name;
      }
    }
  }
}

TEST_F(SourceTree, FilesAreRegularFilesReachedWithoutLinks) {
  TSourceTree tree;
  const std::size_t docs = ScanDocs(tree, 1);
  std::string error;
  EXPECT_EQ(Read(tree, docs, "page.html", error), "inside");
  fs::create_symlink("/proc/self/environ", Dir / "src/docs/env.pdf");
  ASSERT_EQ(::mkfifo((Dir / "src/docs/fifo.html").c_str(), 0600), 0);
  fs::create_directory(Dir / "src/docs/folder.html");
  const std::pair<const char*, const char*> refusals[] = {
      {"env.pdf", "is a symbolic link; not followed"},
      // Nobody writes to it: a blocking open would never return.
      {"fifo.html", "is not a regular file (a FIFO)"},
      {"folder.html", "is a directory"},
      {"missing.html", "No such file or directory"},
  };
  for (const auto& [name, reason] : refusals) {
    EXPECT_EQ(Read(tree, docs, name, error), "<refused>") << name;
    EXPECT_EQ(error, reason) << name;
  }
  // Folders reached again by a relative path are the ones already known.
  EXPECT_EQ(tree.FolderAt("docs", error), docs);
  EXPECT_EQ(tree.FolderAt("", error), TSourceTree::kRoot);
  EXPECT_EQ(tree.Relative(docs), "docs");
  EXPECT_FALSE(tree.FolderAt("docs/page.html", error).has_value());
}

TEST_F(SourceTree, DeeperThanPathMax) {
  TSourceTree tree;
  std::string error;
  ASSERT_TRUE(tree.Open(Dir / "src", error, 8));
  int fd = ::open((Dir / "src").c_str(), O_RDONLY | O_DIRECTORY);
  std::size_t folder = TSourceTree::kRoot;
  const std::string name(200, 'n');
  for (int level = 0; level < 40; ++level) { // 8,000 bytes of path
    ASSERT_EQ(::mkdirat(fd, name.c_str(), 0700), 0);
    const int inner = ::openat(fd, name.c_str(), O_RDONLY | O_DIRECTORY);
    ::close(fd);
    fd = inner;
    struct stat st {};
    const std::optional<std::size_t> next = tree.AddFolder(folder, name, st, error);
    ASSERT_TRUE(next.has_value()) << level << ": " << error;
    folder = *next;
  }
  const int page = ::openat(fd, "deep.html", O_WRONLY | O_CREAT, 0600);
  ASSERT_EQ(::write(page, "deep", 4), 4);
  ::close(page);
  ::close(fd);
  // Most folders are past the budget: reached by walking, checked on the way.
  EXPECT_EQ(tree.KeptDescriptors(), 8u);
  EXPECT_EQ(Read(tree, folder, "deep.html", error), "deep") << error;
  std::vector<std::string> names;
  EXPECT_TRUE(tree.List(folder, names, error));
  EXPECT_EQ(names, std::vector<std::string>{"deep.html"});
  // rm -r copes with the depth; fs::remove_all may not.
  ASSERT_EQ(std::system(("rm -rf '" + Dir.string() + "'").c_str()), 0);
}

TEST(ReadRegularFile, RefusesWhatIsNoFileWithoutBlocking) {
  const fs::path dir = fs::temp_directory_path() / ("tamsel-regular-" + std::to_string(::getpid()));
  fs::create_directories(dir);
  std::ofstream(dir / "page.html") << "<p>x</p>";
  ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0600), 0);
  const std::pair<std::string, const char*> cases[] = {
      {(dir / "page.html").string(), ""},
      {(dir / "fifo").string(), "is not a regular file (a FIFO)"},
      {"/dev/zero", "is not a regular file (a device)"},
      {dir.string(), "is a directory"},
      {(dir / "none").string(), "No such file or directory"},
  };
  for (const auto& [path, reason] : cases) {
    std::string bytes, error;
    EXPECT_EQ(ReadRegularFile(path, bytes, error, 100), *reason == 0) << path;
    EXPECT_EQ(error, reason) << path;
  }
  std::string bytes, error;
  EXPECT_FALSE(ReadRegularFile((dir / "page.html").string(), bytes, error, 4));
  EXPECT_EQ(error, TooLargeText(4));
  fs::remove_all(dir);
}

TEST(EchoOff, TurnsEchoBackOn) {
  int master = -1, slave = -1;
  ASSERT_EQ(::openpty(&master, &slave, nullptr, nullptr, nullptr), 0);
  termios state{};
  {
    const TEchoOff quiet(slave);
    EXPECT_TRUE(quiet.Active());
    ASSERT_EQ(::tcgetattr(slave, &state), 0);
    EXPECT_FALSE(state.c_lflag & ECHO);
  }
  ASSERT_EQ(::tcgetattr(slave, &state), 0);
  EXPECT_TRUE(state.c_lflag & ECHO);
  ::close(slave);
  ::close(master);
  const TEchoOff notTerminal(-1);
  EXPECT_FALSE(notTerminal.Active());
}

} // namespace
} // namespace tamsel::cli
