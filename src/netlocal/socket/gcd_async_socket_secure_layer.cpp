#include "netlocal/socket/gcd_async_socket_secure_layer.h"

#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/pkcs12.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>

#include <cstring>
#include <vector>

#include "netlocal/socket/gcd_async_socket.h"
#include "netlocal/socket/ssl_session_cache.h"
#include "netlocal/socket/ssl_trust_store.h"

namespace vistrelle::netlocal {

namespace {

int exIndex() {
  static const int index = SSL_get_ex_new_index(0, nullptr, nullptr, nullptr, nullptr);
  return index;
}

GCDAsyncSocketSecureLayer* layerOf(const SSL* ssl) {
  return static_cast<GCDAsyncSocketSecureLayer*>(SSL_get_ex_data(ssl, exIndex()));
}

std::string openSSLErrorText(unsigned long code) {
  if (code == 0) return {};
  char text[256] = {};
  ERR_error_string_n(code, text, sizeof text);
  return text;
}

using BioPtr = std::unique_ptr<BIO, decltype(&BIO_free)>;

BioPtr memoryBio(const std::string& bytes) {
  return BioPtr(BIO_new_mem_buf(bytes.data(), static_cast<int>(bytes.size())), &BIO_free);
}

bool isPem(const std::string& bytes) {
  return bytes.find("-----BEGIN") != std::string::npos;
}

// The secure-transport protocol numbers of the settings onto OpenSSL's.
int protocolVersion(int64_t value) {
  switch (value) {
    case 2:
      return SSL3_VERSION;
    case 4:
      return TLS1_VERSION;
    case 7:
      return TLS1_1_VERSION;
    case 8:
      return TLS1_2_VERSION;
    case 10:
      return TLS1_3_VERSION;
    default:
      return -1;
  }
}

// Loads the identity (key and certificate, PEM or PKCS#12) and any further
// chain certificates into `ssl`.
bool applyCertificates(SSL* ssl, const Value::List& items) {
  if (items.empty()) return false;
  const std::string* identity = items.front().asString();
  std::string password;
  if (const Value::Map* map = items.front().asMap()) {
    identity = (*map).count("pkcs12") ? (*map).at("pkcs12").asString() : nullptr;
    if ((*map).count("passphrase") && (*map).at("passphrase").asString()) {
      password = *(*map).at("passphrase").asString();
    }
  }
  if (!identity) return false;
  EVP_PKEY* key = nullptr;
  X509* certificate = nullptr;
  STACK_OF(X509)* chain = nullptr;
  if (isPem(*identity)) {
    auto bio = memoryBio(*identity);
    key = PEM_read_bio_PrivateKey(bio.get(), nullptr, nullptr, nullptr);
    bio = memoryBio(*identity);
    certificate = PEM_read_bio_X509(bio.get(), nullptr, nullptr, nullptr);
    chain = sk_X509_new_null();
    while (X509* extra = PEM_read_bio_X509(bio.get(), nullptr, nullptr, nullptr)) {
      sk_X509_push(chain, extra);
    }
    ERR_clear_error();  // the loop ends on "no start line"
  } else {
    auto bio = memoryBio(*identity);
    PKCS12* bundle = d2i_PKCS12_bio(bio.get(), nullptr);
    if (bundle) {
      PKCS12_parse(bundle, password.c_str(), &key, &certificate, &chain);
      PKCS12_free(bundle);
    }
  }
  bool ok = key && certificate && SSL_use_certificate(ssl, certificate) == 1 &&
            SSL_use_PrivateKey(ssl, key) == 1 && SSL_check_private_key(ssl) == 1;
  for (int i = 0; ok && chain && i < sk_X509_num(chain); ++i) {
    ok = SSL_add1_chain_cert(ssl, sk_X509_value(chain, i)) == 1;
  }
  for (size_t i = 1; ok && i < items.size(); ++i) {
    const std::string* extra = items[i].asString();
    if (!extra) return false;
    auto bio = memoryBio(*extra);
    X509* more = isPem(*extra) ? PEM_read_bio_X509(bio.get(), nullptr, nullptr, nullptr)
                               : d2i_X509_bio(bio.get(), nullptr);
    ok = more && SSL_add1_chain_cert(ssl, more) == 1;
    X509_free(more);
  }
  EVP_PKEY_free(key);
  X509_free(certificate);
  sk_X509_pop_free(chain, X509_free);
  return ok;
}

}  // namespace

GCDAsyncSocketSecureLayer::GCDAsyncSocketSecureLayer(bool isServer) : isServer_(isServer) {}

GCDAsyncSocketSecureLayer::~GCDAsyncSocketSecureLayer() {
  if (ssl_) SSL_free(ssl_);  // frees the BIO too
  if (context_) SSL_CTX_free(context_);
  if (method_) BIO_meth_free(method_);
}

std::unique_ptr<GCDAsyncSocketSecureLayer> GCDAsyncSocketSecureLayer::create(
    bool isServer, Transport& transport, SocketErrorPtr* error) {
  std::unique_ptr<GCDAsyncSocketSecureLayer> layer(new GCDAsyncSocketSecureLayer(isServer));
  auto fail = [&](const char* text) {
    if (error) *error = SocketError::other(text);
    return nullptr;
  };
  layer->context_ = SSL_CTX_new(isServer ? TLS_server_method() : TLS_client_method());
  if (!layer->context_) return fail("Error in SSLCreateContext");
  SSL_CTX* context = layer->context_;
  // A chunk that would block is retried from the write packet, whose bytes
  // stay put but whose pointer is recomputed on each call.
  SSL_CTX_set_mode(context, SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER);
  // After a record that carries no data (a session ticket, a key update) the
  // read goes on with the bytes already here instead of asking to wait for
  // the descriptor, which may have nothing more to say.
  SSL_CTX_set_mode(context, SSL_MODE_AUTO_RETRY);
  if (isServer) {
    // The server asks no certificate of its clients.
    SSL_CTX_set_verify(context, SSL_VERIFY_NONE, nullptr);
  } else {
    // OpenSSL verifies nothing unless asked: check the chain against the
    // system's trust, its bundle file and its hashed folder alike (a system
    // may have either one alone).
    SSL_CTX_set_verify(context, SSL_VERIFY_PEER, &GCDAsyncSocketSecureLayer::verifyCallback);
    if (X509_STORE* trust = SslTrustStore::shared().current()) {
      SSL_CTX_set1_cert_store(context, trust);
      X509_STORE_free(trust);
    }
    SSL_CTX_set_session_cache_mode(context, SSL_SESS_CACHE_CLIENT | SSL_SESS_CACHE_NO_INTERNAL);
    SSL_CTX_sess_set_new_cb(context, &GCDAsyncSocketSecureLayer::newSessionCallback);
  }
  layer->ssl_ = SSL_new(context);
  if (!layer->ssl_) return fail("Error in SSLCreateContext");
  SSL_set_ex_data(layer->ssl_, exIndex(), layer.get());

  layer->method_ = BIO_meth_new(BIO_get_new_index() | BIO_TYPE_SOURCE_SINK, "GCDAsyncSocket");
  if (!layer->method_ || !BIO_meth_set_write_ex(layer->method_, &bioWrite) ||
      !BIO_meth_set_read_ex(layer->method_, &bioRead) ||
      !BIO_meth_set_ctrl(layer->method_, &bioCtrl)) {
    return fail("Error in SSLSetIOFuncs");
  }
  BIO* bio = BIO_new(layer->method_);
  if (!bio) return fail("Error in SSLSetConnection");
  BIO_set_data(bio, &transport);
  BIO_set_init(bio, 1);
  SSL_set_bio(layer->ssl_, bio, bio);
  if (isServer) {
    SSL_set_accept_state(layer->ssl_);
  } else {
    SSL_set_connect_state(layer->ssl_);
  }
  return layer;
}

void GCDAsyncSocketSecureLayer::setTransport(Transport& transport) {
  BIO_set_data(SSL_get_wbio(ssl_), &transport);
}

SocketErrorPtr GCDAsyncSocketSecureLayer::applySettings(const Value::Map& settings) {
  auto find = [&](const char* key) -> const Value* {
    auto found = settings.find(key);
    return found == settings.end() ? nullptr : &found->second;
  };
  auto invalid = [](const char* key) {
    return SocketError::other(std::string("Invalid value for ") + key + ".");
  };

  if (const Value* value = find(GCDAsyncSocketManuallyEvaluateTrust)) {
    manualTrust_ = value->boolOr(false);
    if (manualTrust_ && isServer_) {
      return SocketError::other("Manual trust validation is not supported for server sockets");
    }
  }
  if (const Value* value = find(kCFStreamSSLPeerName)) {
    const std::string* name = value->asString();
    if (!name) return invalid(kCFStreamSSLPeerName);
    peerName_ = *name;
    if (!isServer_ && (SSL_set_tlsext_host_name(ssl_, name->c_str()) != 1 ||
                       SSL_set1_host(ssl_, name->c_str()) != 1)) {
      return SocketError::other("Error in SSLSetPeerDomainName");
    }
  }
  if (const Value* value = find(kCFStreamSSLCertificates)) {
    const Value::List* items = value->asList();
    if (!items) return invalid(kCFStreamSSLCertificates);
    if (!applyCertificates(ssl_, *items)) {
      lastErrorText_ = openSSLErrorText(ERR_peek_last_error());
      ERR_clear_error();
      return SocketError::other("Error in SSLSetCertificate");
    }
  }
  if (const Value* value = find(GCDAsyncSocketSSLPeerID)) {
    const std::string* id = value->asString();
    if (!id) return invalid(GCDAsyncSocketSSLPeerID);
    peerID_ = *id;
    if (!isServer_) {
      if (SSL_SESSION* session = SslSessionCache::shared().lookup(peerID_)) {
        const int ok = SSL_set_session(ssl_, session);
        SSL_SESSION_free(session);
        if (ok != 1) return SocketError::other("Error in SSLSetPeerID");
      }
    }
  }
  if (const Value* value = find(GCDAsyncSocketSSLProtocolVersionMin)) {
    if (!value->isNumber()) return invalid(GCDAsyncSocketSSLProtocolVersionMin);
    const int64_t number = value->intOr(0);
    if (number != 0 && (protocolVersion(number) < 0 ||
                        SSL_set_min_proto_version(ssl_, protocolVersion(number)) != 1)) {
      return SocketError::other("Error in SSLSetProtocolVersionMin");
    }
  }
  if (const Value* value = find(GCDAsyncSocketSSLProtocolVersionMax)) {
    if (!value->isNumber()) return invalid(GCDAsyncSocketSSLProtocolVersionMax);
    const int64_t number = value->intOr(0);
    if (number != 0 && (protocolVersion(number) < 0 ||
                        SSL_set_max_proto_version(ssl_, protocolVersion(number)) != 1)) {
      return SocketError::other("Error in SSLSetProtocolVersionMax");
    }
  }
  if (const Value* value = find(GCDAsyncSocketSSLSessionOptionFalseStart)) {
    if (!value->isNumber()) return invalid(GCDAsyncSocketSSLSessionOptionFalseStart);
    // OpenSSL has no false start; the handshake simply completes first.
    if (value->boolOr(false))
      std::fputs("GCDAsyncSocket: false start not available, ignored\n", stdout);
  }
  if (const Value* value = find(GCDAsyncSocketSSLSessionOptionSendOneByteRecord)) {
    if (!value->isNumber()) return invalid(GCDAsyncSocketSSLSessionOptionSendOneByteRecord);
    // The 1/n-1 split only mattered for CBC in TLS 1.0, which OpenSSL handles itself.
    if (value->boolOr(false)) {
      std::fputs("GCDAsyncSocket: one-byte first record not needed, ignored\n", stdout);
    }
  }
  if (const Value* value = find(GCDAsyncSocketSSLCipherSuites)) {
    const Value::List* suites = value->asList();
    if (!suites) return invalid(GCDAsyncSocketSSLCipherSuites);
    std::string tls13, tls12;
    for (const Value& suite : *suites) {
      if (!suite.isInteger()) return invalid(GCDAsyncSocketSSLCipherSuites);
      const auto id = static_cast<uint16_t>(suite.intOr(0));
      const unsigned char wire[2] = {static_cast<unsigned char>(id >> 8),
                                     static_cast<unsigned char>(id & 0xff)};
      const SSL_CIPHER* cipher = SSL_CIPHER_find(ssl_, wire);
      if (!cipher) continue;  // unknown to this library: not enabled
      std::string& list = (id >= 0x1301 && id <= 0x1305) ? tls13 : tls12;
      if (!list.empty()) list += ':';
      list += SSL_CIPHER_get_name(cipher);
    }
    // The two lists are separate in OpenSSL.  An empty TLS 1.2 list cannot
    // be set, and leaving it as it is would keep every older suite: with
    // TLS 1.3 suites alone, no older protocol may be spoken at all.
    if ((tls13.empty() && tls12.empty()) || SSL_set_ciphersuites(ssl_, tls13.c_str()) != 1 ||
        (!tls12.empty() && SSL_set_cipher_list(ssl_, tls12.c_str()) != 1) ||
        (tls12.empty() && SSL_set_min_proto_version(ssl_, TLS1_3_VERSION) != 1)) {
      ERR_clear_error();
      return SocketError::other("Error in SSLSetEnabledCiphers");
    }
  }
  if (const Value* value = find(GCDAsyncSocketSSLDiffieHellmanParameters)) {
    const std::string* bytes = value->asString();
    if (!bytes) return invalid(GCDAsyncSocketSSLDiffieHellmanParameters);
    auto bio = memoryBio(*bytes);
    EVP_PKEY* parameters = isPem(*bytes) ? PEM_read_bio_Parameters(bio.get(), nullptr) : nullptr;
    if (!parameters) {
      const unsigned char* der = reinterpret_cast<const unsigned char*>(bytes->data());
      parameters = d2i_KeyParams(EVP_PKEY_DH, nullptr, &der, static_cast<long>(bytes->size()));
    }
    if (!parameters || SSL_set0_tmp_dh_pkey(ssl_, parameters) != 1) {
      EVP_PKEY_free(parameters);
      ERR_clear_error();
      return SocketError::other("Error in SSLSetDiffieHellmanParams");
    }
  }
  if (const Value* value = find(GCDAsyncSocketSSLALPN)) {
    const Value::List* names = value->asList();
    if (!names) return invalid(GCDAsyncSocketSSLALPN);
    alpnWire_.clear();
    for (const Value& name : *names) {
      const std::string* text = name.asString();
      if (!text || text->empty() || text->size() > 255) return invalid(GCDAsyncSocketSSLALPN);
      alpnWire_ += static_cast<char>(text->size());
      alpnWire_ += *text;
    }
    if (isServer_) {
      SSL_CTX_set_alpn_select_cb(context_, &GCDAsyncSocketSecureLayer::alpnSelectCallback, this);
    } else if (SSL_set_alpn_protos(ssl_, reinterpret_cast<const unsigned char*>(alpnWire_.data()),
                                   static_cast<unsigned int>(alpnWire_.size())) != 0) {
      return SocketError::other("Error in SSLSetALPNProtocols");
    }
  }
  for (const char* refused : {kCFStreamSSLAllowsAnyRoot, kCFStreamSSLAllowsExpiredRoots,
                              kCFStreamSSLValidatesCertificateChain,
                              kCFStreamSSLAllowsExpiredCertificates, kCFStreamSSLLevel}) {
    if (find(refused)) {
      return SocketError::other(std::string("Security option unavailable - ") + refused);
    }
  }
  return nullptr;
}

int GCDAsyncSocketSecureLayer::statusOf(int result) {
  const int sslError = SSL_get_error(ssl_, result);
  if (sslError == SSL_ERROR_WANT_READ || sslError == SSL_ERROR_WANT_WRITE) return kSSLWouldBlock;
  if (sslError == SSL_ERROR_WANT_RETRY_VERIFY) return kSSLPeerAuthCompleted;
  const unsigned long code = ERR_peek_last_error();
  lastErrorText_ = openSSLErrorText(code);
  const long verifyResult = SSL_get_verify_result(ssl_);
  if (lastErrorText_.empty() && verifyResult != X509_V_OK) {
    lastErrorText_ = X509_verify_cert_error_string(verifyResult);
  }
  ERR_clear_error();
  return statusFromOpenSSL(sslError, code, verifyResult);
}

int GCDAsyncSocketSecureLayer::statusFromOpenSSL(int sslError, unsigned long errorCode,
                                                 long verifyResult) {
  switch (sslError) {
    case SSL_ERROR_NONE:
      return 0;
    case SSL_ERROR_WANT_READ:
    case SSL_ERROR_WANT_WRITE:
      return kSSLWouldBlock;
    case SSL_ERROR_WANT_RETRY_VERIFY:
      return kSSLPeerAuthCompleted;
    case SSL_ERROR_ZERO_RETURN:
      return kSSLClosedGraceful;
    case SSL_ERROR_SYSCALL:
      return kSSLClosedAbort;  // the transport failed or ended
    default:
      break;
  }
  if (ERR_GET_LIB(errorCode) != ERR_LIB_SSL) return kSSLInternal;
  const int reason = ERR_GET_REASON(errorCode);
  if (reason == SSL_R_CERTIFICATE_VERIFY_FAILED) {
    switch (verifyResult) {
      case X509_V_ERR_CERT_HAS_EXPIRED:
        return kSSLCertExpired;
      case X509_V_ERR_CERT_NOT_YET_VALID:
        return kSSLCertNotYetValid;
      case X509_V_ERR_HOSTNAME_MISMATCH:
        return kSSLHostNameMismatch;
      default:
        return kSSLXCertChainInvalid;
    }
  }
  if (reason >= SSL_AD_REASON_OFFSET) {
    // An alert from the peer.
    switch (reason - SSL_AD_REASON_OFFSET) {
      case SSL_AD_BAD_CERTIFICATE:
      case SSL_AD_UNSUPPORTED_CERTIFICATE:
      case SSL_AD_CERTIFICATE_UNKNOWN:
        return kSSLPeerBadCert;
      case SSL_AD_UNKNOWN_CA:
        return kSSLPeerUnknownCA;
      case SSL_AD_HANDSHAKE_FAILURE:
        return kSSLPeerHandshakeFail;
      case SSL_AD_PROTOCOL_VERSION:
        return kSSLPeerProtocolVersion;
      default:
        return kSSLFatalAlert;
    }
  }
  switch (reason) {
    case SSL_R_UNEXPECTED_EOF_WHILE_READING:
      return kSSLClosedAbort;
    case SSL_R_NO_SHARED_CIPHER:
    case SSL_R_NO_SHARED_GROUPS:
    case SSL_R_NO_SUITABLE_SIGNATURE_ALGORITHM:
      return kSSLNegotiation;
    case SSL_R_UNSUPPORTED_PROTOCOL:
    case SSL_R_WRONG_VERSION_NUMBER:
    case SSL_R_VERSION_TOO_LOW:
    case SSL_R_VERSION_TOO_HIGH:
      return kSSLPeerProtocolVersion;
    case SSL_R_NO_PROTOCOLS_AVAILABLE:
    case SSL_R_NO_CIPHERS_AVAILABLE:
      return kSSLBadConfiguration;
    case SSL_R_DECRYPTION_FAILED_OR_BAD_RECORD_MAC:
      return kSSLBadRecordMac;
    default:
      return kSSLProtocol;
  }
}

int GCDAsyncSocketSecureLayer::handshake() {
  ERR_clear_error();
  const int result = SSL_do_handshake(ssl_);
  if (result == 1) return 0;
  return statusOf(result);
}

int GCDAsyncSocketSecureLayer::read(uint8_t* buffer, size_t* length) {
  ERR_clear_error();
  size_t got = 0;
  const int result = SSL_read_ex(ssl_, buffer, *length, &got);
  *length = result == 1 ? got : 0;
  return result == 1 ? 0 : statusOf(result);
}

int GCDAsyncSocketSecureLayer::write(const uint8_t* buffer, size_t* length) {
  ERR_clear_error();
  size_t written = 0;
  const int result = SSL_write_ex(ssl_, buffer, *length, &written);
  *length = result == 1 ? written : 0;
  return result == 1 ? 0 : statusOf(result);
}

void GCDAsyncSocketSecureLayer::shutdown() {
  SSL_shutdown(ssl_);
  ERR_clear_error();
}

size_t GCDAsyncSocketSecureLayer::bufferedBytes() const {
  const int pending = SSL_pending(ssl_);
  return pending > 0 ? static_cast<size_t>(pending) : 0;
}

std::shared_ptr<SecTrust> GCDAsyncSocketSecureLayer::copyPeerTrust() const {
  if (peerChain_.empty()) return nullptr;
  return std::make_shared<SecTrust>(peerChain_, peerVerifyResult_, peerName_);
}

int GCDAsyncSocketSecureLayer::verifyCallback(int preverifyOk, X509_STORE_CTX* context) {
  auto* ssl =
      static_cast<SSL*>(X509_STORE_CTX_get_ex_data(context, SSL_get_ex_data_X509_STORE_CTX_idx()));
  GCDAsyncSocketSecureLayer* layer = ssl ? layerOf(ssl) : nullptr;
  if (!layer || !layer->manualTrust_) return preverifyOk;
  if (layer->trusted_) return 1;
  if (!preverifyOk && layer->peerVerifyResult_ == X509_V_OK) {
    layer->peerVerifyResult_ = X509_STORE_CTX_get_error(context);
  }
  if (X509_STORE_CTX_get_error_depth(context) == 0) {
    // The last call for this chain: hand the chain to the delegate and
    // suspend the handshake until it answers.
    layer->peerChain_.clear();
    STACK_OF(X509)* chain = X509_STORE_CTX_get1_chain(context);
    for (int i = 0; chain && i < sk_X509_num(chain); ++i) {
      unsigned char* der = nullptr;
      const int length = i2d_X509(sk_X509_value(chain, i), &der);
      if (length > 0) layer->peerChain_.emplace_back(der, der + length);
      OPENSSL_free(der);
    }
    sk_X509_pop_free(chain, X509_free);
    SSL_set_retry_verify(ssl);
  }
  return 1;
}

int GCDAsyncSocketSecureLayer::newSessionCallback(SSL* ssl, SSL_SESSION* session) {
  GCDAsyncSocketSecureLayer* layer = layerOf(ssl);
  if (layer && !layer->peerID_.empty()) SslSessionCache::shared().store(layer->peerID_, session);
  return 0;  // the cache took its own reference
}

int GCDAsyncSocketSecureLayer::alpnSelectCallback(SSL* /*ssl*/, const unsigned char** out,
                                                  unsigned char* outlen, const unsigned char* in,
                                                  unsigned int inlen, void* arg) {
  auto* layer = static_cast<GCDAsyncSocketSecureLayer*>(arg);
  unsigned char* selected = nullptr;
  if (SSL_select_next_proto(&selected, outlen,
                            reinterpret_cast<const unsigned char*>(layer->alpnWire_.data()),
                            static_cast<unsigned int>(layer->alpnWire_.size()), in,
                            inlen) != OPENSSL_NPN_NEGOTIATED) {
    return SSL_TLSEXT_ERR_NOACK;
  }
  *out = selected;
  return SSL_TLSEXT_ERR_OK;
}

int GCDAsyncSocketSecureLayer::bioWrite(BIO* bio, const char* data, size_t length,
                                        size_t* written) {
  auto* transport = static_cast<Transport*>(BIO_get_data(bio));
  BIO_clear_retry_flags(bio);
  size_t done = length;
  const int status = transport->sslWriteWithBuffer(reinterpret_cast<const uint8_t*>(data), &done);
  *written = done;
  if (done > 0) return 1;
  if (status == kSSLWouldBlock) BIO_set_retry_write(bio);
  return 0;
}

int GCDAsyncSocketSecureLayer::bioRead(BIO* bio, char* data, size_t length, size_t* readBytes) {
  auto* transport = static_cast<Transport*>(BIO_get_data(bio));
  BIO_clear_retry_flags(bio);
  size_t done = length;
  const int status = transport->sslReadWithBuffer(reinterpret_cast<uint8_t*>(data), &done);
  *readBytes = done;
  if (done > 0) return 1;
  if (status == kSSLWouldBlock) BIO_set_retry_read(bio);
  return 0;
}

long GCDAsyncSocketSecureLayer::bioCtrl(BIO* /*bio*/, int command, long /*number*/,
                                        void* /*pointer*/) {
  // Writes go straight to the descriptor: there is nothing to flush.  (Each
  // record is its own send; secure sockets run with TCP_NODELAY so that a
  // small record never waits for the peer's delayed acknowledgement.)
  return command == BIO_CTRL_FLUSH ? 1 : 0;
}

}  // namespace vistrelle::netlocal
