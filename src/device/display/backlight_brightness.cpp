#include "device/display/backlight_brightness.h"

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <vector>

namespace vistrelle::device {
namespace {

namespace fs = std::filesystem;

// A panel's own control first, then the platform's, then the raw register.
constexpr std::string_view kTypes[] = {"firmware", "platform", "raw"};

std::optional<std::string> firstLine(const fs::path& path) {
  std::ifstream file(path);
  std::string line;
  if (!std::getline(file, line)) return std::nullopt;
  while (!line.empty() && (line.back() == ' ' || line.back() == '\r')) line.pop_back();
  return line;
}

std::optional<long> number(const fs::path& path) {
  const std::optional<std::string> line = firstLine(path);
  if (!line || line->empty()) return std::nullopt;
  try {
    size_t used = 0;
    const long value = std::stol(*line, &used);
    if (used != line->size() || value < 0) return std::nullopt;
    return value;
  } catch (const std::exception&) {
    return std::nullopt;
  }
}

}  // namespace

BacklightBrightness::BacklightBrightness(Options options) : options_(std::move(options)) {
  if (!options_.log) options_.log = [](std::string_view) {};
}

std::optional<std::string> BacklightBrightness::device() const {
  std::error_code error;
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(options_.root, error)) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  for (std::string_view type : kTypes) {
    for (const std::string& name : names) {
      if (firstLine(fs::path(options_.root) / name / "type") == type) return name;
    }
  }
  return std::nullopt;
}

std::optional<BacklightBrightness::Levels> BacklightBrightness::levels(
    const std::string& device) const {
  const fs::path folder = fs::path(options_.root) / device;
  const std::optional<long> actual = number(folder / "actual_brightness");
  const std::optional<long> max = number(folder / "max_brightness");
  if (!actual || !max || *max <= 0) return std::nullopt;
  return Levels{std::min(*actual, *max), *max};
}

float BacklightBrightness::read() {
  const std::optional<std::string> name = device();
  if (!name) return 0;
  const std::optional<Levels> now = levels(*name);
  if (!now) return 0;
  {
    std::lock_guard lock(mutex_);
    if (lastWritten_ && *lastWritten_ != now->actual) lastWritten_.reset();
  }
  return static_cast<float>(now->actual) / static_cast<float>(now->max);
}

bool BacklightBrightness::write(float value) {
  if (std::isnan(value)) return false;
  const std::optional<std::string> name = device();
  if (!name) return false;
  const std::optional<Levels> now = levels(*name);
  if (!now) return false;
  const long level = std::lround(std::clamp(value, 0.0f, 1.0f) * static_cast<float>(now->max));
  {
    std::lock_guard lock(mutex_);
    if (lastWritten_ == level) return true;
  }
  if (!writeThroughLogind(*name, level) && !writeToSysfs(*name, level)) return false;
  std::lock_guard lock(mutex_);
  lastWritten_ = level;
  return true;
}

bool BacklightBrightness::writeThroughLogind(const std::string& device, long level) {
  if (!options_.systemBus) return false;
  std::string reason;
  std::shared_ptr<bus::Bus> bus = options_.systemBus->get(&reason);
  if (!bus) return false;
  bus::BusMethodCall call{"org.freedesktop.login1",
                          "/org/freedesktop/login1/session/auto",
                          "org.freedesktop.login1.Session",
                          "SetBrightness",
                          {bus::BusValue("backlight"), bus::BusValue(device),
                           bus::BusValue(static_cast<uint32_t>(level))},
                          options_.busTimeout};
  const bus::Bus::Reply reply = bus->callAndWait(std::move(call));
  if (reply) return true;
  logOnce("logind SetBrightness: " + reply.error().describe());
  return false;
}

bool BacklightBrightness::writeToSysfs(const std::string& device, long level) {
  const fs::path path = fs::path(options_.root) / device / "brightness";
  std::ofstream file(path);
  file << level << '\n';
  file.flush();
  if (file) return true;
  logOnce("cannot write " + path.string());
  return false;
}

void BacklightBrightness::logOnce(const std::string& reason) {
  {
    std::lock_guard lock(mutex_);
    if (reason == lastLogged_) return;
    lastLogged_ = reason;
  }
  options_.log(reason);
}

}  // namespace vistrelle::device
