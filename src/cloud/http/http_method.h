#pragma once

#include <string>

namespace vistrelle::cloud {

enum class HttpMethod { GET, POST, PUT, DELETE };

inline std::string methodText(HttpMethod method) {
  switch (method) {
    case HttpMethod::GET:
      return "GET";
    case HttpMethod::POST:
      return "POST";
    case HttpMethod::PUT:
      return "PUT";
    case HttpMethod::DELETE:
      return "DELETE";
  }
  return "GET";
}

}  // namespace vistrelle::cloud
