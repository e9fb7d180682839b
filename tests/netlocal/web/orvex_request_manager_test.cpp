#include "netlocal/web/orvex_request_manager.h"

#include <arpa/inet.h>
#include <dirent.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

namespace vistrelle::netlocal {
namespace {

// Sockets among the process' open descriptors.
int openSockets() {
  int count = 0;
  DIR* folder = opendir("/proc/self/fd");
  if (!folder) return -1;
  while (dirent* entry = readdir(folder)) {
    char target[64] = {};
    const std::string link = std::string("/proc/self/fd/") + entry->d_name;
    if (readlink(link.c_str(), target, sizeof target - 1) > 0 &&
        std::strncmp(target, "socket:", 7) == 0)
      ++count;
  }
  closedir(folder);
  return count;
}

// Whether a listener could be bound to `port` on any address now (errno
// otherwise).
int bindable(uint16_t port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  const int on = 1;
  setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_ANY);
  const int result =
      ::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0 ? 0 : errno;
  ::close(fd);
  return result;
}

TEST(OrvexRequestManager, HoldsItsFieldsAndAServerThatOpensNothing) {
  GCDWebServer::setLogLevel(0);
  const int socketsBefore = openSockets();
  const int portBefore = bindable(7788);

  auto manager = OrvexRequestManager::create();
  EXPECT_EQ(GCDWebServer::logLevel(), 4);
  EXPECT_EQ(manager->defaltServerPort(), 7788);
  ASSERT_NE(manager->webServer(), nullptr);
  EXPECT_EQ(manager->webServer()->delegate(), manager);
  EXPECT_FALSE(manager->webServer()->isRunning());
  EXPECT_EQ(manager->alertAuthorization(), nullptr);
  EXPECT_EQ(manager->timerIdentification(), "");
  EXPECT_FALSE(manager->isDirectAuthorization());
  EXPECT_EQ(manager->netService(), nullptr);

  // Its events change nothing.
  GCDWebServer& server = *manager->webServer();
  manager->webServerDidStart(server);
  manager->webServerDidStop(server);
  manager->webServerDidConnect(server);
  manager->webServerDidDisconnect(server);
  manager->webServerDidUpdateNATPortMapping(server);
  manager->webServerDidCompleteBonjourRegistration(server);
  manager->netServiceDidPublish({"Orvex", "_http._tcp", "local"});
  EXPECT_FALSE(server.isRunning());
  EXPECT_EQ(manager->timerIdentification(), "");
  EXPECT_EQ(manager->netService(), nullptr);

  // No port is opened: no socket more than before, and 7788 binds as it did.
  EXPECT_EQ(openSockets(), socketsBefore);
  EXPECT_EQ(bindable(7788), portBefore) << std::strerror(portBefore);

  // The server holds its delegate weakly: nothing keeps the pair alive.
  std::weak_ptr<OrvexRequestManager> weak = manager;
  manager.reset();
  EXPECT_TRUE(weak.expired());
  EXPECT_EQ(openSockets(), socketsBefore);
}

}  // namespace
}  // namespace vistrelle::netlocal
