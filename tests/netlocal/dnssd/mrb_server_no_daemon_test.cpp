// The avahi backend where no daemon can be reached: the system bus address
// names a socket that does not exist.  Runs everywhere, as any user.

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>

#include "netlocal/dnssd/dnssd_test_support.h"
#include "netlocal/dnssd/mrb_server.h"
#include "platform/dispatch/event_loop.h"
#include "platform/dispatch/runtime.h"

namespace vistrelle::netlocal {
namespace {

using namespace testing;

// The address goes into the environment before the runtime starts threads.
class NoDaemonEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    std::string pattern = std::filesystem::temp_directory_path() / "vistrelle-nobus-XXXXXX";
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    folder_ = pattern;
    setenv("DBUS_SYSTEM_BUS_ADDRESS", ("unix:path=" + folder_ + "/missing").c_str(), 1);
    runtime_ = std::make_unique<dispatch::Runtime>(std::make_shared<dispatch::EventLoop>(),
                                                   dispatch::Runtime::Options{4});
  }
  void TearDown() override {
    runtime_.reset();
    std::error_code ignored;
    std::filesystem::remove_all(folder_, ignored);
  }

 private:
  std::string folder_;
  std::unique_ptr<dispatch::Runtime> runtime_;
};

::testing::Environment* const kEnvironment =
    ::testing::AddGlobalTestEnvironment(new NoDaemonEnvironment);

TEST(MRBServerNoDaemon, StartSucceedsTheAnnouncementFailsWithAvahisReasonAndNothingIsLeftOpen) {
  const int before = openDescriptors();
  auto delegate = std::make_shared<RecordingServerDelegate>();
  {
    auto server = MRBServer::createWithProtocol("nvstream");
    server->setDelegate(delegate);
    for (size_t attempt = 1; attempt <= 2; ++attempt) {
      SCOPED_TRACE(attempt);
      SocketErrorPtr error;
      // As with an asynchronous announcement, the failure comes later.
      ASSERT_TRUE(server->start(&error, 47989));
      EXPECT_EQ(error, nullptr);
      ASSERT_TRUE(server->socket());
      ASSERT_TRUE(delegate->waitFor("notStarted", attempt));
      const auto event = delegate->events().back();
      EXPECT_EQ(event.dnsError.code, -26);
      EXPECT_EQ(event.dnsError.message, "Daemon not running");
    }
    // A search fails as quietly as the announcement did.
    server->searchForServicesOfType("_nvstream._tcp.");
    server->stop();
    ASSERT_TRUE(delegate->waitFor("stopped"));
    EXPECT_TRUE(eventually([&] { return openDescriptors() == before; }))
        << openDescriptors() << " open, " << before << " before";
  }
  EXPECT_EQ(openDescriptors(), before);
  EXPECT_EQ(delegate->count("notStarted"), 2u);
}

}  // namespace
}  // namespace vistrelle::netlocal
