#pragma once

#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

namespace vistrelle::cloud {

// A text made safe as one path segment: letters, digits, "-._~", "@" and "+"
// stay, everything else is percent-encoded (UTF-8 bytes), and a segment of
// only dots is encoded whole so that it never walks up the path.
std::string percentEncodedPathSegment(std::string_view text);

// A text made safe as a query key or value: letters, digits, "-._~", "?" and
// "/" stay; everything else is percent-encoded (a space as "%20").
std::string percentEncodedQueryComponent(std::string_view text);

// The URL query of a parameters object: keys in order, nested objects as
// "key[sub]", arrays as "key[]", Booleans as 1 and 0.  Empty for anything
// but a non-empty object.
std::string queryString(const nlohmann::json& parameters);

// `url` with `query` added to its query string (before any fragment).
std::string appendingQuery(std::string_view url, std::string_view query);

// True when the text begins with "http://" or "https://".
bool isAbsoluteHttpUrl(std::string_view url);

// A relative text (a path) under `root`; an absolute http(s) text as it is.
std::string resolvedUrl(std::string_view text, std::string_view root);

// True when `url` lies under the web root `root`: the same scheme, host and
// port, and a path (or nothing) after them.  "https://host.evil" and
// "https://host@evil" do not lie under "https://host".
bool isUnderRoot(std::string_view url, std::string_view root);

// The URL without user information, query or fragment, for logs: queries and
// credentials may carry tokens or codes.
std::string urlForLog(std::string_view url);

// The URL's path without query or fragment ("/" when it has none).
std::string urlPath(std::string_view url);

}  // namespace vistrelle::cloud
