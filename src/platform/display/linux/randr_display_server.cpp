#include "platform/display/linux/randr_display_server.h"

#include <xcb/randr.h>
#include <xcb/xcb.h>
#include <xcb/xtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "platform/dispatch/runtime.h"
#include "platform/display/crtc_plan.h"
#include "platform/display/linux/randr_reader.h"
#include "platform/display/linux/xcb_connection.h"
#include "platform/session/session_type.h"

namespace vistrelle::display {
namespace {

Deadline deadlineAfter(std::chrono::milliseconds limit) {
  return std::chrono::steady_clock::now() + limit;
}

DisplayError lockTimeout() {
  return {DisplayError::Kind::Timeout, "another display call did not finish in time"};
}

// Millimetres for a screen size, at 96 pixels per inch.
uint32_t millimetres(int pixels) {
  return static_cast<uint32_t>(std::lround(pixels * 25.4 / 96.0));
}

const char* crtcStatusText(uint8_t status) {
  switch (status) {
    case XCB_RANDR_SET_CONFIG_INVALID_CONFIG_TIME:
      return "the display configuration changed meanwhile";
    case XCB_RANDR_SET_CONFIG_INVALID_TIME:
      return "the request is older than the last change";
    default:
      return "the server could not set the CRTC";
  }
}

// Sets one CRTC and waits for its status.
DisplayResult<void> setCrtc(XcbConnection& connection, const RandrState& state,
                            const CrtcConfig& config, Deadline deadline) {
  const auto cookie = xcb_randr_set_crtc_config(
      connection.get(), config.crtc, XCB_CURRENT_TIME, state.configTimestamp,
      static_cast<int16_t>(config.x), static_cast<int16_t>(config.y), config.mode, config.rotation,
      static_cast<uint32_t>(config.outputs.size()), config.outputs.data());
  auto reply = connection.reply<xcb_randr_set_crtc_config_reply_t>(cookie.sequence, deadline,
                                                                   "SetCrtcConfig");
  if (!reply) return reply.error();
  if (reply.value()->status != XCB_RANDR_SET_CONFIG_SUCCESS) {
    return DisplayError{DisplayError::Kind::Refused,
                        std::string("SetCrtcConfig: ") + crtcStatusText(reply.value()->status)};
  }
  return {};
}

DisplayResult<void> setScreenSize(XcbConnection& connection, int width, int height,
                                  Deadline deadline) {
  const xcb_void_cookie_t cookie = xcb_randr_set_screen_size_checked(
      connection.get(), connection.root(), static_cast<uint16_t>(width),
      static_cast<uint16_t>(height), millimetres(width), millimetres(height));
  return connection.check({&cookie, 1}, deadline, "SetScreenSize");
}

// The change itself, with the server grabbed by the caller.  A CRTC that
// cannot be set undoes the ones set before it and the screen's growth, so a
// refused change leaves the layout as it was.
DisplayResult<void> applyPlan(XcbConnection& connection, const RandrState& state,
                              const CrtcPlan& plan, uint32_t primary, Deadline deadline) {
  const int oldWidth = state.layout.screenWidth;
  const int oldHeight = state.layout.screenHeight;
  const int finalWidth = std::max(plan.width, state.minWidth);
  const int finalHeight = std::max(plan.height, state.minHeight);
  if (finalWidth > state.maxWidth || finalHeight > state.maxHeight) {
    return DisplayError{DisplayError::Kind::Refused,
                        "the layout needs a screen of " + std::to_string(finalWidth) + "x" +
                            std::to_string(finalHeight) + ", more than the server's " +
                            std::to_string(state.maxWidth) + "x" + std::to_string(state.maxHeight)};
  }
  // Grown first: a CRTC may not reach past the screen.
  int width = std::max(oldWidth, finalWidth);
  int height = std::max(oldHeight, finalHeight);
  if (width != oldWidth || height != oldHeight) {
    if (auto grown = setScreenSize(connection, width, height, deadline); !grown) return grown;
  }
  for (size_t i = 0; i < plan.after.size(); ++i) {
    DisplayResult<void> set = setCrtc(connection, state, plan.after[i], deadline);
    if (set) continue;
    if (set.error().kind == DisplayError::Kind::Refused) {
      for (size_t j = i; j-- > 0;) setCrtc(connection, state, plan.before[j], deadline);
      if (width != oldWidth || height != oldHeight) {
        setScreenSize(connection, oldWidth, oldHeight, deadline);
      }
    }
    return set;
  }
  if (primary != 0 && primary != state.layout.primary) {
    const xcb_void_cookie_t cookie =
        xcb_randr_set_output_primary_checked(connection.get(), connection.root(), primary);
    if (auto set = connection.check({&cookie, 1}, deadline, "SetOutputPrimary"); !set) return set;
  }
  if (width != finalWidth || height != finalHeight) {
    return setScreenSize(connection, finalWidth, finalHeight, deadline);
  }
  return {};
}

}  // namespace

RandrDisplayServer::RandrDisplayServer(std::string displayName)
    : displayName_(std::move(displayName)) {}

RandrDisplayServer::~RandrDisplayServer() {
  stop_.reset();
}

DisplayResult<void> RandrDisplayServer::admit() {
  if (closed_.load()) {
    return DisplayError{DisplayError::Kind::NoServer, "the display connection is closed"};
  }
  std::lock_guard lock(stopMutex_);
  if (!stop_.active() && dispatch::Runtime::installed()) {
    stop_ = dispatch::Runtime::shared().registerStop("displays.X11", [this] { close(); });
  }
  return {};
}

void RandrDisplayServer::close() {
  closed_.store(true);
  // A call under way ends within its limit; its connection goes with it then.
  const TimedGate::Pass pass = gate_.enter(deadlineAfter(kDefaultLimit));
  if (pass) connection_.reset();
}

DisplayResult<XcbConnection*> RandrDisplayServer::connection() {
  if (closed_.load()) {
    connection_.reset();
    return DisplayError{DisplayError::Kind::NoServer, "the display connection is closed"};
  }
  if (connection_ && connection_->broken()) connection_.reset();
  if (!connection_) {
    DisplayError error;
    connection_ = XcbConnection::open(displayName_, &error);
    if (!connection_) return error;
  }
  connection_->discardEvents();
  return connection_.get();
}

void RandrDisplayServer::dropAfter(const DisplayError& error) {
  // A refusal is an answer: the connection is in step.  Anything else may
  // leave answers on their way that nobody will collect.
  if (error.kind != DisplayError::Kind::Refused && error.kind != DisplayError::Kind::Invalid) {
    connection_.reset();
  }
}

DisplayResult<DisplayLayout> RandrDisplayServer::layout(bool probe,
                                                        std::chrono::milliseconds limit) {
  if (auto admitted = admit(); !admitted) return admitted.error();
  const Deadline deadline = deadlineAfter(limit);
  const TimedGate::Pass pass = gate_.enter(deadline);
  if (!pass) return lockTimeout();
  auto live = connection();
  if (!live) return live.error();
  auto state = readRandrState(*live.value(), probe, deadline);
  if (!state) {
    // A read that failed half-way leaves answers nobody collects.
    connection_.reset();
    return state.error();
  }
  return std::move(state).value().layout;
}

DisplayResult<void> RandrDisplayServer::apply(const LayoutChange& change,
                                              std::chrono::milliseconds limit) {
  if (change.empty()) return {};
  if (auto admitted = admit(); !admitted) return admitted;
  if (displayName_.empty() && session::isWaylandSession()) {
    return DisplayError{DisplayError::Kind::Refused,
                        "a Wayland session: its compositor, not X11, arranges the displays"};
  }
  const Deadline deadline = deadlineAfter(limit);
  const TimedGate::Pass pass = gate_.enter(deadline);
  if (!pass) return lockTimeout();
  auto live = connection();
  if (!live) return live.error();
  XcbConnection& x = *live.value();
  auto state = readRandrState(x, false, deadline);
  if (!state) {
    connection_.reset();
    return state.error();
  }
  auto plan = planCrtcs(state.value().layout, change);
  if (!plan) return plan.error();
  if (plan.value().after.empty() && plan.value().width == state.value().layout.screenWidth &&
      plan.value().height == state.value().layout.screenHeight &&
      (change.primary == 0 || change.primary == state.value().layout.primary)) {
    return {};
  }
  // Other clients see the layout before or after the change, never half of it.
  xcb_grab_server(x.get());
  DisplayResult<void> applied = applyPlan(x, state.value(), plan.value(), change.primary, deadline);
  xcb_ungrab_server(x.get());
  xcb_flush(x.get());
  if (!applied) dropAfter(applied.error());
  return applied;
}

DisplayResult<void> RandrDisplayServer::nudgePointer(std::chrono::milliseconds limit) {
  if (auto admitted = admit(); !admitted) return admitted.error();
  const Deadline deadline = deadlineAfter(limit);
  const TimedGate::Pass pass = gate_.enter(deadline);
  if (!pass) return lockTimeout();
  auto live = connection();
  if (!live) return live.error();
  XcbConnection& x = *live.value();
  const xcb_query_extension_reply_t* xtest = xcb_get_extension_data(x.get(), &xcb_test_id);
  if (xtest == nullptr || !xtest->present) {
    return DisplayError{DisplayError::Kind::Refused, "the X server has no XTEST extension"};
  }
  auto pointer = x.reply<xcb_query_pointer_reply_t>(xcb_query_pointer(x.get(), x.root()).sequence,
                                                    deadline, "QueryPointer");
  if (!pointer) {
    dropAfter(pointer.error());
    return pointer.error();
  }
  const xcb_void_cookie_t cookie =
      xcb_test_fake_input_checked(x.get(), XCB_MOTION_NOTIFY, 0, XCB_CURRENT_TIME, x.root(),
                                  pointer.value()->root_x, pointer.value()->root_y, 0);
  DisplayResult<void> moved = x.check({&cookie, 1}, deadline, "XTestFakeInput");
  if (!moved) dropAfter(moved.error());
  return moved;
}

}  // namespace vistrelle::display
