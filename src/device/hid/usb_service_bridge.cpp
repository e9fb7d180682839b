#include "device/hid/usb_service_bridge.h"

#include <array>

#include "device/hid/orvex_usb_service_oc.h"
#include "device/protocol/glass_report.h"
#include "tracking/head_imu_api.h"

using vistrelle::device::GlassReport;
using vistrelle::device::OrvexUSBServiceOC;

extern "C" {

int usb_service_start(void) {
  OrvexUSBServiceOC::shareManager().start();
  // The virtual-display set-up would follow: there are none here.
  return 0;
}

float* glass_get_orientation(float out[4]) {
  if (out == nullptr) return out;
  const GlassReport& report = GlassReport::shared();
  switch (report.currentGeneration()) {
    case 2:
      ::head_imu_get_orientation(out);
      break;
    case 1: {
      const std::array<float, 4> q = report.lastQuaternion();
      for (size_t i = 0; i < q.size(); ++i) out[i] = q[i];
      break;
    }
    default:
      break;
  }
  return out;
}

int usb_service_open_3d(void) {
  return OrvexUSBServiceOC::shareManager().open3D(true);
}

int usb_service_close_3d(void) {
  return OrvexUSBServiceOC::shareManager().open3D(false);
}

int usb_service_set_position_callback(usb_service_position_callback callback) {
  OrvexUSBServiceOC::shareManager().setUpdateAppPositionBlock([callback](int64_t position) {
    if (callback != nullptr) callback(position);
  });
  return 0;
}

int usb_service_set_log_callback(usb_service_log_callback callback) {
  OrvexUSBServiceOC::shareManager().setPrintLogOutputBlock([callback](const std::string& text) {
    if (callback != nullptr) callback(text.c_str());
  });
  return 0;
}

int usb_service_create_virtual_displays(bool /*super_wide*/) {
  return 0;
}

int usb_service_disconnect_virtual_displays(void) {
  return 0;
}

int usb_service_connect_virtual_displays(void) {
  return 0;
}

int usb_service_remove_virtual_displays(void) {
  return 0;
}

}  // extern "C"
