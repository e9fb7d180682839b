#ifndef VISTRELLE_TESTS_USB_SERVICE_BRIDGE_CHECKS_H
#define VISTRELLE_TESTS_USB_SERVICE_BRIDGE_CHECKS_H

/* Calls of the C bridge made from C (usb_service_bridge_checks.c). */

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Installs recording callbacks, or null ones; the sum of the results. */
int bridge_install_callbacks(int with_callbacks);
const char* bridge_last_log(void);
int bridge_log_calls(void);
int64_t bridge_last_position(void);
int bridge_position_calls(void);

int bridge_start(void);
int bridge_open_3d(void);
int bridge_close_3d(void);
/* The sum of every virtual-display call's result. */
int bridge_virtual_displays(void);
/* 0 when a null buffer comes back null and `out` comes back as itself. */
int bridge_orientation(float out[4]);

#ifdef __cplusplus
}
#endif

#endif
