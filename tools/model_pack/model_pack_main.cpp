// vistrelle-model-pack: makes the encrypted depth-model resource.
//
//   vistrelle-model-pack --key <64 hex> --iv <24 hex> --model model.onnx --out model-enc.bin
//
// Zips the model as "DepthAnythingV2float16.mlmodelc/model.onnx", seals the
// zip with AES-256-GCM and prints the 16-byte tag in hex; the tag is stored
// in the program beside the key and nonce, not in the file.
#include <cstdio>
#include <exception>
#include <string>
#include <string_view>

#include "tools/model_pack/model_packer.h"

using namespace vistrelle::tools;

namespace {

int usage() {
  std::fprintf(stderr,
               "usage: vistrelle-model-pack --key HEX64 --iv HEX24 --model FILE --out FILE\n"
               "       [--folder NAME]  (default DepthAnythingV2float16.mlmodelc)\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  std::string key, iv, model, out, folder = "DepthAnythingV2float16.mlmodelc";
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string_view flag = argv[i];
    const std::string value = argv[i + 1];
    if (flag == "--key") {
      key = value;
    } else if (flag == "--iv") {
      iv = value;
    } else if (flag == "--model") {
      model = value;
    } else if (flag == "--out") {
      out = value;
    } else if (flag == "--folder") {
      folder = value;
    } else {
      return usage();
    }
  }
  if (argc % 2 == 0 || key.empty() || iv.empty() || model.empty() || out.empty()) return usage();
  try {
    const Bytes zip = zipEntries({{folder + "/", {}}, {folder + "/model.onnx", readFile(model)}});
    const SealedArchive sealed = aesGcmSeal(zip, parseHex(key), parseHex(iv));
    writeFile(out, sealed.ciphertext);
    std::printf("%s\n", hexString(sealed.tag.data(), sealed.tag.size()).c_str());
  } catch (const std::exception& error) {
    std::fprintf(stderr, "vistrelle-model-pack: %s\n", error.what());
    return 1;
  }
  return 0;
}
