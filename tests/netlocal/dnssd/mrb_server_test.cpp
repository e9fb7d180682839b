// The server's logic against the fake DNS-SD backend, with real loopback
// connections for its peer streams.

#include "netlocal/dnssd/mrb_server.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <random>

#include "netlocal/dnssd/dnssd_test_support.h"
#include "netlocal/dnssd/mrb_server_error.h"
#include "netlocal/dnssd/orvex_bonjour_server_manager.h"
#include "platform/dispatch/event_loop.h"
#include "platform/dispatch/runtime.h"
#include "platform/dnssd/fake/fake_dns_sd_service.h"

namespace vistrelle::netlocal {
namespace {

using namespace testing;
using dnssd::DnsSdServiceRecord;
using dnssd::FakeDnsSdService;

class RuntimeEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    runtime_ = std::make_unique<dispatch::Runtime>(std::make_shared<dispatch::EventLoop>(),
                                                   dispatch::Runtime::Options{4});
  }
  void TearDown() override { runtime_.reset(); }

 private:
  std::unique_ptr<dispatch::Runtime> runtime_;
};

::testing::Environment* const kRuntime =
    ::testing::AddGlobalTestEnvironment(new RuntimeEnvironment);

DnsSdServiceRecord service(std::string name) {
  return DnsSdServiceRecord{std::move(name), "_nvstream._tcp", "local"};
}

class MRBServerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    queue = dispatch::makeSerialQueue("test.MRBServer");
    fake = std::make_shared<FakeDnsSdService>(queue);
    delegate = std::make_shared<RecordingServerDelegate>(queue);
  }

  MRBServer::Environment environment() {
    MRBServer::Environment environment;
    environment.queue = queue;
    environment.makeService = [fake = fake](const dispatch::ExecutorPtr&) { return fake; };
    environment.console = [console = console](const std::string& line) {
      std::lock_guard lock(console->mutex);
      console->lines.push_back(line);
    };
    return environment;
  }

  MRBServerPtr startedServer(const std::string& name = "Box") {
    auto server = MRBServer::createWithDomainName("", "_nvstream._tcp.", name, environment());
    server->setDelegate(delegate);
    SocketErrorPtr error;
    EXPECT_TRUE(server->start(&error, 47989)) << (error ? error->describe() : "");
    return server;
  }

  // Completes the running announcement under `name`.
  void publishAs(const MRBServerPtr& server, const std::string& name) {
    auto publication = fake->runningPublication();
    ASSERT_TRUE(publication);
    fake->publishSucceeds(publication->id, name);
    ASSERT_EQ(server->name(), name);  // queued behind the delivery
  }

  // A client the server has taken as its peer.
  UniqueFd connectPeer(const MRBServerPtr& server) {
    const size_t before = delegate->count("complete");
    UniqueFd client = connectLoopback(server->socket()->localPort());
    EXPECT_TRUE(client.valid());
    EXPECT_TRUE(delegate->waitFor("complete", before + 1));
    settle(server);
    return client;
  }

  // Returns once the server's queue has finished what it was doing (a
  // delegate call is made from inside the server's handling of an event).
  static void settle(const MRBServerPtr& server) { server->name(); }

  std::vector<std::string> consoleLines() {
    std::lock_guard lock(console->mutex);
    return console->lines;
  }

  struct Console {
    std::mutex mutex;
    std::vector<std::string> lines;
  };

  dispatch::SerialQueuePtr queue;
  std::shared_ptr<FakeDnsSdService> fake;
  std::shared_ptr<RecordingServerDelegate> delegate;
  std::shared_ptr<Console> console = std::make_shared<Console>();
};

TEST_F(MRBServerTest, InitialisersNameTheTypeAndStartAnnouncesTheLow16BitsOfThePort) {
  struct Case {
    std::function<MRBServerPtr(MRBServer::Environment)> make;
    std::string domain, protocol, name;
  };
  const Case cases[] = {
      {[](MRBServer::Environment e) { return MRBServer::create(std::move(e)); }, "",
       "_Server._tcp.", ""},
      {[](MRBServer::Environment e) {
         return MRBServer::createWithProtocol("nvstream", std::move(e));
       },
       "", "_nvstream._tcp.", ""},
      {[](MRBServer::Environment e) {
         return MRBServer::createWithDomainName("example.org.", "_game._udp.", "Den", std::move(e));
       },
       "example.org.", "_game._udp.", "Den"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.protocol);
    SetUp();
    auto server = c.make(environment());
    EXPECT_EQ(server->domain(), c.domain);
    EXPECT_EQ(server->protocol(), c.protocol);
    EXPECT_EQ(server->name(), c.name);
    EXPECT_EQ(server->payloadSize(), 128);
    EXPECT_FALSE(server->outputStreamHasSpace());

    SocketErrorPtr error;
    ASSERT_TRUE(server->start(&error, 47989 + 65536));
    EXPECT_EQ(server->port(), 47989);
    // The listener takes whatever port the system gives it.
    EXPECT_NE(server->socket()->localPort(), 0);
    auto publication = fake->runningPublication();
    ASSERT_TRUE(publication);
    EXPECT_EQ(publication->registration.type, c.protocol);
    EXPECT_EQ(publication->registration.domain, c.domain);
    EXPECT_EQ(publication->registration.name, c.name);
    EXPECT_EQ(publication->registration.port, 47989);
    EXPECT_TRUE(server->hasNetService());
  }
}

