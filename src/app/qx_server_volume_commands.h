#pragma once

#include "app/glass_volume_commands.h"
#include "device/hid/orvex_qx_server.h"

namespace vistrelle {

// The volume commands of the application's command layer.
class QXServerVolumeCommands final : public GlassVolumeCommands {
 public:
  explicit QXServerVolumeCommands(device::OrvexQXServer& server) : server_(server) {}

  int32_t glassGeneration() const override;
  int32_t change_display_volume(int32_t level) override;

 private:
  device::OrvexQXServer& server_;
};

}  // namespace vistrelle
