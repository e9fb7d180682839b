#pragma once

#include <any>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "netlocal/socket/gcd_async_packet.h"
#include "netlocal/socket/gcd_async_read_packet.h"
#include "netlocal/socket/gcd_async_socket_delegate.h"
#include "netlocal/socket/gcd_async_socket_pre_buffer.h"
#include "netlocal/socket/gcd_async_write_packet.h"
#include "netlocal/socket/socket_data.h"
#include "netlocal/socket/socket_error.h"
#include "platform/dispatch/executor.h"
#include "platform/dispatch/io_source.h"
#include "platform/dispatch/timer_source.h"
#include "platform/value/value.h"

struct ssl_st;

namespace vistrelle::dispatch {
class Reactor;
class ThreadPool;
}  // namespace vistrelle::dispatch

namespace vistrelle::netlocal {

class GCDAsyncSocketSecureLayer;

// Settings keys of startTLS().
inline constexpr char kCFStreamSSLIsServer[] = "kCFStreamSSLIsServer";
inline constexpr char kCFStreamSSLPeerName[] = "kCFStreamSSLPeerName";
inline constexpr char kCFStreamSSLCertificates[] = "kCFStreamSSLCertificates";
inline constexpr char kCFStreamSSLAllowsAnyRoot[] = "kCFStreamSSLAllowsAnyRoot";
inline constexpr char kCFStreamSSLAllowsExpiredRoots[] = "kCFStreamSSLAllowsExpiredRoots";
inline constexpr char kCFStreamSSLValidatesCertificateChain[] =
    "kCFStreamSSLValidatesCertificateChain";
inline constexpr char kCFStreamSSLAllowsExpiredCertificates[] =
    "kCFStreamSSLAllowsExpiredCertificates";
inline constexpr char kCFStreamSSLLevel[] = "kCFStreamSSLLevel";
inline constexpr char GCDAsyncSocketManuallyEvaluateTrust[] = "GCDAsyncSocketManuallyEvaluateTrust";
inline constexpr char GCDAsyncSocketSSLPeerID[] = "GCDAsyncSocketSSLPeerID";
inline constexpr char GCDAsyncSocketSSLProtocolVersionMin[] = "GCDAsyncSocketSSLProtocolVersionMin";
inline constexpr char GCDAsyncSocketSSLProtocolVersionMax[] = "GCDAsyncSocketSSLProtocolVersionMax";
inline constexpr char GCDAsyncSocketSSLSessionOptionFalseStart[] =
    "GCDAsyncSocketSSLSessionOptionFalseStart";
inline constexpr char GCDAsyncSocketSSLSessionOptionSendOneByteRecord[] =
    "GCDAsyncSocketSSLSessionOptionSendOneByteRecord";
inline constexpr char GCDAsyncSocketSSLCipherSuites[] = "GCDAsyncSocketSSLCipherSuites";
inline constexpr char GCDAsyncSocketSSLDiffieHellmanParameters[] =
    "GCDAsyncSocketSSLDiffieHellmanParameters";
inline constexpr char GCDAsyncSocketSSLALPN[] = "GCDAsyncSocketSSLALPN";

// Where a socket's descriptors are watched and where name look-ups and new
// queues run.  Unset members: the installed dispatch::Runtime's.
struct GCDAsyncSocketEnvironment {
  dispatch::Reactor* reactor = nullptr;
  std::shared_ptr<dispatch::ThreadPool> pool;
};

// An asynchronous TCP or local-domain socket: a listener that produces one
// socket per accepted connection, or one connection with a read queue and a
// write queue.  All state lives on the socket queue; results reach the
// delegate on the delegate queue.
class GCDAsyncSocket : public std::enable_shared_from_this<GCDAsyncSocket> {
 public:
  using Environment = GCDAsyncSocketEnvironment;

  static GCDAsyncSocketPtr create(std::weak_ptr<GCDAsyncSocketDelegate> delegate = {},
                                  dispatch::ExecutorPtr delegateQueue = nullptr,
                                  dispatch::ExecutorPtr socketQueue = nullptr,
                                  Environment environment = {});
  static GCDAsyncSocketPtr createWithSocketQueue(dispatch::ExecutorPtr socketQueue,
                                                 Environment environment = {});
  // Wraps an already connected descriptor (the socket takes it over).
  static GCDAsyncSocketPtr socketFromConnectedSocketFD(
      int socketFD, std::weak_ptr<GCDAsyncSocketDelegate> delegate,
      dispatch::ExecutorPtr delegateQueue, dispatch::ExecutorPtr socketQueue, SocketErrorPtr* error,
      Environment environment = {});

