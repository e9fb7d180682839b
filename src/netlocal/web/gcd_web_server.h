#pragma once

#include <atomic>
#include <memory>

#include "netlocal/web/gcd_web_server_delegate.h"

namespace httplib {
class Server;
}

namespace vistrelle::netlocal {

// An embedded HTTP server (cpp-httplib) with no routes.  Making one opens
// nothing: it would listen only once started, and nothing starts it.
class GCDWebServer {
 public:
  GCDWebServer();
  ~GCDWebServer();
  GCDWebServer(const GCDWebServer&) = delete;
  GCDWebServer& operator=(const GCDWebServer&) = delete;

  // The class-wide log level: 0 debug, 1 verbose, 2 information, 3 warning,
  // 4 error.
  static void setLogLevel(int level) { logLevel_.store(level, std::memory_order_relaxed); }
  static int logLevel() { return logLevel_.load(std::memory_order_relaxed); }

  std::shared_ptr<GCDWebServerDelegate> delegate() const { return delegate_.lock(); }
  void setDelegate(std::weak_ptr<GCDWebServerDelegate> delegate) {
    delegate_ = std::move(delegate);
  }

  bool isRunning() const;

 private:
  static std::atomic<int> logLevel_;

  std::unique_ptr<httplib::Server> server_;
  std::weak_ptr<GCDWebServerDelegate> delegate_;
};

}  // namespace vistrelle::netlocal
