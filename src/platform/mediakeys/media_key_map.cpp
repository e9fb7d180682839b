#include "platform/mediakeys/media_key_map.h"

namespace vistrelle::mediakeys {
namespace {

std::optional<MediaKey> keyForKeysym(uint32_t keysym) {
  switch (keysym) {
    case MediaKeyMap::kRaiseVolume:
      return MediaKey::SoundUp;
    case MediaKeyMap::kLowerVolume:
      return MediaKey::SoundDown;
    case MediaKeyMap::kMute:
      return MediaKey::Mute;
    default:
      return std::nullopt;
  }
}

}  // namespace

MediaKeyMap MediaKeyMap::fromMapping(int firstKeycode, int perKeycode,
                                     const std::vector<uint32_t>& keysyms) {
  MediaKeyMap map;
  if (firstKeycode < 0 || perKeycode <= 0) return map;
  const size_t width = static_cast<size_t>(perKeycode);
  for (size_t offset = 0; offset < keysyms.size(); ++offset) {
    const std::optional<MediaKey> key = keyForKeysym(keysyms[offset]);
    if (!key) continue;
    const uint32_t keycode =
        static_cast<uint32_t>(firstKeycode) + static_cast<uint32_t>(offset / width);
    // The first keysym found for a keycode decides it.
    map.keys_.emplace(keycode, *key);
  }
  return map;
}

std::optional<MediaKey> MediaKeyMap::keyFor(uint32_t keycode) const {
  auto found = keys_.find(keycode);
  if (found == keys_.end()) return std::nullopt;
  return found->second;
}

}  // namespace vistrelle::mediakeys
