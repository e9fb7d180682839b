#include "ai3d/pipeline/orvex_decrypt_aes_gcm.h"

// Written by the build's packing step, which draws a new nonce for every pack.
#include "ai3d/pipeline/depth_model_secrets.h"

namespace vistrelle::ai3d {

const OrvexDecryptAESGCM& OrvexDecryptAESGCM::shared() {
  static const OrvexDecryptAESGCM keys{
      VISTRELLE_DEPTH_MODEL_KEY,
      VISTRELLE_DEPTH_MODEL_NONCE,
      VISTRELLE_DEPTH_MODEL_TAG,
  };
  return keys;
}

}  // namespace vistrelle::ai3d
