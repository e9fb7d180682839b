#pragma once

#include <map>
#include <mutex>
#include <string>
#include <utility>

struct x509_store_st;

namespace vistrelle::netlocal {

// The system's trust for verifying peers: the bundle file and the hashed
// folder that SSL_CERT_FILE and SSL_CERT_DIR name (OpenSSL's own locations
// when they are unset).  Loading the bundle parses every certificate in it,
// tens of milliseconds, so each pair of locations is loaded once per process
// and shared by every connection that verifies against it, as a platform's
// TLS stack keeps its trust store.  The folder is searched by hash as
// certificates are needed.
class SslTrustStore {
 public:
  static SslTrustStore& shared();
  ~SslTrustStore();
  SslTrustStore(const SslTrustStore&) = delete;
  SslTrustStore& operator=(const SslTrustStore&) = delete;

  // A new reference to the store for the locations named now (the caller
  // frees it), or null when none could be made.
  x509_store_st* current();

 private:
  SslTrustStore() = default;
  std::mutex mutex_;
  std::map<std::pair<std::string, std::string>, x509_store_st*> stores_;
};

}  // namespace vistrelle::netlocal