TEST_F(MRBServerTest, ThePublishedNameIsTakenOverAndAFailedAnnouncementIsReported) {
  auto server = startedServer("Box");
  publishAs(server, "Box #2");
  ASSERT_TRUE(server->localService());
  EXPECT_EQ(server->localService()->name, "Box #2");

  fake->publishFails(fake->runningPublication()->id, {-26, "Daemon not running"});
  ASSERT_TRUE(delegate->waitFor("notStarted"));
  const auto event = delegate->events().back();
  EXPECT_EQ(event.dnsError.code, -26);
  EXPECT_EQ(event.dnsError.message, "Daemon not running");
  EXPECT_FALSE(event.serverWasNull);
  EXPECT_TRUE(delegate->allOnQueue());
}

TEST_F(MRBServerTest, ThePeerOpeningWithdrawsTheAnnouncementAndItsEndBringsItBack) {
  auto server = startedServer();
  publishAs(server, "Box #2");
  const uint64_t first = fake->runningPublication()->id;

  UniqueFd client = connectPeer(server);
  EXPECT_FALSE(fake->runningPublication());  // withdrawn
  EXPECT_FALSE(server->hasNetService());
  EXPECT_TRUE(server->inputStreamReady());
  EXPECT_TRUE(server->outputStreamReady());
  EXPECT_TRUE(server->outputStreamHasSpace());

  ASSERT_TRUE(writeAll(client.get(), "hello"));
  ASSERT_TRUE(delegate->waitForReceived(5));
  EXPECT_EQ(delegate->received(), "hello");

  client.reset();
  ASSERT_TRUE(delegate->waitFor("lost"));
  settle(server);
  EXPECT_EQ(delegate->events().back().error, nullptr);
  auto again = fake->runningPublication();
  ASSERT_TRUE(again);
  EXPECT_NE(again->id, first);
  EXPECT_EQ(again->registration.name, "Box #2");  // under the name it got
  EXPECT_EQ(server->inputStream(), nullptr);
  EXPECT_FALSE(server->inputStreamReady());
  EXPECT_TRUE(server->socket());  // still listening
  EXPECT_EQ(delegate->count("stopped"), 0u);
  EXPECT_EQ(delegate->kinds(), (std::vector<std::string>{"complete", "data", "lost"}));
}

TEST_F(MRBServerTest, AStreamErrorIsReportedWithTheErrorAndStopsTheServer) {
  auto server = startedServer();
  const uint16_t listening = server->socket()->localPort();
  // A port nobody listens on: the stream to the resolved service fails.
  uint16_t closed = 0;
  listenLoopback(&closed).reset();
  server->connectToRemoteService(service("Gone"));
  settle(server);
  fake->resolveSucceeds(fake->resolves().back().id, "127.0.0.1", closed);

  ASSERT_TRUE(delegate->waitFor("stopped"));
  const auto events = delegate->events();
  ASSERT_EQ(delegate->kinds(), (std::vector<std::string>{"lost", "stopped"}));
  ASSERT_TRUE(events[0].error);
  EXPECT_EQ(events[0].error->code(), ECONNREFUSED) << events[0].error->describe();
  EXPECT_EQ(server->socket(), nullptr);
  EXPECT_FALSE(fake->runningPublication());
  EXPECT_TRUE(eventually([&] { return !connectLoopback(listening).valid(); }));
}

TEST_F(MRBServerTest, APeerThatResetsEndsLikeOneThatCloses) {
  auto server = startedServer();
  UniqueFd client = connectPeer(server);
  const linger abort{1, 0};
  ASSERT_EQ(setsockopt(client.get(), SOL_SOCKET, SO_LINGER, &abort, sizeof abort), 0);
  client.reset();

  ASSERT_TRUE(delegate->waitFor("lost"));
  EXPECT_EQ(delegate->events().back().error, nullptr);
  EXPECT_TRUE(eventually([&] { return fake->runningPublication().has_value(); }));
  EXPECT_TRUE(server->socket());
}

