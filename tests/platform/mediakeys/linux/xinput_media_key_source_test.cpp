// The XInput2 media-key source on X servers of the test's own: keys typed
// through XTest arrive as media-key events whatever keycodes the server
// gives them, a remapped keyboard is followed, and a server that goes away
// ends the events, not the process.
#include "platform/mediakeys/linux/xinput_media_key_source.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/dispatch/event_loop.h"
#include "platform/dispatch/runtime.h"
#include "support/xorg_dummy_server.h"
#include "support/xvfb_server.h"

// Last: Xlib's macros would break the headers above.
#include <X11/XF86keysym.h>
#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

namespace vistrelle::mediakeys {
namespace {

// Another client typing on the server's keyboard.
class Typist {
 public:
  explicit Typist(const std::string& display) : display_(XOpenDisplay(display.c_str())) {}
  ~Typist() {
    if (display_) XCloseDisplay(display_);
  }
  bool ok() const { return display_ != nullptr; }
  KeyCode keycodeOf(KeySym keysym) const { return XKeysymToKeycode(display_, keysym); }
  void type(KeyCode keycode) {
    XTestFakeKeyEvent(display_, keycode, True, CurrentTime);
    XTestFakeKeyEvent(display_, keycode, False, CurrentTime);
    XSync(display_, False);
  }
  void remap(KeyCode keycode, KeySym keysym) {
    int perKeycode = 0;
    KeySym* current = XGetKeyboardMapping(display_, keycode, 1, &perKeycode);
    std::vector<KeySym> row(static_cast<size_t>(perKeycode), keysym);
    XFree(current);
    XChangeKeyboardMapping(display_, keycode, perKeycode, row.data(), 1);
    XSync(display_, False);
  }

 private:
  Display* display_;
};

class Received {
 public:
  MediaKeySource::Handler handler() {
    return [this](const MediaKeyEvent& event) {
      {
        std::lock_guard lock(mutex_);
        events_.push_back(event);
      }
      changed_.notify_all();
    };
  }
  // The first `count` events (fewer when they did not come in time).
  std::vector<MediaKeyEvent> first(size_t count) {
    std::unique_lock lock(mutex_);
    changed_.wait_for(lock, std::chrono::seconds(5), [&] { return events_.size() >= count; });
    return events_;
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<MediaKeyEvent> events_;
};

std::vector<MediaKeyEvent> pressAndRelease(std::vector<MediaKey> keys) {
  std::vector<MediaKeyEvent> events;
  for (MediaKey key : keys) {
    events.push_back({key, true, false});
    events.push_back({key, false, false});
  }
  return events;
}

class XInputMediaKeySourceTest : public ::testing::Test {
 protected:
  // The three keys, typed with an ordinary key between them; returns what
  // arrived.
  std::vector<MediaKeyEvent> typeTheThreeKeys(const std::string& display) {
    Typist typist(display);
    EXPECT_TRUE(typist.ok());
    const KeyCode up = typist.keycodeOf(XF86XK_AudioRaiseVolume);
    const KeyCode down = typist.keycodeOf(XF86XK_AudioLowerVolume);
    const KeyCode mute = typist.keycodeOf(XF86XK_AudioMute);
    const KeyCode letter = typist.keycodeOf(XK_a);
    EXPECT_TRUE(up && down && mute && letter);
    ::testing::Test::RecordProperty(
        "keycodes", std::to_string(up) + "/" + std::to_string(down) + "/" + std::to_string(mute));
    typist.type(up);
    typist.type(letter);
    typist.type(down);
    typist.type(mute);
    return received_.first(6);
  }

  dispatch::Runtime runtime_{std::make_shared<dispatch::EventLoop>(), {.workers = 2}};
  Received received_;
};

TEST_F(XInputMediaKeySourceTest, XvfbKeysArriveMappedAndFollowARemap) {
  auto xvfb = std::make_unique<testing::XvfbServer>(640, 480);
  ASSERT_TRUE(xvfb->available());
  auto source = XInputMediaKeySource::create(xvfb->display());
  std::string error;
  ASSERT_TRUE(source->start(received_.handler(), &error)) << error;
  EXPECT_FALSE(source->start(received_.handler(), &error));

  EXPECT_EQ(typeTheThreeKeys(xvfb->display()),
            pressAndRelease({MediaKey::SoundUp, MediaKey::SoundDown, MediaKey::Mute}));

  {
    // The keyboard remapped: "a" becomes mute.
    Typist typist(xvfb->display());
    const KeyCode letter = typist.keycodeOf(XK_a);
    typist.remap(letter, XF86XK_AudioMute);
    typist.type(letter);
  }
  std::vector<MediaKeyEvent> events = received_.first(8);
  ASSERT_EQ(events.size(), 8u);
  EXPECT_EQ(events[6], (MediaKeyEvent{MediaKey::Mute, true, false}));
  EXPECT_EQ(events[7], (MediaKeyEvent{MediaKey::Mute, false, false}));

  // The server goes: the source stops listening, and this process lives on.
  xvfb.reset();
  for (int i = 0; i < 500 && source->listening(); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  EXPECT_FALSE(source->listening());
  source->stop();
}

TEST_F(XInputMediaKeySourceTest, XorgDummyKeysArriveMapped) {
  testing::XorgDummyServer server;
  ASSERT_TRUE(server.running()) << server.error();
  auto source = XInputMediaKeySource::create(server.display());
  std::string error;
  ASSERT_TRUE(source->start(received_.handler(), &error)) << error;
  EXPECT_EQ(typeTheThreeKeys(server.display()),
            pressAndRelease({MediaKey::SoundUp, MediaKey::SoundDown, MediaKey::Mute}));
  source->stop();
  EXPECT_FALSE(source->listening());
}

TEST_F(XInputMediaKeySourceTest, WithoutAServerItDoesNotStart) {
  auto source = XInputMediaKeySource::create(":4095");
  std::string error;
  EXPECT_FALSE(source->start(received_.handler(), &error));
  EXPECT_NE(error.find(":4095"), std::string::npos) << error;
}

TEST_F(XInputMediaKeySourceTest, TheRuntimesStopsEndIt) {
  testing::XvfbServer xvfb(640, 480);
  ASSERT_TRUE(xvfb.available());
  auto source = XInputMediaKeySource::create(xvfb.display());
  std::string error;
  ASSERT_TRUE(source->start(received_.handler(), &error)) << error;
  runtime_.stop();
  EXPECT_FALSE(source->listening());
}

}  // namespace
}  // namespace vistrelle::mediakeys
