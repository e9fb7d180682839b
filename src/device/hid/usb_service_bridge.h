#ifndef VISTRELLE_DEVICE_HID_USB_SERVICE_BRIDGE_H
#define VISTRELLE_DEVICE_HID_USB_SERVICE_BRIDGE_H

/* Plain C entry points over the shared USB-service facade and the glasses'
 * orientation.  Every function returns 0 unless said otherwise; each may be
 * called from any thread. */

#include <stdbool.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef void (*usb_service_position_callback)(int64_t position);
typedef void (*usb_service_log_callback)(const char* utf8_text);

/* Starts the facade's command layer (its HID monitor thread). */
int usb_service_start(void);

/* The glasses' orientation x, y, z, w into `out`: second-generation glasses
 * through the head-tracking library, first-generation ones as they reported
 * it; `out` is left untouched before any glasses report and when it is null.
 * Returns `out`. */
float* glass_get_orientation(float out[4]);

/* 3D on / off through the facade's command layer: its result (0 success,
 * -1 no glasses, another negative errno when the write failed). */
int usb_service_open_3d(void);
int usb_service_close_3d(void);

/* Where the facade's position results and log texts go; null stops them. */
int usb_service_set_position_callback(usb_service_position_callback callback);
int usb_service_set_log_callback(usb_service_log_callback callback);

/* Virtual displays: there are none on this platform; these do nothing. */
int usb_service_create_virtual_displays(bool super_wide);
int usb_service_disconnect_virtual_displays(void);
int usb_service_connect_virtual_displays(void);
int usb_service_remove_virtual_displays(void);

#ifdef __cplusplus
}
#endif

#endif
