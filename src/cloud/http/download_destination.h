#pragma once

#include <string>
#include <string_view>

namespace vistrelle::cloud {

// Where a downloaded package is kept: <caches>/cn.com.qx.orvexForMac (0700).
inline constexpr std::string_view kDownloadFolderName = "cn.com.qx.orvexForMac";
std::string downloadFolder();

// "OrvexSpace_package." + the extension of the final URL's last path segment
// when it is 1 to 10 letters or digits (".deb", ".AppImage"), else "pkg".
std::string packageFileName(std::string_view finalUrl);

}  // namespace vistrelle::cloud
