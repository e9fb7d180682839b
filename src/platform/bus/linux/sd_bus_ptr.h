#pragma once

#include <systemd/sd-bus.h>

#include <memory>

namespace vistrelle::bus {

// Owning pointers for sd-bus objects: each releases its one reference.
struct SdBusCloser {
  void operator()(sd_bus* bus) const { sd_bus_close_unref(bus); }
};
struct SdBusMessageUnref {
  void operator()(sd_bus_message* message) const { sd_bus_message_unref(message); }
};
struct SdBusSlotUnref {
  void operator()(sd_bus_slot* slot) const { sd_bus_slot_unref(slot); }
};

using SdBusPtr = std::unique_ptr<sd_bus, SdBusCloser>;
using SdBusMessagePtr = std::unique_ptr<sd_bus_message, SdBusMessageUnref>;
using SdBusSlotPtr = std::unique_ptr<sd_bus_slot, SdBusSlotUnref>;

// An sd_bus_error that frees its texts.
class SdBusErrorHolder {
 public:
  SdBusErrorHolder() = default;
  ~SdBusErrorHolder() { sd_bus_error_free(&error_); }
  SdBusErrorHolder(const SdBusErrorHolder&) = delete;
  SdBusErrorHolder& operator=(const SdBusErrorHolder&) = delete;

  sd_bus_error* get() { return &error_; }

 private:
  sd_bus_error error_ = SD_BUS_ERROR_NULL;
};

}  // namespace vistrelle::bus
