#include "netlocal/web/orvex_request_manager.h"

namespace vistrelle::netlocal {

std::shared_ptr<OrvexRequestManager> OrvexRequestManager::create() {
  std::shared_ptr<OrvexRequestManager> manager(new OrvexRequestManager());
  GCDWebServer::setLogLevel(kWebServerLogLevel);
  manager->webServer_ = std::make_unique<GCDWebServer>();
  manager->webServer_->setDelegate(manager);
  return manager;
}

// The server never runs, so none of its events comes; they change nothing.
void OrvexRequestManager::webServerDidStart(GCDWebServer& /*server*/) {}
void OrvexRequestManager::webServerDidStop(GCDWebServer& /*server*/) {}
void OrvexRequestManager::webServerDidConnect(GCDWebServer& /*server*/) {}
void OrvexRequestManager::webServerDidDisconnect(GCDWebServer& /*server*/) {}
void OrvexRequestManager::webServerDidUpdateNATPortMapping(GCDWebServer& /*server*/) {}
void OrvexRequestManager::webServerDidCompleteBonjourRegistration(GCDWebServer& /*server*/) {}
void OrvexRequestManager::netServiceDidPublish(const dnssd::DnsSdServiceRecord& /*service*/) {}

}  // namespace vistrelle::netlocal
