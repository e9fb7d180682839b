// The compositing-manager check on a private Xvfb: the test itself takes and
// gives up the "_NET_WM_CM_S0" selection, as a compositing manager does when
// it starts and stops.

#include "platform/compositing/compositing_manager.h"

#include <gtest/gtest.h>
#include <xcb/xcb.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/compositing/fake/fake_compositing_manager.h"
#include "support/xvfb_server.h"

namespace vistrelle::compositing {
namespace {

// A client that owns a selection through a window of its own while it lives.
class SelectionOwner {
 public:
  SelectionOwner(const std::string& display, const std::string& selection)
      : connection_(xcb_connect(display.c_str(), nullptr)) {
    if (xcb_connection_has_error(connection_)) return;
    xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(connection_)).data;
    window_ = xcb_generate_id(connection_);
    xcb_create_window(connection_, XCB_COPY_FROM_PARENT, window_, screen->root, 0, 0, 1, 1, 0,
                      XCB_WINDOW_CLASS_INPUT_ONLY, XCB_COPY_FROM_PARENT, 0, nullptr);
    auto* atom = xcb_intern_atom_reply(
        connection_,
        xcb_intern_atom(connection_, 0, static_cast<uint16_t>(selection.size()), selection.c_str()),
        nullptr);
    if (atom) {
      xcb_set_selection_owner(connection_, window_, atom->atom, XCB_CURRENT_TIME);
      free(atom);
    }
    // One round trip, so the server has done it before the test asks.
    free(xcb_get_input_focus_reply(connection_, xcb_get_input_focus(connection_), nullptr));
  }
  ~SelectionOwner() {
    // Destroying the owner's window gives the selection up; the round trip
    // makes sure the server has done it before the test asks again.
    if (window_ != XCB_WINDOW_NONE) xcb_destroy_window(connection_, window_);
    free(xcb_get_input_focus_reply(connection_, xcb_get_input_focus(connection_), nullptr));
    xcb_disconnect(connection_);
  }
  SelectionOwner(const SelectionOwner&) = delete;
  SelectionOwner& operator=(const SelectionOwner&) = delete;

 private:
  xcb_connection_t* connection_;
  xcb_window_t window_ = XCB_WINDOW_NONE;
};

TEST(X11CompositingManager, FollowsTheOwnerOfTheScreensSelection) {
  testing::XvfbServer xvfb(320, 200);
  if (!xvfb.available()) GTEST_SKIP() << "no Xvfb";
  auto manager = CompositingManager::x11(xvfb.display());
  ASSERT_NE(manager, nullptr);
  EXPECT_FALSE(manager->isActive()) << "a bare Xvfb runs no compositing manager";
  {
    SelectionOwner other(xvfb.display(), "_NET_WM_CM_S1");
    EXPECT_FALSE(manager->isActive()) << "another screen's selection does not count";
    SelectionOwner compositor(xvfb.display(), "_NET_WM_CM_S0");
    EXPECT_TRUE(manager->isActive());
  }
  // The owner's window gone, the selection is free again.
  EXPECT_FALSE(manager->isActive());
  SelectionOwner again(xvfb.display(), "_NET_WM_CM_S0");
  EXPECT_TRUE(manager->isActive()) << "asked anew each time";
}

TEST(X11CompositingManager, AnUnreachableDisplayIsNoCompositing) {
  auto manager = CompositingManager::x11(":9876");
  ASSERT_NE(manager, nullptr);
  EXPECT_FALSE(manager->isActive());
  EXPECT_FALSE(manager->isActive()) << "tries again, still nothing";
}

TEST(CompositingManager, FixedAndFakeAnswers) {
  EXPECT_TRUE(CompositingManager::fixed(true)->isActive());
  EXPECT_FALSE(CompositingManager::fixed(false)->isActive());
  FakeCompositingManager fake;
  EXPECT_FALSE(fake.isActive());
  fake.setActive(true);
  EXPECT_TRUE(fake.isActive());
  EXPECT_EQ(fake.queries(), 2);
}

}  // namespace
}  // namespace vistrelle::compositing
