#include "base/helpers/mf_base64_codec.h"

#include <algorithm>
#include <array>

namespace vistrelle::base {

namespace {

constexpr std::string_view kAlphabet =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr std::int8_t kNotInAlphabet = -1;

constexpr std::array<std::int8_t, 256> makeDecodeTable() {
  std::array<std::int8_t, 256> table{};
  table.fill(kNotInAlphabet);
  for (std::size_t i = 0; i < kAlphabet.size(); ++i) {
    table[static_cast<unsigned char>(kAlphabet[i])] = static_cast<std::int8_t>(i);
  }
  return table;
}

constexpr std::array<std::int8_t, 256> kDecode = makeDecodeTable();

std::int8_t sextet(char c) {
  return kDecode[static_cast<unsigned char>(c)];
}

}  // namespace

std::string MF_Base64Codec::base64StringFromData(std::span<const std::uint8_t> data) {
  std::string text;
  text.reserve((data.size() + 2) / 3 * 4);
  std::size_t i = 0;
  for (; i + 3 <= data.size(); i += 3) {
    const std::uint32_t group = (data[i] << 16) | (data[i + 1] << 8) | data[i + 2];
    text += kAlphabet[(group >> 18) & 63];
    text += kAlphabet[(group >> 12) & 63];
    text += kAlphabet[(group >> 6) & 63];
    text += kAlphabet[group & 63];
  }
  const std::size_t rest = data.size() - i;
  if (rest > 0) {
    const std::uint32_t group = (data[i] << 16) | (rest == 2 ? data[i + 1] << 8 : 0);
    text += kAlphabet[(group >> 18) & 63];
    text += kAlphabet[(group >> 12) & 63];
    text += rest == 2 ? kAlphabet[(group >> 6) & 63] : '=';
    text += '=';
  }
  return text;
}

std::vector<std::uint8_t> MF_Base64Codec::dataFromBase64String(std::string_view text) {
  std::vector<std::uint8_t> data;
  data.reserve((text.size() + 3) / 4 * 3);
  std::uint32_t group = 0;
  int count = 0;
  for (const char c : text) {
    const std::int8_t value = sextet(c);
    if (value == kNotInAlphabet) continue;
    group = (group << 6) | static_cast<std::uint32_t>(value);
    if (++count == 4) {
      data.push_back(static_cast<std::uint8_t>(group >> 16));
      data.push_back(static_cast<std::uint8_t>(group >> 8));
      data.push_back(static_cast<std::uint8_t>(group));
      group = 0;
      count = 0;
    }
  }
  if (count == 2) {
    data.push_back(static_cast<std::uint8_t>(group >> 4));
  } else if (count == 3) {
    data.push_back(static_cast<std::uint8_t>(group >> 10));
    data.push_back(static_cast<std::uint8_t>(group >> 2));
  }
  return data;
}

std::optional<std::vector<std::uint8_t>> MF_Base64Codec::strictDataFromBase64String(
    std::string_view text) {
  if (text.size() % 4 != 0) return std::nullopt;
  std::size_t padding = 0;
  while (padding < 2 && padding < text.size() && text[text.size() - 1 - padding] == '=') ++padding;
  const std::string_view body = text.substr(0, text.size() - padding);
  if (!std::all_of(body.begin(), body.end(), [](char c) { return sextet(c) != kNotInAlphabet; })) {
    return std::nullopt;
  }
  // The bits that the last character carries beyond the final byte.
  if (padding > 0) {
    const std::int8_t last = sextet(body.back());
    const int unusedMask = padding == 1 ? 0x3 : 0xF;
    if ((last & unusedMask) != 0) return std::nullopt;
  }
  return dataFromBase64String(body);
}

std::string MF_Base64Codec::base64UrlEncodedStringFromBase64String(std::string_view base64) {
  std::string url;
  url.reserve(base64.size());
  for (const char c : base64) {
    if (c == '=') continue;
    url += c == '+' ? '-' : c == '/' ? '_' : c;
  }
  return url;
}

std::string MF_Base64Codec::base64StringFromBase64UrlEncodedString(std::string_view url) {
  std::string base64;
  base64.reserve(url.size() + 2);
  for (const char c : url) base64 += c == '-' ? '+' : c == '_' ? '/' : c;
  if (base64.size() % 4 == 2) {
    base64 += "==";
  } else if (base64.size() % 4 == 3) {
    base64 += '=';
  }
  return base64;
}

}  // namespace vistrelle::base
