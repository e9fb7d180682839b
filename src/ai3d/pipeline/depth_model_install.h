// Installing the carried depth model: the encrypted archive "model-enc.bin"
// is opened with AES-256-GCM, written as the plain zip, unzipped into memory
// (the zip is deleted at once) and loaded from memory, so that on every road
// neither the zip nor an unpacked model folder stays on disk, and only what
// this run authenticated and unpacked can ever be loaded.
//
//   DepthModelHolder manager;
//   bool loaded = installDepthModel(OrvexDecryptAESGCM::shared(), manager);
//
// The console texts ("解密失败:", "解密成功:" with the archive's size, "已保存到: ",
// "文件是否存在: ", ...) go to `print`, standard output by default. The install
// blocks for as long as the network takes to load and run a first pass: off
// the main thread, use DepthModelLoader.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "ai3d/pipeline/orvex_decrypt_aes_gcm.h"
#include "platform/inference/depth_network.h"

namespace vistrelle::ai3d {

class DepthModelHolder;

using Bytes = std::vector<uint8_t>;

inline constexpr const char* kDepthModelArchiveName = "DepthAnythingV2float16.mlmodelc.zip";
inline constexpr const char* kDepthModelFolderName = ".DepthModel";
inline constexpr const char* kDepthModelBundleName = "DepthAnythingV2float16.mlmodelc";
inline constexpr const char* kDepthModelFileName = "model.onnx";

// Spaces are removed; an odd count of characters or any non-hex character
// gives none.
std::optional<Bytes> dataFromHexString(std::string_view text);

// Opens ciphertext sealed with key (32 bytes) and nonce (12 bytes) under tag
// (16 bytes). None, with the reason in *error, when a length is wrong or the
// data does not authenticate.
std::optional<Bytes> aesGcmOpen(const Bytes& ciphertext, const Bytes& key, const Bytes& nonce,
                                const Bytes& tag, std::string* error);

// An unpacked model folder held in memory: paths relative to the unzip
// destination ("DepthAnythingV2float16.mlmodelc/model.onnx") to contents.
struct DepthModelFolder {
  std::map<std::string, Bytes> files;
};

// Reads the zip at zipPath, deletes it whatever the outcome, and unpacks it
// into memory. completion(false, {}) for an unreadable or corrupt zip or an
// entry named with an absolute path or "..".
void unzipDepthModel(const std::string& zipPath,
                     const std::function<void(bool, DepthModelFolder)>& completion);

struct DepthModelEnvironment {
  using LoadNetwork = std::function<std::unique_ptr<inference::DepthNetwork>(
      std::span<const uint8_t> onnx, std::string* reason)>;

  std::string resourcePath;                       // default: defaultDepthModelResourcePath()
  std::string dataFolder;                         // default: OrvexLog::orvexSpaceDirectory()
  std::function<bool()> createDataFolder;         // default: OrvexLog::createOrvexSpaceDirectories
  LoadNetwork loadNetwork;                        // default: OpenCV DNN
  std::function<void(const std::string&)> print;  // default: standard output
  std::function<void(const std::string&)> log;    // default: the text log

  // The same with every empty member given its default.
  DepthModelEnvironment withDefaults() const;
};

// $VISTRELLE_RESOURCE_DIR/model-enc.bin, else the resource built with the
// program.
std::string defaultDepthModelResourcePath();

// The whole install; answers whether a model was loaded into manager.
bool installDepthModel(const OrvexDecryptAESGCM& keys, DepthModelHolder& manager,
                       const DepthModelEnvironment& environment = {});

// Loads the model of folder into manager and then drops the folder's bytes.
// On failure manager keeps its model and false is answered.
bool loadDepthModel(DepthModelHolder& manager, DepthModelFolder& folder,
                    const DepthModelEnvironment& environment = {});

}  // namespace vistrelle::ai3d
