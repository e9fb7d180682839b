#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "netlocal/socket/sec_trust.h"
#include "netlocal/socket/socket_error.h"
#include "platform/value/value.h"

struct ssl_st;
struct ssl_ctx_st;
struct bio_st;
struct bio_method_st;
struct x509_store_ctx_st;
struct ssl_session_st;

namespace vistrelle::netlocal {

// Secure-transport status codes reported in the "kCFStreamErrorDomainSSL" domain.
enum SSLStatus : int {
  kSSLProtocol = -9800,
  kSSLNegotiation = -9801,
  kSSLFatalAlert = -9802,
  kSSLWouldBlock = -9803,
  kSSLClosedGraceful = -9805,
  kSSLClosedAbort = -9806,
  kSSLXCertChainInvalid = -9807,
  kSSLBadCert = -9808,
  kSSLInternal = -9810,
  kSSLCertExpired = -9814,
  kSSLCertNotYetValid = -9815,
  kSSLPeerHandshakeFail = -9824,
  kSSLPeerBadCert = -9825,
  kSSLPeerUnknownCA = -9831,
  kSSLPeerProtocolVersion = -9836,
  kSSLPeerAuthCompleted = -9841,
  kSSLHostNameMismatch = -9843,
  kSSLBadRecordMac = -9846,
  kSSLBadConfiguration = -9848,
};

// One TLS session over a socket, on OpenSSL: the context, the settings, and
// a BIO whose callbacks are a transport's functions (the socket's own while
// it is open).  Used only on the socket queue.
class GCDAsyncSocketSecureLayer {
 public:
  // Moves the context's encrypted bytes.  Both functions answer 0 when all
  // of `length` moved, kSSLWouldBlock when fewer did (`length` says how
  // many), kSSLClosedAbort when the stream failed or ended.
  class Transport {
   public:
    virtual int sslReadWithBuffer(uint8_t* buffer, size_t* length) = 0;
    virtual int sslWriteWithBuffer(const uint8_t* buffer, size_t* length) = 0;

   protected:
    ~Transport() = default;
  };

  static std::unique_ptr<GCDAsyncSocketSecureLayer> create(bool isServer, Transport& transport,
                                                           SocketErrorPtr* error);
  ~GCDAsyncSocketSecureLayer();
  GCDAsyncSocketSecureLayer(const GCDAsyncSocketSecureLayer&) = delete;
  GCDAsyncSocketSecureLayer& operator=(const GCDAsyncSocketSecureLayer&) = delete;

  // From now on the context moves its bytes through `transport`.
  void setTransport(Transport& transport);

  // Applies the start-secure settings; the error names the refused or
  // invalid setting.
  SocketErrorPtr applySettings(const Value::Map& settings);

  // One handshake step: 0 done, kSSLWouldBlock, kSSLPeerAuthCompleted (the
  // delegate must decide on trust) or a failure status.
  int handshake();
  // Decrypted bytes into `buffer`; `length` in: room, out: bytes given.
  int read(uint8_t* buffer, size_t* length);
  // Encrypts all of `length` bytes or none (a kSSLWouldBlock retry must pass
  // the same bytes and length).
  int write(const uint8_t* buffer, size_t* length);
  // Sends close_notify if the transport takes it now.
  void shutdown();
  // Decrypted bytes the context holds already.
  size_t bufferedBytes() const;

  std::shared_ptr<SecTrust> copyPeerTrust() const;
  // The delegate trusts the peer: the next handshake step passes verification.
  void setTrusted() { trusted_ = true; }
  bool isServer() const { return isServer_; }
  bool manualTrust() const { return manualTrust_; }
  std::string lastErrorText() const { return lastErrorText_; }
  ssl_st* ssl() const { return ssl_; }

  // Maps OpenSSL's outcome of a call onto a status code.
  static int statusFromOpenSSL(int sslError, unsigned long errorCode, long verifyResult);

 private:
  explicit GCDAsyncSocketSecureLayer(bool isServer);
  int statusOf(int result);
  static int verifyCallback(int preverifyOk, x509_store_ctx_st* context);
  static int newSessionCallback(ssl_st* ssl, ssl_session_st* session);
  static int alpnSelectCallback(ssl_st* ssl, const unsigned char** out, unsigned char* outlen,
                                const unsigned char* in, unsigned int inlen, void* arg);
  static int bioWrite(bio_st* bio, const char* data, size_t length, size_t* written);
  static int bioRead(bio_st* bio, char* data, size_t length, size_t* readBytes);
  static long bioCtrl(bio_st* bio, int command, long number, void* pointer);

  const bool isServer_;
  ssl_ctx_st* context_ = nullptr;
  ssl_st* ssl_ = nullptr;
  bio_method_st* method_ = nullptr;
  bool manualTrust_ = false;
  bool trusted_ = false;
  std::string peerName_;
  std::string peerID_;
  std::string alpnWire_;
  std::vector<Bytes> peerChain_;
  long peerVerifyResult_ = 0;
  std::string lastErrorText_;
};

}  // namespace vistrelle::netlocal
