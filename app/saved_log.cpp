#include "app/saved_log.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdlib>

namespace {

// How often a name for the temporary file is tried before giving up.
constexpr int kTemporaryNameTries = 16;

std::string FolderOf(const std::string& path) {
  size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

// The file a save replaces: a symbolic link is followed, so that the file
// it points to is the one replaced, as writing through it would.
std::string TargetOf(const char* path) {
  struct stat link {};
  char resolved[PATH_MAX];
  if (lstat(path, &link) == 0 && S_ISLNK(link.st_mode) && realpath(path, resolved)) return resolved;
  return path;
}

// A new file beside `target`, open for writing; -1 when none can be made.
int CreateBeside(const std::string& target, std::string& name) {
  static std::atomic<unsigned> counter{0};
  std::string stem = FolderOf(target) + "/.colloquor-save-" + std::to_string(getpid()) + "-";
  for (int i = 0; i < kTemporaryNameTries; ++i) {
    name = stem + std::to_string(counter++);
    // The mode the file would have had if written in place (the umask applies).
    int fd = open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd >= 0 || errno != EEXIST) return fd;
  }
  return -1;
}

bool WriteAll(int fd, const std::string& bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

// The rename itself reaches the disk with its folder.
void SyncFolder(const std::string& folder) {
  int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  fsync(fd);
  close(fd);
}

}  // namespace

std::string EncodeLog(const TString& text) {
  bool narrow = true;
  for (char16_t c : text)
    if (c > 255) narrow = false;
  if (narrow) return ToBytes(text);
  std::string bytes = "\xff\xfe";
  bytes.reserve(2 + text.size() * 2);
  for (char16_t c : text) {
    bytes.push_back(static_cast<char>(c & 0xff));
    bytes.push_back(static_cast<char>(c >> 8));
  }
  return bytes;
}

bool SaveLogFile(const char* path, const TString& text) {
  std::string bytes = EncodeLog(text);
  std::string target = TargetOf(path);
  std::string temporary;
  int fd = CreateBeside(target, temporary);
  if (fd < 0) return false;
  // A file being replaced keeps its permissions.
  struct stat earlier {};
  if (stat(target.c_str(), &earlier) == 0 && S_ISREG(earlier.st_mode))
    fchmod(fd, earlier.st_mode & 07777);
  bool written = WriteAll(fd, bytes) && fsync(fd) == 0;
  written = close(fd) == 0 && written;
  if (!written || rename(temporary.c_str(), target.c_str()) != 0) {
    unlink(temporary.c_str());
    return false;
  }
  SyncFolder(FolderOf(target));
  return true;
}
