#include "platform/message/transient_message.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "platform/dispatch/runtime.h"
#include "platform/dispatch/virtual_executor.h"
#include "platform/message/fake/fake_transient_message.h"
#include "platform/message/logging_transient_message.h"

namespace vistrelle::message {
namespace {

class TransientMessageTest : public ::testing::Test {
 protected:
  void TearDown() override { TransientMessage::install(nullptr); }

  std::shared_ptr<dispatch::VirtualExecutor> main_ =
      std::make_shared<dispatch::VirtualExecutor>("main");
  dispatch::Runtime runtime_{main_, dispatch::Runtime::Options{2}};
};

TEST_F(TransientMessageTest, TextsShownFromAnyThreadArePresentedOnTheMainQueueInOrder) {
  auto fake = std::make_shared<FakeTransientMessage>();
  TransientMessage::install(fake);
  constexpr int kThreads = 4;
  constexpr int kTexts = 25;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([t] {
      for (int i = 0; i < kTexts; ++i) {
        TransientMessage::show(std::to_string(t) + ":" + std::to_string(i));
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  // Also from a pool worker, as the HTTP layer's callbacks would.
  runtime_.globalQueue()->sync([] { TransientMessage::show("pool"); });
  EXPECT_TRUE(fake->shown().empty()) << "presented before the main queue ran";

  main_->runUntilIdle();
  const std::vector<FakeTransientMessage::Shown> shown = fake->shown();
  ASSERT_EQ(shown.size(), size_t{kThreads * kTexts + 1});
  std::vector<int> next(kThreads, 0);
  for (const FakeTransientMessage::Shown& entry : shown) {
    EXPECT_EQ(entry.thread, std::this_thread::get_id()) << entry.text;
    if (entry.text == "pool") continue;
    const int t = std::stoi(entry.text.substr(0, entry.text.find(':')));
    EXPECT_EQ(entry.text, std::to_string(t) + ":" + std::to_string(next[t]++));
  }
}

TEST_F(TransientMessageTest, InstallingWhileOtherThreadsShowLosesNoText) {
  std::vector<std::shared_ptr<FakeTransientMessage>> fakes;
  for (int i = 0; i < 3; ++i) fakes.push_back(std::make_shared<FakeTransientMessage>());
  constexpr int kThreads = 3;
  constexpr int kTexts = 300;
  std::atomic<int> running{kThreads};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&running] {
      for (int i = 0; i < kTexts; ++i) TransientMessage::show("text");
      --running;
    });
  }
  // The main thread swaps the implementation and presents as the texts come.
  for (size_t round = 0; running.load() > 0 || main_->pendingCount() > 0; ++round) {
    TransientMessage::install(fakes[round % fakes.size()]);
    main_->runUntilIdle();
  }
  for (std::thread& thread : threads) thread.join();
  main_->runUntilIdle();
  size_t presented = 0;
  for (const auto& fake : fakes) presented += fake->texts().size();
  EXPECT_EQ(presented, size_t{kThreads * kTexts});
}

TEST_F(TransientMessageTest, TheDefaultWritesTheTextToItsLogSink) {
  EXPECT_NE(dynamic_cast<LoggingTransientMessage*>(TransientMessage::installed().get()), nullptr);

  std::vector<std::string> lines;
  TransientMessage::install(std::make_shared<LoggingTransientMessage>(
      [&lines](const std::string& line) { lines.push_back(line); }));
  TransientMessage::show("网络连接失败");
  EXPECT_TRUE(lines.empty());
  main_->runUntilIdle();
  EXPECT_EQ(lines, std::vector<std::string>{"message: 网络连接失败"});

  // Null puts the default back.
  TransientMessage::install(nullptr);
  EXPECT_NE(dynamic_cast<LoggingTransientMessage*>(TransientMessage::installed().get()), nullptr);
}

TEST(TransientMessageWithoutRuntime, IsPresentedAtOnce) {
  ASSERT_FALSE(dispatch::Runtime::installed());
  auto fake = std::make_shared<FakeTransientMessage>();
  TransientMessage::install(fake);
  TransientMessage::show("early");
  EXPECT_EQ(fake->texts(), std::vector<std::string>{"early"});
  TransientMessage::install(nullptr);
}

}  // namespace
}  // namespace vistrelle::message
