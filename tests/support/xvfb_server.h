#pragma once

// Gives a test an X display: the one in DISPLAY when set, otherwise a private
// Xvfb started for the test and stopped after it.

#include <sys/stat.h>

#include <cstdlib>
#include <memory>
#include <string>
#include <thread>

#include "support/child_process.h"

namespace vistrelle::testing {

class XvfbServer {
 public:
  explicit XvfbServer(const std::string& geometry = "1920x1080x24") {
    if (const char* existing = std::getenv("DISPLAY"); existing && *existing) {
      display_ = existing;
      return;
    }
    for (int number = 150; number < 200 && display_.empty(); ++number) {
      const std::string socket = "/tmp/.X11-unix/X" + std::to_string(number);
      struct stat info {};
      if (stat(socket.c_str(), &info) == 0) continue;
      auto server = std::make_unique<ChildProcess>(
          std::vector<std::string>{"Xvfb", ":" + std::to_string(number), "-screen", "0", geometry,
                                   "-nolisten", "tcp"},
          std::vector<std::string>{}, false);
      for (int i = 0; i < 100; ++i) {
        if (stat(socket.c_str(), &info) == 0) {
          display_ = ":" + std::to_string(number);
          server_ = std::move(server);
          break;
        }
        if (server->waitExit(std::chrono::milliseconds(0))) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
      }
    }
  }

  // Empty when no display could be had.
  const std::string& display() const { return display_; }

 private:
  std::string display_;
  std::unique_ptr<ChildProcess> server_;
};

}  // namespace vistrelle::testing
