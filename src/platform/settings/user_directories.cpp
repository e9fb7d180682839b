#include "platform/settings/user_directories.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

namespace vistrelle {

namespace {
std::string envOr(const char* name, const std::string& fallback) {
  const char* value = std::getenv(name);
  return value && *value ? std::string(value) : fallback;
}
}  // namespace

std::string UserDirectories::home() {
  if (const char* value = std::getenv("HOME"); value && *value) return value;
  if (const passwd* entry = getpwuid(getuid()); entry && entry->pw_dir) return entry->pw_dir;
  return "/";
}

std::string UserDirectories::config() {
  return envOr("XDG_CONFIG_HOME", home() + "/.config");
}

std::string UserDirectories::caches() {
  return envOr("XDG_CACHE_HOME", home() + "/.cache");
}

std::string UserDirectories::dataHome() {
  return envOr("XDG_DATA_HOME", home() + "/.local/share");
}

std::string UserDirectories::documents() {
  const std::string homeDir = home();
  std::ifstream file(config() + "/user-dirs.dirs");
  if (file) {
    std::stringstream text;
    text << file.rdbuf();
    std::string dir = parseUserDirsFile(text.str(), "XDG_DOCUMENTS_DIR", homeDir);
    // The desktop sets this to $HOME itself when the folder is disabled.
    if (!dir.empty() && dir != homeDir && dir != homeDir + "/") return dir;
  }
  return homeDir + "/Documents";
}

std::string UserDirectories::parseUserDirsFile(const std::string& text, const std::string& key,
                                               const std::string& home) {
  std::istringstream lines(text);
  std::string line;
  std::string found;
  while (std::getline(lines, line)) {
    size_t start = line.find_first_not_of(" \t");
    if (start == std::string::npos || line[start] == '#') continue;
    if (line.compare(start, key.size(), key) != 0) continue;
    size_t eq = line.find('=', start + key.size());
    if (eq == std::string::npos || line.find_first_not_of(" \t", start + key.size()) != eq)
      continue;
    std::string value = line.substr(eq + 1);
    while (!value.empty() &&
           (value.back() == ' ' || value.back() == '\t' || value.back() == '\r')) {
      value.pop_back();
    }
    if (value.size() < 2 || value.front() != '"' || value.back() != '"') continue;
    value = value.substr(1, value.size() - 2);
    if (value.rfind("$HOME", 0) == 0) {
      value = home + value.substr(5);
    } else if (value.empty() || value.front() != '/') {
      continue;  // only absolute paths or $HOME-relative ones are valid
    }
    found = value;  // the last assignment wins, as in a shell
  }
  return found;
}

bool makeDirectories(const std::string& path, unsigned mode, std::string* error) {
  if (path.empty()) {
    if (error) *error = "empty path";
    return false;
  }
  std::string partial;
  size_t pos = 0;
  while (pos != std::string::npos) {
    pos = path.find('/', pos + 1);
    partial = path.substr(0, pos);
    if (partial.empty()) continue;
    if (mkdir(partial.c_str(), static_cast<mode_t>(mode)) != 0 && errno != EEXIST) {
      if (error) *error = partial + ": " + std::strerror(errno);
      return false;
    }
  }
  struct stat info {};
  if (stat(path.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) {
    if (error) *error = path + ": not a folder";
    return false;
  }
  return true;
}

}  // namespace vistrelle
