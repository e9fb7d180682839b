// Building blocks of the model packing tool, also used by tests to make
// their own archives: an in-memory zip writer and AES-256-GCM sealing.
//
//   auto zip = zipEntries({{"DepthAnythingV2float16.mlmodelc/", {}},
//                          {"DepthAnythingV2float16.mlmodelc/model.onnx", onnx}});
//   SealedArchive sealed = aesGcmSeal(zip, key, nonce);   // tag kept apart
//
// Errors throw std::runtime_error with the reason.
#pragma once

#include <array>
#include <cstdint>
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
};

// key 32 bytes, nonce 12 bytes.
SealedArchive aesGcmSeal(const Bytes& plain, const Bytes& key, const Bytes& nonce);

std::string hexString(const uint8_t* bytes, size_t count);
// Strict: even length, hex digits only.
Bytes parseHex(std::string_view text);

Bytes readFile(const std::string& path);
void writeFile(const std::string& path, const Bytes& bytes);

}  // namespace vistrelle::tools