TEST_F(MRBServerTest, SearchingReportsOtherServicesButNeverOurOwn) {
  auto server = startedServer();
  publishAs(server, "Mine");
  server->searchForServicesOfType("_nvstream._tcp.");
  server->searchForServicesOfType("_nvstream._tcp.");  // ends the first search
  ASSERT_TRUE(server->hasBrowser());
  const auto searches = fake->browses();
  ASSERT_EQ(searches.size(), 2u);
  EXPECT_FALSE(searches[0].running);
  EXPECT_TRUE(searches[1].running);
  EXPECT_EQ(searches[1].type, "_nvstream._tcp.");
  EXPECT_EQ(searches[1].domain, "local");

  fake->serviceAppears(service("Mine"), true);
  fake->serviceAppears(service("Other"));
  ASSERT_TRUE(delegate->waitFor("added"));
  settle(server);
  const auto events = delegate->events();
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0].service.name, "Other");
  EXPECT_TRUE(delegate->allOnQueue());
}

TEST_F(MRBServerTest, RemovalEndsTheLookUpOfTheResolvingServiceAndForgetsTheLocalOne) {
  auto server = startedServer();
  publishAs(server, "Mine");
  server->searchForServicesOfType("_nvstream._tcp.");
  server->connectToRemoteService(service("Other"));
  ASSERT_EQ(server->currentlyResolvingService(), service("Other"));
  ASSERT_TRUE(fake->resolves().back().running);

  fake->serviceDisappears(service("Other"));
  ASSERT_TRUE(delegate->waitFor("removed"));
  EXPECT_FALSE(server->currentlyResolvingService());
  EXPECT_FALSE(fake->resolves().back().running);
  EXPECT_TRUE(server->localService());

  fake->serviceDisappears(service("Mine"));
  ASSERT_TRUE(delegate->waitFor("removed", 2));
  EXPECT_FALSE(server->localService());
  const auto events = delegate->events();
  EXPECT_EQ(events[0].service.name, "Other");
  EXPECT_EQ(events[1].service.name, "Mine");
}

TEST_F(MRBServerTest, OnlyTheCurrentLookUpConnectsAndAFailedOneIsForgotten) {
  uint16_t portA = 0, portB = 0;
  UniqueFd listenerA = listenLoopback(&portA);
  UniqueFd listenerB = listenLoopback(&portB);
  auto server = startedServer();

  server->connectToRemoteService(service("A"));
  server->connectToRemoteService(service("B"));
  ASSERT_EQ(server->currentlyResolvingService(), service("B"));
  const auto lookUps = fake->resolves();
  ASSERT_EQ(lookUps.size(), 2u);
  EXPECT_FALSE(lookUps[0].running);
  fake->resolveSucceeds(lookUps[0].id, "127.0.0.1", portA);  // too late: dropped
  fake->resolveSucceeds(lookUps[1].id, "127.0.0.1", portB);

  UniqueFd peer = acceptWithin(listenerB.get(), 10s);
  ASSERT_TRUE(peer.valid());
  ASSERT_TRUE(delegate->waitFor("complete"));
  EXPECT_FALSE(server->currentlyResolvingService());
  EXPECT_FALSE(acceptWithin(listenerA.get(), 0ms).valid());
  EXPECT_FALSE(fake->runningPublication());  // the connection withdrew it

  EXPECT_EQ(server->sendText("over the resolved road"), MRBServerSendQueued);
  EXPECT_EQ(readUpTo(peer.get(), 22), "over the resolved road");

  server->connectToRemoteService(service("C"));
  settle(server);
  fake->resolveFails(fake->resolves().back().id, {-1, "Operation failed"});
  EXPECT_TRUE(eventually([&] { return !server->currentlyResolvingService(); }));
  EXPECT_EQ(delegate->count("complete"), 1u);
}