  ~GCDAsyncSocket();
  GCDAsyncSocket(const GCDAsyncSocket&) = delete;
  GCDAsyncSocket& operator=(const GCDAsyncSocket&) = delete;

  // Delegate and delegate queue.
  std::shared_ptr<GCDAsyncSocketDelegate> delegate() const;
  void setDelegate(std::weak_ptr<GCDAsyncSocketDelegate> delegate);
  void synchronouslySetDelegate(std::weak_ptr<GCDAsyncSocketDelegate> delegate);
  dispatch::ExecutorPtr delegateQueue() const;
  void setDelegateQueue(dispatch::ExecutorPtr queue);
  void synchronouslySetDelegateQueue(dispatch::ExecutorPtr queue);
  void setDelegate(std::weak_ptr<GCDAsyncSocketDelegate> delegate, dispatch::ExecutorPtr queue);
  void synchronouslySetDelegate(std::weak_ptr<GCDAsyncSocketDelegate> delegate,
                                dispatch::ExecutorPtr queue);
  void getDelegate(std::shared_ptr<GCDAsyncSocketDelegate>* delegate,
                   dispatch::ExecutorPtr* queue) const;

  // Configuration.
  bool isIPv4Enabled() const;
  void setIPv4Enabled(bool enabled);
  bool isIPv6Enabled() const;
  void setIPv6Enabled(bool enabled);
  bool isIPv4PreferredOverIPv6() const;
  void setIPv4PreferredOverIPv6(bool preferred);
  double alternateAddressDelay() const;
  void setAlternateAddressDelay(double seconds);
  bool autoDisconnectOnClosedReadStream() const;
  void setAutoDisconnectOnClosedReadStream(bool flag);
  std::any userData() const;
  void setUserData(std::any data);

  // Listening.
  bool acceptOnPort(uint16_t port, SocketErrorPtr* error = nullptr);
  bool acceptOnInterface(const std::string& interface, uint16_t port,
                         SocketErrorPtr* error = nullptr);
  // A file URL ("file:///tmp/socket") or an absolute path.
  bool acceptOnUrl(const std::string& url, SocketErrorPtr* error = nullptr);

  // Connecting.  A negative time-out means none.
  bool connectToHost(const std::string& host, uint16_t port, SocketErrorPtr* error = nullptr);
  bool connectToHost(const std::string& host, uint16_t port, double timeout,
                     SocketErrorPtr* error = nullptr);
  bool connectToHost(const std::string& host, uint16_t port, const std::string& interface,
                     double timeout, SocketErrorPtr* error = nullptr);
  bool connectToAddress(const Bytes& remoteAddr, SocketErrorPtr* error = nullptr);
  bool connectToAddress(const Bytes& remoteAddr, double timeout, SocketErrorPtr* error = nullptr);
  bool connectToAddress(const Bytes& remoteAddr, const std::string& interface, double timeout,
                        SocketErrorPtr* error = nullptr);
  bool connectToUrl(const std::string& url, double timeout, SocketErrorPtr* error = nullptr);

  // Closing.
  void disconnect();
  void disconnectAfterReading();
  void disconnectAfterWriting();
  void disconnectAfterReadingAndWriting();

  // State and addresses.
  bool isDisconnected() const;
  bool isConnected() const;
  std::string connectedHost() const;
  uint16_t connectedPort() const;
  std::string connectedUrl() const;
  std::string localHost() const;
  uint16_t localPort() const;
  std::string connectedHost4() const;
  std::string connectedHost6() const;
  uint16_t connectedPort4() const;
  uint16_t connectedPort6() const;
  std::string localHost4() const;
  std::string localHost6() const;
  uint16_t localPort4() const;
  uint16_t localPort6() const;
  Bytes connectedAddress() const;
  Bytes localAddress() const;
  bool isIPv4() const;
  bool isIPv6() const;
  bool isSecure() const;
  // Only on the socket queue (inside performBlock), else -1.
  int socketFD() const;
  int socket4FD() const;
  int socket6FD() const;
  // Only on the socket queue, else null.
  ssl_st* sslContext() const;
  bool usingSecureTransportForTLS() const { return true; }
  bool usingCFStreamForTLS() const { return false; }
  void performBlock(const std::function<void()>& block);

