#include "app/save_location.h"

#include <sys/stat.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

std::string DocumentsDirFromUserDirs(const std::string& userDirs, const std::string& home) {
  std::istringstream lines(userDirs);
  std::string line;
  const std::string key = "XDG_DOCUMENTS_DIR=";
  while (std::getline(lines, line)) {
    size_t start = line.find_first_not_of(" \t");
    if (start == std::string::npos || line.compare(start, key.size(), key) != 0) continue;
    std::string value = line.substr(start + key.size());
    if (value.size() >= 2 && value.front() == '"' && value.back() == '"')
      value = value.substr(1, value.size() - 2);
    if (value.compare(0, 5, "$HOME") == 0) value = home + value.substr(5);
    if (value.empty() || value[0] != '/') return "";  // only absolute paths count
    if (value == home || value == home + "/") return "";  // "disabled" by convention
    return value;
  }
  return "";
}

static bool IsDirectory(const std::string& path) {
  struct stat info {};
  return !path.empty() && stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

std::string DocumentsFolder() {
  const char* homeVar = std::getenv("HOME");
  std::string home = homeVar ? homeVar : "";
  if (home.empty()) return "";
  const char* configVar = std::getenv("XDG_CONFIG_HOME");
  std::string config = configVar && *configVar ? configVar : home + "/.config";
  std::ifstream file(config + "/user-dirs.dirs");
  std::stringstream text;
  text << file.rdbuf();
  std::string folder = DocumentsDirFromUserDirs(text.str(), home);
  if (folder.empty()) folder = home + "/Documents";
  return IsDirectory(folder) ? folder + "/" : "";
}
