#include "netlocal/dnssd/orvex_bonjour_server_manager.h"

#include <string>

namespace vistrelle::netlocal {

OrvexBonjourServerManager& OrvexBonjourServerManager::shareManager() {
  // Never destroyed: the runtime's ordered stop takes its server down.
  static OrvexBonjourServerManager* const manager = new OrvexBonjourServerManager();
  return *manager;
}

OrvexBonjourServerManager::OrvexBonjourServerManager(MRBServerEnvironment environment)
    : environment_(std::move(environment)) {
  createServer();
}

void OrvexBonjourServerManager::createServer() {
  server_ = MRBServer::createWithProtocol(kProtocol, environment_);
  SocketErrorPtr error;
  if (server_->start(&error, kPort)) {
    environment_.log("服务启动成功 ==port = " + std::to_string(server_->port()));
  } else {
    environment_.log("服务启动失败 : " + (error ? error->describe() : std::string("(null)")));
  }
}

}  // namespace vistrelle::netlocal
