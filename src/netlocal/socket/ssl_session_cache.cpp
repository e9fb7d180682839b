#include "netlocal/socket/ssl_session_cache.h"

#include <openssl/ssl.h>

namespace vistrelle::netlocal {

SslSessionCache& SslSessionCache::shared() {
  static SslSessionCache cache;
  return cache;
}

SslSessionCache::~SslSessionCache() {
  clear();
}

void SslSessionCache::store(const std::string& peerID, SSL_SESSION* session) {
  if (!session || !SSL_SESSION_up_ref(session)) return;
  std::lock_guard lock(mutex_);
  auto [entry, inserted] = sessions_.emplace(peerID, session);
  if (!inserted) {
    SSL_SESSION_free(entry->second);
    entry->second = session;
  }
}

SSL_SESSION* SslSessionCache::lookup(const std::string& peerID) {
  std::lock_guard lock(mutex_);
  auto found = sessions_.find(peerID);
  if (found == sessions_.end() || !SSL_SESSION_up_ref(found->second)) return nullptr;
  return found->second;
}

void SslSessionCache::clear() {
  std::lock_guard lock(mutex_);
  for (auto& [id, session] : sessions_) SSL_SESSION_free(session);
  sessions_.clear();
}

}  // namespace vistrelle::netlocal
