#include "device/protocol/bias_collector.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

namespace vistrelle::device {
namespace {

BiasRecord record(int n) {
  const float v = static_cast<float>(n);
  return {1, static_cast<uint8_t>(n * 16), 16, v, v, v, v};
}

TEST(BiasCollector, CompleteFromTheEighthReplyOnAndTheMessageFollowsTheTable) {
  BiasCollector table;
  for (int i = 0; i < 7; ++i) {
    EXPECT_EQ(table.addReply(i % 2 == 0 ? std::optional(record(i)) : std::nullopt), i);
  }
  EXPECT_FALSE(table.isComplete());
  EXPECT_FALSE(table.biasDict());
  table.addReply(record(7));
  table.addReply(record(8));  // a ninth before anyone looked: still complete
  EXPECT_TRUE(table.isComplete());
  EXPECT_EQ(table.biasCount(), 9);
  ASSERT_TRUE(table.biasDict());
  EXPECT_EQ(Value(*table.biasDict())["value"].asList()->size(), 6u);

  // A reset empties the table the message shows; the next round's replies
  // appear in it again.
  table.reset();
  EXPECT_EQ(table.biasCount(), 0);
  EXPECT_FALSE(table.isComplete());
  ASSERT_TRUE(table.biasDict());
  EXPECT_TRUE(Value(*table.biasDict())["value"].asList()->empty());
  table.addReply(record(3));
  EXPECT_EQ(*Value(*table.biasDict())["value"].asList(), (Value::List{record(3).toValue()}));
}

// The parser adds on the HID thread while the panel resets and the server
// serialises elsewhere: every message read is a consistent prefix of a round.
TEST(BiasCollector, ConcurrentRoundsNeverShowATornTable) {
  BiasCollector table;
  std::atomic<bool> stop{false};
  std::thread hid([&] {
    int n = 0;
    while (!stop.load()) {
      table.addReply(record(n % 8));
      ++n;
      std::this_thread::yield();
    }
  });
  size_t reads = 0;
  for (int round = 0; round < 50; ++round) {
    table.reset();
    while (!table.isComplete()) {
      std::this_thread::yield();
    }
    const auto dict = table.biasDict();
    ASSERT_TRUE(dict);
    const Value message(*dict);
    for (const auto& entry : *message["value"].asList()) {
      const auto& fields = *entry.asList();
      ASSERT_EQ(fields.size(), 8u);
      EXPECT_EQ(fields[3], fields[4]);
      EXPECT_EQ(fields[0], fields[7]);
      ++reads;
    }
  }
  stop = true;
  hid.join();
  EXPECT_GT(reads, 0u);
}

}  // namespace
}  // namespace vistrelle::device
