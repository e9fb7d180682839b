#pragma once

#include <string>

namespace vistrelle {

// Names the application's configuration file; nothing reads or writes it yet.
class OrvexConfigManager {
 public:
  std::string fileName = ".OrvexConfig.plist";
};

}  // namespace vistrelle
