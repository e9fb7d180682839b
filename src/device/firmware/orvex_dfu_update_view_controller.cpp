#include "device/firmware/orvex_dfu_update_view_controller.h"

#include "base/helpers/language_bundle.h"
#include "device/firmware/dfu_notifications.h"
#include "device/firmware/dfu_update_driver.h"
#include "platform/dispatch/runtime.h"

namespace vistrelle::device {
namespace {

constexpr const char* kWhite = "#FFFFFF";
constexpr const char* kBlue = "#068EFF";
constexpr const char* kRed = "#FF0000";

std::string replaceAll(std::string text, const std::string& from, const std::string& to) {
  if (from.empty()) return text;
  for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size())) {
    text.replace(at, from.size(), to);
  }
  return text;
}

}  // namespace

OrvexDFUUpdateViewController::OrvexDFUUpdateViewController(DfuUpdateView& view,
                                                           Dependencies dependencies)
    : view_(view),
      deps_(std::move(dependencies)),
      center_(deps_.center ? *deps_.center : NotificationCenter::defaultCenter()),
      state_(deps_.state ? *deps_.state : MainState::shared()),
      timer_(deps_.timer ? *deps_.timer : GCXTimer::shared()) {
  if (!deps_.mainQueue) deps_.mainQueue = dispatch::mainQueue();
  if (!deps_.runUpdate) deps_.runUpdate = [] { return DfuUpdateDriver::shared().runDfuUpdate(); };
  if (!deps_.localize) {
    deps_.localize = [](std::string_view key) {
      return base::LanguageBundle::shared().localizedStringForKey(key);
    };
  }
}

OrvexDFUUpdateViewController::~OrvexDFUUpdateViewController() {
  alive_.reset();
  removeObservers();
  timer_.cancel(waitTask_);
  if (update_.joinable()) update_.join();
}

std::string OrvexDFUUpdateViewController::text(std::string_view key) const {
  return deps_.localize(key);
}

void OrvexDFUUpdateViewController::viewDidLoad() {
  loaded_ = true;
  state_.isDfuUpdateStart.store(false);
  view_.setImage(kImageUpdate);
  view_.setButtonHidden(false);
  view_.setButtonTitle(text("开始升级"), kWhite);
  view_.setButtonBackground(kBlue);
  view_.setProgressHidden(true);
  view_.setProgressValue(0);
  setTipsText(text("发现眼镜固件新版本"));
  view_.setTips2Text(text("升级耗时约15秒"));

  removeObservers();
  const auto observe = [this](const char* name,
                              void (OrvexDFUUpdateViewController::*handler)(const Value&)) {
    return center_.observe(name, deps_.mainQueue, [this, handler](const Notification& note) {
      (this->*handler)(note.object);
    });
  };
  versionShowObserver_ =
      observe(dfu_notifications::kVersionShow, &OrvexDFUUpdateViewController::onVersionShow);
  progressObserver_ =
      observe(dfu_notifications::kProgress, &OrvexDFUUpdateViewController::onProgress);
  statusObserver_ = observe(dfu_notifications::kStatus, &OrvexDFUUpdateViewController::onStatus);
}

void OrvexDFUUpdateViewController::setTipsText(const std::string& text) {
  view_.setTipsText(text, DfuTipsStyle{});
}

void OrvexDFUUpdateViewController::resetUpdateView() {
  if (!loaded_) return;
  state_.isBeginUpdateDfu.store(false);
  view_.setImage(kImageUpdate);
  setTipsText(text("发现眼镜固件新版本"));
  view_.setTips2Text(text("升级耗时约15秒"));
  view_.setButtonHidden(false);
  view_.setButtonTitle(text("开始升级"), kWhite);
  view_.setButtonBackground(kBlue);
  view_.setProgressHidden(true);
  view_.setProgressValue(0);
}

void OrvexDFUUpdateViewController::removeObservers() {
  versionShowObserver_.cancel();
  progressObserver_.cancel();
  statusObserver_.cancel();
}

