#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <vector>

#include "platform/mediakeys/media_key.h"

namespace vistrelle::mediakeys {

// Which keycodes carry the media keys on this keyboard.  Keycodes differ
// between servers and keyboards (Xvfb sends sound up as 123, the Xorg dummy
// server as 176), so the table is built from the server's keyboard mapping
// and built again whenever that mapping changes.
class MediaKeyMap {
 public:
  // The keysyms of the three keys (XF86AudioRaiseVolume, XF86AudioLowerVolume,
  // XF86AudioMute).
  static constexpr uint32_t kRaiseVolume = 0x1008FF13;
  static constexpr uint32_t kLowerVolume = 0x1008FF11;
  static constexpr uint32_t kMute = 0x1008FF12;

  MediaKeyMap() = default;

  // From a keyboard mapping as the server hands it out: `keysyms` holds
  // `perKeycode` keysyms for each keycode from `firstKeycode` on.  Any of a
  // keycode's keysyms (every group and level) counts.
  static MediaKeyMap fromMapping(int firstKeycode, int perKeycode,
                                 const std::vector<uint32_t>& keysyms);

  std::optional<MediaKey> keyFor(uint32_t keycode) const;
  bool empty() const { return keys_.empty(); }

 private:
  std::map<uint32_t, MediaKey> keys_;
};

}  // namespace vistrelle::mediakeys
