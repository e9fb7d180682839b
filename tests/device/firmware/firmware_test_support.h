#pragma once

// What the firmware tests share: a scratch folder, test images, a log
// recorder and a flash callback that records what it is told.

#include <stdlib.h>

#include <algorithm>
#include <condition_variable>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "device/firmware/firmware_log.h"
#include "device/firmware/i_program_flash_callback.h"

namespace vistrelle::testing {

class ScratchFolder {
 public:
  ScratchFolder() {
    std::string pattern = (std::filesystem::temp_directory_path() / "vistrelle-fw-XXXXXX").string();
    if (::mkdtemp(pattern.data()) != nullptr) path_ = pattern;
  }
  ~ScratchFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;

  const std::string& path() const { return path_; }
  std::string write(const std::string& name, const std::vector<uint8_t>& bytes) const {
    const std::string file = path_ + "/" + name;
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    return file;
  }

 private:
  std::string path_;
};

// `size` image bytes that are not all alike, seeded so two images differ.
inline std::vector<uint8_t> testImage(size_t size, uint8_t seed = 7) {
  std::vector<uint8_t> image(size);
  uint32_t state = seed * 2654435761u + 1;
  for (auto& byte : image) {
    state = state * 1103515245u + 12345u;
    byte = static_cast<uint8_t>(state >> 16);
  }
  return image;
}

// Every line logged, from any thread.
class LogLines {
 public:
  device::FirmwareLog sink() {
    return [this](std::string_view line) {
      std::lock_guard lock(mutex_);
      lines_.emplace_back(line);
    };
  }
  std::vector<std::string> lines() const {
    std::lock_guard lock(mutex_);
    return lines_;
  }
  bool contains(std::string_view line) const {
    std::lock_guard lock(mutex_);
    return std::find(lines_.begin(), lines_.end(), line) != lines_.end();
  }
  // The position of `line`, or -1.
  long indexOf(std::string_view line) const {
    std::lock_guard lock(mutex_);
    const auto at = std::find(lines_.begin(), lines_.end(), line);
    return at == lines_.end() ? -1 : static_cast<long>(at - lines_.begin());
  }

 private:
  mutable std::mutex mutex_;
  std::vector<std::string> lines_;
};

// The flasher's reports: "start", "progress <p>", "success", "fail <code>".
class RecordingCallback : public device::IProgramFlashCallback {
 public:
  void onStart() override { add("start"); }
  void onProgress(float percent) override {
    std::lock_guard lock(mutex_);
    progress_.push_back(percent);
    events_.push_back("progress");
  }
  void onSuccess() override { add("success"); }
  void onFail(int code) override { add("fail " + std::to_string(code)); }

  std::vector<std::string> events() const {
    std::lock_guard lock(mutex_);
    return events_;
  }
  // The events other than progress.
  std::vector<std::string> outcome() const {
    std::lock_guard lock(mutex_);
    std::vector<std::string> found;
    for (const auto& event : events_) {
      if (event != "progress") found.push_back(event);
    }
    return found;
  }
  std::vector<float> progress() const {
    std::lock_guard lock(mutex_);
    return progress_;
  }

 private:
  void add(std::string event) {
    std::lock_guard lock(mutex_);
    events_.push_back(std::move(event));
  }
  mutable std::mutex mutex_;
  std::vector<std::string> events_;
  std::vector<float> progress_;
};

}  // namespace vistrelle::testing
