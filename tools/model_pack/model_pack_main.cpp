// vistrelle-model-pack: makes the encrypted depth-model resource and checks it.
//
//   vistrelle-model-pack seal --key <64 hex> --model model.onnx --out model-enc.bin
//                             [--secrets depth_model_secrets.h] [--folder NAME]
//   vistrelle-model-pack check --secrets depth_model_secrets.h --in model-enc.bin
//                              --model model.onnx [--folder NAME]
//
// seal zips the model as "<folder>/model.onnx" (folder by default
// "DepthAnythingV2float16.mlmodelc"), seals the zip with AES-256-GCM under a
// nonce drawn for this pack, and prints the nonce and the tag in hex; the
// program keeps them beside the key, the tag apart from the file. --secrets
// writes the three as a C++ header for the build. check opens the resource
// with those secrets and fails unless it holds exactly the model.
#include <algorithm>
#include <cstdio>
#include <exception>
#include <initializer_list>
#include <map>
#include <string>
#include <string_view>

#include "tools/model_pack/model_packer.h"

using namespace vistrelle::tools;

namespace {

int usage() {
  std::fprintf(stderr,
               "usage: vistrelle-model-pack seal --key HEX64 --model FILE --out FILE\n"
               "                                 [--secrets HEADER] [--folder NAME]\n"
               "       vistrelle-model-pack check --secrets HEADER --in FILE --model FILE\n"
               "                                  [--folder NAME]\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return usage();
  const std::string_view command = argv[1];
  std::map<std::string, std::string> flags = {{"--folder", "DepthAnythingV2float16.mlmodelc"}};
  for (int i = 2; i < argc; i += 2) {
    if (i + 1 >= argc) return usage();
    flags[argv[i]] = argv[i + 1];
  }
  auto flag = [&](const char* name) -> const std::string& { return flags[name]; };
  auto only = [&](std::initializer_list<std::string_view> allowed) {
    for (const auto& [name, value] : flags) {
      if (std::find(allowed.begin(), allowed.end(), name) == allowed.end()) return false;
    }
    return true;
  };
  try {
    if (command == "seal") {
      if (!only({"--key", "--model", "--out", "--secrets", "--folder"}) || flag("--key").empty() ||
          flag("--model").empty() || flag("--out").empty()) {
        return usage();
      }
      const Bytes key = parseHex(flag("--key"));
      const std::string folder = flag("--folder");
      const Bytes zip =
          zipEntries({{folder + "/", {}}, {folder + "/model.onnx", readFile(flag("--model"))}});
      const SealedArchive sealed = aesGcmSealFresh(zip, key);
      writeFile(flag("--out"), sealed.ciphertext);
      const ModelSecrets secrets{flag("--key"), hexString(sealed.nonce.data(), sealed.nonce.size()),
                                 hexString(sealed.tag.data(), sealed.tag.size())};
      if (!flag("--secrets").empty()) {
        const std::string header = secretsHeader(secrets);
        writeFile(flag("--secrets"), Bytes(header.begin(), header.end()));
      }
      std::printf("nonce %s\ntag %s\n", secrets.nonce.c_str(), secrets.tag.c_str());
      return 0;
    }
    if (command == "check") {
      if (!only({"--secrets", "--in", "--model", "--folder"}) || flag("--secrets").empty() ||
          flag("--in").empty() || flag("--model").empty()) {
        return usage();
      }
      const Bytes header = readFile(flag("--secrets"));
      const ModelSecrets secrets = parseSecretsHeader(
          std::string_view(reinterpret_cast<const char*>(header.data()), header.size()));
      if (const auto problem = checkSealedModel(secrets, readFile(flag("--in")),
                                                readFile(flag("--model")), flag("--folder"))) {
        std::fprintf(stderr, "vistrelle-model-pack: %s: %s\n", flag("--in").c_str(),
                     problem->c_str());
        return 1;
      }
      return 0;
    }
  } catch (const std::exception& error) {
    std::fprintf(stderr, "vistrelle-model-pack: %s\n", error.what());
    return 1;
  }
  return usage();
}
