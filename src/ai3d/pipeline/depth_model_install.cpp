#include "ai3d/pipeline/depth_model_install.h"

#include <algorithm>
#include <fcntl.h>
#include <openssl/evp.h>
#include <unistd.h>
#include <zip.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <system_error>

#include "ai3d/pipeline/depth_model.h"
#include "ai3d/pipeline/depth_model_holder.h"
#include "base/log/orvex_log.h"
#include "platform/inference/linux/opencv_depth_network.h"

#ifndef VISTRELLE_DEPTH_MODEL_RESOURCE
#define VISTRELLE_DEPTH_MODEL_RESOURCE "model-enc.bin"
#endif

namespace vistrelle::ai3d {
namespace {

namespace fs = std::filesystem;

// A zip whose entries claim more than this is refused before inflating.
constexpr zip_uint64_t kMaxUnpackedBytes = zip_uint64_t{1} << 30;

struct CipherContextDeleter {
  void operator()(EVP_CIPHER_CTX* context) const { EVP_CIPHER_CTX_free(context); }
};
struct ZipDeleter {
  void operator()(zip_t* archive) const { zip_discard(archive); }
};
struct ZipFileDeleter {
  void operator()(zip_file_t* file) const { zip_fclose(file); }
};

int hexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// The plain zip exists on disk only between this write and the unzip. It is
// created afresh (never through a file or link someone put there) and
// readable by this user alone.
std::optional<std::string> writePrivateFile(const std::string& path, const Bytes& bytes) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (fd < 0) return "cannot create " + path + ": " + std::strerror(errno);
  size_t written = 0;
  std::string failure;
  while (written < bytes.size()) {
    const ssize_t n = ::write(fd, bytes.data() + written, bytes.size() - written);
    if (n < 0) {
      if (errno == EINTR) continue;
      failure = "cannot write " + path + ": " + std::strerror(errno);
      break;
    }
    written += static_cast<size_t>(n);
  }
  if (::close(fd) != 0 && failure.empty()) {
    failure = "cannot write " + path + ": " + std::strerror(errno);
  }
  if (!failure.empty()) {
    ::unlink(path.c_str());
    return failure;
  }
  return std::nullopt;
}

// Entry names must stay inside the destination.
bool isSafeEntryName(const std::string& name) {
  if (name.empty() || name.front() == '/' || name.find('\\') != std::string::npos ||
      name.find('\0') != std::string::npos) {
    return false;
  }
  size_t start = 0;
  while (start <= name.size()) {
    const size_t end = std::min(name.find('/', start), name.size());
    if (name.compare(start, end - start, "..") == 0 && end - start == 2) return false;
    start = end + 1;
  }
  return true;
}

std::optional<Bytes> readWhole(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  Bytes bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (in.bad()) return std::nullopt;
  return bytes;
}

std::string modelEntry() {
  return std::string(kDepthModelBundleName) + "/" + kDepthModelFileName;
}

// Leftovers of an earlier run (or one that crashed) must never be loaded.
void removeLeftovers(const DepthModelEnvironment& env) {
  std::error_code error;
  for (const fs::path& path : {fs::path(env.dataFolder) / kDepthModelArchiveName,
                               fs::path(env.dataFolder) / kDepthModelFolderName}) {
    if (fs::remove_all(path, error) == static_cast<std::uintmax_t>(-1) || error) {
      env.log("cannot remove " + path.string() + ": " + error.message());
    }
  }
}

}  // namespace

std::optional<Bytes> dataFromHexString(std::string_view text) {
  std::string digits;
  digits.reserve(text.size());
  for (char c : text) {
    if (c != ' ') digits += c;
  }
  if (digits.size() % 2 != 0) return std::nullopt;
  Bytes bytes;
  bytes.reserve(digits.size() / 2);
  for (size_t i = 0; i < digits.size(); i += 2) {
    const int high = hexValue(digits[i]);
    const int low = hexValue(digits[i + 1]);
    if (high < 0 || low < 0) return std::nullopt;
    bytes.push_back(static_cast<uint8_t>(high * 16 + low));
  }
  return bytes;
}

