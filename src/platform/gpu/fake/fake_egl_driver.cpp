#include "platform/gpu/fake/fake_egl_driver.h"

#include <cstdint>

namespace vistrelle::gpu {

// A display's handle is its row in the table, plus one; a context's is the same.
std::vector<EglDriver::Display> FakeEglDriver::displays() {
  std::vector<Display> out;
  for (size_t i = 0; i < table_.size(); ++i) {
    out.push_back({table_[i].platform, table_[i].softwareDevice,
                   reinterpret_cast<Handle>(static_cast<uintptr_t>(i + 1))});
  }
  return out;
}

EglDriver::Handle FakeEglDriver::createContext(const Display& display, std::string* reason) {
  const auto row = reinterpret_cast<uintptr_t>(display.handle) - 1;
  const FakeDisplay& entry = table_.at(row);
  asked_.push_back(entry.platform);
  if (!entry.initialises) {
    *reason = "eglInitialize failed (EGL error 0x3001)";
    return nullptr;
  }
  if (!entry.hasGl43) {
    *reason = "no OpenGL 4.3 core context (eglCreateContext failed (EGL error 0x3004))";
    return nullptr;
  }
  ++live_;
  return display.handle;
}

void FakeEglDriver::destroyContext(const Display&, Handle) {
  --live_;
}

bool FakeEglDriver::makeCurrent(const Display&, Handle context, std::string*) {
  ++makeCurrentCalls_;
  current_ = context == nullptr ? nullptr : &table_.at(reinterpret_cast<uintptr_t>(context) - 1);
  return true;
}

std::string FakeEglDriver::currentRenderer() {
  return current_ != nullptr ? current_->renderer : std::string();
}

}  // namespace vistrelle::gpu
