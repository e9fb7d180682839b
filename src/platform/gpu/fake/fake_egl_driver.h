// FakeEglDriver: an EglDriver for tests that answers from a table of
// displays (which initialise, which give a GL 4.3 context, what renderer
// they report) and keeps count of the contexts alive, so a search that
// leaks a refused context shows.
#pragma once

#include <string>
#include <vector>

#include "platform/gpu/egl_driver.h"

namespace vistrelle::gpu {

class FakeEglDriver final : public EglDriver {
 public:
  struct FakeDisplay {
    std::string platform;
    bool softwareDevice = false;
    bool initialises = true;
    bool hasGl43 = true;
    std::string renderer;
  };

  explicit FakeEglDriver(std::vector<FakeDisplay> table) : table_(std::move(table)) {}

  std::vector<Display> displays() override;
  Handle createContext(const Display& display, std::string* reason) override;
  void destroyContext(const Display& display, Handle context) override;
  bool makeCurrent(const Display& display, Handle context, std::string* reason) override;
  std::string currentRenderer() override;

  int liveContexts() const { return live_; }
  // Platforms in the order a context was asked of them.
  const std::vector<std::string>& asked() const { return asked_; }
  // eglMakeCurrent calls, binding or releasing.
  int makeCurrentCalls() const { return makeCurrentCalls_; }

 private:
  std::vector<FakeDisplay> table_;
  std::vector<std::string> asked_;
  int live_ = 0;
  int makeCurrentCalls_ = 0;
  const FakeDisplay* current_ = nullptr;
};

}  // namespace vistrelle::gpu
