#include "netlocal/socket/sec_trust.h"

#include <openssl/x509.h>
#include <openssl/x509_vfy.h>

#include <memory>

namespace vistrelle::netlocal {

SecTrust::SecTrust(std::vector<Bytes> certificates, long verifyResult, std::string peerName)
    : certificates_(std::move(certificates)),
      verifyResult_(verifyResult),
      peerName_(std::move(peerName)) {}

std::string SecTrust::verifyResultText() const {
  return X509_verify_cert_error_string(verifyResult_);
}

std::string SecTrust::subject() const {
  if (certificates_.empty()) return {};
  const unsigned char* der = certificates_.front().data();
  std::unique_ptr<X509, decltype(&X509_free)> certificate(
      d2i_X509(nullptr, &der, static_cast<long>(certificates_.front().size())), &X509_free);
  if (!certificate) return {};
  char line[512] = {};
  X509_NAME_oneline(X509_get_subject_name(certificate.get()), line, sizeof line);
  return line;
}

}  // namespace vistrelle::netlocal
