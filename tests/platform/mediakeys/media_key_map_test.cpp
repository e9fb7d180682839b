// The media keys found in keyboard mappings as servers hand them out.
#include "platform/mediakeys/media_key_map.h"

#include <gtest/gtest.h>

namespace vistrelle::mediakeys {
namespace {

constexpr uint32_t kLetterA = 0x61;
constexpr uint32_t kShiftA = 0x41;

// Keycodes 8..255, two keysyms each, "a"/"A" everywhere but where placed.
std::vector<uint32_t> mapping(const std::vector<std::tuple<int, int, uint32_t>>& placed) {
  std::vector<uint32_t> keysyms;
  for (int keycode = 8; keycode <= 255; ++keycode) {
    keysyms.push_back(kLetterA);
    keysyms.push_back(kShiftA);
  }
  for (const auto& [keycode, level, keysym] : placed) {
    keysyms[static_cast<size_t>((keycode - 8) * 2 + level)] = keysym;
  }
  return keysyms;
}

TEST(MediaKeyMap, FindsTheKeysWhereverTheServerPutsThem) {
  struct Case {
    const char* server;
    int up, down, mute;
  };
  for (const Case& c : {Case{"Xvfb", 123, 122, 121}, Case{"Xorg dummy", 176, 174, 160}}) {
    SCOPED_TRACE(c.server);
    MediaKeyMap map = MediaKeyMap::fromMapping(8, 2,
                                               mapping({{c.up, 0, MediaKeyMap::kRaiseVolume},
                                                        {c.down, 0, MediaKeyMap::kLowerVolume},
                                                        {c.mute, 0, MediaKeyMap::kMute}}));
    EXPECT_EQ(map.keyFor(static_cast<uint32_t>(c.up)), MediaKey::SoundUp);
    EXPECT_EQ(map.keyFor(static_cast<uint32_t>(c.down)), MediaKey::SoundDown);
    EXPECT_EQ(map.keyFor(static_cast<uint32_t>(c.mute)), MediaKey::Mute);
    EXPECT_FALSE(map.keyFor(38));
    EXPECT_FALSE(map.keyFor(7));
    EXPECT_FALSE(map.keyFor(256));
  }
}

TEST(MediaKeyMap, AShiftedLevelCountsAndTheFirstKeysymOfAKeycodeDecides) {
  MediaKeyMap map = MediaKeyMap::fromMapping(8, 2,
                                             mapping({{200, 1, MediaKeyMap::kMute},
                                                      {201, 0, MediaKeyMap::kRaiseVolume},
                                                      {201, 1, MediaKeyMap::kLowerVolume}}));
  EXPECT_EQ(map.keyFor(200), MediaKey::Mute);
  EXPECT_EQ(map.keyFor(201), MediaKey::SoundUp);
}

TEST(MediaKeyMap, AMappingItCannotReadGivesNoKeys) {
  const std::vector<uint32_t> keysyms = mapping({{123, 0, MediaKeyMap::kRaiseVolume}});
  EXPECT_TRUE(MediaKeyMap::fromMapping(8, 0, keysyms).empty());
  EXPECT_TRUE(MediaKeyMap::fromMapping(-1, 2, keysyms).empty());
  EXPECT_TRUE(MediaKeyMap::fromMapping(8, 2, {}).empty());
  // A short last row is read as far as it goes.
  std::vector<uint32_t> odd = {kLetterA, kShiftA, MediaKeyMap::kMute};
  EXPECT_EQ(MediaKeyMap::fromMapping(8, 2, odd).keyFor(9), MediaKey::Mute);
}

}  // namespace
}  // namespace vistrelle::mediakeys