std::optional<Bytes> aesGcmOpen(const Bytes& ciphertext, const Bytes& key, const Bytes& nonce,
                                const Bytes& tag, std::string* error) {
  auto fail = [&](const char* why) -> std::optional<Bytes> {
    if (error) *error = why;
    return std::nullopt;
  };
  if (key.size() != 32) return fail("key must be 32 bytes");
  if (nonce.size() != 12) return fail("nonce must be 12 bytes");
  if (tag.size() != 16) return fail("tag must be 16 bytes");
  std::unique_ptr<EVP_CIPHER_CTX, CipherContextDeleter> context(EVP_CIPHER_CTX_new());
  if (!context) return fail("cannot create cipher context");
  Bytes plain(ciphertext.size());
  int length = 0;
  if (EVP_DecryptInit_ex(context.get(), EVP_aes_256_gcm(), nullptr, nullptr, nullptr) != 1 ||
      EVP_CIPHER_CTX_ctrl(context.get(), EVP_CTRL_GCM_SET_IVLEN, 12, nullptr) != 1 ||
      EVP_DecryptInit_ex(context.get(), nullptr, nullptr, key.data(), nonce.data()) != 1 ||
      EVP_DecryptUpdate(context.get(), plain.data(), &length, ciphertext.data(),
                        static_cast<int>(ciphertext.size())) != 1) {
    return fail("decryption failed");
  }
  const int total = length;
  // The tag must be in place before the final step checks it.
  if (EVP_CIPHER_CTX_ctrl(context.get(), EVP_CTRL_GCM_SET_TAG, 16,
                          const_cast<uint8_t*>(tag.data())) != 1 ||
      EVP_DecryptFinal_ex(context.get(), plain.data() + total, &length) != 1) {
    return fail("authentication failed");
  }
  plain.resize(static_cast<size_t>(total + length));
  return plain;
}

void unzipDepthModel(const std::string& zipPath,
                     const std::function<void(bool, DepthModelFolder)>& completion) {
  std::optional<Bytes> zipBytes = readWhole(zipPath);
  std::error_code removeError;
  fs::remove(zipPath, removeError);
  if (!zipBytes || removeError) {
    completion(false, {});
    return;
  }
  zip_error_t error;
  zip_error_init(&error);
  zip_source_t* source = zip_source_buffer_create(zipBytes->data(), zipBytes->size(), 0, &error);
  if (source == nullptr) {
    zip_error_fini(&error);
    completion(false, {});
    return;
  }
  std::unique_ptr<zip_t, ZipDeleter> archive(
      zip_open_from_source(source, ZIP_RDONLY | ZIP_CHECKCONS, &error));
  zip_error_fini(&error);
  if (!archive) {
    zip_source_free(source);
    completion(false, {});
    return;
  }
  const zip_int64_t count = zip_get_num_entries(archive.get(), 0);
  DepthModelFolder folder;
  zip_uint64_t unpacked = 0;
  for (zip_int64_t index = 0; index < count; ++index) {
    zip_stat_t stat;
    zip_stat_init(&stat);
    if (zip_stat_index(archive.get(), static_cast<zip_uint64_t>(index), 0, &stat) != 0 ||
        (stat.valid & ZIP_STAT_NAME) == 0 || (stat.valid & ZIP_STAT_SIZE) == 0) {
      completion(false, {});
      return;
    }
    const std::string name = stat.name;
    if (!isSafeEntryName(name)) {
      completion(false, {});
      return;
    }
    if (name.back() == '/') continue;  // folders exist implicitly
    unpacked += stat.size;
    if (unpacked > kMaxUnpackedBytes) {
      completion(false, {});
      return;
    }
    std::unique_ptr<zip_file_t, ZipFileDeleter> file(
        zip_fopen_index(archive.get(), static_cast<zip_uint64_t>(index), 0));
    // The entry's size is only what the archive claims: grow the buffer as
    // bytes really come, so a small archive claiming a huge entry costs no
    // more memory than it can inflate to.
    Bytes contents;
    bool complete = file != nullptr;
    while (complete && contents.size() < stat.size) {
      const size_t chunk =
          static_cast<size_t>(std::min<zip_uint64_t>(stat.size - contents.size(), 1 << 20));
      const size_t at = contents.size();
      contents.resize(at + chunk);
      const zip_int64_t n = zip_fread(file.get(), contents.data() + at, chunk);
      if (n <= 0) complete = false;
      contents.resize(at + static_cast<size_t>(std::max<zip_int64_t>(n, 0)));
    }
    if (!complete || contents.size() != stat.size) {
      completion(false, {});
      return;
    }
    folder.files[name] = std::move(contents);
  }
  completion(true, std::move(folder));
}

