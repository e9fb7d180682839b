#include "platform/hid/hid_backend.h"

#include <mutex>

#include "platform/hid/linux/hidraw_backend.h"

namespace vistrelle::hid {
namespace {

struct Choice {
  std::mutex mutex;
  std::shared_ptr<HidBackend> backend;
};

Choice& choice() {
  // Never destroyed: a device thread may still ask while statics go away.
  static Choice* instance = new Choice();
  return *instance;
}

}  // namespace

std::shared_ptr<HidBackend> HidBackend::current() {
  Choice& c = choice();
  std::lock_guard lock(c.mutex);
  if (!c.backend) c.backend = std::make_shared<HidrawBackend>();
  return c.backend;
}

void HidBackend::install(std::shared_ptr<HidBackend> backend) {
  Choice& c = choice();
  std::lock_guard lock(c.mutex);
  c.backend = std::move(backend);
}

}  // namespace vistrelle::hid
