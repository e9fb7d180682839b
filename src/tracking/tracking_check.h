#pragma once

namespace vistrelle::tracking {

// A failed argument or state check in the tracking library is a programming
// error: the process stops at once, naming the function, the source file and
// the failed expression, so the fault is found where it happened.
[[noreturn]] void tracking_check_failed(const char* function, const char* file,
                                        const char* expression);

}  // namespace vistrelle::tracking

// Each macro stringifies its own argument, before NULL and friends expand.
#define TRACKING_CHECK_AT(file, expr, text)                                          \
  do {                                                                               \
    if (!(expr)) ::vistrelle::tracking::tracking_check_failed(__func__, file, text); \
  } while (0)

#define TRACKING_CHECK(expr) TRACKING_CHECK_AT(__FILE_NAME__, expr, #expr)
#define TRACKING_CHECK_IN(file, expr) TRACKING_CHECK_AT(file, expr, #expr)
