// Fuzz target: the depth-model archive road past decryption, fed the bytes of
// the decrypted zip.  Unpacking never lets a name out of its folder and never
// leaves the zip behind; the whole install (sealed here with keys of the
// target's own, in a scratch folder, with a stand-in network loader) hands
// the loader exactly the model entry that unpacking finds, and leaves neither
// the zip nor a model folder on disk.
// Input: the zip.
// Links: vistrelle_ai3d_pipeline vistrelle_model_pack

#include <filesystem>
#include <string>

#include "ai3d/pipeline/depth_model_holder.h"
#include "ai3d/pipeline/depth_model_install.h"
#include "fuzz/fuzz_support.h"
#include "tools/model_pack/model_packer.h"

using namespace vistrelle::ai3d;
namespace fs = std::filesystem;

namespace {

const std::string kModelEntry = std::string(kDepthModelBundleName) + "/" + kDepthModelFileName;

bool staysInside(const std::string& name) {
  if (name.empty() || name.front() == '/' || name.back() == '/') return false;
  for (const fs::path& part : fs::path(name)) {
    if (part == ".." || part.empty()) return false;
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const Bytes zip(data, data + size);
  const fs::path folder = fs::path(vistrelle::fuzz::scratchFolder()) / "depth-model";
  fs::remove_all(folder);
  fs::create_directories(folder);

  // Unpacking alone.
  const std::string zipPath = (folder / "archive.zip").string();
  vistrelle::tools::writeFile(zipPath, zip);
  int completions = 0;
  bool unpacked = false;
  std::optional<Bytes> modelBytes;
  unzipDepthModel(zipPath, [&](bool ok, DepthModelFolder unpackedFolder) {
    ++completions;
    unpacked = ok;
    FUZZ_CHECK(ok || unpackedFolder.files.empty());
    for (const auto& [name, contents] : unpackedFolder.files) FUZZ_CHECK(staysInside(name));
    if (const auto entry = unpackedFolder.files.find(kModelEntry);
        entry != unpackedFolder.files.end()) {
      modelBytes = entry->second;
    }
  });
  FUZZ_CHECK(completions == 1);
  FUZZ_CHECK(!fs::exists(zipPath));

  // The whole road.
  const fs::path dataFolder = folder / "Documents" / ".OrvexSpace";
  const std::string key = "000102030405060708090a0b0c0d0e0f101112131415161718191a1b1c1d1e1f";
  const std::string nonce = "a0a1a2a3a4a5a6a7a8a9aaab";
  const auto sealed = vistrelle::tools::aesGcmSeal(zip, vistrelle::tools::parseHex(key),
                                                   vistrelle::tools::parseHex(nonce));
  vistrelle::tools::writeFile((folder / "model-enc.bin").string(), sealed.ciphertext);
  const OrvexDecryptAESGCM keys{key, nonce,
                                vistrelle::tools::hexString(sealed.tag.data(), sealed.tag.size())};
  DepthModelEnvironment env;
  env.resourcePath = (folder / "model-enc.bin").string();
  env.dataFolder = dataFolder.string();
  env.createDataFolder = [&] {
    return fs::create_directories(dataFolder) || fs::exists(dataFolder);
  };
  env.print = [](const std::string&) {};
  env.log = [](const std::string&) {};
  std::optional<Bytes> loaded;
  env.loadNetwork =
      [&](std::span<const uint8_t> onnx,
          std::string* reason) -> std::unique_ptr<vistrelle::inference::DepthNetwork> {
    FUZZ_CHECK(!loaded);
    loaded.emplace(onnx.begin(), onnx.end());
    *reason = "stand-in loader";
    return nullptr;
  };
  DepthModelHolder manager;
  FUZZ_CHECK(!installDepthModel(keys, manager, env));
  FUZZ_CHECK(loaded == (unpacked ? modelBytes : std::nullopt));
  FUZZ_CHECK(!fs::exists(dataFolder / kDepthModelArchiveName));
  FUZZ_CHECK(!fs::exists(dataFolder / kDepthModelFolderName));
  return 0;
}
