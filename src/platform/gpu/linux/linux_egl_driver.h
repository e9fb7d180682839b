// LinuxEglDriver: the EglDriver on libEGL (glvnd), so that whichever vendor
// library serves a device (Mesa, NVIDIA) answers for it.
#pragma once

#include "platform/gpu/egl_driver.h"

namespace vistrelle::gpu {

class LinuxEglDriver final : public EglDriver {
 public:
  // EGL state is per process: one driver serves every context.
  static LinuxEglDriver& shared();

  std::vector<Display> displays() override;
  Handle createContext(const Display& display, std::string* reason) override;
  void destroyContext(const Display& display, Handle context) override;
  bool makeCurrent(const Display& display, Handle context, std::string* reason) override;
  std::string currentRenderer() override;

 private:
  LinuxEglDriver() = default;
};

}  // namespace vistrelle::gpu
