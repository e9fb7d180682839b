#pragma once

#include <functional>
#include <memory>
#include <string>

#include "base/version/app_version.h"
#include "cloud/http/orvex_alamofire_manager.h"
#include "platform/dispatch/executor.h"
#include "platform/process/process_launcher.h"

namespace vistrelle::cloud {

// What the update logic works with.  AppUpdate fills each one left empty
// with the process' own.
struct UpdateServices {
  std::shared_ptr<OrvexAlamofireManager> http;  // none: OrvexAlamofireManager::shared()
  dispatch::ExecutorPtr mainQueue;              // none: dispatch::mainQueue()
  // Where a downloaded package's digest is computed, off the main queue.
  dispatch::ExecutorPtr workQueue;  // none: dispatch::globalQueue()
  // Starts the installer; none: a LinuxProcessLauncher on the runtime.
  std::shared_ptr<process::ProcessLauncher> launcher;
  // The program that opens the package (and its folder), given the path as
  // its one argument.
  std::string installer = "xdg-open";
  // This build's version ("1.0.0.0" is compared when it is empty).
  std::string localVersion = std::string(base::kAppVersion);
  // The text log; none: OrvexLog::logMessage.
  std::function<void(const std::string&)> log;
};

}  // namespace vistrelle::cloud
