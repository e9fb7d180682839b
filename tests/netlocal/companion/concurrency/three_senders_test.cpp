#include <gtest/gtest.h>

#include <map>
#include <thread>

#include <nlohmann/json.hpp>

#include "platform/dispatch/runtime.h"
#include "support/companion/companion_server_harness.h"

namespace vistrelle::netlocal {
namespace {

using namespace std::chrono_literals;
using testing::CompanionClient;
using testing::CompanionServerHarness;

// The main queue, a thread of its own and the global queue send at once (as
// the panels, the HID thread and the calibration wait do): every line is one
// JSON object and each sender's messages arrive in the order it sent them.
TEST(OrvexLocalServerSenders, ThreeSendersKeepTheirOwnOrder) {
  constexpr int kPerSender = 400;
  CompanionServerHarness h;
  CompanionClient client(h.port());
  h.pumpUntil([&] { return h.server->isConnect(); });
  auto server = h.server;

  const auto sendAll = [server](int sender) {
    for (int i = 0; i < kPerSender; ++i) {
      server->sendTextMessageWithDict(
          {{"type", 100 + sender}, {"seq", i}, {"value", Value::List{i * 0.5, "x", true}}});
    }
  };
  std::thread plain([&] { sendAll(1); });
  dispatch::globalQueue()->post([sendAll] { sendAll(2); });
  h.main->post([sendAll] { sendAll(0); });

  std::map<int, int> next;
  int lines = 0;
  while (lines < 3 * kPerSender) {
    const std::string line = h.readLine(client);
    ASSERT_FALSE(line.empty()) << "after " << lines << " lines";
    const auto json = nlohmann::json::parse(line, nullptr, false);
    ASSERT_TRUE(json.is_object()) << line;
    const int sender = json["type"].get<int>() - 100;
    ASSERT_TRUE(sender >= 0 && sender < 3) << line;
    EXPECT_EQ(json["seq"].get<int>(), next[sender]++) << line;
    ++lines;
  }
  plain.join();
  EXPECT_EQ(next[0], kPerSender);
  EXPECT_EQ(next[1], kPerSender);
  EXPECT_EQ(next[2], kPerSender);
  EXPECT_TRUE(h.staysQuiet(client, 20ms));
}

}  // namespace
}  // namespace vistrelle::netlocal
