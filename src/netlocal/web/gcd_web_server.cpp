#include "netlocal/web/gcd_web_server.h"

#include <httplib.h>

namespace vistrelle::netlocal {

// Information, until someone sets it.
std::atomic<int> GCDWebServer::logLevel_{2};

GCDWebServer::GCDWebServer() : server_(std::make_unique<httplib::Server>()) {}

GCDWebServer::~GCDWebServer() = default;

bool GCDWebServer::isRunning() const {
  return server_->is_running();
}

}  // namespace vistrelle::netlocal
