#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace vistrelle::cloud {

// Header name and value pairs in the order they are sent.
using HttpHeaders = std::vector<std::pair<std::string, std::string>>;

inline constexpr std::string_view kContentTypeHeader = "Content-Type";
inline constexpr std::string_view kAuthorizationHeader = "Authorization";
inline constexpr std::string_view kUploadTokenHeader = "X-NLS-Token";
// Every JSON request and upload ends within this time.
inline constexpr std::chrono::milliseconds kRequestTimeout = std::chrono::seconds(60);

// The token request's path: its reply is a bare OAuth2 object, not an
// envelope, and a 424 there is never taken for an expired session.
inline constexpr std::string_view kTokenPathFragment = "/api/auth/oauth2/token";
bool isTokenPath(std::string_view url);

// False when the URL text contains a public fragment (no session needed).
bool isTokenRequired(std::string_view url);

// The headers for a URL text, first matching rule wins.  `accessToken` is the
// session's (empty when signed out: "Bearer " then nothing);
// `clientCredential` is "id:secret", sent Base64-encoded as Basic.
HttpHeaders headers(std::string_view url, std::string_view accessToken,
                    std::string_view clientCredential);

// An upload's own headers: the caller's token and a binary body.
HttpHeaders uploadHeaders(std::string_view token);

// The first value under `name`, compared without regard to case.
std::optional<std::string> headerValue(const HttpHeaders& headers, std::string_view name);
bool isCredentialHeader(std::string_view name);

}  // namespace vistrelle::cloud
