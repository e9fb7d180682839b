#pragma once

#include <memory>
#include <string>

#include "netlocal/web/gcd_web_server.h"
#include "platform/dnssd/dns_sd_operation.h"
#include "platform/dnssd/dns_sd_service_record.h"

namespace vistrelle::netlocal {

// Holds a web server that it never starts, and answers its events and an
// announcement's by doing nothing.  Nothing in the application creates it.
class OrvexRequestManager : public GCDWebServerDelegate,
                            public std::enable_shared_from_this<OrvexRequestManager> {
 public:
  // Sets the web server's class-wide log level to 4 and makes the server,
  // with the manager as its delegate.
  static std::shared_ptr<OrvexRequestManager> create();
  OrvexRequestManager(const OrvexRequestManager&) = delete;
  OrvexRequestManager& operator=(const OrvexRequestManager&) = delete;

  int defaltServerPort() const { return defaltServerPort_; }
  GCDWebServer* webServer() const { return webServer_.get(); }
  // The user interface's authorisation alert while one is shown.
  const std::shared_ptr<void>& alertAuthorization() const { return alertAuthorization_; }
  const std::string& timerIdentification() const { return timerIdentification_; }
  bool isDirectAuthorization() const { return isDirectAuthorization_; }
  // The announcement of the web server while it runs.
  const dnssd::DnsSdOperation* netService() const { return netService_.get(); }

  void webServerDidStart(GCDWebServer& server) override;
  void webServerDidStop(GCDWebServer& server) override;
  void webServerDidConnect(GCDWebServer& server) override;
  void webServerDidDisconnect(GCDWebServer& server) override;
  void webServerDidUpdateNATPortMapping(GCDWebServer& server) override;
  void webServerDidCompleteBonjourRegistration(GCDWebServer& server) override;
  void netServiceDidPublish(const dnssd::DnsSdServiceRecord& service);

  static constexpr int kWebServerLogLevel = 4;

 private:
  OrvexRequestManager() = default;

  int defaltServerPort_ = 7788;
  std::unique_ptr<GCDWebServer> webServer_;
  std::shared_ptr<void> alertAuthorization_;
  std::string timerIdentification_;
  bool isDirectAuthorization_ = false;
  std::unique_ptr<dnssd::DnsSdOperation> netService_;
};

}  // namespace vistrelle::netlocal
