#include "tools/model_pack/model_packer.h"

#include <openssl/evp.h>
#include <openssl/rand.h>
#include <zip.h>

#include <ctime>
#include <fstream>
#include <iterator>
#include <memory>
#include <stdexcept>

namespace vistrelle::tools {
namespace {

struct CipherContextDeleter {
  void operator()(EVP_CIPHER_CTX* context) const { EVP_CIPHER_CTX_free(context); }
};
struct ZipSourceDeleter {
  void operator()(zip_source_t* source) const { zip_source_free(source); }
};

[[noreturn]] void fail(const std::string& what) {
  throw std::runtime_error(what);
}

std::string zipError(zip_error_t* error) {
  std::string text = zip_error_strerror(error);
  zip_error_fini(error);
  return text;
}

int hexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

Bytes zipEntries(const std::vector<ZipEntry>& entries) {
  zip_error_t error;
  zip_error_init(&error);
  std::unique_ptr<zip_source_t, ZipSourceDeleter> buffer(
      zip_source_buffer_create(nullptr, 0, 0, &error));
  if (!buffer) fail("zip buffer: " + zipError(&error));
  zip_t* archive = zip_open_from_source(buffer.get(), ZIP_TRUNCATE, &error);
  if (archive == nullptr) fail("zip open: " + zipError(&error));
  zip_source_keep(buffer.get());  // the archive's close must leave us the bytes

  // 2024-01-01 00:00 UTC, so the same model packs to the same bytes.
  constexpr time_t kStamp = 1704067200;
  for (const ZipEntry& entry : entries) {
    zip_int64_t index = -1;
    if (!entry.name.empty() && entry.name.back() == '/') {
      index = zip_dir_add(archive, entry.name.c_str(), ZIP_FL_ENC_UTF_8);
    } else {
      zip_source_t* data = zip_source_buffer(archive, entry.bytes.data(), entry.bytes.size(), 0);
      if (data == nullptr) fail("zip entry source: " + std::string(zip_strerror(archive)));
      index = zip_file_add(archive, entry.name.c_str(), data, ZIP_FL_ENC_UTF_8 | ZIP_FL_OVERWRITE);
      if (index < 0) zip_source_free(data);
    }
    if (index < 0) {
      const std::string why = zip_strerror(archive);
      zip_discard(archive);
      fail("zip add " + entry.name + ": " + why);
    }
    zip_file_set_mtime(archive, static_cast<zip_uint64_t>(index), kStamp, 0);
  }
  if (zip_close(archive) != 0) {
    const std::string why = zip_strerror(archive);
    zip_discard(archive);
    fail("zip close: " + why);
  }

  zip_stat_t stat;
  zip_stat_init(&stat);
  if (zip_source_stat(buffer.get(), &stat) != 0 || zip_source_open(buffer.get()) != 0) {
    fail("zip read back");
  }
  Bytes bytes(static_cast<size_t>(stat.size));
  const zip_int64_t read = zip_source_read(buffer.get(), bytes.data(), bytes.size());
  zip_source_close(buffer.get());
  if (read < 0 || static_cast<size_t>(read) != bytes.size()) fail("zip read back");
  return bytes;
}

SealedArchive aesGcmSeal(const Bytes& plain, const Bytes& key, const Bytes& nonce) {
  if (key.size() != 32) fail("key must be 32 bytes");
  if (nonce.size() != 12) fail("nonce must be 12 bytes");
  std::unique_ptr<EVP_CIPHER_CTX, CipherContextDeleter> context(EVP_CIPHER_CTX_new());
  if (!context) fail("cipher context");
  SealedArchive sealed;
  sealed.ciphertext.resize(plain.size());
  int length = 0;
  int total = 0;
  if (EVP_EncryptInit_ex(context.get(), EVP_aes_256_gcm(), nullptr, nullptr, nullptr) != 1 ||
      EVP_CIPHER_CTX_ctrl(context.get(), EVP_CTRL_GCM_SET_IVLEN, 12, nullptr) != 1 ||
      EVP_EncryptInit_ex(context.get(), nullptr, nullptr, key.data(), nonce.data()) != 1 ||
      EVP_EncryptUpdate(context.get(), sealed.ciphertext.data(), &length, plain.data(),
                        static_cast<int>(plain.size())) != 1) {
    fail("encrypt");
  }
  total = length;
  if (EVP_EncryptFinal_ex(context.get(), sealed.ciphertext.data() + total, &length) != 1 ||
      EVP_CIPHER_CTX_ctrl(context.get(), EVP_CTRL_GCM_GET_TAG, 16, sealed.tag.data()) != 1) {
    fail("encrypt final");
  }
  sealed.ciphertext.resize(static_cast<size_t>(total + length));
  sealed.nonce = nonce;
  return sealed;
}

SealedArchive aesGcmSealFresh(const Bytes& plain, const Bytes& key) {
  Bytes nonce(12);
  if (RAND_bytes(nonce.data(), static_cast<int>(nonce.size())) != 1) {
    fail("no random nonce from the system");
  }
  return aesGcmSeal(plain, key, nonce);
}

std::optional<Bytes> aesGcmOpenSealed(const Bytes& ciphertext, const Bytes& key, const Bytes& nonce,
                                      const Bytes& tag) {
  if (key.size() != 32 || nonce.size() != 12 || tag.size() != 16) return std::nullopt;
  std::unique_ptr<EVP_CIPHER_CTX, CipherContextDeleter> context(EVP_CIPHER_CTX_new());
  if (!context) return std::nullopt;
  Bytes plain(ciphertext.size());
  int length = 0;
  if (EVP_DecryptInit_ex(context.get(), EVP_aes_256_gcm(), nullptr, nullptr, nullptr) != 1 ||
      EVP_CIPHER_CTX_ctrl(context.get(), EVP_CTRL_GCM_SET_IVLEN, 12, nullptr) != 1 ||
      EVP_DecryptInit_ex(context.get(), nullptr, nullptr, key.data(), nonce.data()) != 1 ||
      EVP_DecryptUpdate(context.get(), plain.data(), &length, ciphertext.data(),
                        static_cast<int>(ciphertext.size())) != 1) {
    return std::nullopt;
  }
  const int total = length;
  if (EVP_CIPHER_CTX_ctrl(context.get(), EVP_CTRL_GCM_SET_TAG, 16,
                          const_cast<uint8_t*>(tag.data())) != 1 ||
      EVP_DecryptFinal_ex(context.get(), plain.data() + total, &length) != 1) {
    return std::nullopt;
  }
  plain.resize(static_cast<size_t>(total + length));
  return plain;
}

namespace {

constexpr const char* kSecretNames[3] = {"VISTRELLE_DEPTH_MODEL_KEY", "VISTRELLE_DEPTH_MODEL_NONCE",
                                         "VISTRELLE_DEPTH_MODEL_TAG"};

struct ZipDeleter {
  void operator()(zip_t* archive) const { zip_discard(archive); }
};
struct ZipFileDeleter {
  void operator()(zip_file_t* file) const { zip_fclose(file); }
};

}  // namespace

std::string secretsHeader(const ModelSecrets& secrets) {
  const std::string* values[3] = {&secrets.key, &secrets.nonce, &secrets.tag};
  std::string text =
      "// Written by vistrelle-model-pack: the secrets that open the packed depth-model\n"
      "// resource. Every pack draws a new nonce, so this file changes with it.\n"
      "#pragma once\n";
  for (int i = 0; i < 3; ++i) {
    text += std::string("#define ") + kSecretNames[i] + " \"" + *values[i] + "\"\n";
  }
  return text;
}

ModelSecrets parseSecretsHeader(std::string_view text) {
  std::string found[3];
  for (int i = 0; i < 3; ++i) {
    const std::string prefix = std::string("#define ") + kSecretNames[i] + " \"";
    const size_t at = text.find(prefix);
    if (at == std::string_view::npos) fail(std::string("no ") + kSecretNames[i]);
    const size_t begin = at + prefix.size();
    const size_t end = text.find('"', begin);
    if (end == std::string_view::npos) fail(std::string("unterminated ") + kSecretNames[i]);
    found[i] = std::string(text.substr(begin, end - begin));
  }
  return {found[0], found[1], found[2]};
}

std::optional<std::string> checkSealedModel(const ModelSecrets& secrets, const Bytes& sealed,
                                            const Bytes& model, const std::string& folder) {
  const std::optional<Bytes> zip = aesGcmOpenSealed(sealed, parseHex(secrets.key),
                                                    parseHex(secrets.nonce), parseHex(secrets.tag));
  if (!zip) return "the resource does not open with the secrets";
  zip_error_t error;
  zip_error_init(&error);
  zip_source_t* source = zip_source_buffer_create(zip->data(), zip->size(), 0, &error);
  if (source == nullptr) return "zip source: " + zipError(&error);
  std::unique_ptr<zip_t, ZipDeleter> archive(
      zip_open_from_source(source, ZIP_RDONLY | ZIP_CHECKCONS, &error));
  if (!archive) {
    zip_source_free(source);
    return "not a zip: " + zipError(&error);
  }
  zip_error_fini(&error);
  const std::string entry = folder + "/model.onnx";
  if (zip_get_num_entries(archive.get(), 0) != 2 ||
      zip_name_locate(archive.get(), (folder + "/").c_str(), 0) < 0) {
    return "the zip holds other entries than " + folder + "/ and " + entry;
  }
  zip_stat_t stat;
  zip_stat_init(&stat);
  if (zip_stat(archive.get(), entry.c_str(), 0, &stat) != 0 || (stat.valid & ZIP_STAT_SIZE) == 0) {
    return "no " + entry + " in the zip";
  }
  Bytes unpacked(static_cast<size_t>(stat.size));
  std::unique_ptr<zip_file_t, ZipFileDeleter> file(zip_fopen(archive.get(), entry.c_str(), 0));
  if (!file || zip_fread(file.get(), unpacked.data(), unpacked.size()) !=
                   static_cast<zip_int64_t>(unpacked.size())) {
    return "cannot read " + entry;
  }
  if (unpacked != model) return entry + " is not the model that was packed";
  return std::nullopt;
}

std::string hexString(const uint8_t* bytes, size_t count) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string text;
  text.reserve(count * 2);
  for (size_t i = 0; i < count; ++i) {
    text += kDigits[bytes[i] >> 4];
    text += kDigits[bytes[i] & 15];
  }
  return text;
}

Bytes parseHex(std::string_view text) {
  if (text.size() % 2 != 0) fail("hex text of odd length");
  Bytes bytes;
  for (size_t i = 0; i < text.size(); i += 2) {
    const int high = hexValue(text[i]);
    const int low = hexValue(text[i + 1]);
    if (high < 0 || low < 0) fail("not a hex digit in \"" + std::string(text) + "\"");
    bytes.push_back(static_cast<uint8_t>(high * 16 + low));
  }
  return bytes;
}

Bytes readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) fail("cannot open " + path);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void writeFile(const std::string& path, const Bytes& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  if (!out) fail("cannot create " + path);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
  if (!out) fail("cannot write " + path);
}

}  // namespace vistrelle::tools
