#pragma once

namespace vistrelle::device::dfu_notifications {

// Object: the glasses model the boot loader reported (integer).
inline constexpr const char* kVersionShow = "cn.com.qx.orvexForMac.dfuUpdate_versionShow";
// Object: the percent written, at most 95 (float).
inline constexpr const char* kProgress = "cn.com.qx.orvexForMac.dfuUpdate_progress";
// Object: false when the update failed; true is posted by the connection road
// when the glasses come back after an update.
inline constexpr const char* kStatus = "cn.com.qx.orvexForMac.dfuUpdate_status";

}  // namespace vistrelle::device::dfu_notifications
