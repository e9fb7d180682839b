#include "netlocal/socket/ssl_trust_store.h"

#include <openssl/err.h>
#include <openssl/x509.h>

#include <cstdlib>

namespace vistrelle::netlocal {

namespace {

std::string location(const char* variable, const char* fallback) {
  const char* named = std::getenv(variable);
  return named ? named : fallback;
}

}  // namespace

SslTrustStore& SslTrustStore::shared() {
  static SslTrustStore store;
  return store;
}

SslTrustStore::~SslTrustStore() {
  for (auto& [locations, store] : stores_) X509_STORE_free(store);
}

X509_STORE* SslTrustStore::current() {
  const std::string file = location(X509_get_default_cert_file_env(), X509_get_default_cert_file());
  const std::string dir = location(X509_get_default_cert_dir_env(), X509_get_default_cert_dir());
  std::lock_guard lock(mutex_);
  X509_STORE*& store = stores_[{file, dir}];
  if (!store) {
    store = X509_STORE_new();
    if (!store) {
      stores_.erase({file, dir});
      return nullptr;
    }
    // Either may be missing: a system may have only one of them.
    X509_STORE_load_file(store, file.c_str());
    X509_STORE_load_path(store, dir.c_str());
    ERR_clear_error();
  }
  X509_STORE_up_ref(store);
  return store;
}

}  // namespace vistrelle::netlocal
