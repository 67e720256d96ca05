#include "app/saved_log.h"

#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <iterator>
#include <set>

namespace {

std::string Read(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

std::set<std::string> Listing(const std::string& folder) {
  std::set<std::string> names;
  if (DIR* dir = opendir(folder.c_str())) {
    while (dirent* entry = readdir(dir)) {
      std::string name = entry->d_name;
      if (name != "." && name != "..") names.insert(name);  // a leftover temporary file shows
    }
    closedir(dir);
  }
  return names;
}

std::string NewFolder() {
  std::string pattern = testing::TempDir() + "saved_log_XXXXXX";
  return mkdtemp(pattern.data()) ? pattern : "";
}

// In a mount namespace of its own, a tmpfs of 64 KiB: one save that fills
// it and one to it mounted read-only must fail and leave the earlier file.
// Returns 0 when they did, 77 when such a file system cannot be had here.
int FailOnAFullAndOnAReadOnlyDisk(const std::string& folder) {
  if (unshare(CLONE_NEWNS) != 0 ||
      mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
      mount("tmpfs", folder.c_str(), "tmpfs", 0, "size=64k") != 0)
    return 77;
  const std::string path = folder + "/log.txt", filler = folder + "/filler";
  std::ofstream(path) << "the earlier discussion";
  int fd = open(filler.c_str(), O_WRONLY | O_CREAT, 0644);
  static const char block[4096] = {};
  while (write(fd, block, sizeof block) > 0) {
  }
  close(fd);
  if (SaveLogFile(path.c_str(), TString(100000, u'x'))) return 1;
  if (Read(path) != "the earlier discussion") return 2;
  if (Listing(folder) != std::set<std::string>{"log.txt", "filler"}) return 3;
  unlink(filler.c_str());
  if (mount(nullptr, folder.c_str(), nullptr, MS_REMOUNT | MS_RDONLY, nullptr) != 0) return 77;
  if (SaveLogFile(path.c_str(), u"short")) return 4;
  return Read(path) == "the earlier discussion" ? 0 : 5;
}

}  // namespace

TEST(SavedLog, OneBytePerCharacterWithoutAMarkWhenEverythingFits) {
  EXPECT_EQ(EncodeLog(u"a\n\u00e9"), std::string("a\n\xe9"));
}

TEST(SavedLog, Utf16LittleEndianWithAMarkOtherwise) {
  EXPECT_EQ(EncodeLog(u"a\n\u0141"), std::string("\xff\xfe"
                                                 "a\0\n\0\x41\x01",
                                                 8));
}

TEST(SavedLog, ReplacesTheFileWholeAndLeavesNothingElse) {
  std::string folder = NewFolder();
  ASSERT_FALSE(folder.empty());
  std::string path = folder + "/log.txt", link = folder + "/link.txt";
  std::ofstream(path) << "an older and much longer discussion";
  chmod(path.c_str(), 0640);
  ASSERT_TRUE(SaveLogFile(path.c_str(), u"a\n\u0141"));
  EXPECT_EQ(Read(path), EncodeLog(u"a\n\u0141"));
  struct stat saved {};
  stat(path.c_str(), &saved);
  EXPECT_EQ(saved.st_mode & 0777, 0640u);
  // Through a symbolic link, the file it points to is the one replaced.
  ASSERT_EQ(symlink("log.txt", link.c_str()), 0);
  ASSERT_TRUE(SaveLogFile(link.c_str(), u"b"));
  EXPECT_EQ(Read(path), "b");
  EXPECT_EQ(Listing(folder), (std::set<std::string>{"log.txt", "link.txt"}));
}

TEST(SavedLog, AFailedSaveLeavesTheEarlierFileAsItWas) {
  // Regression: the log was written in place, so a save that failed part-way
  // (a full disk) left a truncated file instead of the earlier one.
  std::string folder = NewFolder();
  ASSERT_FALSE(folder.empty());
  // A failed save must say so: the window tells the user the log was not kept.
  EXPECT_FALSE(SaveLogFile((folder + "/absent/log.txt").c_str(), u"a"));
  ASSERT_EQ(mkdir((folder + "/taken").c_str(), 0755), 0);
  EXPECT_FALSE(SaveLogFile((folder + "/taken").c_str(), u"a"));
  EXPECT_EQ(Listing(folder), std::set<std::string>{"taken"});

  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) _exit(FailOnAFullAndOnAReadOnlyDisk(folder));
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  if (WEXITSTATUS(status) == 77) GTEST_SKIP() << "no tmpfs of our own here (needs root)";
  EXPECT_EQ(WEXITSTATUS(status), 0) << "the step that failed";
}
