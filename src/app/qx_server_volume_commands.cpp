#include "app/qx_server_volume_commands.h"

namespace vistrelle {

int32_t QXServerVolumeCommands::glassGeneration() const {
  return server_.glassGeneration();
}

int32_t QXServerVolumeCommands::change_display_volume(int32_t level) {
  return server_.change_display_volume(level);
}

}  // namespace vistrelle
