#pragma once

#include "netlocal/dnssd/mrb_server.h"

namespace vistrelle::netlocal {

// Holds the announcement of the game-streaming service ("nvstream" on port
// 47989, which belongs to the streaming host it advertises).  Nothing in the
// application creates it.
class OrvexBonjourServerManager {
 public:
  // The process' manager, made (and its server started) on first use.
  static OrvexBonjourServerManager& shareManager();

  // Runs createServer.
  explicit OrvexBonjourServerManager(MRBServerEnvironment environment = {});
  OrvexBonjourServerManager(const OrvexBonjourServerManager&) = delete;
  OrvexBonjourServerManager& operator=(const OrvexBonjourServerManager&) = delete;

  // Makes and starts a new server, and logs how that went.
  void createServer();
  const MRBServerPtr& server() const { return server_; }

  static constexpr char kProtocol[] = "nvstream";
  static constexpr unsigned int kPort = 47989;

 private:
  const MRBServerEnvironment environment_;
  MRBServerPtr server_;
};

}  // namespace vistrelle::netlocal
