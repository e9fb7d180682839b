#include "platform/bus/fake/fake_bus.h"

#include <gtest/gtest.h>

#include "platform/bus/fake/fake_bus_connector.h"
#include "platform/dispatch/virtual_executor.h"

namespace vistrelle::bus {
namespace {

using namespace std::chrono_literals;

BusMethodCall setBrightness(uint32_t value, std::chrono::milliseconds timeout = 1s) {
  return BusMethodCall{"org.freedesktop.login1",
                       "/org/freedesktop/login1/session/auto",
                       "org.freedesktop.login1.Session",
                       "SetBrightness",
                       {BusValue("backlight"), BusValue("acpi_video0"), BusValue(value)},
                       timeout};
}

class FakeBusTest : public ::testing::Test {
 protected:
  std::shared_ptr<dispatch::VirtualExecutor> queue_ = std::make_shared<dispatch::VirtualExecutor>();
  std::shared_ptr<FakeBus> bus_ = FakeBus::create(BusKind::System, queue_);
  std::vector<Bus::Reply> replies_;
  Bus::ReplyHandler record() {
    return [this](Bus::Reply reply) { replies_.push_back(std::move(reply)); };
  }
};

TEST_F(FakeBusTest, RecordsCallsAndDeliversAnswersOnTheQueue) {
  bus_->call(setBrightness(10), queue_, record());
  bus_->call(setBrightness(20), queue_, record());
  ASSERT_EQ(bus_->calls().size(), 2u);
  EXPECT_EQ(bus_->calls()[1].args[2], BusValue(uint32_t{20}));
  EXPECT_EQ(bus_->pendingCount(), 2u);

  EXPECT_TRUE(bus_->answerNext(std::vector<BusValue>{}));
  EXPECT_TRUE(bus_->answerNext(
      BusError::make(BusError::Code::Remote, "denied", "org.freedesktop.DBus.Error.AccessDenied")));
  EXPECT_FALSE(bus_->answerNext(std::vector<BusValue>{}));
  EXPECT_TRUE(replies_.empty());  // nothing runs on the caller's stack
  queue_->runUntilIdle();
  ASSERT_EQ(replies_.size(), 2u);
  EXPECT_TRUE(replies_[0].ok());
  EXPECT_EQ(replies_[1].error().name, "org.freedesktop.DBus.Error.AccessDenied");
}

TEST_F(FakeBusTest, RespondersPropertiesAndTimeOuts) {
  bus_->respond("org.freedesktop.ScreenSaver", "GetActive",
                [](const BusMethodCall&) { return Bus::Reply({BusValue(true)}); });
  bus_->setProperty("/org/freedesktop/login1/session/auto", "org.freedesktop.login1.Session",
                    "LockedHint", BusValue(false));
  bus_->call(BusMethodCall{"org.freedesktop.ScreenSaver", "/org/freedesktop/ScreenSaver",
                           "org.freedesktop.ScreenSaver", "GetActive"},
             queue_, record());
  std::vector<BusResult<BusValue>> values;
  bus_->readProperty({"org.freedesktop.login1", "/org/freedesktop/login1/session/auto",
                      "org.freedesktop.login1.Session", "LockedHint"},
                     queue_, [&](BusResult<BusValue> value) { values.push_back(value); });
  bus_->call(setBrightness(5, 250ms), queue_, record());
  queue_->runUntilIdle();
  ASSERT_EQ(replies_.size(), 1u);
  EXPECT_EQ(replies_[0].value(), std::vector<BusValue>{BusValue(true)});
  ASSERT_EQ(values.size(), 1u);
  EXPECT_EQ(values[0].value(), BusValue(false));

  queue_->advanceBy(249ms);
  EXPECT_EQ(replies_.size(), 1u);
  queue_->advanceBy(1ms);
  ASSERT_EQ(replies_.size(), 2u);
  EXPECT_EQ(replies_[1].error().code, BusError::Code::Timeout);
  EXPECT_EQ(bus_->pendingCount(), 0u);
}

TEST_F(FakeBusTest, RaisedSignalsReachMatchingSubscriptionsUntilCancelled) {
  std::vector<BusSignal> seen;
  BusResult<BusSubscription> subscription =
      bus_->subscribe(BusSignalMatch{"org.freedesktop.login1", "/org/freedesktop/login1",
                                     "org.freedesktop.login1.Manager", "PrepareForSleep"},
                      queue_, [&](const BusSignal& signal) { seen.push_back(signal); });
  ASSERT_TRUE(subscription.ok());
  EXPECT_EQ(bus_->subscriptionCount(), 1u);
  BusSignal sleep{"/org/freedesktop/login1",
                  "org.freedesktop.login1.Manager",
                  "PrepareForSleep",
                  {BusValue(true)},
                  "org.freedesktop.login1"};
  BusSignal other = sleep;
  other.sender = "org.example.Other";
  BusSignal unrelated = sleep;
  unrelated.member = "PrepareForShutdown";
  bus_->raise(sleep);
  bus_->raise(other);
  bus_->raise(unrelated);
  queue_->runUntilIdle();
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0].args, std::vector<BusValue>{BusValue(true)});

