#include "platform/hid/hid_io_transport.h"

#include <mutex>

#include "platform/hid/linux/hidapi_io_transport.h"

namespace vistrelle::hid {
namespace {

struct Choice {
  std::mutex mutex;
  std::shared_ptr<HidIoTransport> transport;
};

Choice& choice() {
  // Never destroyed: an update thread may still ask while statics go away.
  static Choice* instance = new Choice();
  return *instance;
}

}  // namespace

std::shared_ptr<HidIoTransport> HidIoTransport::current() {
  Choice& c = choice();
  std::lock_guard lock(c.mutex);
  if (!c.transport) c.transport = std::make_shared<HidapiIoTransport>();
  return c.transport;
}

void HidIoTransport::install(std::shared_ptr<HidIoTransport> transport) {
  Choice& c = choice();
  std::lock_guard lock(c.mutex);
  c.transport = std::move(transport);
}

}  // namespace vistrelle::hid
