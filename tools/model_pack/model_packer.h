// Building blocks of the model packing tool, also used by tests to make
// their own archives: an in-memory zip writer, AES-256-GCM sealing under a
// fresh random nonce, the secrets header the program is built with, and the
// check that opens a sealed resource again.
//
//   auto zip = zipEntries({{"DepthAnythingV2float16.mlmodelc/", {}},
//                          {"DepthAnythingV2float16.mlmodelc/model.onnx", onnx}});
//   SealedArchive sealed = aesGcmSealFresh(zip, key);   // new nonce; tag kept apart
//   writeFile("secrets.h", secretsHeader({key, sealed.nonce, sealed.tag}));
//
// A nonce must never seal two plaintexts under one key (GCM would leak their
// XOR and allow forgeries): every pack draws its own. Errors throw
// std::runtime_error with the reason.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vistrelle::tools {

using Bytes = std::vector<uint8_t>;

// A name ending in '/' is a folder entry (its bytes are ignored). Names are
// written as given, so tests can write hostile ones.
struct ZipEntry {
  std::string name;
  Bytes bytes;
};

// Deterministic: every entry carries the same fixed time stamp.
Bytes zipEntries(const std::vector<ZipEntry>& entries);

struct SealedArchive {
  Bytes ciphertext;
  std::array<uint8_t, 16> tag{};
  Bytes nonce;  // the 12 bytes it was sealed under
};

// key 32 bytes, nonce 12 bytes. Only for tests that need fixed bytes: a
// real pack uses aesGcmSealFresh.
SealedArchive aesGcmSeal(const Bytes& plain, const Bytes& key, const Bytes& nonce);
// Seals under a nonce drawn from the system's random source.
SealedArchive aesGcmSealFresh(const Bytes& plain, const Bytes& key);
// None when the bytes do not authenticate under key, nonce and tag.
std::optional<Bytes> aesGcmOpenSealed(const Bytes& ciphertext, const Bytes& key, const Bytes& nonce,
                                      const Bytes& tag);

// The three secrets as hex text.
struct ModelSecrets {
  std::string key;
  std::string nonce;
  std::string tag;
};
// A C++ header defining VISTRELLE_DEPTH_MODEL_KEY, _NONCE and _TAG.
std::string secretsHeader(const ModelSecrets& secrets);
// Reads such a header back; throws when a value is missing.
ModelSecrets parseSecretsHeader(std::string_view text);

// Opens sealed with the secrets and checks that its zip holds the folder
// entry and exactly model as "<folder>/model.onnx": the reason when it does
// not, none when it does.
std::optional<std::string> checkSealedModel(const ModelSecrets& secrets, const Bytes& sealed,
                                            const Bytes& model, const std::string& folder);

std::string hexString(const uint8_t* bytes, size_t count);
// Strict: even length, hex digits only.
Bytes parseHex(std::string_view text);

Bytes readFile(const std::string& path);
void writeFile(const std::string& path, const Bytes& bytes);

}  // namespace vistrelle::tools
