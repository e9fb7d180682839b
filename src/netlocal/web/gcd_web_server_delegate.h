#pragma once

namespace vistrelle::netlocal {

class GCDWebServer;

// What a web server tells its owner.  Every operation is optional: the
// defaults do nothing.
class GCDWebServerDelegate {
 public:
  virtual ~GCDWebServerDelegate() = default;

  virtual void webServerDidStart(GCDWebServer& /*server*/) {}
  virtual void webServerDidStop(GCDWebServer& /*server*/) {}
  virtual void webServerDidConnect(GCDWebServer& /*server*/) {}
  virtual void webServerDidDisconnect(GCDWebServer& /*server*/) {}
  virtual void webServerDidUpdateNATPortMapping(GCDWebServer& /*server*/) {}
  virtual void webServerDidCompleteBonjourRegistration(GCDWebServer& /*server*/) {}
};

}  // namespace vistrelle::netlocal
