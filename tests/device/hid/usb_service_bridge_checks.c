/* The C bridge called from C: this file is compiled as C, so the header must
 * be valid C and every entry point callable with C types. */
#include "device/hid/usb_service_bridge_checks.h"

#include <stddef.h>
#include <string.h>

#include "device/hid/usb_service_bridge.h"

static char last_log[256];
static int log_calls;
static int64_t last_position = -1;
static int position_calls;

static void on_log(const char* text) {
  strncpy(last_log, text, sizeof last_log - 1);
  last_log[sizeof last_log - 1] = '\0';
  ++log_calls;
}

static void on_position(int64_t position) {
  last_position = position;
  ++position_calls;
}

int bridge_install_callbacks(int with_callbacks) {
  return usb_service_set_log_callback(with_callbacks ? on_log : NULL) +
         usb_service_set_position_callback(with_callbacks ? on_position : NULL);
}

const char* bridge_last_log(void) {
  return last_log;
}
int bridge_log_calls(void) {
  return log_calls;
}
int64_t bridge_last_position(void) {
  return last_position;
}
int bridge_position_calls(void) {
  return position_calls;
}

int bridge_start(void) {
  return usb_service_start();
}
int bridge_open_3d(void) {
  return usb_service_open_3d();
}
int bridge_close_3d(void) {
  return usb_service_close_3d();
}

int bridge_virtual_displays(void) {
  return usb_service_create_virtual_displays(true) + usb_service_create_virtual_displays(false) +
         usb_service_disconnect_virtual_displays() + usb_service_connect_virtual_displays() +
         usb_service_remove_virtual_displays();
}

int bridge_orientation(float out[4]) {
  if (glass_get_orientation(NULL) != NULL) return -1;
  return glass_get_orientation(out) == out ? 0 : -1;
}
