// Fuzz target: DES-CBC decryption as the account session uses it, fed a key
// and a ciphertext (as Base64 text and as raw bytes).  Bad input is refused
// with DesCryptError, never anything worse; what encrypts decrypts back.
// Input: 8 key bytes, then the text (also the raw ciphertext and plaintext).
// Links: vistrelle_base

#include <string>
#include <vector>

#include "base/helpers/base64_addition.h"
#include "base/helpers/des_cbc_cipher.h"
#include "base/helpers/utf8.h"
#include "fuzz/fuzz_support.h"

using namespace vistrelle::base;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  vistrelle::fuzz::ByteReader input(data, size);
  if (input.remaining() < DesCbcCipher::kKeySize) return 0;
  const std::string key(input.text(DesCbcCipher::kKeySize));
  const std::span<const uint8_t> bytes = input.rest();
  const std::string_view text = vistrelle::fuzz::ByteReader::asText(bytes);

  // desCrypt builds a cipher of its own for every call (and loads OpenSSL's
  // legacy provider for it), so it runs once per input; the raw checks use
  // one cipher.
  const DesCbcCipher cipher(key);
  try {
    const std::string plain = desCrypt(text, key, CipherOperation::Decrypt);
    FUZZ_CHECK(isValidUtf8(plain));
    const std::vector<uint8_t> again =
        cipher.encrypt({reinterpret_cast<const uint8_t*>(plain.data()), plain.size()});
    FUZZ_CHECK(base64String(std::span<const uint8_t>(again)) == text);
  } catch (const DesCryptError&) {
  }

  try {
    const std::vector<uint8_t> plain = cipher.decrypt(bytes);
    FUZZ_CHECK(plain.size() + DesCbcCipher::kKeySize >= bytes.size() &&
               plain.size() < bytes.size());
    const std::vector<uint8_t> again = cipher.encrypt(plain);
    FUZZ_CHECK(std::equal(again.begin(), again.end(), bytes.begin(), bytes.end()));
  } catch (const DesCryptError&) {
  }

  const std::vector<uint8_t> sealed = cipher.encrypt(bytes);
  FUZZ_CHECK(sealed.size() == (bytes.size() / DesCbcCipher::kKeySize + 1) * DesCbcCipher::kKeySize);
  const std::vector<uint8_t> opened = cipher.decrypt(sealed);
  FUZZ_CHECK(std::equal(opened.begin(), opened.end(), bytes.begin(), bytes.end()));
  if (isValidUtf8(text)) {
    FUZZ_CHECK(desCrypt(text, key, CipherOperation::Encrypt) ==
               base64String(std::span<const uint8_t>(sealed)));
  }
  return 0;
}