TEST_F(MRBServerTest, SendResultCodes) {
  auto server = startedServer();
  EXPECT_EQ(server->sendText("early"), MRBServerSendNoSpace);
  const std::string missing = "/nonexistent/vistrelle/file.bin";
  EXPECT_EQ(server->sendFileAtPath(missing), MRBServerSendNoSuchFile);
  EXPECT_EQ(consoleLines().back(),
            "Merhaba try to send file on " + missing + ", but there is no such file!");

  UniqueFd client = connectPeer(server);
  const std::string file = std::filesystem::temp_directory_path() /
                           ("vistrelle-mrb-" + std::to_string(getpid()) + ".bin");
  std::ofstream(file, std::ios::binary) << std::string("fi\0le", 5);

  struct Case {
    const char* what;
    std::function<int()> send;
    int code;
    std::string bytes;  // what the peer receives
  };
  const Case cases[] = {
      {"empty data", [&] { return server->sendData({}); }, MRBServerSendNothingWritten, ""},
      {"empty text", [&] { return server->sendText(""); }, MRBServerSendNothingWritten, ""},
      {"unknown encoding", [&] { return server->sendText("x", "NO-SUCH-CHARSET"); },
       MRBServerSendNothingWritten, ""},
      {"text the encoding lacks", [&] { return server->sendText("\xe6\x9c\x8d", "ISO-8859-1"); },
       MRBServerSendNothingWritten, ""},
      {"UTF-8 text", [&] { return server->sendText("\xe6\x9c\x8d!"); }, MRBServerSendQueued,
       "\xe6\x9c\x8d!"},
      {"Latin-1 text", [&] { return server->sendText("h\xc3\xa9", "ISO-8859-1"); },
       MRBServerSendQueued, "h\xe9"},
      {"UTF-16LE text", [&] { return server->sendText("hi", "UTF-16LE"); }, MRBServerSendQueued,
       std::string("h\0i\0", 4)},
      {"GBK text", [&] { return server->sendText("\xe6\x9c\x8d", "GBK"); }, MRBServerSendQueued,
       "\xb7\xfe"},
      {"file", [&] { return server->sendFileAtPath(file); }, MRBServerSendQueued,
       std::string("fi\0le", 5)},
      {"bytes",
       [&] {
         return server->sendData({0x00, 0xff});
       },
       MRBServerSendQueued, std::string("\0\xff", 2)},
  };
  std::string expected;
  for (const Case& c : cases) {
    EXPECT_EQ(c.send(), c.code) << c.what;
    expected += c.bytes;
  }
  EXPECT_EQ(readUpTo(client.get(), expected.size()), expected);
  std::filesystem::remove(file);

  client.reset();
  ASSERT_TRUE(delegate->waitFor("lost"));
  // The connection is gone, not its space: nothing is written.
  EXPECT_EQ(server->sendText("late"), MRBServerSendNothingWritten);
}

TEST_F(MRBServerTest, TheTailOfALargeSendArrivesWhole) {
  auto server = startedServer();
  UniqueFd client = connectPeer(server);
  std::string payload(8 << 20, '\0');
  std::mt19937 random(7);
  for (char& byte : payload) byte = static_cast<char>(random());

  ASSERT_EQ(server->sendData(Bytes(payload.begin(), payload.end())), MRBServerSendQueued);
  const std::string received = readUpTo(client.get(), payload.size(), 60s);
  ASSERT_EQ(received.size(), payload.size());
  EXPECT_TRUE(received == payload);
}

TEST_F(MRBServerTest, ADelegateThatImplementsNothingAndNoDelegateAtAllAreBothFine) {
  for (bool withDelegate : {true, false}) {
    SCOPED_TRACE(withDelegate);
    auto server = MRBServer::create(environment());
    auto bare = std::make_shared<MRBServerDelegate>();
    if (withDelegate) server->setDelegate(bare);
    SocketErrorPtr error;
    ASSERT_TRUE(server->start(&error, 1));
    const auto publication = fake->runningPublication();
    ASSERT_TRUE(publication);
    fake->publishFails(publication->id, {-26, "Daemon not running"});
    server->searchForServicesOfType("_Server._tcp.");
    settle(server);
    fake->serviceAppears(service("Other"));
    fake->serviceDisappears(service("Other"));

    UniqueFd client = connectLoopback(server->socket()->localPort());
    ASSERT_TRUE(eventually([&] { return server->inputStreamReady(); }));
    ASSERT_TRUE(writeAll(client.get(), "x"));
    client.reset();
    // The announcement comes back once the end was handled.
    ASSERT_TRUE(eventually([&] {
      auto again = fake->runningPublication();
      return again && again->id != publication->id;
    }));
    server->stop();
    EXPECT_EQ(server->socket(), nullptr);
  }
}

