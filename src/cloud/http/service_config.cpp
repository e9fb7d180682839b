#include "cloud/http/service_config.h"

#include "service_config_defaults.h"

namespace vistrelle::cloud {

ServiceConfig ServiceConfig::defaults() {
  return {generated::kOverseasRoot, generated::kDomesticRoot, generated::kClientCredential};
}

}  // namespace vistrelle::cloud
