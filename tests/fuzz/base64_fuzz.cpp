// Fuzz target: the Base64 helpers, fed a text as a server sends it and the
// same bytes as data to encode.  Decoding is lenient or strict as documented,
// and every encoding decodes back to its data.
// Input: the text (also the data).
// Links: vistrelle_base

#include <string>
#include <vector>

#include "base/helpers/base64_addition.h"
#include "base/helpers/mf_base64_codec.h"
#include "base/helpers/utf8.h"
#include "fuzz/fuzz_support.h"

using namespace vistrelle::base;

namespace {

bool inAlphabet(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '+' ||
         c == '/';
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::span<const uint8_t> bytes(data, size);
  const std::string_view text = vistrelle::fuzz::ByteReader::asText(bytes);

  // Lenient decoding reads only the alphabet's characters: 4 give 3 bytes, a
  // trailing 2 or 3 give 1 or 2, a single one nothing.
  const std::vector<uint8_t> lenient = dataWithBase64String(text);
  size_t sextets = 0;
  for (const char c : text) sextets += inAlphabet(c) ? 1 : 0;
  const size_t tail = sextets % 4;
  FUZZ_CHECK(lenient.size() == sextets / 4 * 3 + (tail > 1 ? tail - 1 : 0));

  // A strictly decoded text is the canonical encoding of what it gives.
  if (const auto strict = MF_Base64Codec::strictDataFromBase64String(text)) {
    FUZZ_CHECK(*strict == lenient);
    FUZZ_CHECK(base64String(std::span<const uint8_t>(*strict)) == text);
  }

  // Every encoding decodes back, strictly and leniently, plain and URL form.
  const std::string encoded = base64String(bytes);
  FUZZ_CHECK(encoded.size() == (size + 2) / 3 * 4);
  const auto strict = MF_Base64Codec::strictDataFromBase64String(encoded);
  FUZZ_CHECK(strict.has_value() &&
             std::equal(strict->begin(), strict->end(), bytes.begin(), bytes.end()));
  const std::vector<uint8_t> back = dataWithBase64String(encoded);
  FUZZ_CHECK(std::equal(back.begin(), back.end(), bytes.begin(), bytes.end()));
  const std::string url = base64UrlEncodedString(bytes);
  FUZZ_CHECK(url.find_first_of("+/=") == std::string::npos);
  const std::vector<uint8_t> fromUrl = dataWithBase64UrlEncodedString(url);
  FUZZ_CHECK(std::equal(fromUrl.begin(), fromUrl.end(), bytes.begin(), bytes.end()));

  // Texts: the decoded bytes when they are UTF-8, nothing otherwise.
  const std::optional<std::string> decodedText = stringFromBase64String(encoded);
  FUZZ_CHECK(decodedText.has_value() == isValidUtf8(text));
  FUZZ_CHECK(!decodedText || *decodedText == text);
  FUZZ_CHECK(stringFromBase64UrlEncodedString(url) == decodedText);
  return 0;
}
