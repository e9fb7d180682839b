#pragma once

#include <cstdint>
#include <string>

namespace vistrelle::device {

// How the default output would be opened: an output unit, the default one,
// the system's.
struct AudioComponentDescription {
  std::string componentType = "output";
  std::string componentSubType = "default-output";
  std::string componentManufacturer = "system";
  uint32_t componentFlags = 0;
  uint32_t componentFlagsMask = 0;
};

// The glasses' audio device as a record.  Nothing in the application makes
// one; it is kept for the code that will.
struct OrvexSoundCard {
  uint32_t deviceID = 0;
  std::string deviceName = "ORVEX Audio Device";
  AudioComponentDescription componentDescription;
};

}  // namespace vistrelle::device
