#pragma once

#include <string>
#include <vector>

#include "netlocal/socket/socket_data.h"

namespace vistrelle::netlocal {

// The peer's certificate chain as the handshake saw it, handed to a delegate
// that evaluates trust itself.
class SecTrust {
 public:
  SecTrust(std::vector<Bytes> certificates, long verifyResult, std::string peerName);

  // DER certificates, the peer's own first.
  const std::vector<Bytes>& certificates() const { return certificates_; }
  // OpenSSL's own verdict on the chain (X509_V_OK when it would have passed).
  long verifyResult() const { return verifyResult_; }
  std::string verifyResultText() const;
  // Subject of the peer's certificate, one line.
  std::string subject() const;
  const std::string& peerName() const { return peerName_; }

 private:
  std::vector<Bytes> certificates_;
  long verifyResult_;
  std::string peerName_;
};

}  // namespace vistrelle::netlocal