TEST_F(MRBServerTest, StoppingAndDestroyingReleaseEverything) {
  auto server = startedServer();
  const uint16_t port = server->socket()->localPort();
  publishAs(server, "Mine");
  server->searchForServicesOfType("_nvstream._tcp.");
  server->connectToRemoteService(service("Other"));

  server->stopBrowser();
  EXPECT_FALSE(server->hasBrowser());
  EXPECT_FALSE(server->localService());
  EXPECT_FALSE(server->currentlyResolvingService());
  EXPECT_FALSE(fake->browses().back().running);
  EXPECT_FALSE(fake->resolves().back().running);

  server->stop();
  ASSERT_TRUE(delegate->waitFor("stopped"));
  EXPECT_FALSE(delegate->events().back().serverWasNull);
  EXPECT_FALSE(fake->runningPublication());
  EXPECT_TRUE(eventually([&] { return !connectLoopback(port).valid(); }));

  // Destruction stops whatever runs again, and says so with no server.
  ASSERT_TRUE(server->start(nullptr, 47989));
  server->searchForServicesOfType("_nvstream._tcp.");
  server.reset();
  ASSERT_TRUE(delegate->waitFor("stopped", 2));
  EXPECT_TRUE(delegate->events().back().serverWasNull);
  EXPECT_FALSE(fake->runningPublication());
  EXPECT_FALSE(fake->browses().back().running);
}

TEST(MRBServerError, ListenFailuresMapToTheServerErrorCodes) {
  const struct {
    SocketErrorPtr cause;
    int code;
  } cases[] = {
      {SocketError::posix(EMFILE), MRBServerNoSocketError},
      {SocketError::posix(ENFILE), MRBServerNoSocketError},
      {SocketError::posix(ENOBUFS), MRBServerNoSocketError},
      {SocketError::posix(EAFNOSUPPORT), MRBServerNoSocketError},
      {SocketError::posix(EADDRINUSE), MRBServerBindError},
      {SocketError::posix(EACCES), MRBServerBindError},
      {SocketError::badParam("Unknown interface."), MRBServerBindError},
      {nullptr, MRBServerBindError},
  };
  for (const auto& c : cases) {
    const SocketErrorPtr error = serverErrorForListenFailure(c.cause);
    EXPECT_EQ(error->domain(), "ServerErrorDomain");
    EXPECT_EQ(error->code(), c.code) << (c.cause ? c.cause->describe() : "null");
  }
}

TEST_F(MRBServerTest, TheManagerStartsNvstreamOn47989AndLogsTheOutcome) {
  {
    OrvexBonjourServerManager manager(environment());
    EXPECT_EQ(manager.server()->protocol(), "_nvstream._tcp.");
    const auto publication = fake->runningPublication();
    ASSERT_TRUE(publication);
    EXPECT_EQ(publication->registration.type, "_nvstream._tcp.");
    EXPECT_EQ(publication->registration.port, 47989);
    EXPECT_EQ(consoleLines().back(), "服务启动成功 ==port = 47989");
  }

  // No descriptor to be had: the listener cannot be made.  Descriptors of
  // earlier tests may still be closing on their queues, so every free number
  // under the limit is taken first, and a try that found one anyway is
  // repeated.
  rlimit saved{};
  ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &saved), 0);
  auto withoutDescriptors = [&](const std::function<void()>& work) {
    const int lowestFree = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    ASSERT_GE(lowestFree, 0);
    ::close(lowestFree);
    rlimit tight = saved;
    tight.rlim_cur = static_cast<rlim_t>(lowestFree);
    ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &tight), 0);
    std::vector<UniqueFd> fillers;
    for (int fd; (fd = ::open("/dev/null", O_RDONLY | O_CLOEXEC)) >= 0;) fillers.emplace_back(fd);
    work();
    fillers.clear();
    ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &saved), 0);
  };
  MRBServerPtr server;
  SocketErrorPtr error;
  bool started = true;
  for (int attempt = 0; attempt < 20 && started; ++attempt) {
    server = MRBServer::create(environment());
    withoutDescriptors([&] { started = server->start(&error, 47989); });
  }
  std::unique_ptr<OrvexBonjourServerManager> manager;
  for (int attempt = 0; attempt < 20 && (!manager || manager->server()->socket()); ++attempt) {
    withoutDescriptors(
        [&] { manager = std::make_unique<OrvexBonjourServerManager>(environment()); });
  }

  EXPECT_FALSE(started);
  ASSERT_TRUE(error);
  EXPECT_EQ(error->domain(), "ServerErrorDomain");
  EXPECT_EQ(error->code(), MRBServerNoSocketError) << error->describe();
  EXPECT_EQ(server->socket(), nullptr);
  EXPECT_EQ(consoleLines().back().rfind("服务启动失败 : ServerErrorDomain 2: ", 0), 0u)
      << consoleLines().back();
  EXPECT_FALSE(fake->runningPublication());
}

}  // namespace
}  // namespace vistrelle::netlocal
