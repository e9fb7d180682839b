#include "base/helpers/des_cbc_cipher.h"

#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/provider.h>

#include <algorithm>

#include "base/helpers/base64_addition.h"
#include "base/helpers/mf_base64_codec.h"
#include "base/helpers/utf8.h"

namespace vistrelle::base {

namespace {

struct CipherContextDeleter {
  void operator()(EVP_CIPHER_CTX* context) const { EVP_CIPHER_CTX_free(context); }
};

// OpenSSL's most recent error, taken off its per-thread queue.
std::string openSslError(std::string_view what) {
  const unsigned long code = ERR_get_error();
  ERR_clear_error();
  std::string text(what);
  if (code != 0) {
    char reason[256];
    ERR_error_string_n(code, reason, sizeof(reason));
    text += ": ";
    text += reason;
  }
  return text;
}

}  // namespace

void DesCbcCipher::LibraryContextDeleter::operator()(OSSL_LIB_CTX* context) const {
  OSSL_LIB_CTX_free(context);
}

void DesCbcCipher::ProviderDeleter::operator()(OSSL_PROVIDER* provider) const {
  OSSL_PROVIDER_unload(provider);
}

void DesCbcCipher::CipherDeleter::operator()(EVP_CIPHER* cipher) const {
  EVP_CIPHER_free(cipher);
}

DesCbcCipher::DesCbcCipher(std::string_view key) {
  if (key.size() != kKeySize) {
    throw std::invalid_argument("a DES key has 8 bytes, not " + std::to_string(key.size()));
  }
  std::copy(key.begin(), key.end(), key_.begin());
  context_.reset(OSSL_LIB_CTX_new());
  if (!context_) throw std::runtime_error(openSslError("cannot create an OpenSSL library context"));
  provider_.reset(OSSL_PROVIDER_load(context_.get(), "legacy"));
  if (!provider_) throw std::runtime_error(openSslError("cannot load OpenSSL's legacy provider"));
  cipher_.reset(EVP_CIPHER_fetch(context_.get(), "DES-CBC", nullptr));
  if (!cipher_) throw std::runtime_error(openSslError("DES-CBC is not available"));
}

std::vector<std::uint8_t> DesCbcCipher::encrypt(std::span<const std::uint8_t> plaintext) const {
  return run(plaintext, true);
}

std::vector<std::uint8_t> DesCbcCipher::decrypt(std::span<const std::uint8_t> ciphertext) const {
  if (ciphertext.empty() || ciphertext.size() % kKeySize != 0) {
    throw DesCryptError("a DES ciphertext is a whole number of 8-byte blocks, not " +
                        std::to_string(ciphertext.size()) + " bytes");
  }
  return run(ciphertext, false);
}

std::vector<std::uint8_t> DesCbcCipher::run(std::span<const std::uint8_t> input,
                                            bool encrypting) const {
  const std::unique_ptr<EVP_CIPHER_CTX, CipherContextDeleter> context(EVP_CIPHER_CTX_new());
  if (!context || EVP_CipherInit_ex2(context.get(), cipher_.get(), key_.data(), key_.data(),
                                     encrypting ? 1 : 0, nullptr) != 1) {
    throw std::runtime_error(openSslError("cannot start DES-CBC"));
  }
  std::vector<std::uint8_t> output(input.size() + kKeySize);
  int written = 0;
  if (EVP_CipherUpdate(context.get(), output.data(), &written, input.data(),
                       static_cast<int>(input.size())) != 1) {
    throw std::runtime_error(openSslError("DES-CBC failed"));
  }
  int last = 0;
  if (EVP_CipherFinal_ex(context.get(), output.data() + written, &last) != 1) {
    // Only decrypting can fail here, and only on the padding.
    ERR_clear_error();
    throw DesCryptError("the DES ciphertext has bad padding (wrong key or damaged text)");
  }
  output.resize(static_cast<std::size_t>(written + last));
  return output;
}

std::string desCrypt(std::string_view text, std::string_view key, CipherOperation operation) {
  const DesCbcCipher cipher(key);
  if (operation == CipherOperation::Encrypt) {
    return base64String(
        cipher.encrypt(std::span(reinterpret_cast<const std::uint8_t*>(text.data()), text.size())));
  }
  const auto ciphertext = MF_Base64Codec::strictDataFromBase64String(text);
  if (!ciphertext) throw DesCryptError("the DES ciphertext is not valid Base64");
  const auto plaintext = cipher.decrypt(*ciphertext);
  std::string result(plaintext.begin(), plaintext.end());
  if (!isValidUtf8(result)) throw DesCryptError("the DES plaintext is not UTF-8 text");
  return result;
}

}  // namespace vistrelle::base