  // Raised, then cancelled before the queue runs: nothing arrives.
  bus_->raise(sleep);
  subscription.value().cancel();
  queue_->runUntilIdle();
  EXPECT_EQ(seen.size(), 1u);
  EXPECT_EQ(bus_->subscriptionCount(), 0u);
}

TEST_F(FakeBusTest, ClosingAndInvalidInputAreErrors) {
  bus_->call(setBrightness(1, 60s), queue_, record());
  BusMethodCall invalid = setBrightness(1);
  invalid.member = "not a member";
  bus_->call(invalid, queue_, record());
  EXPECT_EQ(bus_->calls().size(), 1u);
  EXPECT_EQ(bus_->emitSignal(BusSignal{"bad", "a.b", "c"}).error().code,
            BusError::Code::InvalidArgument);
  ASSERT_TRUE(bus_->emitSignal(BusSignal{"/a", "a.b", "c", {BusValue("x")}}).ok());
  EXPECT_EQ(bus_->emitted().size(), 1u);

  bus_->close();
  EXPECT_FALSE(bus_->isOpen());
  bus_->call(setBrightness(2), queue_, record());
  queue_->runUntilIdle();
  ASSERT_EQ(replies_.size(), 3u);
  EXPECT_EQ(replies_[0].error().code, BusError::Code::InvalidArgument);
  EXPECT_EQ(replies_[1].error().code, BusError::Code::Disconnected);  // the waiting one
  EXPECT_EQ(replies_[2].error().code, BusError::Code::Disconnected);
  EXPECT_EQ(bus_->emitSignal(BusSignal{"/a", "a.b", "c"}).error().code,
            BusError::Code::Disconnected);
  EXPECT_FALSE(bus_->subscribe(BusSignalMatch{}, queue_, [](const BusSignal&) {}).ok());
  queue_->advanceBy(120s);  // the cancelled time-out never answers twice
  EXPECT_EQ(replies_.size(), 3u);
}

TEST(FakeBusConnector, AnswersNoBusUntilGivenOne) {
  FakeBusConnector connector;
  BusResult<std::shared_ptr<Bus>> none = connector.open(BusKind::Session);
  ASSERT_FALSE(none.ok());
  EXPECT_EQ(none.error().code, BusError::Code::NoBus);
  connector.setNoBus(BusKind::System, "no system bus in this container");
  EXPECT_EQ(connector.open(BusKind::System).error().message, "no system bus in this container");
  auto bus = FakeBus::create();
  connector.setBus(BusKind::Session, bus);
  EXPECT_EQ(connector.open(BusKind::Session).value(), bus);
  EXPECT_EQ(connector.openCount(BusKind::Session), 2);
  EXPECT_EQ(connector.openCount(BusKind::System), 1);
}

}  // namespace
}  // namespace vistrelle::bus
