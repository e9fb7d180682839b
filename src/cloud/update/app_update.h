#pragma once

#include <functional>
#include <memory>
#include <string_view>

#include "cloud/http/reply_envelope.h"
#include "cloud/update/update_host.h"
#include "cloud/update/update_services.h"
#include "cloud/update/update_sheet_controller.h"

namespace vistrelle::cloud {

// The application update check: asks the service for the latest release of
// this platform and, when it is newer than this build, lays the update sheet
// over the home content.  The delegate's checkAppUpdate runs it when the
// application becomes active and after each glasses plug-in.  Main queue
// only.
class AppUpdate {
 public:
  // True when nothing is in the way (no sheet is showing): the plug-in road
  // goes on with the glasses set-up only then.
  using Completion = std::function<void(bool nothingInTheWay)>;

  // Empty services are filled with the process' own.
  explicit AppUpdate(UpdateHost& host, UpdateServices services = {});
  ~AppUpdate();
  AppUpdate(const AppUpdate&) = delete;
  AppUpdate& operator=(const AppUpdate&) = delete;

  void checkAppUpdate(Completion completion = {});

  // The sheet while it exists: from the check that made it until a "取消".
  UpdateSheetController* appUpdateView() const { return appUpdateView_.get(); }

  const UpdateServices& services() const { return services_; }

  static constexpr std::string_view kAppName = "Vistrelle";
  // This build's packages; another platform's would not install here.
  static constexpr std::string_view kPlatform = "linux";
  static constexpr std::string_view kUrlLogText = "App Update Url = ";

 private:
  void received(const ReplyEnvelope& envelope, const Completion& completion);

  UpdateHost& host_;
  UpdateServices services_;
  std::shared_ptr<UpdateSheetController> appUpdateView_;
  // Replies that arrive after this object went find it gone.
  std::shared_ptr<AppUpdate*> self_;
};

}  // namespace vistrelle::cloud
