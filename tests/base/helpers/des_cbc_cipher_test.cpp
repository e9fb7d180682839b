#include "base/helpers/des_cbc_cipher.h"

#include <gtest/gtest.h>
#include <openssl/evp.h>

namespace vistrelle::base {
namespace {

constexpr std::string_view kKey = "12345678";

TEST(DesCrypt, EncryptsToTheKnownTextAndBack) {
  EXPECT_EQ(desCrypt("hello", kKey, CipherOperation::Encrypt), "sxqYZRqwq+Q=");
  EXPECT_EQ(desCrypt("sxqYZRqwq+Q=", kKey, CipherOperation::Decrypt), "hello");
}

TEST(DesCrypt, PadsWholeBlocksWithAFullBlock) {
  // 8 bytes of text take two blocks: PKCS#7 adds a whole block of padding.
  const std::string eight = desCrypt("12345678", kKey, CipherOperation::Encrypt);
  EXPECT_EQ(eight.size(), 24u);
  EXPECT_EQ(desCrypt(eight, kKey, CipherOperation::Decrypt), "12345678");
  const std::string empty = desCrypt("", kKey, CipherOperation::Encrypt);
  EXPECT_EQ(empty.size(), 12u);
  EXPECT_EQ(desCrypt(empty, kKey, CipherOperation::Decrypt), "");
  const std::string chinese = "眼镜固件升级";
  EXPECT_EQ(
      desCrypt(desCrypt(chinese, kKey, CipherOperation::Encrypt), kKey, CipherOperation::Decrypt),
      chinese);
}

TEST(DesCrypt, RefusesKeysThatAreNot8Bytes) {
  for (const std::string_view key : {"1234567", "123456789", ""}) {
    EXPECT_THROW(desCrypt("hello", key, CipherOperation::Encrypt), std::invalid_argument) << key;
    EXPECT_THROW(desCrypt("sxqYZRqwq+Q=", key, CipherOperation::Decrypt), std::invalid_argument)
        << key;
  }
}

TEST(DesCrypt, BadCiphertextIsAnError) {
  const std::pair<const char*, const char*> cases[] = {
      {"sxqYZRqwq+Q", "missing padding"}, {"sxqYZRqw q+Q=", "white space"},
      {"sxqY*Rqwq+Q=", "junk character"}, {"", "empty"},
      {"sxqYZRo=", "not whole blocks"},   {"AAAAAAAAAAA=", "bad padding"},
  };
  for (const auto& [text, what] : cases) {
    EXPECT_THROW(desCrypt(text, kKey, CipherOperation::Decrypt), DesCryptError) << what;
  }
  // The right text under another key decrypts to bad padding (or garbage
  // that is not UTF-8): never to a result.
  EXPECT_THROW(desCrypt("sxqYZRqwq+Q=", "87654321", CipherOperation::Decrypt), DesCryptError);
}

TEST(DesCbcCipher, LeavesTheDefaultContextWithoutDes) {
  const DesCbcCipher cipher(kKey);
  EXPECT_FALSE(cipher.encrypt(std::vector<std::uint8_t>{1, 2, 3}).empty());
  // The legacy provider stays in the cipher's own library context.
  EVP_CIPHER* global = EVP_CIPHER_fetch(nullptr, "DES-CBC", nullptr);
  EXPECT_EQ(global, nullptr);
  EVP_CIPHER_free(global);
}

}  // namespace
}  // namespace vistrelle::base
