#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "netlocal/dnssd/mrb_server_delegate.h"
#include "netlocal/dnssd/mrb_server_environment.h"
#include "netlocal/socket/gcd_async_socket.h"
#include "platform/dispatch/stop_registration.h"
#include "platform/dnssd/dns_sd_operation.h"
#include "platform/dnssd/dns_sd_service.h"

namespace vistrelle::netlocal {

class MRBServerSocketDelegate;

// Result codes of the send operations.
enum MRBServerSendResult : int {
  MRBServerSendNoSpace = 3,         // no connection has opened yet
  MRBServerSendNothingWritten = 4,  // nothing to write, or no connection any more
  MRBServerSendNoSuchFile = 5,
  MRBServerSendQueued = 6,  // every byte will be written in order
};

// A small DNS-SD TCP peer: an IPv4 listener, an announcement of a service
// type in the default domain, the first connected peer's byte stream handed
// to the delegate, and a search for other services of a type with a
// connection to one of them.
//
// Every state change runs on the server's queue and the delegate is called
// there.  Commands from another thread are queued (from the queue itself they
// run at once); operations with a result, and the getters, wait for the queue.
class MRBServer : public std::enable_shared_from_this<MRBServer> {
 public:
  using Environment = MRBServerEnvironment;

  // Type "_Server._tcp.", default domain and host name.
  static MRBServerPtr create(Environment environment = {});
  // Type "_<protocol>._tcp.".
  static MRBServerPtr createWithProtocol(const std::string& protocol, Environment environment = {});
  static MRBServerPtr createWithDomainName(std::string domain, std::string protocol,
                                           std::string name, Environment environment = {});
  // Stops everything (stop and stopBrowser); the delegate hears
  // serverStopped with a null server.
  ~MRBServer();
  MRBServer(const MRBServer&) = delete;
  MRBServer& operator=(const MRBServer&) = delete;

  // Opens the listener on a port the system chooses and announces `port`
  // (its low 16 bits).  False with a "ServerErrorDomain" error when the
  // listener fails; whether the announcement comes up is reported later
  // (serverDidNotStart).
  bool start(SocketErrorPtr* error, unsigned int port);

  int sendData(Bytes data);
  int sendText(const std::string& text);
  int sendText(const std::string& text, const std::string& encoding);
  int sendFileAtPath(const std::string& path);

  // Stops the current search and searches `type` in "local".
  void searchForServicesOfType(const std::string& type);
  // Looks `service` up (ending the previous look-up) and connects to it.
  void connectToRemoteService(const dnssd::DnsSdServiceRecord& service);

  void stop();
  void stopNetService();
  void stopStreams();
  void stopBrowser();

  std::string domain() const;
  void setDomain(std::string domain);
  std::string protocol() const;
  void setProtocol(std::string protocol);
  std::string name() const;
  void setName(std::string name);
  uint16_t port() const;
  uint8_t payloadSize() const;
  // The listener.
  GCDAsyncSocketPtr socket() const;
  // True while the announcement runs.
  bool hasNetService() const;
  std::optional<dnssd::DnsSdServiceRecord> localService() const;
  bool hasBrowser() const;
  std::optional<dnssd::DnsSdServiceRecord> currentlyResolvingService() const;
  // The peer's connection carries both directions: one socket for both.
  GCDAsyncSocketPtr inputStream() const;
  GCDAsyncSocketPtr outputStream() const;
  bool inputStreamReady() const;
  bool outputStreamReady() const;
  bool outputStreamHasSpace() const;
  std::shared_ptr<MRBServerDelegate> delegate() const;
  void setDelegate(std::weak_ptr<MRBServerDelegate> delegate);

  const dispatch::ExecutorPtr& queue() const { return queue_; }

 private:
  friend class MRBServerSocketDelegate;

  MRBServer(std::string domain, std::string protocol, std::string name, Environment environment);
  static MRBServerPtr make(std::string domain, std::string protocol, std::string name,
                           Environment environment);

  // Runs at once on the queue, else queued.
  void command(std::function<void(MRBServer&)> task);
  // Runs on the queue and waits for it.
  template <typename Result>
  Result query(const std::function<Result()>& task) const;

  // On the queue.
  bool startNow(SocketErrorPtr* error, uint16_t port);
  int send(std::shared_ptr<const Bytes> data);
  dnssd::DnsSdService& service();
  void publish();
  void stopNow();
  void stopNetServiceNow();
  void stopStreamsNow();
  void stopBrowserNow();
  void shutdown();
  void searchNow(const std::string& type);
  void resolveNow(const dnssd::DnsSdServiceRecord& service);
  void connectedToStream(const GCDAsyncSocketPtr& stream, bool open);
  void streamOpened();
  void readNext();
  template <typename Call>
  void notify(Call call);

  // Socket events, on the queue.
  void socketAccepted(const GCDAsyncSocketPtr& listener, const GCDAsyncSocketPtr& stream);
  void socketConnected(const GCDAsyncSocketPtr& stream);
  void socketRead(const GCDAsyncSocketPtr& stream, const SocketData& data);
  void socketClosed(const GCDAsyncSocketPtr& stream, const SocketErrorPtr& error);
  // DNS-SD events, on the queue.
  void didPublish(const std::string& publishedName);
  void didNotPublish(const dnssd::DnsSdError& error);
  void serviceFound(const dnssd::DnsSdServiceRecord& service, bool moreComing);
  void serviceLost(const dnssd::DnsSdServiceRecord& service, bool moreComing);
  void didResolve(const std::string& host, uint16_t port);
  void didNotResolve();

  const Environment environment_;
  const dispatch::ExecutorPtr queue_;
  std::shared_ptr<MRBServerSocketDelegate> socketDelegate_;

  // Owned by the queue from here on.
  std::string domain_;
  std::string protocol_;
  std::string name_;
  uint16_t port_ = 0;
  uint8_t payloadSize_ = 128;
  GCDAsyncSocketPtr socket_;
  std::unique_ptr<dnssd::DnsSdOperation> netService_;
  std::optional<dnssd::DnsSdServiceRecord> localService_;
  std::unique_ptr<dnssd::DnsSdOperation> browser_;
  std::optional<dnssd::DnsSdServiceRecord> currentlyResolvingService_;
  std::unique_ptr<dnssd::DnsSdOperation> resolver_;
  GCDAsyncSocketPtr stream_;
  bool inputStreamReady_ = false;
  bool outputStreamReady_ = false;
  bool outputStreamHasSpace_ = false;
  std::weak_ptr<MRBServerDelegate> delegate_;
  std::shared_ptr<dnssd::DnsSdService> service_;  // made when first needed
  dispatch::StopRegistration stopRegistration_;
};

}  // namespace vistrelle::netlocal
