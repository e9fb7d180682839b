#pragma once

#include <openssl/types.h>

#include <array>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "base/helpers/des_crypt_error.h"

namespace vistrelle::base {

// DES in CBC mode with PKCS#7 padding, the 8 key bytes also serving as the
// initialisation vector.  DES lives in OpenSSL's legacy provider, which is
// loaded into a library context of this object's own so that the rest of the
// process keeps OpenSSL's default algorithm set.
class DesCbcCipher {
 public:
  static constexpr std::size_t kKeySize = 8;

  // Throws std::invalid_argument for a key that is not exactly 8 bytes, and
  // std::runtime_error when the legacy provider cannot be loaded.
  explicit DesCbcCipher(std::string_view key);

  std::vector<std::uint8_t> encrypt(std::span<const std::uint8_t> plaintext) const;

  // Throws DesCryptError for a ciphertext that is not whole blocks or whose
  // padding is bad.
  std::vector<std::uint8_t> decrypt(std::span<const std::uint8_t> ciphertext) const;

 private:
  struct LibraryContextDeleter {
    void operator()(OSSL_LIB_CTX* context) const;
  };
  struct ProviderDeleter {
    void operator()(OSSL_PROVIDER* provider) const;
  };
  struct CipherDeleter {
    void operator()(EVP_CIPHER* cipher) const;
  };

  std::vector<std::uint8_t> run(std::span<const std::uint8_t> input, bool encrypting) const;

  // Declared in release order: the cipher before its provider, the provider
  // before its context.
  std::unique_ptr<OSSL_LIB_CTX, LibraryContextDeleter> context_;
  std::unique_ptr<OSSL_PROVIDER, ProviderDeleter> provider_;
  std::unique_ptr<EVP_CIPHER, CipherDeleter> cipher_;
  std::array<std::uint8_t, kKeySize> key_{};
};

enum class CipherOperation { Encrypt, Decrypt };

// Encrypt: the text's UTF-8 bytes -> Base64 of the ciphertext.  Decrypt:
// Base64 ciphertext -> the UTF-8 plaintext.  Throws as DesCbcCipher does, and
// DesCryptError for a ciphertext text that is not canonical Base64 or a
// plaintext that is not UTF-8.
std::string desCrypt(std::string_view text, std::string_view key, CipherOperation operation);

}  // namespace vistrelle::base