  // Reads.  A negative time-out means none; invalid arguments drop the request.
  void readDataWithTimeout(double timeout, long tag);
  void readDataWithTimeout(double timeout, BytesPtr buffer, size_t offset, long tag);
  void readDataWithTimeout(double timeout, BytesPtr buffer, size_t offset, size_t maxLength,
                           long tag);
  void readDataToLength(size_t length, double timeout, long tag);
  void readDataToLength(size_t length, double timeout, BytesPtr buffer, size_t offset, long tag);
  void readDataToData(const Bytes& data, double timeout, long tag);
  void readDataToData(const Bytes& data, double timeout, BytesPtr buffer, size_t offset, long tag);
  void readDataToData(const Bytes& data, double timeout, size_t maxLength, long tag);
  void readDataToData(const Bytes& data, double timeout, BytesPtr buffer, size_t offset,
                      size_t maxLength, long tag);
  // NaN (tag, done and total 0) with no current read; 1.0 with no known total.
  float progressOfReadReturningTag(long* tag, size_t* done, size_t* total) const;

  // Writes.  The bytes are held, not copied; empty data is ignored.
  void writeData(std::shared_ptr<const Bytes> data, double timeout, long tag);
  void writeData(Bytes data, double timeout, long tag);
  float progressOfWriteReturningTag(long* tag, size_t* done, size_t* total) const;

  // Secure transport: queued behind the reads and writes already queued.
  void startTLS(Value::Map tlsSettings);

  // Class operations.
  static std::string hostFromAddress(const Bytes& address);
  static uint16_t portFromAddress(const Bytes& address);
  static bool isIPv4Address(const Bytes& address);
  static bool isIPv6Address(const Bytes& address);
  static bool getHostPortFromAddress(std::string* host, uint16_t* port, const Bytes& address);
  static bool getHostPortFamilyFromAddress(std::string* host, uint16_t* port, int* family,
                                           const Bytes& address);
  // Addresses of `host` (IPv4 and IPv6 socket addresses) or an error.
  static std::vector<Bytes> lookupHost(const std::string& host, uint16_t port,
                                       SocketErrorPtr* error);
  static const Bytes& CRLFData();
  static const Bytes& CRData();
  static const Bytes& LFData();
  static const Bytes& ZeroData();

  // Used by the secure layer: the transport functions its context calls.
  int sslReadWithBuffer(uint8_t* buffer, size_t* length);
  int sslWriteWithBuffer(const uint8_t* buffer, size_t* length);

 private:
  GCDAsyncSocket(std::weak_ptr<GCDAsyncSocketDelegate> delegate,
                 dispatch::ExecutorPtr delegateQueue, dispatch::ExecutorPtr socketQueue,
                 Environment environment);
  friend class GCDAsyncSocketSecureLayer;

  template <typename Result>
  Result onSocketQueue(const std::function<Result()>& task) const;
  void async(std::function<void(GCDAsyncSocket&)> task);
  template <typename Call>
  void notifyDelegate(Call call);
  GCDAsyncSocketPtr selfForDelegate();
  void takeNext(void (GCDAsyncSocket::*next)());

  // Accepting.
  SocketErrorPtr preAcceptChecks(bool checkFamilies) const;
  int createListenSocket(const Bytes& interfaceAddr, SocketErrorPtr* error);
  void setupAcceptSource(int listenFD, dispatch::IoSourcePtr* slot, bool unlinkOnCancel);
  void doAccept(int listenFD, const dispatch::IoSourcePtr& source);
  void acceptedSocket(int childFD, Bytes address);

