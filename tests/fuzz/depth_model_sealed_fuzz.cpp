// Fuzz target: opening the sealed depth-model archive, fed the hexadecimal
// key, nonce and tag texts and the ciphertext.  Texts that are not hex and
// values of the wrong length are refused with a reason; an archive sealed
// with the right values opens to exactly what was sealed, and a flipped tag
// bit is refused.
// Input: key text, nonce text, tag text (each a length byte and the text),
// one byte choosing the tag bit to flip, then the ciphertext.
// Links: vistrelle_ai3d_pipeline vistrelle_model_pack

#include <string>

#include "ai3d/pipeline/depth_model_install.h"
#include "fuzz/fuzz_support.h"
#include "tools/model_pack/model_packer.h"

using namespace vistrelle::ai3d;

namespace {

// Lower-case hex of the digits of `text`, spaces removed.
std::string normalisedHex(std::string_view text) {
  std::string digits;
  for (const char c : text) {
    if (c != ' ') digits += (c >= 'A' && c <= 'F') ? static_cast<char>(c - 'A' + 'a') : c;
  }
  return digits;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  vistrelle::fuzz::ByteReader input(data, size);
  const std::string_view keyText = input.sizedText();
  const std::string_view nonceText = input.sizedText();
  const std::string_view tagText = input.sizedText();
  const uint8_t flip = input.u8();
  const std::span<const uint8_t> rest = input.rest();
  const Bytes ciphertext(rest.begin(), rest.end());

  const std::optional<Bytes> key = dataFromHexString(keyText);
  const std::optional<Bytes> nonce = dataFromHexString(nonceText);
  const std::optional<Bytes> tag = dataFromHexString(tagText);
  for (const auto& [text, bytes] :
       {std::pair{keyText, &key}, std::pair{nonceText, &nonce}, std::pair{tagText, &tag}}) {
    if (*bytes) {
      FUZZ_CHECK(vistrelle::tools::hexString((*bytes)->data(), (*bytes)->size()) ==
                 normalisedHex(text));
    }
  }
  if (key && nonce && tag) {
    std::string error;
    const std::optional<Bytes> plain = aesGcmOpen(ciphertext, *key, *nonce, *tag, &error);
    FUZZ_CHECK(plain.has_value() == error.empty());
    FUZZ_CHECK(!plain || plain->size() == ciphertext.size());
  }

  // Sealed with the right values: opens to what was sealed, and only then.
  const Bytes rightKey(32, 0x5a);
  const Bytes rightNonce(12, 0xa5);
  const vistrelle::tools::SealedArchive sealed =
      vistrelle::tools::aesGcmSeal(ciphertext, rightKey, rightNonce);
  Bytes rightTag(sealed.tag.begin(), sealed.tag.end());
  std::string error;
  const std::optional<Bytes> opened =
      aesGcmOpen(sealed.ciphertext, rightKey, rightNonce, rightTag, &error);
  FUZZ_CHECK(opened.has_value() && *opened == ciphertext);
  rightTag[(flip / 8) % rightTag.size()] ^= static_cast<uint8_t>(1u << (flip % 8));
  FUZZ_CHECK(!aesGcmOpen(sealed.ciphertext, rightKey, rightNonce, rightTag, &error));
  return 0;
}
