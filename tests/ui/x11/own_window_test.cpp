// The progress HUD's own window under Qt's xcb platform on a private Xvfb,
// clicked through XTest as a user would.  The test plays the compositing
// manager by taking the "_NET_WM_CM_S0" selection, and keeps a window of its
// own under the HUD to see which clicks pass through.

#include <gtest/gtest.h>
#include <xcb/xcb.h>
#include <xcb/xtest.h>

#include <QApplication>
#include <QGuiApplication>
#include <QScreen>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <ostream>
#include <string>

#include "platform/compositing/compositing_manager.h"
#include "platform/dispatch/runtime.h"
#include "platform/dispatch/virtual_executor.h"
#include "platform/notify/notification_center.h"
#include "support/xvfb_server.h"
#include "ui/light_palette.h"
#include "ui/progress_hud.h"
#include "ui_harness.h"

namespace vistrelle {
namespace {

using namespace std::chrono_literals;
using ui::ProgressHUD;
using ui::ProgressHUDMaskType;
using ui::ProgressHUDMode;

testing::XvfbServer* xvfb = nullptr;

enum class Went { hud, below, nowhere };
std::ostream& operator<<(std::ostream& out, Went went) {
  return out << (went == Went::hud     ? "the HUD"
                 : went == Went::below ? "the window below"
                                       : "nowhere");
}

// Runs Qt's events until `done` holds (at most five seconds).
template <class Done>
bool processEventsUntil(Done done) {
  const auto end = std::chrono::steady_clock::now() + 5s;
  while (!done()) {
    if (std::chrono::steady_clock::now() > end) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
  }
  return true;
}

// The test's own X client: a window under everything that records the
// presses it gets, fake input, and the compositing manager's selection.
class XSide {
 public:
  explicit XSide(const std::string& display) : connection_(xcb_connect(display.c_str(), nullptr)) {
    screen_ = xcb_setup_roots_iterator(xcb_get_setup(connection_)).data;
    below_ = xcb_generate_id(connection_);
    const uint32_t values[] = {screen_->white_pixel, 1, XCB_EVENT_MASK_BUTTON_PRESS};
    xcb_create_window(connection_, XCB_COPY_FROM_PARENT, below_, screen_->root, 0, 0,
                      screen_->width_in_pixels, screen_->height_in_pixels, 0,
                      XCB_WINDOW_CLASS_INPUT_OUTPUT, XCB_COPY_FROM_PARENT,
                      XCB_CW_BACK_PIXEL | XCB_CW_OVERRIDE_REDIRECT | XCB_CW_EVENT_MASK, values);
    xcb_map_window(connection_, below_);
    sync();
  }
  ~XSide() { xcb_disconnect(connection_); }
  XSide(const XSide&) = delete;
  XSide& operator=(const XSide&) = delete;

  bool ok() const { return !xcb_connection_has_error(connection_); }

  void takeCompositorSelection() {
    selectionOwner_ = xcb_generate_id(connection_);
    xcb_create_window(connection_, XCB_COPY_FROM_PARENT, selectionOwner_, screen_->root, 0, 0, 1, 1,
                      0, XCB_WINDOW_CLASS_INPUT_ONLY, XCB_COPY_FROM_PARENT, 0, nullptr);
    xcb_set_selection_owner(connection_, selectionOwner_, atom("_NET_WM_CM_S0"), XCB_CURRENT_TIME);
    sync();
  }
  void dropCompositorSelection() {
    if (selectionOwner_ == XCB_WINDOW_NONE) return;
    xcb_destroy_window(connection_, selectionOwner_);
    selectionOwner_ = XCB_WINDOW_NONE;
    sync();
  }

  void click(QPoint at) {
    xcb_test_fake_input(connection_, XCB_MOTION_NOTIFY, 0, XCB_CURRENT_TIME, screen_->root,
                        static_cast<int16_t>(at.x()), static_cast<int16_t>(at.y()), 0);
    xcb_test_fake_input(connection_, XCB_BUTTON_PRESS, 1, XCB_CURRENT_TIME, XCB_WINDOW_NONE, 0, 0,
                        0);
    xcb_test_fake_input(connection_, XCB_BUTTON_RELEASE, 1, XCB_CURRENT_TIME, XCB_WINDOW_NONE, 0, 0,
                        0);
    sync();
  }

  // Presses the window under the HUD got since the last call.
  int pressesBelow() {
    int presses = 0;
    while (xcb_generic_event_t* event = xcb_poll_for_event(connection_)) {
      if ((event->response_type & 0x7f) == XCB_BUTTON_PRESS &&
          reinterpret_cast<xcb_button_press_event_t*>(event)->event == below_) {
        ++presses;
      }
      free(event);
    }
    return presses;
  }

  // A window's rectangle on the root, as the server has it.
  std::optional<QRect> geometry(xcb_window_t window) {
    auto* reply =
        xcb_get_geometry_reply(connection_, xcb_get_geometry(connection_, window), nullptr);
    if (!reply) return std::nullopt;
    auto* moved = xcb_translate_coordinates_reply(
        connection_, xcb_translate_coordinates(connection_, window, screen_->root, 0, 0), nullptr);
    std::optional<QRect> rect;
    if (moved) rect = QRect(moved->dst_x, moved->dst_y, reply->width, reply->height);
    free(moved);
    free(reply);
    return rect;
  }
  bool viewable(xcb_window_t window) {
    auto* attributes = xcb_get_window_attributes_reply(
        connection_, xcb_get_window_attributes(connection_, window), nullptr);
    const bool result = attributes && attributes->map_state == XCB_MAP_STATE_VIEWABLE;
    free(attributes);
    return result;
  }

