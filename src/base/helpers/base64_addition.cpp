#include "base/helpers/base64_addition.h"

#include "base/helpers/mf_base64_codec.h"
#include "base/helpers/utf8.h"

namespace vistrelle::base {

namespace {

std::span<const std::uint8_t> bytesOf(std::string_view text) {
  return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

std::optional<std::string> utf8Text(const std::vector<std::uint8_t>& data) {
  std::string text(data.begin(), data.end());
  if (!isValidUtf8(text)) return std::nullopt;
  return text;
}

}  // namespace

std::string base64String(std::string_view text) {
  return base64String(bytesOf(text));
}

std::string base64String(std::span<const std::uint8_t> data) {
  return MF_Base64Codec::base64StringFromData(data);
}

std::string base64UrlEncodedString(std::string_view text) {
  return base64UrlEncodedString(bytesOf(text));
}

std::string base64UrlEncodedString(std::span<const std::uint8_t> data) {
  return MF_Base64Codec::base64UrlEncodedStringFromBase64String(base64String(data));
}

std::optional<std::string> stringFromBase64String(std::string_view base64) {
  return utf8Text(dataWithBase64String(base64));
}

std::optional<std::string> stringFromBase64UrlEncodedString(std::string_view url) {
  return utf8Text(dataWithBase64UrlEncodedString(url));
}

std::vector<std::uint8_t> dataWithBase64String(std::string_view base64) {
  return MF_Base64Codec::dataFromBase64String(base64);
}

std::vector<std::uint8_t> dataWithBase64UrlEncodedString(std::string_view url) {
  return MF_Base64Codec::dataFromBase64String(
      MF_Base64Codec::base64StringFromBase64UrlEncodedString(url));
}

}  // namespace vistrelle::base