void OrvexDFUUpdateViewController::updateButtonClick() {
  view_.setImage(kImageUpdate);
  state_.isDfuUpdateStart.store(true);
  view_.setProgressValue(0);
  setTipsText(text("正在升级，请勿拔出眼镜"));
  view_.setButtonHidden(true);
  view_.setProgressHidden(false);

  const std::optional<DfuDeviceIds> device = deps_.glasses->connectedDevice();
  if (!device) {
    // Nothing can be updated: say so, instead of leaving the window saying
    // it is updating, with no button, for ever.
    postFailure();
    return;
  }
  if (device->vendorId == kBootLoaderVendorId && device->productId == kBootLoaderProductId) {
    runUpdateOnItsThread();
    return;
  }
  if (deps_.glasses->enterDfu() != 0) {
    postFailure();
    return;
  }
  timer_.cancel(waitTask_);
  std::weak_ptr<int> alive = alive_;
  waitTask_ = timer_.start(
      [this, alive] {
        if (alive.lock()) waitForIspAndUpdate();
      },
      kBootLoaderDelaySeconds, 0, false, false);
}

void OrvexDFUUpdateViewController::waitForIspAndUpdate() {
  polls_ = 0;
  if (state_.isBeginUpdateDfu.load()) {
    endWait();
    return;
  }
  std::weak_ptr<int> alive = alive_;
  waitTask_ = timer_.start(
      [this, alive] {
        if (!alive.lock()) return;
        ++polls_;
        if (state_.isBeginUpdateDfu.load() || polls_ >= kMaxPolls) {
          timer_.cancel(waitTask_);
          endWait();
        }
      },
      kPollSeconds, kPollSeconds, true, false);
}

void OrvexDFUUpdateViewController::endWait() {
  waitTask_.clear();
  if (state_.glassStatus.load()) {
    runUpdateOnItsThread();
  } else {
    // Neither the boot loader nor the glasses are there: the update cannot
    // go on, and the window must not keep saying it does.
    postFailure();
  }
}

void OrvexDFUUpdateViewController::runUpdateOnItsThread() {
  // The button is hidden while an update runs, so an earlier thread is at
  // most finishing its last lines.
  if (update_.joinable()) update_.join();
  update_ = std::thread([run = deps_.runUpdate, center = &center_] {
    if (run() == -1) center->post(dfu_notifications::kStatus, Value(false));
  });
}

void OrvexDFUUpdateViewController::postFailure() {
  center_.post(dfu_notifications::kStatus, Value(false));
}

void OrvexDFUUpdateViewController::onVersionShow(const Value& model) {
  std::string version;
  if (model.intOr(0) == 1) {
    version = replaceAll(state_.dfuUpdateVersion_V2.get(), "ORVEX2_FW_V", "V");
  } else {
    version = replaceAll(state_.dfuUpdateVersion_V2Pro.get(), "ORVEX2PRO_FW_V", "V");
  }
  view_.setTips2Text(text("版本") + version);
}

void OrvexDFUUpdateViewController::onProgress(const Value& percent) {
  view_.setProgressValue(percent.doubleOr(0));
}

void OrvexDFUUpdateViewController::onStatus(const Value& success) {
  state_.isBeginUpdateDfu.store(false);
  const bool succeeded = success.boolOr(false);
  std::weak_ptr<int> alive = alive_;
  deps_.mainQueue->post([this, alive, succeeded] {
    if (alive.lock()) showUpdateResult(succeeded);
  });
}

void OrvexDFUUpdateViewController::showUpdateResult(bool success) {
  if (success) {
    view_.setButtonHidden(true);
    view_.setProgressHidden(true);
    view_.setImage(kImageSuccess);
    setTipsText(text("升级完成，请重新插入眼镜"));
    state_.isDfuUpdateStart.store(false);
  } else {
    view_.setButtonHidden(false);
    view_.setButtonTitle(text("重试"), kRed);
    view_.setButtonBackground(kWhite);
    view_.setProgressHidden(true);
    view_.setImage(kImageFailed);
    setTipsText(text("升级失败，请重试"));
  }
}

}  // namespace vistrelle::device
