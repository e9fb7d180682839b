#include "ai3d/pipeline/orvex_decrypt_aes_gcm.h"

namespace vistrelle::ai3d {

const OrvexDecryptAESGCM& OrvexDecryptAESGCM::shared() {
  // Re-packing resources/depth_model/model.onnx with this key and nonce gives
  // the same archive and this tag (the zip is written deterministically).
  static const OrvexDecryptAESGCM keys{
      "593f486e219be7a495081399d835e7b0ceba7d4362c33abbc43a1350ac205b6e",
      "f2881e6d5ed0d86f1a402fe1",
      "1e9d137bd6284513ea64711ce3c8641d",
  };
  return keys;
}

}  // namespace vistrelle::ai3d