  // Connecting.
  SocketErrorPtr preConnectChecks(const std::string& interface, bool checkFamilies);
  void lookupDidSucceed(uint64_t attempt, std::vector<Bytes> addresses);
  void lookupDidFail(uint64_t attempt, SocketErrorPtr error);
  SocketErrorPtr connectWithAddresses(const Bytes& address4, const Bytes& address6);
  SocketErrorPtr connectWithAddressUN(const std::string& path);
  int createConnectSocket(int family, const Bytes& connectInterface, SocketErrorPtr* error);
  void connectSocket(int family, Bytes address);
  void connectFinished(int family, uint64_t attempt, int error);
  void didConnect(int family);
  int& fdForFamily(int family);
  dispatch::IoSourcePtr& connectSourceForFamily(int family);
  void closeConnectAttempt(int family);
  void notifyConnected();
  void startConnectTimeout(double timeout);
  void endConnectTimeout();
  void doConnectTimeout();
  void setupReadAndWriteSources(int fd);

  // Closing.
  void closeWithError(SocketErrorPtr error);
  void maybeClose();

  // Reading.
  void maybeDequeueRead();
  void doReadData();
  void doReadEOF();
  void completeCurrentRead();
  void endCurrentRead();
  void setupReadTimerWithTimeout(double timeout);
  void doReadTimeout();
  void doReadTimeoutWithExtension(const std::shared_ptr<GCDAsyncPacket>& packet, double extension);
  void queueRead(std::shared_ptr<GCDAsyncReadPacket> packet);

  // Writing.
  void maybeDequeueWrite();
  void doWriteData();
  void completeCurrentWrite();
  void endCurrentWrite();
  void setupWriteTimerWithTimeout(double timeout);
  void doWriteTimeout();
  void doWriteTimeoutWithExtension(const std::shared_ptr<GCDAsyncPacket>& packet, double extension);

  void suspendReadSource();
  void resumeReadSource();
  void suspendWriteSource();
  void resumeWriteSource();

  // Secure transport.
  void maybeStartTLS();
  void ssl_startTLS();
  void ssl_continueSSLHandshake();
  void ssl_shouldTrustPeer(bool shouldTrust, uint64_t handshakeIndex);
  void flushSSLBuffers();
  void ssl_teardown();
  SocketErrorPtr sslWriteCurrent(GCDAsyncWritePacket* write, size_t* bytesWritten, bool* waiting);

  int connectedFD() const;

  std::weak_ptr<GCDAsyncSocketDelegate> delegate_;
  dispatch::ExecutorPtr delegateQueue_;
  const dispatch::ExecutorPtr socketQueue_;
  const Environment environment_;

  uint32_t flags_ = 0;
  uint16_t config_ = 0;

  int socket4FD_ = -1;
  int socket6FD_ = -1;
  int socketUN_ = -1;
  std::string socketUrl_;  // local-domain path of a listener or connection

  dispatch::IoSourcePtr accept4Source_;
  dispatch::IoSourcePtr accept6Source_;
  dispatch::IoSourcePtr acceptUNSource_;
  dispatch::IoSourcePtr readSource_;
  dispatch::IoSourcePtr writeSource_;
  dispatch::IoSourcePtr connect4Source_;
  dispatch::IoSourcePtr connect6Source_;
  dispatch::IoSourcePtr connectUNSource_;
  dispatch::TimerSourcePtr connectTimer_;
  dispatch::TimerSourcePtr readTimer_;
  dispatch::TimerSourcePtr writeTimer_;
  dispatch::DelayedTask alternateConnect_;
  dispatch::DelayedTask acceptPause_;

  std::deque<std::shared_ptr<GCDAsyncPacket>> readQueue_;
  std::deque<std::shared_ptr<GCDAsyncPacket>> writeQueue_;
  std::shared_ptr<GCDAsyncPacket> currentRead_;
  std::shared_ptr<GCDAsyncPacket> currentWrite_;

  GCDAsyncSocketPreBuffer preBuffer_;
  size_t socketFDBytesAvailable_ = 0;

  Bytes connectInterface4_;
  Bytes connectInterface6_;
  Bytes connectInterfaceUN_;
  uint64_t stateIndex_ = 0;

  std::unique_ptr<GCDAsyncSocketSecureLayer> secure_;
  std::unique_ptr<GCDAsyncSocketPreBuffer> sslPreBuffer_;
  int sslErrCode_ = 0;
  int lastSSLHandshakeError_ = 0;
  size_t sslWriteCachedLength_ = 0;
  uint64_t handshakeIndex_ = 0;

  int takeNextDepth_ = 0;
  double alternateAddressDelay_ = 0.3;
  std::any userData_;
};

}  // namespace vistrelle::netlocal
