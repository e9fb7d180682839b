#include "platform/settings/linux/json_file_user_defaults.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <limits>
#include <nlohmann/json.hpp>

#include "platform/settings/user_directories.h"
#include "platform/value/json_nesting.h"

namespace vistrelle {

namespace {

using nlohmann::json;

json toJson(const Value& value) {
  struct Visitor {
    json operator()(std::monostate) const { return nullptr; }
    json operator()(bool v) const { return v; }
    json operator()(int64_t v) const { return v; }
    json operator()(double v) const { return v; }
    json operator()(const std::string& v) const { return v; }
    json operator()(const Value::Map& map) const {
      json object = json::object();
      for (const auto& [key, item] : map) object[key] = toJson(item);
      return object;
    }
    json operator()(const Value::List& list) const {
      json array = json::array();
      for (const auto& item : list) array.push_back(toJson(item));
      return array;
    }
  };
  return std::visit(Visitor{}, value.storage());
}

Value fromJson(const json& node) {
  switch (node.type()) {
    case json::value_t::boolean:
      return Value(node.get<bool>());
    case json::value_t::number_integer:
      return Value(node.get<int64_t>());
    case json::value_t::number_unsigned: {
      const uint64_t number = node.get<uint64_t>();
      if (number > static_cast<uint64_t>(std::numeric_limits<int64_t>::max())) return Value();
      return Value(static_cast<int64_t>(number));
    }
    case json::value_t::number_float:
      return Value(node.get<double>());
    case json::value_t::string:
      return Value(node.get<std::string>());
    case json::value_t::object: {
      Value::Map map;
      for (auto it = node.begin(); it != node.end(); ++it) map[it.key()] = fromJson(it.value());
      return Value(std::move(map));
    }
    case json::value_t::array: {
      Value::List list;
      for (const auto& item : node) list.push_back(fromJson(item));
      return Value(std::move(list));
    }
    default:
      return Value();
  }
}

std::string parentOf(const std::string& path) {
  size_t slash = path.rfind('/');
  return slash == std::string::npos ? "." : (slash == 0 ? "/" : path.substr(0, slash));
}

// Reads the whole file.  ENOENT means there is none; any other error means
// there is one that could not be read.
int readFile(const std::string& path, std::string* text) {
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return errno;
  char buffer[65536];
  int error = 0;
  for (;;) {
    ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n > 0) {
      text->append(buffer, static_cast<size_t>(n));
    } else if (n == 0) {
      break;
    } else if (errno != EINTR) {
      error = errno;
      break;
    }
  }
  ::close(fd);
  return error;
}

// Renames `from` to `to` unless `to` exists; EEXIST when it does.
int renameNoReplace(const std::string& from, const std::string& to) {
  if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return 0;
  if (errno != EINVAL && errno != ENOSYS && errno != ENOTSUP) return errno;
  // A file system without the flag: a hard link fails on a taken name too.
  if (::link(from.c_str(), to.c_str()) != 0) return errno;
  if (::unlink(from.c_str()) != 0) {
    const int error = errno;
    ::unlink(to.c_str());
    return error;
  }
  return 0;
}

bool writeAll(int fd, const std::string& bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    done += static_cast<size_t>(n);
  }
  return true;
}

}  // namespace

JsonFileUserDefaults::JsonFileUserDefaults(std::string path, Diagnostics diagnostics)
    : path_(std::move(path)), diagnostics_(std::move(diagnostics)) {
  if (!diagnostics_) {
    diagnostics_ = [](const std::string& text) { std::fprintf(stderr, "%s\n", text.c_str()); };
  }
  load();
}

void JsonFileUserDefaults::load() {
  std::string text;
  if (int error = readFile(path_, &text); error == ENOENT) {
    return;  // first run
  } else if (error != 0) {
    refuseWrites(std::string("cannot be read (") + std::strerror(error) + ")");
    return;
  }
  if (jsonNestsDeeperThan(text, kMaxDepth)) {
    keepAside();
    return;
  }
  json root = json::parse(text, nullptr, /*allow_exceptions=*/false);
  if (root.is_discarded() || !root.is_object()) {
    keepAside();
    return;
  }
  for (auto it = root.begin(); it != root.end(); ++it) {
    Value value = fromJson(it.value());
    if (!value.isNull()) values_[it.key()] = std::move(value);
  }
}

void JsonFileUserDefaults::keepAside() {
  constexpr int kNames = 1000;
  int error = EEXIST;
  for (int i = 0; i < kNames && error == EEXIST; ++i) {
    const std::string aside = path_ + ".bad" + (i == 0 ? "" : "." + std::to_string(i));
    error = renameNoReplace(path_, aside);
    if (error == 0) {
      diagnostics_("user defaults: " + path_ + " is not a settings file; kept as " + aside);
      return;
    }
  }
  refuseWrites(std::string("is not a settings file and could not be moved (") +
               std::strerror(error) + ")");
}

void JsonFileUserDefaults::refuseWrites(const std::string& why) {
  diagnostics_("user defaults: " + path_ + " " + why + "; it is left as it is and not written");
  writable_ = false;
  healthy_ = false;
}

std::optional<Value> JsonFileUserDefaults::objectForKey(const std::string& key) const {
  std::lock_guard lock(mutex_);
  auto found = values_.find(key);
  if (found == values_.end() || found->second.isNull()) return std::nullopt;
  return found->second;
}

void JsonFileUserDefaults::setObject(const std::string& key, Value value) {
  std::lock_guard lock(mutex_);
  if (auto why = refusalReason(key, value)) {
    diagnostics_("user defaults: not stored under \"" + key + "\": " + *why);
    healthy_ = false;
    return;
  }
  values_[key] = std::move(value);
  persist();
}

void JsonFileUserDefaults::removeObjectForKey(const std::string& key) {
  std::lock_guard lock(mutex_);
  if (values_.erase(key) > 0) persist();
}

bool JsonFileUserDefaults::synchronize() {
  std::lock_guard lock(mutex_);
  return healthy_;
}

size_t JsonFileUserDefaults::writeCount() const {
  std::lock_guard lock(mutex_);
  return writes_;
}

bool JsonFileUserDefaults::persist() {
  if (!writable_) return healthy_ = false;
  const std::string folder = parentOf(path_);
  std::string error;
  if (!makeDirectories(folder, 0700, &error)) {
    diagnostics_("user defaults: cannot create " + error);
    return healthy_ = false;
  }
  json root = json::object();
  for (const auto& [key, value] : values_) root[key] = toJson(value);
  const std::string bytes = root.dump(2) + "\n";

  std::string temporary = path_ + ".XXXXXX";
  int fd = mkostemp(temporary.data(), O_CLOEXEC);
  if (fd < 0) {
    diagnostics_("user defaults: cannot write " + path_ + ": " + std::strerror(errno));
    return healthy_ = false;
  }
  bool ok = fchmod(fd, 0600) == 0 && writeAll(fd, bytes) && fsync(fd) == 0;
  int saved = errno;
  ok = (::close(fd) == 0) && ok;
  if (ok && std::rename(temporary.c_str(), path_.c_str()) != 0) {
    saved = errno;
    ok = false;
  }
  if (!ok) {
    ::unlink(temporary.c_str());
    diagnostics_("user defaults: cannot write " + path_ + ": " + std::strerror(saved));
    return healthy_ = false;
  }
  // Make the rename itself durable.
  if (int dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC); dir >= 0) {
    fsync(dir);
    ::close(dir);
  }
  ++writes_;
  return healthy_ = true;
}

}  // namespace vistrelle
