#include "cloud/http/url_encoding.h"

namespace vistrelle::cloud {

namespace {

// ASCII only, whatever the process' locale says about other bytes.
bool isAsciiAlnum(unsigned char c) {
  return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

bool isUnreserved(unsigned char c) {
  return isAsciiAlnum(c) || c == '-' || c == '.' || c == '_' || c == '~';
}

char asciiLower(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

template <typename Keep>
std::string percentEncoded(std::string_view text, Keep keep) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(text.size());
  for (const char ch : text) {
    const auto c = static_cast<unsigned char>(ch);
    if (keep(c)) {
      out.push_back(ch);
    } else {
      out.push_back('%');
      out.push_back(kHex[c >> 4]);
      out.push_back(kHex[c & 0xF]);
    }
  }
  return out;
}

void appendComponents(std::string& query, const std::string& key, const nlohmann::json& value) {
  if (value.is_object()) {
    for (const auto& [subKey, subValue] : value.items()) {
      appendComponents(query, key + "[" + subKey + "]", subValue);
    }
    return;
  }
  if (value.is_array()) {
    for (const auto& element : value) appendComponents(query, key + "[]", element);
    return;
  }
  std::string text;
  if (value.is_boolean()) {
    text = value.get<bool>() ? "1" : "0";
  } else if (value.is_string()) {
    text = value.get<std::string>();
  } else if (!value.is_null()) {
    text = value.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
  }
  if (!query.empty()) query.push_back('&');
  query += percentEncodedQueryComponent(key);
  query.push_back('=');
  query += percentEncodedQueryComponent(text);
}

bool startsWithIgnoringCase(std::string_view text, std::string_view prefix) {
  if (text.size() < prefix.size()) return false;
  for (size_t i = 0; i < prefix.size(); ++i) {
    if (asciiLower(text[i]) != asciiLower(prefix[i])) {
      return false;
    }
  }
  return true;
}

// Where the authority (user info, host, port) ends: the first "/", "?" or "#"
// after "scheme://", or the end.
size_t authorityEnd(std::string_view url, size_t authorityStart) {
  const size_t end = url.find_first_of("/?#", authorityStart);
  return end == std::string_view::npos ? url.size() : end;
}

// Where "://" sits when the text starts with a scheme; npos otherwise (a
// path whose query holds "://" has no scheme).
size_t schemeSeparator(std::string_view url) {
  const size_t separator = url.find("://");
  if (separator == std::string_view::npos) return separator;
  if (url.find_first_of("/?#") < separator) return std::string_view::npos;
  return separator;
}

}  // namespace

std::string percentEncodedPathSegment(std::string_view text) {
  if (!text.empty() && text.find_first_not_of('.') == std::string_view::npos) {
    return percentEncoded(text, [](unsigned char) { return false; });
  }
  return percentEncoded(text,
                        [](unsigned char c) { return isUnreserved(c) || c == '@' || c == '+'; });
}

std::string percentEncodedQueryComponent(std::string_view text) {
  return percentEncoded(text,
                        [](unsigned char c) { return isUnreserved(c) || c == '?' || c == '/'; });
}

std::string queryString(const nlohmann::json& parameters) {
  std::string query;
  if (!parameters.is_object()) return query;
  for (const auto& [key, value] : parameters.items()) appendComponents(query, key, value);
  return query;
}

std::string appendingQuery(std::string_view url, std::string_view query) {
  if (query.empty()) return std::string(url);
  const size_t hash = url.find('#');
  const std::string_view base = url.substr(0, hash);
  const std::string_view fragment = hash == std::string_view::npos ? "" : url.substr(hash);
  std::string out(base);
  if (base.find('?') == std::string_view::npos) {
    out.push_back('?');
  } else if (base.back() != '?' && base.back() != '&') {
    out.push_back('&');
  }
  out += query;
  out += fragment;
  return out;
}

bool isAbsoluteHttpUrl(std::string_view url) {
  return startsWithIgnoringCase(url, "http://") || startsWithIgnoringCase(url, "https://");
}

std::string resolvedUrl(std::string_view text, std::string_view root) {
  if (isAbsoluteHttpUrl(text)) return std::string(text);
  std::string out(root);
  while (!out.empty() && out.back() == '/') out.pop_back();
  if (text.empty() || text.front() != '/') out.push_back('/');
  out += text;
  return out;
}

bool isUnderRoot(std::string_view url, std::string_view root) {
  while (!root.empty() && root.back() == '/') root.remove_suffix(1);
  if (root.empty() || !startsWithIgnoringCase(url, root)) return false;
  if (url.size() == root.size()) return true;
  const char next = url[root.size()];
  return next == '/' || next == '?' || next == '#';
}

std::string urlForLog(std::string_view url) {
  const size_t scheme = schemeSeparator(url);
  if (scheme == std::string_view::npos) return urlPath(url);
  const size_t authorityStart = scheme + 3;
  const size_t end = authorityEnd(url, authorityStart);
  std::string_view authority = url.substr(authorityStart, end - authorityStart);
  const size_t at = authority.rfind('@');
  if (at != std::string_view::npos) authority.remove_prefix(at + 1);
  return std::string(url.substr(0, authorityStart)) + std::string(authority) + urlPath(url);
}

std::string urlPath(std::string_view url) {
  size_t start = 0;
  const size_t scheme = schemeSeparator(url);
  if (scheme != std::string_view::npos) start = authorityEnd(url, scheme + 3);
  std::string_view rest = url.substr(start);
  rest = rest.substr(0, rest.find_first_of("?#"));
  if (rest.empty()) return "/";
  return std::string(rest);
}

}  // namespace vistrelle::cloud
