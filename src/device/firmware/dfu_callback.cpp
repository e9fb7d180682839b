#include "device/firmware/dfu_callback.h"

#include <algorithm>

#include "device/firmware/dfu_notifications.h"

namespace vistrelle::device {

void DfuCallback::onStart() {
  log_("开始进行升级了...");
}

void DfuCallback::onProgress(float percent) {
  center_.post(dfu_notifications::kProgress, Value(std::min(percent, kMaxProgress)));
}

void DfuCallback::onSuccess() {
  log_("升级成功!");
}

void DfuCallback::onFail(int code) {
  log_(formatText("升级失败 ret=%d！！！", code));
  center_.post(dfu_notifications::kStatus, Value(false));
}

}  // namespace vistrelle::device
