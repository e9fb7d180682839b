#include "cloud/http/download_destination.h"

#include <algorithm>

#include "cloud/http/url_encoding.h"
#include "platform/settings/user_directories.h"

namespace vistrelle::cloud {

std::string downloadFolder() {
  return UserDirectories::caches() + "/" + std::string(kDownloadFolderName);
}

std::string packageFileName(std::string_view finalUrl) {
  const std::string path = urlPath(finalUrl);
  const std::string_view segment = std::string_view(path).substr(path.rfind('/') + 1);
  std::string extension = "pkg";
  const size_t dot = segment.rfind('.');
  if (dot != std::string_view::npos) {
    const std::string_view candidate = segment.substr(dot + 1);
    if (!candidate.empty() && candidate.size() <= 10 &&
        std::all_of(candidate.begin(), candidate.end(), [](char c) {
          return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
        })) {
      extension = std::string(candidate);
    }
  }
  return "OrvexSpace_package." + extension;
}

}  // namespace vistrelle::cloud
