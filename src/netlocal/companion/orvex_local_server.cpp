#include "netlocal/companion/orvex_local_server.h"

#include <errno.h>

#include <algorithm>
#include <cctype>
#include <mutex>
#include <utility>

#include "base/log/orvex_log.h"
#include "base/state/main_state.h"
#include "netlocal/companion/companion_line.h"
#include "netlocal/companion/companion_notification.h"
#include "netlocal/companion/companion_time.h"
#include "netlocal/companion/interface_addresses.h"
#include "netlocal/companion/mac_family.h"
#include "netlocal/companion/process_walk.h"
#include "platform/dispatch/runtime.h"

namespace vistrelle::netlocal {

namespace {

constexpr std::string_view kSeparator =
    "\n\n==================================================================\n\n";

std::string describe(const SocketErrorPtr& error) {
  return error ? error->describe() : "(null)";
}

bool isGatedType(int64_t type) {
  return type == 5 || type == 7 || type == 8;
}

OrvexLocalServer::Options withDefaults(OrvexLocalServer::Options options) {
  if (!options.mainQueue) options.mainQueue = dispatch::mainQueue();
  if (!options.globalQueue) options.globalQueue = dispatch::globalQueue();
  if (!options.serverPort) {
    options.serverPort = CompanionLine::integerValueOfText(OrvexLocalServer::kConfiguredPort);
  }
  if (!options.listen) {
    options.listen = [](GCDAsyncSocket& socket, uint16_t port, SocketErrorPtr* error) {
      return socket.acceptOnInterface("localhost", port, error);
    };
  }
  if (!options.emitNotification) options.emitNotification = CompanionNotification::busEmitter();
  if (!options.log) options.log = [](std::string_view line) { OrvexLog::logMessage(line); };
  if (!options.state) options.state = &MainState::shared();
  if (options.resourceFolder.empty()) options.resourceFolder = defaultResourceFolder();
  if (!options.hfClient.queue) options.hfClient.queue = options.globalQueue;
  return options;
}

}  // namespace

std::shared_ptr<OrvexLocalServer> OrvexLocalServer::shareManager() {
  // Never destroyed: its stop (main's stop list) closes what it holds, and a
  // late caller on another thread still finds it.
  static std::once_flag once;
  static std::shared_ptr<OrvexLocalServer>* shared = nullptr;
  std::call_once(once, [] {
    shared = new std::shared_ptr<OrvexLocalServer>(create(Options{}));
    (*shared)->start();
  });
  return *shared;
}

std::shared_ptr<OrvexLocalServer> OrvexLocalServer::create(Options options) {
  return std::shared_ptr<OrvexLocalServer>(new OrvexLocalServer(withDefaults(std::move(options))));
}

OrvexLocalServer::OrvexLocalServer(Options options)
    : options_(std::move(options)),
      hfClient_(options_.hfClient),
      serverPort_(*options_.serverPort) {}

OrvexLocalServer::~OrvexLocalServer() {
  stop();
}

void OrvexLocalServer::start() {
  if (options_.mainQueue->isCurrent()) {
    createLocalServer();
  } else {
    onMain([](OrvexLocalServer& server) { server.createLocalServer(); });
  }
}

void OrvexLocalServer::onMain(std::function<void(OrvexLocalServer&)> task) {
  std::weak_ptr<OrvexLocalServer> weak = weak_from_this();
  options_.mainQueue->post([weak, task = std::move(task)] {
    if (auto server = weak.lock()) task(*server);
  });
}

void OrvexLocalServer::log(std::string_view line) const {
  options_.log(line);
}

bool OrvexLocalServer::glassStatus() const {
  return options_.state->glassStatus.load();
}

// ---------------------------------------------------------------------------
// Listening

bool OrvexLocalServer::createLocalServer() {
  if (stopped_.load()) return false;
  if (listener_ && listeningPort_ != 0) return true;
  if (!listener_) listener_ = GCDAsyncSocket::create(weak_from_this(), options_.mainQueue);
  for (int tries = 0; tries < kMaxListenTries;) {
    const int64_t value = serverPort_.load();
    const auto port = static_cast<uint16_t>(static_cast<uint64_t>(value) & 0xFFFF);
    if (port == 0) {
      // Port 0 would be any free port, one the companion application cannot
      // find.
      serverPort_.store(value - 1);
      continue;
    }
    ++tries;
    SocketErrorPtr error;
    bool listening = options_.listen(*listener_, port, &error);
    if (!listening && error && error->is(kPOSIXErrorDomain, EADDRNOTAVAIL) &&
        listener_->isIPv6Enabled()) {
      // A host without ::1: the IPv4 loopback alone.
      listener_->setIPv6Enabled(false);
      error.reset();
      listening = options_.listen(*listener_, port, &error);
    }
    log("--启动SocketServer--" + std::to_string(listening ? 1 : 0) + "----" +
        std::to_string(value) +
        "----port = " + (listening ? std::string("(null)") : describe(error)) + " -");
    if (listening) {
      listeningPort_ = port;
      if (dispatch::Runtime::installed() && !stopRegistration_.active()) {
        std::weak_ptr<OrvexLocalServer> weak = weak_from_this();
        stopRegistration_ = dispatch::Runtime::shared().registerStop("OrvexLocalServer", [weak] {
          if (auto server = weak.lock()) server->stop();
        });
      }
      return true;
    }
    if (!error || !error->is(kPOSIXErrorDomain, EADDRINUSE) || value < 6001) return false;
    serverPort_.store(value - 1);
  }
  return false;
}

uint16_t OrvexLocalServer::listeningPort() const {
  return listener_ ? listeningPort_ : 0;
}

void OrvexLocalServer::stop() {
  if (stopped_.exchange(true)) return;
  noGlassesMessage_.cancel();
  GCDAsyncSocketPtr client = std::exchange(client_, Client{}).socket;
  GCDAsyncSocketPtr listener = std::exchange(listener_, nullptr);
  listeningPort_ = 0;
  isConnect_.store(false);
  isFirstScreenRecording_.store(false);
  if (client) client->disconnect();
  if (listener) listener->disconnect();
  hfClient_.stop();
  stopRegistration_.reset();
}

// ---------------------------------------------------------------------------
// Socket callbacks

void OrvexLocalServer::socketDidAcceptNewSocket(const GCDAsyncSocketPtr& sock,
                                                const GCDAsyncSocketPtr& newSocket) {
  if (stopped_.load() || sock != listener_) {
    newSocket->disconnect();
    return;
  }
  if (client_.socket) {
    // Closed here rather than by its release, so that its notice names it and
    // cannot be taken for the new client's.
    GCDAsyncSocketPtr previous = std::exchange(client_, Client{}).socket;
    previous->disconnect();
  }
  client_.socket = newSocket;
  queueRead(newSocket);
  isConnect_.store(true);
  log("Socket-server 连接成功");
  hfClient_.startClient();
  log(kSeparator);
}

void OrvexLocalServer::queueRead(const GCDAsyncSocketPtr& socket) {
  // Whatever is there, up to a bound: a client that never sends CR LF must
  // not make us hold its bytes.
  socket->readDataWithTimeout(-1, nullptr, 0, kReadChunk, 0);
}

void OrvexLocalServer::socketDidReadData(const GCDAsyncSocketPtr& sock, const SocketData& data,
                                         long /*tag*/) {
  {
    std::lock_guard lock(statsMutex_);
    readStats_.bytes += data.size();
    ++readStats_.reads;
    readStats_.largestRead = std::max(readStats_.largestRead, data.size());
  }
  if (sock && sock == client_.socket) queueRead(sock);
}

OrvexLocalServer::ReadStats OrvexLocalServer::readStats() const {
  std::lock_guard lock(statsMutex_);
  return readStats_;
}

void OrvexLocalServer::socketDidWriteDataWithTag(const GCDAsyncSocketPtr& sock, long /*tag*/) {
  if (!sock || sock != client_.socket) return;
  // Writes complete in the order they were queued.
  if (!client_.pendingWrites.empty()) {
    client_.queuedBytes -= client_.pendingWrites.front();
    client_.pendingWrites.pop_front();
  }
  log(getNowTimeData() + ":------发送完成---------");
  armNoGlassesMessage();
}

void OrvexLocalServer::armNoGlassesMessage() {
  // One pending at most: each completed write moves it 3 s on.
  noGlassesMessage_.cancel();
  std::weak_ptr<OrvexLocalServer> weak = weak_from_this();
  noGlassesMessage_ = options_.mainQueue->postAfter(kNoGlassesDelay, [weak] {
    const auto server = weak.lock();
    if (!server || !server->isConnect_.load() || server->glassStatus()) return;
    server->sendTextMessageWithDict(Value::Map{{"type", -1}});
  });
}

void OrvexLocalServer::socketDidDisconnect(const GCDAsyncSocketPtr& sock,
                                           const SocketErrorPtr& error) {
  log(getNowTimeData() + ": -Socket断开连接--err = " +
      (error ? error->localizedDescription() : std::string("(null)")) +
      " --- code = " + std::to_string(error ? error->code() : 0));
  log(std::string("unity-App关闭或者异常退出 ===【眼镜状态 ") +
      (glassStatus() ? "眼镜插入" : "眼镜拔出") + "】");
  // A replaced client's late notice, or the listener's, leaves the current
  // client alone.
  if (!sock || sock != client_.socket) return;
  isConnect_.store(false);
  isFirstScreenRecording_.store(false);
  client_ = Client{};
}

// ---------------------------------------------------------------------------
// Sending

void OrvexLocalServer::sendTextMessageWithDict(const Value::Map& message) {
  if (message.empty() || stopped_.load()) return;
  std::optional<std::string> line = CompanionLine::encode(message);
  const int64_t type = CompanionLine::typeOf(message);
  onMain([line = std::move(line), type](OrvexLocalServer& server) { server.deliver(line, type); });
}

void OrvexLocalServer::deliver(const std::optional<std::string>& line, int64_t type) {
  if (isGatedType(type) && !glassStatus()) return;
  if (!client_.socket || !client_.socket->isConnected()) {
    log("socket未连接");
    return;
  }
  if (!line) {
    log("消息未发送: 无法转JSON --- type = " + std::to_string(type));
    return;
  }
  write(*line, type);
}

void OrvexLocalServer::sendTextMessage(const std::string& text) {
  if (text.empty() || stopped_.load()) return;
  onMain([text](OrvexLocalServer& server) { server.deliverText(text); });
}

void OrvexLocalServer::deliverText(const std::string& text) {
  if ((text == "5" || text == "7" || text == "8") && !glassStatus()) return;
  if (!client_.socket) {
    log("socket未连接");
    return;
  }
  log(getNowTimeData() + "：发送的数据---(" + text + ")");
  write(text + "\r\n", CompanionLine::integerValueOfText(text));
}

void OrvexLocalServer::write(const std::string& bytes, int64_t type) {
  if (client_.queuedBytes + bytes.size() > kMaxQueuedWriteBytes) {
    log("消息未发送: 等待发送的数据超过" + std::to_string(kMaxQueuedWriteBytes) +
        "字节 --- type = " + std::to_string(type));
    return;
  }
  client_.socket->writeData(Bytes(bytes.begin(), bytes.end()), -1, 0);
  client_.pendingWrites.push_back(bytes.size());
  client_.queuedBytes += bytes.size();
}

// ---------------------------------------------------------------------------
// Desktop notification

void OrvexLocalServer::pushNotificationWithDict(const Value::Map& message) {
  const std::optional<std::string> text = CompanionLine::jsonText(message);
  if (!text) {
    log("通知未发送: 无法转JSON");
    return;
  }
  log("JSON string: " + *text);
  if (stopped_.load()) return;
  options_.globalQueue->post(
      [emit = options_.emitNotification, json = *text, log = options_.log] { emit(json, log); });
}

void OrvexLocalServer::notificationSocketPort() {
  std::weak_ptr<OrvexLocalServer> weak = weak_from_this();
  options_.mainQueue->postAfter(kNotificationDelay, [weak] {
    if (auto server = weak.lock()) {
      server->pushNotificationWithDict(
          Value::Map{{"type", server->serverPort()}, {"socket_fd", server->socketFd()}});
    }
  });
}

// ---------------------------------------------------------------------------
// Glasses and host

void OrvexLocalServer::changeImmersion(int32_t value) {
  std::function<void(int32_t)> handler;
  {
    std::lock_guard lock(immersionMutex_);
    handler = changeImmersionHandler_;
  }
  if (handler) {
    handler(value);
  } else {
    log("changeImmersion: 眼镜命令层未就绪 --- value = " + std::to_string(value));
  }
}

void OrvexLocalServer::setChangeImmersionHandler(std::function<void(int32_t)> handler) {
  std::lock_guard lock(immersionMutex_);
  changeImmersionHandler_ = std::move(handler);
}

std::string OrvexLocalServer::getDeviceModel() const {
  return macFamilyForModel(readHostModel(options_.productNamePath));
}

bool OrvexLocalServer::isOrvexMonitor2Exist() const {
  if (!options_.screenNames) return false;
  for (std::string name : options_.screenNames()) {
    std::transform(name.begin(), name.end(), name.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    if (name.find("orvex monitor2") != std::string::npos) return true;
  }
  return false;
}

std::optional<Value::List> OrvexLocalServer::runningProcesses() const {
  return runningProcessesFrom(options_.resourceFolder, options_.procRoot);
}

std::string OrvexLocalServer::getProcessNameWithPid(int pid) const {
  return processNameWithPid(pid, options_.resourceFolder, options_.procRoot);
}

std::optional<std::string> OrvexLocalServer::netmaskForIPAddress(const std::string& address) const {
  std::optional<std::string> netmask = netmaskOf(readInterfaces(), address);
  if (netmask) log(*netmask);
  return netmask;
}

std::string OrvexLocalServer::getNowTimeData() {
  return companionTimeText();
}

}  // namespace vistrelle::netlocal
