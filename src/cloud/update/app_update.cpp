#include "cloud/update/app_update.h"

#include "base/log/orvex_log.h"
#include "base/state/main_state.h"
#include "cloud/http/orvex_request_url.h"
#include "cloud/update/release_offer.h"
#include "platform/dispatch/runtime.h"
#include "platform/process/linux/linux_process_launcher.h"

namespace vistrelle::cloud {

AppUpdate::AppUpdate(UpdateHost& host, UpdateServices services)
    : host_(host), services_(std::move(services)), self_(std::make_shared<AppUpdate*>(this)) {
  if (!services_.http) services_.http = OrvexAlamofireManager::shared();
  if (!services_.mainQueue) services_.mainQueue = dispatch::mainQueue();
  if (!services_.workQueue) services_.workQueue = dispatch::globalQueue();
  if (!services_.launcher) services_.launcher = std::make_shared<process::LinuxProcessLauncher>();
  if (!services_.log) {
    services_.log = [](const std::string& line) { OrvexLog::logMessage(line); };
  }
}

AppUpdate::~AppUpdate() = default;

void AppUpdate::checkAppUpdate(Completion completion) {
  const auto done = [completion](bool nothingInTheWay) {
    if (completion) completion(nothingInTheWay);
  };
  if (!host_.isShowingHome()) {
    done(true);
    return;
  }
  nlohmann::json parameters = {{"appName", kAppName}, {"platform", kPlatform}, {"isRelease", 1}};
  std::weak_ptr<AppUpdate*> weak = self_;
  // A public path: no login gate.  A failed request puts nothing in the way.
  services_.http->requestWithQueryParameters(
      rawValue(OrvexRequestUrl::appPublishLatest, services_.http->config()), HttpMethod::GET,
      std::move(parameters), true,
      [weak, done](const ReplyEnvelope& envelope) {
        auto self = weak.lock();
        if (!self) return;
        (*self)->received(envelope, done);
      },
      [done](const HttpError&) { done(true); });
}

void AppUpdate::received(const ReplyEnvelope& envelope, const Completion& done) {
  const std::string apiBase = services_.http->config().api(MainState::shared().isOverseas.load());
  const std::optional<ReleaseOffer> offer =
      releaseOfferFrom(envelope, services_.localVersion, apiBase);
  if (!offer) {
    done(true);
    return;
  }
  services_.log(std::string(kUrlLogText) + offer->packageUrl);

  if (appUpdateView_) {
    // One sheet: a later check refreshes it, notes or none.
    appUpdateView_->setVersion(offer->releaseNote, offer->version, offer->packageUrl,
                               offer->sha256);
    done(!appUpdateView_->sheet().isShown());
    return;
  }
  // The window may have moved on to another content while the request ran.
  if (!host_.isShowingHome()) {
    done(true);
    return;
  }
  std::shared_ptr<UpdateSheet> sheet = host_.loadSheet(false);
  if (!sheet) {
    done(true);
    return;
  }
  std::weak_ptr<AppUpdate*> weak = self_;
  auto controller = std::make_shared<UpdateSheetController>(
      std::move(sheet), services_,
      [weak] {
        if (auto self = weak.lock()) (*self)->appUpdateView_.reset();
      },
      [&host = host_] { host.terminate(); });
  controller->setVersion(offer->releaseNote, offer->version, offer->packageUrl, offer->sha256);
  controller->sheet().show();
  if (!controller->sheet().isShown()) {
    done(true);
    return;
  }
  appUpdateView_ = std::move(controller);
  done(false);
}

}  // namespace vistrelle::cloud
