// OrvexDecryptAESGCM: the secrets that open the carried depth-model archive,
// each as hexadecimal text: a 32-byte AES-256 key, the 12-byte GCM nonce and
// the 16-byte authentication tag (kept apart from the ciphertext).
#pragma once

#include <string>

namespace vistrelle::ai3d {

struct OrvexDecryptAESGCM {
  std::string aes_gcm_key;  // 64 hex digits
  std::string aes_gcm_iv;   // 24 hex digits
  std::string aes_gcm_tag;  // 32 hex digits

  // The values the build sealed the "model-enc.bin" resource with: the
  // model of resources/depth_model under the program's key and a nonce
  // drawn for that pack.
  static const OrvexDecryptAESGCM& shared();
};

}  // namespace vistrelle::ai3d
