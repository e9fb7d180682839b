#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "base/helpers/base64_addition.h"
#include "base/helpers/mf_base64_codec.h"

namespace vistrelle::base {
namespace {

std::vector<std::uint8_t> bytes(std::string_view text) {
  return {text.begin(), text.end()};
}

// RFC 4648 section 10.
const std::pair<const char*, const char*> kRfcVectors[] = {
    {"", ""},
    {"f", "Zg=="},
    {"fo", "Zm8="},
    {"foo", "Zm9v"},
    {"foob", "Zm9vYg=="},
    {"fooba", "Zm9vYmE="},
    {"foobar", "Zm9vYmFy"},
};

TEST(MF_Base64Codec, EncodesAndDecodesTheRfcVectors) {
  for (const auto& [plain, encoded] : kRfcVectors) {
    EXPECT_EQ(MF_Base64Codec::base64StringFromData(bytes(plain)), encoded) << plain;
    EXPECT_EQ(MF_Base64Codec::dataFromBase64String(encoded), bytes(plain)) << encoded;
    EXPECT_EQ(MF_Base64Codec::strictDataFromBase64String(encoded), bytes(plain)) << encoded;
  }
}

TEST(MF_Base64Codec, UsesTheWholeAlphabet) {
  const std::vector<std::uint8_t> data = {
      0x00, 0x10, 0x83, 0x10, 0x51, 0x87, 0x20, 0x92, 0x8b, 0x30, 0xd3, 0x8f,
      0x41, 0x14, 0x93, 0x51, 0x55, 0x97, 0x61, 0x96, 0x9b, 0x71, 0xd7, 0x9f,
      0x82, 0x18, 0xa3, 0x92, 0x59, 0xa7, 0xa2, 0x9a, 0xab, 0xb2, 0xdb, 0xaf,
      0xc3, 0x1c, 0xb3, 0xd3, 0x5d, 0xb7, 0xe3, 0x9e, 0xbb, 0xf3, 0xdf, 0xbf};
  const std::string alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  EXPECT_EQ(MF_Base64Codec::base64StringFromData(data), alphabet);
  EXPECT_EQ(MF_Base64Codec::dataFromBase64String(alphabet), data);
}

TEST(MF_Base64Codec, LenientDecoderSkipsJunk) {
  EXPECT_EQ(MF_Base64Codec::dataFromBase64String("Zm9v\r\nYmFy"), bytes("foobar"));
  EXPECT_EQ(MF_Base64Codec::dataFromBase64String(" Z m 9 v Y g = = "), bytes("foob"));
  EXPECT_EQ(MF_Base64Codec::dataFromBase64String("Zm=9v*Y!m\xe4\xb8\xad"
                                                 "Fy"),
            bytes("foobar"));
  // Unpadded tails of two and three characters, and a lone left-over one.
  EXPECT_EQ(MF_Base64Codec::dataFromBase64String("Zg"), bytes("f"));
  EXPECT_EQ(MF_Base64Codec::dataFromBase64String("Zm8"), bytes("fo"));
  EXPECT_EQ(MF_Base64Codec::dataFromBase64String("Zm9vY"), bytes("foo"));
  EXPECT_EQ(MF_Base64Codec::dataFromBase64String("===="), bytes(""));
}

TEST(MF_Base64Codec, StrictDecoderRejectsAnythingNonCanonical) {
  for (const char* text : {"Zg", "Zg=", "Zm9v\n", "Zm 9v", "Z===", "Zm9v====", "=Zm9", "Zm=v",
                           "Zh==", "Zm9=", "Zm-_"}) {
    EXPECT_EQ(MF_Base64Codec::strictDataFromBase64String(text), std::nullopt) << text;
  }
}

TEST(MF_Base64Codec, ConvertsBetweenStandardAndUrlForms) {
  EXPECT_EQ(MF_Base64Codec::base64UrlEncodedStringFromBase64String("+/+/ab=="), "-_-_ab");
  const std::pair<const char*, const char*> cases[] = {
      {"-_-_", "+/+/"},         // length mod 4 = 0: nothing appended
      {"-_-_ab", "+/+/ab=="},   // 2: "=="
      {"-_-_abc", "+/+/abc="},  // 3: "="
      {"Zg", "Zg=="},
  };
  for (const auto& [url, standard] : cases) {
    EXPECT_EQ(MF_Base64Codec::base64StringFromBase64UrlEncodedString(url), standard) << url;
  }
}

TEST(Base64Addition, TextsRoundTripThroughBothForms) {
  // 0xFB 0xFF gives "+/" characters in the standard form.
  const std::string text = "\xe4\xbd\xa0\xe5\xa5\xbd?>\xfb\xff";
  EXPECT_EQ(base64String(std::string_view("user:pass")), "dXNlcjpwYXNz");
  EXPECT_EQ(base64String(std::string_view(">>>???")), "Pj4+Pz8/");
  EXPECT_EQ(base64UrlEncodedString(std::string_view(">>>???")), "Pj4-Pz8_");
  EXPECT_EQ(stringFromBase64String("5L2g5aW9"), "\xe4\xbd\xa0\xe5\xa5\xbd");
  EXPECT_EQ(stringFromBase64UrlEncodedString("5L2g5aW9Pz4"), "\xe4\xbd\xa0\xe5\xa5\xbd?>");
  EXPECT_EQ(dataWithBase64UrlEncodedString(base64UrlEncodedString(bytes(text))), bytes(text));
  EXPECT_EQ(dataWithBase64String(base64String(bytes(text))), bytes(text));
}

TEST(Base64Addition, DecodedBytesThatAreNotUtf8GiveNoText) {
  EXPECT_EQ(stringFromBase64String(base64String(bytes("\xff\xfe"))), std::nullopt);
  EXPECT_EQ(stringFromBase64String(base64String(bytes("\xc0\xaf"))), std::nullopt);  // overlong
  EXPECT_EQ(stringFromBase64String(base64String(bytes("\xed\xa0\x80"))),
            std::nullopt);                                                           // surrogate
  EXPECT_EQ(stringFromBase64String(base64String(bytes("\xe4\xbd"))), std::nullopt);  // cut short
  EXPECT_EQ(stringFromBase64String(""), "");
}

}  // namespace
}  // namespace vistrelle::base
