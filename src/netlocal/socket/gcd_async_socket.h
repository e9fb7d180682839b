#pragma once

#include <any>
#include <atomic>
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
#include "netlocal/socket/gcd_async_socket_handles.h"
#include "netlocal/socket/gcd_async_socket_pre_buffer.h"
#include "netlocal/socket/gcd_async_socket_runtime_link.h"
#include "netlocal/socket/gcd_async_socket_secure_layer.h"
#include "netlocal/socket/gcd_async_socket_snapshot.h"
#include "netlocal/socket/gcd_async_write_packet.h"
#include "netlocal/socket/published_flags.h"
#include "netlocal/socket/socket_data.h"
#include "netlocal/socket/socket_error.h"
#include "platform/dispatch/executor.h"
#include "platform/dispatch/io_source.h"
#include "platform/dispatch/timer_source.h"
#include "platform/value/value.h"

struct ssl_st;

namespace vistrelle::netlocal {

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

// An asynchronous TCP or local-domain socket: a listener that produces one
// socket per accepted connection, or one connection with a read queue and a
// write queue.  All state lives on the socket queue, a serial queue of the
// installed dispatch::Runtime (one of its own unless the caller gives one;
// a caller's must be a serial queue of that runtime too, never the main
// queue, whose loop may have returned when the socket is stopped); results
// reach the delegate on the delegate queue, never on the socket queue.
//
// Threads.  These calls wait until the socket queue has run them:
// disconnect(), performBlock(), the accept and connect calls,
// socketFromConnectedSocketFD() and the synchronouslySet* setters.  Reads,
// writes, startTLS(), the disconnectAfter* calls and setDelegate* are
// requests: from the socket queue itself they are queued for a later turn;
// from any other thread they run at once on an idle socket queue or wait
// briefly for a busy one.  On a pool thread no such wait ever holds up the
// pool: the waiting thread runs the socket queue's work itself when nothing
// else does.  The configuration setters and every getter (state, addresses,
// delegate, configuration, progress) never wait: getters read what the
// socket queue last published.  Destroying a socket never waits either: its
// teardown runs on a later turn of the socket queue, and the delegate still
// hears of the close, with a null socket.
//
// Lifetime.  Stop sockets before the runtime, as the companion server does
// with its stop.  A socket still open when the runtime stops is closed by the
// runtime's stop (the delegate is told while the queues still run); one held
// beyond that (in a static) closes its descriptors directly and touches
// neither the reactor nor a queue.
//
// Not built: connectToNetService (no service discovery here), and
// markSocketQueueTargetQueue / unmarkSocketQueueTargetQueue (queues here do
// not target one another; performBlock() runs code on the socket queue).
class GCDAsyncSocket : public std::enable_shared_from_this<GCDAsyncSocket>,
                       private GCDAsyncSocketSecureLayer::Transport {
 public:
  static GCDAsyncSocketPtr create(std::weak_ptr<GCDAsyncSocketDelegate> delegate = {},
                                  dispatch::ExecutorPtr delegateQueue = nullptr,
                                  dispatch::ExecutorPtr socketQueue = nullptr);
  static GCDAsyncSocketPtr createWithSocketQueue(dispatch::ExecutorPtr socketQueue);
  // Wraps an already connected descriptor (the socket takes it over).
  static GCDAsyncSocketPtr socketFromConnectedSocketFD(
      int socketFD, std::weak_ptr<GCDAsyncSocketDelegate> delegate,
      dispatch::ExecutorPtr delegateQueue, dispatch::ExecutorPtr socketQueue,
      SocketErrorPtr* error);

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
  // Ignored while one is queued and once the socket is secure.
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

  // The transport functions the secure layer's context calls (on the socket
  // queue).
  int sslReadWithBuffer(uint8_t* buffer, size_t* length) override;
  int sslWriteWithBuffer(const uint8_t* buffer, size_t* length) override;

 private:
  using Side = GCDAsyncSocketSnapshot::Side;

  // One direction's requests: those queued and the one being served.
  struct Requests {
    std::deque<std::shared_ptr<GCDAsyncPacket>> queue;
    std::shared_ptr<GCDAsyncPacket> current;
    dispatch::TimerSourcePtr timer;
  };

  // What one plain or secure read pass brought in (see doReadData).
  struct ReadPass {
    bool done = false;
    bool waiting = false;
    bool endOfStream = false;
    SocketErrorPtr error;
    size_t taken = 0;  // bytes the current read took in this pass
  };

  GCDAsyncSocket(std::weak_ptr<GCDAsyncSocketDelegate> delegate,
                 dispatch::ExecutorPtr delegateQueue, dispatch::ExecutorPtr socketQueue,
                 std::shared_ptr<GCDAsyncSocketRuntimeLink> link);

  // Queue helpers.
  void async(std::function<void(GCDAsyncSocket&)> task);
  template <typename Call>
  void notifyDelegate(Call call);
  GCDAsyncSocketPtr selfForDelegate();
  void takeNext(Side side);
  void closeForRuntimeStop();
  void setDelegateOnQueue(std::weak_ptr<GCDAsyncSocketDelegate> delegate,
                          dispatch::ExecutorPtr queue);

  // Accepting.
  SocketErrorPtr preAcceptChecks(bool checkFamilies) const;
  int createListenSocket(const Bytes& interfaceAddr, SocketErrorPtr* error);
  void setupAcceptSource(int listenFD, dispatch::IoSourcePtr* slot, bool unlinkOnCancel);
  void doAccept(int listenFD, const dispatch::IoSourcePtr& source);
  void acceptedSocket(int childFD, Bytes address);
  bool adoptAcceptedDescriptor(int fd, int family);

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

  // A connection: its descriptor's options, sources and published addresses.
  void setupConnection(int fd);
  void publishEndpoints();
  void readSourceEvent(dispatch::IoSource& reader);
  void writeSourceEvent();

  // Closing.
  void closeWithError(SocketErrorPtr error);
  void maybeClose();

  // Requests, the same for either side.
  Requests& requests(Side side) { return side == Side::Read ? reads_ : writes_; }
  void queueRequest(Side side, std::shared_ptr<GCDAsyncPacket> packet);
  void maybeDequeue(Side side);
  void serve(Side side);
  void setupTimer(Side side, double timeout);
  void doTimeout(Side side);
  void doTimeoutWithExtension(Side side, const std::shared_ptr<GCDAsyncPacket>& packet,
                              double extension);
  void completeCurrent(Side side);
  void endCurrent(Side side);
  void publishProgress(Side side);
  float progressOf(Side side, long* tag, size_t* done, size_t* total) const;

  // Reading.
  void doReadData();
  void readFromPreBuffer(GCDAsyncReadPacket& read, ReadPass& pass);
  void readFromTransport(GCDAsyncReadPacket& read, size_t estimated, ReadPass& pass);
  void takeBytes(GCDAsyncReadPacket& read, uint8_t* buffer, size_t bytesRead,
                 bool readIntoPreBuffer, ReadPass& pass);
  void doReadEOF();
  void suspendReadSource();
  void resumeReadSource();

  // Writing.
  void doWriteData();
  void suspendWriteSource();
  void resumeWriteSource();

  // Secure transport.
  void maybeStartTLS();
  void ssl_startTLS();
  void ssl_continueSSLHandshake();
  void ssl_shouldTrustPeer(bool shouldTrust, uint64_t handshakeIndex);
  void flushSSLBuffers();
  SocketErrorPtr sslWriteCurrent(GCDAsyncWritePacket* write, size_t* bytesWritten, bool* waiting);
  GCDAsyncSocketSecureLayer* secure() const { return handles_.secure.get(); }
  GCDAsyncSocketPreBuffer* sslPreBuffer() const { return handles_.sslPreBuffer.get(); }

  int connectedFD() const;
  // Internet: IPv4 if open, else IPv6; Any: also a local-domain one.
  enum class Family { IPv4, IPv6, Internet, Any };
  AddressInfo publishedAddress(Family family, bool peer) const;

  const dispatch::ExecutorPtr socketQueue_;
  const std::shared_ptr<GCDAsyncSocketRuntimeLink> link_;
  dispatch::StopRegistration stopRegistration_;

  // Socket-queue state.  The delegate and its queue are copied into the
  // snapshot for the getters.
  std::weak_ptr<GCDAsyncSocketDelegate> delegate_;
  dispatch::ExecutorPtr delegateQueue_;
  PublishedFlags<uint32_t> flags_;
  GCDAsyncSocketHandles handles_;
  std::string socketUrl_;  // local-domain path of a listener or connection
  Requests reads_;
  Requests writes_;

  GCDAsyncSocketPreBuffer preBuffer_;
  size_t socketFDBytesAvailable_ = 0;

  Bytes connectInterface4_;
  Bytes connectInterface6_;
  uint64_t stateIndex_ = 0;

  int sslErrCode_ = 0;
  int lastSSLHandshakeError_ = 0;
  size_t sslWriteCachedLength_ = 0;
  uint64_t handshakeIndex_ = 0;
  int takeNextDepth_ = 0;

  // Configuration: set from any thread, read on the socket queue.
  std::atomic<uint16_t> config_{0};
  std::atomic<double> alternateAddressDelay_{0.3};

  GCDAsyncSocketSnapshot snapshot_;
};

}  // namespace vistrelle::netlocal
