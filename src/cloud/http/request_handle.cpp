#include "cloud/http/request_handle.h"

#include "cloud/http/http_client_core.h"

namespace vistrelle::cloud {

void RequestHandle::cancel() const {
  const std::shared_ptr<HttpClientCore> core = core_.lock();
  if (!core || id_ == 0) return;
  core->onMain([core, id = id_] { core->cancel(id); });
}

}  // namespace vistrelle::cloud
