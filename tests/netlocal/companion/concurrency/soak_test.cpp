#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "support/companion/companion_server_harness.h"

namespace vistrelle::netlocal {
namespace {

using namespace std::chrono_literals;
using testing::CompanionClient;
using testing::CompanionServerHarness;

size_t openDescriptors() {
  size_t count = 0;
  for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
    ++count;
  }
  return count;
}

long residentKilobytes() {
  std::ifstream status("/proc/self/status");
  for (std::string line; std::getline(status, line);) {
    if (line.rfind("VmRSS:", 0) == 0) return std::stol(line.substr(6));
  }
  return -1;
}

// Ten thousand clients come and go: descriptors and memory stay flat, every
// connection gets exactly one notice, and no ping stream is ever started.
TEST(OrvexLocalServerSoak, TenThousandConnectionsComeAndGo) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
  GTEST_SKIP() << "the soak runs in the default build only";
#endif
  constexpr int kCycles = 10'000;
  constexpr int kWarmUp = 1'000;
  std::atomic<size_t> notices{0};
  std::atomic<size_t> accepts{0};
  CompanionServerHarness h([&](netlocal::OrvexLocalServer::Options& options) {
    options.log = [&](std::string_view line) {
      if (line.find("-Socket断开连接--") != std::string_view::npos) ++notices;
      if (line == "Socket-server 连接成功") ++accepts;
    };
  });
  const auto deadline = std::chrono::steady_clock::now() + 50s;
  size_t fdsAfterWarmUp = 0;
  long rssAfterWarmUp = 0;
  for (int cycle = 1; cycle <= kCycles; ++cycle) {
    {
      CompanionClient client(h.port());
      ASSERT_TRUE(client.connected()) << "cycle " << cycle;
      ASSERT_TRUE(h.pumpUntil([&] { return h.server->isConnect(); })) << "cycle " << cycle;
    }
    ASSERT_TRUE(h.pumpUntil([&] { return !h.server->isConnect(); })) << "cycle " << cycle;
    ASSERT_LT(std::chrono::steady_clock::now(), deadline) << "only " << cycle << " cycles in 50 s";
    if (cycle == kWarmUp) {
      fdsAfterWarmUp = openDescriptors();
      rssAfterWarmUp = residentKilobytes();
    }
  }
  h.pumpUntil([&] { return notices.load() == static_cast<size_t>(kCycles); });
  EXPECT_EQ(accepts.load(), static_cast<size_t>(kCycles));
  EXPECT_EQ(notices.load(), static_cast<size_t>(kCycles));
  EXPECT_LE(openDescriptors(), fdsAfterWarmUp);
  EXPECT_LT(residentKilobytes() - rssAfterWarmUp, 2 * 1024);
  EXPECT_EQ(h.server->hfClient().streamCount(), 0u);
}

}  // namespace
}  // namespace vistrelle::netlocal
