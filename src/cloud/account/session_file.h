#pragma once

#include <optional>
#include <string>

#include "platform/dispatch/executor.h"

namespace vistrelle::cloud {

// The session file, an XML property list under the user's Documents folder.
// It is written only when the session is cleared, and then with an empty
// dictionary.  Writes run synchronously on one serial queue, so they never
// overlap, and replace the file whole: a 0600 file in a folder made 0700.
class SessionFile {
 public:
  static constexpr const char* kQueueLabel = "cn.com.qx.orvexForMac.userInfoProcessing";
  static constexpr const char* kRelativePath = "/.OrvexSpace/.cn.com.qx.orvexForMac.plist";

  // `path` empty: defaultPath() at each write.  `queue` none: the serial
  // queue kQueueLabel of the runtime, made on the first write.
  explicit SessionFile(std::string path = {}, dispatch::ExecutorPtr queue = nullptr);

  // UserDirectories::documents() + kRelativePath.
  static std::string defaultPath();

  // Returns once the file is written; false with the reason otherwise.
  bool writeEmptyDictionary(std::string* error);

  // An empty dictionary as an XML property list, made with libplist.
  static std::optional<std::string> emptyDictionaryXml();

 private:
  std::string path_;
  dispatch::ExecutorPtr queue_;
};

}  // namespace vistrelle::cloud