DepthModelEnvironment DepthModelEnvironment::withDefaults() const {
  DepthModelEnvironment env = *this;
  if (env.resourcePath.empty()) env.resourcePath = defaultDepthModelResourcePath();
  if (env.dataFolder.empty()) env.dataFolder = OrvexLog::orvexSpaceDirectory();
  if (!env.createDataFolder)
    env.createDataFolder = [] { return OrvexLog::createOrvexSpaceDirectories(); };
  if (!env.log) env.log = [](const std::string& line) { OrvexLog::logMessage(line); };
  if (!env.loadNetwork) {
    env.loadNetwork = [](std::span<const uint8_t> onnx, std::string* reason) {
      return inference::OpenCvDepthNetwork::load(
          onnx, [](std::string_view line) { OrvexLog::logMessage(line); }, reason);
    };
  }
  if (!env.print) {
    env.print = [](const std::string& line) { std::cout << line << std::endl; };
  }
  return env;
}

std::string defaultDepthModelResourcePath() {
  if (const char* dir = std::getenv("VISTRELLE_RESOURCE_DIR"); dir != nullptr && *dir != '\0') {
    return std::string(dir) + "/model-enc.bin";
  }
  return VISTRELLE_DEPTH_MODEL_RESOURCE;
}

bool loadDepthModel(DepthModelHolder& manager, DepthModelFolder& folder,
                    const DepthModelEnvironment& environment) {
  const DepthModelEnvironment env = environment.withDefaults();
  const auto entry = folder.files.find(modelEntry());
  const bool exists = entry != folder.files.end();
  env.print(std::string("文件是否存在: ") + (exists ? "true" : "false"));
  if (!exists) return false;
  std::string reason;
  std::unique_ptr<inference::DepthNetwork> network = env.loadNetwork(entry->second, &reason);
  // The plain model lives only for the moment of loading.
  folder.files.clear();
  if (!network) {
    env.log("depth model load failed: " + reason);
    return false;
  }
  manager.setModel(std::make_shared<DepthModel>(std::move(network), env.log));
  return true;
}

bool installDepthModel(const OrvexDecryptAESGCM& keys, DepthModelHolder& manager,
                       const DepthModelEnvironment& environment) {
  const DepthModelEnvironment env = environment.withDefaults();
  removeLeftovers(env);
  DepthModelFolder nothing;

  const std::optional<Bytes> key = dataFromHexString(keys.aes_gcm_key);
  const std::optional<Bytes> nonce = dataFromHexString(keys.aes_gcm_iv);
  const std::optional<Bytes> tag = dataFromHexString(keys.aes_gcm_tag);

  const std::optional<Bytes> sealed = readWhole(env.resourcePath);
  if (!sealed) {
    env.log("depth model resource unreadable: " + env.resourcePath);
    return loadDepthModel(manager, nothing, env);
  }

  std::string error;
  std::optional<Bytes> plain;
  if (!key || !nonce || !tag) {
    error = "key, nonce or tag is not hex text";
  } else {
    plain = aesGcmOpen(*sealed, *key, *nonce, *tag, &error);
  }
  if (!plain) {
    env.print("解密失败:" + error);
    return loadDepthModel(manager, nothing, env);
  }
  // The size only: the plain archive is the model itself.
  env.print("解密成功:" + std::to_string(plain->size()) + " 字节");

  env.createDataFolder();
  const std::string archivePath = env.dataFolder + "/" + kDepthModelArchiveName;
  if (const std::optional<std::string> failure = writePrivateFile(archivePath, *plain)) {
    env.print("保存失败: " + *failure);
    return loadDepthModel(manager, nothing, env);
  }
  env.print("已保存到: " + archivePath);

  bool loaded = false;
  unzipDepthModel(archivePath, [&](bool, DepthModelFolder folder) {
    loaded = loadDepthModel(manager, folder, env);
  });
  return loaded;
}

}  // namespace vistrelle::ai3d
