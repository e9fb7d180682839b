#include "netlocal/dnssd/mrb_server.h"

#include <filesystem>
#include <fstream>
#include <iterator>

#include "netlocal/dnssd/mrb_server_error.h"
#include "netlocal/dnssd/mrb_server_socket_delegate.h"
#include "netlocal/dnssd/text_encoding.h"
#include "platform/dispatch/runtime.h"
#include "platform/dnssd/linux/avahi_dns_sd_service.h"

namespace vistrelle::netlocal {

namespace {

// Each arrival is handed on as it comes, up to this much at a time.
constexpr size_t kMaxReadLength = 64 * 1024;
constexpr long kReadTag = 0;
constexpr long kWriteTag = 0;
constexpr double kNoTimeout = -1;
constexpr char kSearchDomain[] = "local";

}  // namespace

MRBServerPtr MRBServer::create(Environment environment) {
  return make("", "_Server._tcp.", "", std::move(environment));
}

MRBServerPtr MRBServer::createWithProtocol(const std::string& protocol, Environment environment) {
  return make("", "_" + protocol + "._tcp.", "", std::move(environment));
}

MRBServerPtr MRBServer::createWithDomainName(std::string domain, std::string protocol,
                                             std::string name, Environment environment) {
  return make(std::move(domain), std::move(protocol), std::move(name), std::move(environment));
}

MRBServerPtr MRBServer::make(std::string domain, std::string protocol, std::string name,
                             Environment environment) {
  MRBServerPtr server(new MRBServer(std::move(domain), std::move(protocol), std::move(name),
                                    std::move(environment)));
  server->socketDelegate_ = std::make_shared<MRBServerSocketDelegate>(server);
  return server;
}

MRBServer::MRBServer(std::string domain, std::string protocol, std::string name,
                     Environment environment)
    : environment_(std::move(environment)),
      queue_(environment_.queue ? environment_.queue : dispatch::makeSerialQueue("MRBServer")),
      domain_(std::move(domain)),
      protocol_(std::move(protocol)),
      name_(std::move(name)) {}

MRBServer::~MRBServer() {
  // A stop running on another thread holds the server, so none is running.
  stopRegistration_.reset();
  auto teardown = [this] {
    netService_.reset();
    if (socket_) {
      socket_->setDelegate({});
      socket_->disconnect();
      socket_.reset();
    }
    if (stream_) {
      stream_->setDelegate({});
      stream_->disconnect();
      stream_.reset();
    }
    browser_.reset();
    resolver_.reset();
    service_.reset();
    if (auto delegate = delegate_.lock()) delegate->serverStopped(nullptr);
  };
  if (queue_->isCurrent()) {
    teardown();
  } else {
    queue_->sync(teardown);
  }
}

void MRBServer::command(std::function<void(MRBServer&)> task) {
  if (queue_->isCurrent()) {
    task(*this);
  } else {
    queue_->post([self = shared_from_this(), task = std::move(task)] { task(*self); });
  }
}

template <typename Result>
Result MRBServer::query(const std::function<Result()>& task) const {
  if (queue_->isCurrent()) return task();
  Result result{};
  queue_->sync([&] { result = task(); });
  return result;
}

template <typename Call>
void MRBServer::notify(Call call) {
  if (auto delegate = delegate_.lock()) call(*delegate, shared_from_this());
}

dnssd::DnsSdService& MRBServer::service() {
  if (!service_) {
    if (environment_.makeService) {
      service_ = environment_.makeService(queue_);
    } else {
      service_ =
          std::make_shared<dnssd::AvahiDnsSdService>(queue_, dispatch::Runtime::shared().reactor());
    }
  }
  return *service_;
}

// Starting and announcing.

bool MRBServer::start(SocketErrorPtr* error, unsigned int port) {
  const auto low16 = static_cast<uint16_t>(port & 0xFFFFu);
  SocketErrorPtr failure;
  const bool started = query<bool>([&] { return startNow(&failure, low16); });
  if (error) *error = failure;
  return started;
}

bool MRBServer::startNow(SocketErrorPtr* error, uint16_t port) {
  port_ = port;
  if (socket_) {
    socket_->setDelegate({});
    socket_->disconnect();
    socket_.reset();
  }
  // No buffer sizes are asked for: the kernel's defaults (and its automatic
  // tuning) serve far better than sizes derived from the read chunk.
  auto listener = GCDAsyncSocket::create(socketDelegate_, queue_);
  listener->setIPv6Enabled(false);
  SocketErrorPtr cause;
  if (!listener->acceptOnPort(0, &cause)) {
    *error = serverErrorForListenFailure(cause);
    return false;
  }
  socket_ = std::move(listener);
  if (!stopRegistration_.active() && dispatch::Runtime::installed()) {
    stopRegistration_ =
        dispatch::Runtime::shared().registerStop("dnssd.MRBServer", [weak = weak_from_this()] {
          if (auto self = weak.lock()) self->shutdown();
        });
  }
  publish();
  return true;
}

void MRBServer::publish() {
  netService_.reset();
  std::weak_ptr<MRBServer> weak = weak_from_this();
  dnssd::DnsSdPublishEvents events;
  events.published = [weak](const std::string& published) {
    if (auto self = weak.lock()) self->didPublish(published);
  };
  events.failed = [weak](const dnssd::DnsSdError& error) {
    if (auto self = weak.lock()) self->didNotPublish(error);
  };
  netService_ = service().publish({name_, protocol_, domain_, port_}, std::move(events));
}

void MRBServer::didPublish(const std::string& publishedName) {
  localService_ = dnssd::DnsSdServiceRecord{publishedName, protocol_, domain_};
  name_ = publishedName;
}

void MRBServer::didNotPublish(const dnssd::DnsSdError& error) {
  notify([&](MRBServerDelegate& delegate, const MRBServerPtr& self) {
    delegate.serverDidNotStart(self, error);
  });
}

// The peer's connection.

void MRBServer::socketAccepted(const GCDAsyncSocketPtr& listener, const GCDAsyncSocketPtr& stream) {
  if (listener != socket_) {
    stream->disconnect();
    return;
  }
  connectedToStream(stream, true);
}

void MRBServer::connectedToStream(const GCDAsyncSocketPtr& stream, bool open) {
  stopStreamsNow();
  stream_ = stream;
  if (open) streamOpened();
}

void MRBServer::socketConnected(const GCDAsyncSocketPtr& stream) {
  if (stream == stream_) streamOpened();
}

void MRBServer::streamOpened() {
  inputStreamReady_ = true;
  outputStreamReady_ = true;
  notify([](MRBServerDelegate& delegate, const MRBServerPtr& self) {
    delegate.serverRemoteConnectionComplete(self);
  });
  stopNetServiceNow();
  // The delegate may have let go of the connection meanwhile.
  if (!stream_) return;
  outputStreamHasSpace_ = true;
  readNext();
}

void MRBServer::readNext() {
  stream_->readDataWithTimeout(kNoTimeout, nullptr, 0, kMaxReadLength, kReadTag);
}

void MRBServer::socketRead(const GCDAsyncSocketPtr& stream, const SocketData& data) {
  if (stream != stream_) return;
  notify([&](MRBServerDelegate& delegate, const MRBServerPtr& self) {
    delegate.serverDidAcceptData(self, data);
  });
  if (stream == stream_) readNext();
}

void MRBServer::socketClosed(const GCDAsyncSocketPtr& stream, const SocketErrorPtr& error) {
  if (stream != stream_) return;
  const bool peerClosed =
      !error || error->is(kGCDAsyncSocketErrorDomain, GCDAsyncSocketClosedError);
  if (peerClosed) {
    notify([](MRBServerDelegate& delegate, const MRBServerPtr& self) {
      delegate.serverLostConnection(self, nullptr);
    });
    stopStreamsNow();
    publish();
  } else {
    notify([&](MRBServerDelegate& delegate, const MRBServerPtr& self) {
      delegate.serverLostConnection(self, error);
    });
    stopNow();
  }
}

// Sending.

int MRBServer::sendData(Bytes data) {
  return send(std::make_shared<const Bytes>(std::move(data)));
}

int MRBServer::sendText(const std::string& text) {
  return sendData(Bytes(text.begin(), text.end()));
}

int MRBServer::sendText(const std::string& text, const std::string& encoding) {
  // Text that cannot be encoded is sent as no data at all.
  return sendData(encodeText(text, encoding).value_or(Bytes{}));
}

int MRBServer::sendFileAtPath(const std::string& path) {
  std::error_code ignored;
  if (!std::filesystem::exists(path, ignored)) {
    environment_.log("Merhaba try to send file on " + path + ", but there is no such file!");
    return MRBServerSendNoSuchFile;
  }
  std::ifstream file(path, std::ios::binary);
  Bytes contents;
  if (file) contents.assign(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
  return sendData(std::move(contents));
}

int MRBServer::send(std::shared_ptr<const Bytes> data) {
  return query<int>([&] {
    if (!outputStreamHasSpace_) return int{MRBServerSendNoSpace};
    if (!stream_ || data->empty()) return int{MRBServerSendNothingWritten};
    // The socket's write queue keeps every byte until it is written.
    stream_->writeData(data, kNoTimeout, kWriteTag);
    return int{MRBServerSendQueued};
  });
}

// Browsing and connecting to a found service.

void MRBServer::searchForServicesOfType(const std::string& type) {
  command([type](MRBServer& self) { self.searchNow(type); });
}

void MRBServer::searchNow(const std::string& type) {
  browser_.reset();
  std::weak_ptr<MRBServer> weak = weak_from_this();
  dnssd::DnsSdBrowseEvents events;
  events.added = [weak](const dnssd::DnsSdServiceRecord& service, bool moreComing) {
    if (auto self = weak.lock()) self->serviceFound(service, moreComing);
  };
  events.removed = [weak](const dnssd::DnsSdServiceRecord& service, bool moreComing) {
    if (auto self = weak.lock()) self->serviceLost(service, moreComing);
  };
  browser_ = service().browse(type, kSearchDomain, std::move(events));
}

void MRBServer::serviceFound(const dnssd::DnsSdServiceRecord& service, bool moreComing) {
  if (localService_ && service.name == localService_->name) return;  // ourselves
  notify([&](MRBServerDelegate& delegate, const MRBServerPtr&) {
    delegate.serviceAdded(service, moreComing);
  });
}

void MRBServer::serviceLost(const dnssd::DnsSdServiceRecord& service, bool moreComing) {
  if (currentlyResolvingService_ && service.name == currentlyResolvingService_->name) {
    resolver_.reset();
    currentlyResolvingService_.reset();
  } else if (localService_ && service.name == localService_->name) {
    localService_.reset();
  }
  notify([&](MRBServerDelegate& delegate, const MRBServerPtr&) {
    delegate.serviceRemoved(service, moreComing);
  });
}

void MRBServer::connectToRemoteService(const dnssd::DnsSdServiceRecord& service) {
  command([service](MRBServer& self) { self.resolveNow(service); });
}

void MRBServer::resolveNow(const dnssd::DnsSdServiceRecord& service) {
  // Only the look-up in progress reports: the previous one ends here.
  resolver_.reset();
  currentlyResolvingService_ = service;
  std::weak_ptr<MRBServer> weak = weak_from_this();
  dnssd::DnsSdResolveEvents events;
  events.resolved = [weak](const std::string& host, uint16_t port) {
    if (auto self = weak.lock()) self->didResolve(host, port);
  };
  events.failed = [weak](const dnssd::DnsSdError&) {
    if (auto self = weak.lock()) self->didNotResolve();
  };
  resolver_ = this->service().resolve(service, std::move(events));
}

void MRBServer::didResolve(const std::string& host, uint16_t port) {
  resolver_.reset();
  currentlyResolvingService_.reset();
  auto stream = GCDAsyncSocket::create(socketDelegate_, queue_);
  stream->setIPv6Enabled(false);
  connectedToStream(stream, false);
  SocketErrorPtr error;
  if (!stream->connectToHost(host, port, &error)) socketClosed(stream, error);
}

void MRBServer::didNotResolve() {
  resolver_.reset();
  currentlyResolvingService_.reset();
}

// Stopping.

void MRBServer::stop() {
  command([](MRBServer& self) { self.stopNow(); });
}

void MRBServer::stopNow() {
  if (netService_) stopNetServiceNow();
  if (socket_) {
    socket_->setDelegate({});
    socket_->disconnect();
    socket_.reset();
  }
  stopStreamsNow();
  notify(
      [](MRBServerDelegate& delegate, const MRBServerPtr& self) { delegate.serverStopped(self); });
}

void MRBServer::stopNetService() {
  command([](MRBServer& self) { self.stopNetServiceNow(); });
}

void MRBServer::stopNetServiceNow() {
  netService_.reset();  // withdrawn
}

void MRBServer::stopStreams() {
  command([](MRBServer& self) { self.stopStreamsNow(); });
}

void MRBServer::stopStreamsNow() {
  if (stream_) {
    stream_->setDelegate({});
    stream_->disconnect();
    stream_.reset();
  }
  inputStreamReady_ = false;
  outputStreamReady_ = false;
}

void MRBServer::stopBrowser() {
  command([](MRBServer& self) { self.stopBrowserNow(); });
}

void MRBServer::stopBrowserNow() {
  browser_.reset();
  localService_.reset();
  resolver_.reset();
  currentlyResolvingService_.reset();
}

void MRBServer::shutdown() {
  query<bool>([this] {
    const bool running = socket_ || netService_ || stream_ || browser_ || resolver_;
    if (running) {
      stopNow();
      stopBrowserNow();
    }
    // The daemon connection goes too; a later start makes a new one.
    service_.reset();
    return running;
  });
}

// Properties.

std::string MRBServer::domain() const {
  return query<std::string>([this] { return domain_; });
}
void MRBServer::setDomain(std::string domain) {
  command([domain = std::move(domain)](MRBServer& self) { self.domain_ = domain; });
}
std::string MRBServer::protocol() const {
  return query<std::string>([this] { return protocol_; });
}
void MRBServer::setProtocol(std::string protocol) {
  command([protocol = std::move(protocol)](MRBServer& self) { self.protocol_ = protocol; });
}
std::string MRBServer::name() const {
  return query<std::string>([this] { return name_; });
}
void MRBServer::setName(std::string name) {
  command([name = std::move(name)](MRBServer& self) { self.name_ = name; });
}
uint16_t MRBServer::port() const {
  return query<uint16_t>([this] { return port_; });
}
uint8_t MRBServer::payloadSize() const {
  return query<uint8_t>([this] { return payloadSize_; });
}
GCDAsyncSocketPtr MRBServer::socket() const {
  return query<GCDAsyncSocketPtr>([this] { return socket_; });
}
bool MRBServer::hasNetService() const {
  return query<bool>([this] { return netService_ != nullptr; });
}
std::optional<dnssd::DnsSdServiceRecord> MRBServer::localService() const {
  return query<std::optional<dnssd::DnsSdServiceRecord>>([this] { return localService_; });
}
bool MRBServer::hasBrowser() const {
  return query<bool>([this] { return browser_ != nullptr; });
}
std::optional<dnssd::DnsSdServiceRecord> MRBServer::currentlyResolvingService() const {
  return query<std::optional<dnssd::DnsSdServiceRecord>>(
      [this] { return currentlyResolvingService_; });
}
GCDAsyncSocketPtr MRBServer::inputStream() const {
  return query<GCDAsyncSocketPtr>([this] { return stream_; });
}
GCDAsyncSocketPtr MRBServer::outputStream() const {
  return query<GCDAsyncSocketPtr>([this] { return stream_; });
}
bool MRBServer::inputStreamReady() const {
  return query<bool>([this] { return inputStreamReady_; });
}
bool MRBServer::outputStreamReady() const {
  return query<bool>([this] { return outputStreamReady_; });
}
bool MRBServer::outputStreamHasSpace() const {
  return query<bool>([this] { return outputStreamHasSpace_; });
}
std::shared_ptr<MRBServerDelegate> MRBServer::delegate() const {
  return query<std::shared_ptr<MRBServerDelegate>>([this] { return delegate_.lock(); });
}
void MRBServer::setDelegate(std::weak_ptr<MRBServerDelegate> delegate) {
  command([delegate = std::move(delegate)](MRBServer& self) { self.delegate_ = delegate; });
}

}  // namespace vistrelle::netlocal
