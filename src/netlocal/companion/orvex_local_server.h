#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "netlocal/companion/hf_client.h"
#include "netlocal/socket/gcd_async_socket.h"
#include "platform/dispatch/delayed_task.h"
#include "platform/dispatch/executor.h"
#include "platform/dispatch/stop_registration.h"
#include "platform/value/value.h"

namespace vistrelle {
class MainState;
}

namespace vistrelle::netlocal {

// The process-wide TCP server of the companion 3D application: it listens on
// the loopback interface, keeps one client, throws away what the client
// sends, and writes JSON lines to it (see CompanionLine): the glasses'
// messages, the bias table, and {"type": -1} about every 3 s while no glasses
// are connected.
//
// Threads: every socket callback, every delayed step and every write run on
// the main queue.  sendTextMessageWithDict and sendTextMessage may be called
// from any thread: the message is serialised on the caller's thread and the
// rest is posted to the main queue, so each sender's messages keep their
// order.  createLocalServer and stop make blocking socket calls and run on the
// main queue's thread.
//
// Lifetime: the server registers stop() with the runtime when it starts
// listening, so main's ordered stop closes its sockets and ping streams
// before the runtime stops (a socket that outlives the runtime would reach a
// destroyed reactor).
class OrvexLocalServer : public GCDAsyncSocketDelegate,
                         public std::enable_shared_from_this<OrvexLocalServer> {
 public:
  using LogSink = std::function<void(std::string_view)>;
  // One listen attempt on the loopback interface: true when listening.
  using Listen = std::function<bool(GCDAsyncSocket& socket, uint16_t port, SocketErrorPtr* error)>;
  // Hands the JSON text of a distributed notification to the desktop (the
  // session bus); runs on the global queue.
  using NotificationEmitter = std::function<void(const std::string& json, const LogSink& log)>;

  static constexpr const char* kConfiguredPort = "84999";
  // Queued and not yet written bytes beyond which messages are dropped: a
  // client that stops reading must not grow the process without bound.
  static constexpr size_t kMaxQueuedWriteBytes = 4 * 1024 * 1024;
  // Bytes taken from the client per read, whatever it sends.
  static constexpr size_t kReadChunk = 65536;
  static constexpr int kMaxListenTries = 100;
  static constexpr std::chrono::nanoseconds kNoGlassesDelay = std::chrono::seconds(3);
  static constexpr std::chrono::nanoseconds kNotificationDelay = std::chrono::milliseconds(500);

  struct Options {
    // Default: the runtime's main and global queues.
    dispatch::ExecutorPtr mainQueue;
    dispatch::ExecutorPtr globalQueue;
    // The configured port value; default: kConfiguredPort.
    std::optional<int64_t> serverPort;
    // Default: acceptOnInterface("localhost", port).
    Listen listen;
    // Default: OrvexLog::logMessage.
    LogSink log;
    // Default: CompanionNotification::busEmitter(), a session-bus signal.
    NotificationEmitter emitNotification;
    // Default: MainState::shared().
    MainState* state = nullptr;
    // The names of the attached screens; default: none.
    std::function<std::vector<std::string>()> screenNames;
    // Default: defaultResourceFolder().
    std::string resourceFolder;
    std::string procRoot = "/proc";
    std::string productNamePath = "/sys/class/dmi/id/product_name";
    HFClient::Options hfClient;
  };

  // What the server has taken from its clients (for tests and the fuzzer).
  struct ReadStats {
    uint64_t bytes = 0;
    uint64_t reads = 0;
    size_t largestRead = 0;
  };

  // The process' server: created once (safe from any thread), listening at
  // once (on the main queue: at once when called there, else as soon as the
  // main queue runs).
  static std::shared_ptr<OrvexLocalServer> shareManager();

  // A server of its own (tests); it listens after start().
  static std::shared_ptr<OrvexLocalServer> create(Options options);
  // createLocalServer on the main queue (at once when called there).
  void start();

  ~OrvexLocalServer() override;
  OrvexLocalServer(const OrvexLocalServer&) = delete;
  OrvexLocalServer& operator=(const OrvexLocalServer&) = delete;

  // Creates the listening socket if there is none and listens on the port
  // rule's port: serverPort's low 16 bits on 127.0.0.1 and ::1 (IPv4 alone
  // where ::1 is missing), one value lower while the address is in use, port 0
  // skipped, at most kMaxListenTries tries.  Main queue only.
  bool createLocalServer();
  // Closes the client and the listener and ends the ping streams; later sends
  // are dropped.  Main queue's thread only.  Idempotent.
  void stop();

  // Sends one JSON message to the client.  From any thread.
  void sendTextMessageWithDict(const Value::Map& message);
  // Sends a raw text line to the client.  From any thread.
  void sendTextMessage(const std::string& text);
  // Posts the dictionary's JSON text as the desktop notification.
  void pushNotificationWithDict(const Value::Map& message);
  // After 0.5 s on the main queue: {"type": serverPort, "socket_fd": socketFd}.
  void notificationSocketPort();

  // An immersion level for the glasses, handed to the command layer through
  // the handler the application installs (dropped with a log line until then).
  void changeImmersion(int32_t value);
  void setChangeImmersionHandler(std::function<void(int32_t)> handler);

  // Host queries.
  std::string getDeviceModel() const;
  bool isOrvexMonitor2Exist() const;
  std::optional<Value::List> runningProcesses() const;
  std::string getProcessNameWithPid(int pid) const;
  std::optional<std::string> netmaskForIPAddress(const std::string& address) const;
  static std::string getNowTimeData();

  // State.
  bool isConnect() const { return isConnect_.load(); }
  bool isFirstScreenRecording() const { return isFirstScreenRecording_.load(); }
  int64_t serverPort() const { return serverPort_.load(); }
  int32_t socketFd() const { return socketFd_.load(); }
  HFClient& hfClient() { return hfClient_; }
  // The port listened on (0 when not listening).  Main queue only.
  uint16_t listeningPort() const;
  ReadStats readStats() const;
  // Bytes handed to the client's socket and not yet written.  Main queue only.
  size_t queuedWriteBytes() const { return client_.queuedBytes; }

  // Socket callbacks (main queue).
  void socketDidAcceptNewSocket(const GCDAsyncSocketPtr& sock,
                                const GCDAsyncSocketPtr& newSocket) override;
  void socketDidReadData(const GCDAsyncSocketPtr& sock, const SocketData& data, long tag) override;
  void socketDidWriteDataWithTag(const GCDAsyncSocketPtr& sock, long tag) override;
  void socketDidDisconnect(const GCDAsyncSocketPtr& sock, const SocketErrorPtr& error) override;

 private:
  explicit OrvexLocalServer(Options options);

  // The current client and what it still has to write.
  struct Client {
    GCDAsyncSocketPtr socket;
    std::deque<size_t> pendingWrites;
    size_t queuedBytes = 0;
  };

  void deliver(const std::optional<std::string>& line, int64_t type);
  void deliverText(const std::string& text);
  void write(const std::string& bytes, int64_t type);
  void queueRead(const GCDAsyncSocketPtr& socket);
  void armNoGlassesMessage();
  bool glassStatus() const;
  void log(std::string_view line) const;
  // Posts `task` to the main queue with the server held weakly.
  void onMain(std::function<void(OrvexLocalServer&)> task);

  Options options_;
  HFClient hfClient_;

  std::atomic<bool> isConnect_{false};
  std::atomic<bool> isFirstScreenRecording_{false};
  std::atomic<int64_t> serverPort_;
  std::atomic<int32_t> socketFd_{0};
  std::atomic<bool> stopped_{false};

  // Main queue only.
  GCDAsyncSocketPtr listener_;
  uint16_t listeningPort_ = 0;
  Client client_;
  dispatch::DelayedTask noGlassesMessage_;
  dispatch::StopRegistration stopRegistration_;

  mutable std::mutex statsMutex_;
  ReadStats readStats_;
  std::mutex immersionMutex_;
  std::function<void(int32_t)> changeImmersionHandler_;
};

}  // namespace vistrelle::netlocal