 private:
  void sync() {
    free(xcb_get_input_focus_reply(connection_, xcb_get_input_focus(connection_), nullptr));
  }
  xcb_atom_t atom(const char* name) {
    auto* reply = xcb_intern_atom_reply(
        connection_, xcb_intern_atom(connection_, 0, static_cast<uint16_t>(strlen(name)), name),
        nullptr);
    const xcb_atom_t value = reply ? reply->atom : static_cast<xcb_atom_t>(XCB_ATOM_NONE);
    free(reply);
    return value;
  }

  xcb_connection_t* connection_;
  xcb_screen_t* screen_ = nullptr;
  xcb_window_t below_ = XCB_WINDOW_NONE;
  xcb_window_t selectionOwner_ = XCB_WINDOW_NONE;
};

class OwnWindowOnX : public ::testing::Test {
 protected:
  void SetUp() override {
    x = std::make_unique<XSide>(xvfb->display());
    ASSERT_TRUE(x->ok());
    subscription =
        NotificationCenter::defaultCenter().observe("ProgressHUD.didReceiveMouseDownEvent", nullptr,
                                                    [this](const Notification&) { ++hudPresses; });
  }
  void TearDown() override {
    hud.reset();
    x.reset();
    uitest::settle();
  }
  // Shown in its own window with the real X11 check, the window mapped and
  // where the HUD wants it.
  void showAlone(const ProgressHUDMaskType& mask) {
    hud = std::make_unique<ProgressHUD>();
    hud->setCompositingManager(compositing::CompositingManager::x11(xvfb->display()));
    hud->setMaskType(mask);
    hud->show("Loading", ProgressHUDMode::indeterminate());
    uitest::advance(0.25);
    window = static_cast<xcb_window_t>(hud->ownWindow()->winId());
    ASSERT_TRUE(processEventsUntil([this] { return x->viewable(window); }));
  }
  bool windowAt(const QRect& rect) {
    return processEventsUntil([&] { return x->geometry(window) == rect; });
  }
  // Whether a click at `at` reached the HUD (its notification) or the
  // window under it.
  // (A press goes to one window only: the first to hear of it is the one.)
  Went clickAt(QPoint at) {
    const int before = hudPresses;
    x->pressesBelow();
    x->click(at);
    Went went = Went::nowhere;
    processEventsUntil([&] {
      if (x->pressesBelow() > 0) went = Went::below;
      if (hudPresses > before) went = Went::hud;
      return went != Went::nowhere;
    });
    return went;
  }

  std::unique_ptr<XSide> x;
  std::unique_ptr<ProgressHUD> hud;
  xcb_window_t window = XCB_WINDOW_NONE;
  int hudPresses = 0;
  Subscription subscription;
};

TEST_F(OwnWindowOnX, WithoutACompositingManagerTheWindowIsTheBox) {
  showAlone(ProgressHUDMaskType::black());
  const QRect box = hud->boxRect().toAlignedRect();
  const QRect screen = QGuiApplication::screens().first()->geometry();
  EXPECT_TRUE(windowAt(box.translated(screen.topLeft())))
      << "no black sheet over the screen: the server has "
      << (x->geometry(window) ? std::to_string(x->geometry(window)->width()) : "nothing");
  EXPECT_EQ(clickAt(box.center()), Went::hud);
  EXPECT_EQ(clickAt(QPoint(5, 5)), Went::below) << "the rest of the screen is not the HUD's";
  hud->hide(false);
  EXPECT_TRUE(processEventsUntil([this] { return !x->viewable(window); })) << "closed";
}

TEST_F(OwnWindowOnX, WithOneTheWindowCoversTheScreenAndOnlyTheBoxTakesClicks) {
  x->takeCompositorSelection();
  showAlone(ProgressHUDMaskType::none());
  const QRect screen = QGuiApplication::screens().first()->geometry();
  EXPECT_TRUE(windowAt(screen));
  const QRect box = hud->boxRect().toAlignedRect();
  EXPECT_EQ(clickAt(box.center()), Went::hud);
  EXPECT_EQ(clickAt(QPoint(5, 5)), Went::below) << "passes through the HUD's window";
  EXPECT_EQ(clickAt(QPoint(screen.width() - 5, screen.height() - 5)), Went::below);

  // A mask takes the whole screen's clicks.
  hud->setMaskType(ProgressHUDMaskType::black());
  uitest::settle();
  EXPECT_EQ(clickAt(QPoint(5, 5)), Went::hud);
  hud->setMaskType(ProgressHUDMaskType::none());
  uitest::settle();
  EXPECT_EQ(clickAt(QPoint(5, 5)), Went::below);

  // The check is made at each show: the manager gone, the window shrinks.
  hud->hide(false);
  x->dropCompositorSelection();
  hud->show("Loading", ProgressHUDMode::indeterminate());
  uitest::advance(0.25);
  EXPECT_TRUE(windowAt(hud->boxRect().toAlignedRect().translated(screen.topLeft())));
}

}  // namespace
}  // namespace vistrelle

// Qt goes to a private Xvfb, where the test may take the compositing
// manager's selection without touching anyone else's display.
int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  vistrelle::testing::XvfbServer server(1024, 768);
  if (!server.available()) {
    std::fprintf(stderr, "no Xvfb\n");
    return 1;
  }
  vistrelle::xvfb = &server;
  setenv("DISPLAY", server.display().c_str(), 1);
  setenv("QT_QPA_PLATFORM", "xcb", 1);
  int status = 0;
  {
    QApplication application(argc, argv);
    vistrelle::ui::applyLightPalette(application);
    auto mainQueue = std::make_shared<vistrelle::dispatch::VirtualExecutor>("main");
    vistrelle::dispatch::Runtime runtime(mainQueue, {.workers = 1});
    status = RUN_ALL_TESTS();
  }
  return status;
}
