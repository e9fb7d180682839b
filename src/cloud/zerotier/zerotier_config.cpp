#include "cloud/zerotier/zerotier_config.h"

#include "zerotier_config_defaults.h"

namespace vistrelle::cloud::zerotier {

ZeroTierConfig ZeroTierConfig::defaults() {
  return {VISTRELLE_ZEROTIER_DEFAULT_BASE_URL, VISTRELLE_ZEROTIER_DEFAULT_TOKEN_FILE};
}

}  // namespace vistrelle::cloud::zerotier
