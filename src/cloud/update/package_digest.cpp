#include "cloud/update/package_digest.h"

#include <errno.h>
#include <openssl/evp.h>
#include <unistd.h>

#include <array>
#include <memory>
#include <vector>

namespace vistrelle::cloud {

std::optional<std::string> sha256HexOfFile(int fd) {
  std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> context(EVP_MD_CTX_new(),
                                                                  &EVP_MD_CTX_free);
  if (!context || EVP_DigestInit_ex(context.get(), EVP_sha256(), nullptr) != 1) {
    return std::nullopt;
  }
  std::vector<unsigned char> buffer(size_t{1} << 20);
  off_t offset = 0;
  for (;;) {
    const ssize_t got = ::pread(fd, buffer.data(), buffer.size(), offset);
    if (got < 0) {
      if (errno == EINTR) continue;
      return std::nullopt;
    }
    if (got == 0) break;
    if (EVP_DigestUpdate(context.get(), buffer.data(), static_cast<size_t>(got)) != 1) {
      return std::nullopt;
    }
    offset += got;
  }
  std::array<unsigned char, EVP_MAX_MD_SIZE> digest{};
  unsigned int length = 0;
  if (EVP_DigestFinal_ex(context.get(), digest.data(), &length) != 1) return std::nullopt;
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string hex;
  hex.reserve(length * 2);
  for (unsigned int i = 0; i < length; ++i) {
    hex.push_back(kDigits[digest[i] >> 4]);
    hex.push_back(kDigits[digest[i] & 0x0f]);
  }
  return hex;
}

}  // namespace vistrelle::cloud
