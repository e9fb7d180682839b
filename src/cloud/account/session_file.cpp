#include "cloud/account/session_file.h"

#include <plist/plist.h>

#include <memory>

#include "cloud/zerotier/private_file.h"
#include "platform/dispatch/runtime.h"
#include "platform/settings/user_directories.h"

namespace vistrelle::cloud {

namespace {

struct PlistDeleter {
  void operator()(void* node) const { plist_free(static_cast<plist_t>(node)); }
};
struct PlistXmlDeleter {
  void operator()(char* xml) const { plist_to_xml_free(xml); }
};

std::string folderOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos || slash == 0 ? std::string("/") : path.substr(0, slash);
}

}  // namespace

SessionFile::SessionFile(std::string path, dispatch::ExecutorPtr queue)
    : path_(std::move(path)), queue_(std::move(queue)) {}

std::string SessionFile::defaultPath() {
  return UserDirectories::documents() + kRelativePath;
}

std::optional<std::string> SessionFile::emptyDictionaryXml() {
  const std::unique_ptr<void, PlistDeleter> dictionary(plist_new_dict());
  if (!dictionary) return std::nullopt;
  char* xml = nullptr;
  uint32_t length = 0;
  plist_to_xml(static_cast<plist_t>(dictionary.get()), &xml, &length);
  const std::unique_ptr<char, PlistXmlDeleter> owned(xml);
  if (!owned || length == 0) return std::nullopt;
  return std::string(owned.get(), length);
}

bool SessionFile::writeEmptyDictionary(std::string* error) {
  if (!queue_) queue_ = dispatch::makeSerialQueue(kQueueLabel);
  const std::string path = path_.empty() ? defaultPath() : path_;
  bool written = false;
  std::string reason;
  queue_->sync([&] {
    const std::optional<std::string> xml = emptyDictionaryXml();
    if (!xml) {
      reason = "cannot serialise the property list";
      return;
    }
    const std::string folder = folderOf(path);
    if (!makeDirectories(folder, 0700, &reason)) return;
    written = zerotier::PrivateFile::writeAtomically(path, *xml, &reason);
  });
  if (!written && error) *error = reason;
  return written;
}

}  // namespace vistrelle::cloud
