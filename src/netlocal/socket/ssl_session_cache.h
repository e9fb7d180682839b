#pragma once

#include <map>
#include <mutex>
#include <string>

struct ssl_session_st;

namespace vistrelle::netlocal {

// Client sessions kept for resumption, keyed by the caller's peer id: the
// process-wide cache a platform TLS stack keeps on its own.
class SslSessionCache {
 public:
  static SslSessionCache& shared();
  ~SslSessionCache();

  // Takes a reference of its own.
  void store(const std::string& peerID, ssl_session_st* session);
  // A new reference, or null.
  ssl_session_st* lookup(const std::string& peerID);
  void clear();

 private:
  SslSessionCache() = default;
  std::mutex mutex_;
  std::map<std::string, ssl_session_st*> sessions_;
};

}  // namespace vistrelle::netlocal
