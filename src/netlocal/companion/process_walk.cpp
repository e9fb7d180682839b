#include "netlocal/companion/process_walk.h"

#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <system_error>
#include <vector>

namespace vistrelle::netlocal {

namespace {

constexpr size_t kMaxPathBytes = 4096;
constexpr size_t kMaxNameCharacters = 255;

std::optional<int> pidOfEntry(const std::string& name) {
  int pid = 0;
  const char* end = name.data() + name.size();
  const auto [stop, error] = std::from_chars(name.data(), end, pid);
  if (name.empty() || error != std::errc() || stop != end || pid <= 0) return std::nullopt;
  return pid;
}

}  // namespace

std::string defaultResourceFolder() {
  if (const char* dir = std::getenv("VISTRELLE_RESOURCE_DIR"); dir != nullptr && *dir != '\0') {
    return dir;
  }
  return VISTRELLE_RESOURCE_FOLDER;
}

std::string processNameWithPid(int pid, const std::string& resourceFolder,
                               const std::string& procRoot) {
  if (pid <= 0 || resourceFolder.empty()) return {};
  const std::string link = procRoot + "/" + std::to_string(pid) + "/exe";
  char buffer[kMaxPathBytes];
  const ssize_t length = ::readlink(link.c_str(), buffer, sizeof buffer);
  if (length <= 0) return {};
  const std::string path(buffer, static_cast<size_t>(length));
  if (path.find(resourceFolder + "/") == std::string::npos) return {};
  const size_t slash = path.rfind('/');
  std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  if (name.size() > kMaxNameCharacters) name.resize(kMaxNameCharacters);
  return name;
}

std::optional<Value::List> runningProcessesFrom(const std::string& resourceFolder,
                                                const std::string& procRoot) {
  std::vector<int> pids;
  std::error_code error;
  std::filesystem::directory_iterator entries(procRoot, error);
  if (error) return std::nullopt;
  // Processes come and go while the table is read: an entry that vanishes is
  // simply not listed, and a failed step ends the walk with what was seen.
  for (; entries != std::filesystem::directory_iterator(); entries.increment(error)) {
    if (auto pid = pidOfEntry(entries->path().filename().string())) pids.push_back(*pid);
  }
  if (pids.empty()) return std::nullopt;
  std::sort(pids.begin(), pids.end(), std::greater<>());
  Value::List processes;
  for (const int pid : pids) {
    std::string name = processNameWithPid(pid, resourceFolder, procRoot);
    if (name.empty()) continue;
    Value::Map process;
    process.emplace("ProcessName", Value(std::move(name)));
    process.emplace("ProcessID", Value(std::to_string(pid)));
    processes.emplace_back(std::move(process));
  }
  return processes;
}

}  // namespace vistrelle::netlocal
