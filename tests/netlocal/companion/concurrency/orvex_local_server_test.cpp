#include "netlocal/companion/orvex_local_server.h"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <limits>
#include <thread>

#include <nlohmann/json.hpp>

#include "netlocal/companion/interface_addresses.h"
#include "support/companion/companion_server_harness.h"

namespace vistrelle::netlocal {
namespace {

using namespace std::chrono_literals;
using testing::CompanionClient;
using testing::CompanionServerHarness;

// The server with one client connected.
struct Connected {
  CompanionServerHarness harness;
  CompanionClient client{harness.port()};

  explicit Connected(CompanionServerHarness::Tweak tweak = nullptr) : harness(std::move(tweak)) {
    // harness is built before client (declaration order), so the port is known.
  }
  void waitConnected() {
    ASSERT_TRUE(client.connected());
    harness.pumpUntil([&] { return harness.server->isConnect(); });
  }
};

TEST(OrvexLocalServerNoGlasses, SilentUntilTheFirstWriteThenMinusOneEveryThreeSeconds) {
  Connected c;
  c.waitConnected();
  auto& h = c.harness;

  h.main->advanceBy(10s);
  EXPECT_TRUE(h.staysQuiet(c.client));

  h.server->sendTextMessageWithDict({{"type", 1}});
  EXPECT_EQ(h.readLine(c.client), R"({"type":1})");
  h.settleWrites();
  for (int round = 0; round < 3; ++round) {
    h.main->advanceBy(2900ms);
    EXPECT_TRUE(h.staysQuiet(c.client, 30ms)) << "round " << round;
    h.main->advanceBy(100ms);
    EXPECT_EQ(h.readLine(c.client), R"({"type":-1})") << "round " << round;
    h.settleWrites();
  }
  EXPECT_GE(h.countLogs(":------发送完成---------"), 4u);
}

TEST(OrvexLocalServerNoGlasses, ManyWritesLeaveOneMinusOnePending) {
  Connected c;
  c.waitConnected();
  auto& h = c.harness;
  for (int i = 0; i < 5; ++i) {
    h.server->sendTextMessageWithDict({{"type", 2}, {"n", i}});
    h.main->runUntilIdle();
  }
  for (int i = 0; i < 5; ++i)
    EXPECT_EQ(h.readLine(c.client), "{\"n\":" + std::to_string(i) + ",\"type\":2}");
  h.settleWrites();
  h.main->advanceBy(3s);
  EXPECT_EQ(h.readLine(c.client), R"({"type":-1})");
  EXPECT_TRUE(h.staysQuiet(c.client, 50ms)) << c.client.pending();
}

TEST(OrvexLocalServerGlasses, NoMinusOneWhilePluggedThenOneThreeSecondsAfterTheNextWrite) {
  Connected c;
  c.waitConnected();
  auto& h = c.harness;
  h.state.glassStatus = true;
  h.server->sendTextMessageWithDict({{"type", 1}});
  EXPECT_EQ(h.readLine(c.client), R"({"type":1})");
  h.settleWrites();
  h.main->advanceBy(10s);
  EXPECT_TRUE(h.staysQuiet(c.client));

  // Unplugged: nothing until a write completes.
  h.state.glassStatus = false;
  h.main->advanceBy(10s);
  EXPECT_TRUE(h.staysQuiet(c.client));
  h.server->sendTextMessageWithDict({{"type", 1}});
  EXPECT_EQ(h.readLine(c.client), R"({"type":1})");
  h.settleWrites();
  h.main->advanceBy(2999ms);
  EXPECT_TRUE(h.staysQuiet(c.client, 30ms));
  h.main->advanceBy(1ms);
  EXPECT_EQ(h.readLine(c.client), R"({"type":-1})");
}

TEST(OrvexLocalServerClients, ASecondClientReplacesTheFirstAndKeepsItsChain) {
  Connected c;
  c.waitConnected();
  auto& h = c.harness;
  h.server->sendTextMessageWithDict({{"type", 1}});
  EXPECT_EQ(h.readLine(c.client), R"({"type":1})");
  h.settleWrites();

  CompanionClient second(h.port());
  ASSERT_TRUE(second.connected());
  h.pumpUntil([&] {
    c.client.drain();
    return c.client.ended();
  });
  // The first client's notice comes after the accept: it must leave the new
  // client marked connected.
  h.pumpUntil([&] { return h.countLogs("-Socket断开连接--") == 1; });
  h.main->runUntilIdle();
  EXPECT_TRUE(h.server->isConnect());

  // The -1 chain armed by the first client's write goes on with the second.
  h.main->advanceBy(3s);
  EXPECT_EQ(h.readLine(second), R"({"type":-1})");
  h.settleWrites();
  h.main->advanceBy(3s);
  EXPECT_EQ(h.readLine(second), R"({"type":-1})");
  h.server->sendTextMessageWithDict({{"type", 1}});
  EXPECT_EQ(h.readLine(second), R"({"type":1})");
  EXPECT_EQ(h.countLogs("Socket-server 连接成功"), 2u);
  EXPECT_EQ(h.server->hfClient().streamCount(), 0u);
}

TEST(OrvexLocalServerClients, AClientThatLeavesClearsTheFlagsAndLaterSendsAreDropped) {
  Connected c;
  c.waitConnected();
  auto& h = c.harness;
  c.client.close();
  h.pumpUntil([&] { return !h.server->isConnect(); });
  EXPECT_FALSE(h.server->isFirstScreenRecording());
  EXPECT_EQ(h.countLogs("unity-App关闭或者异常退出 ===【眼镜状态 眼镜拔出】"), 1u);

  h.server->sendTextMessageWithDict({{"type", 1}});
  h.main->runUntilIdle();
  EXPECT_EQ(h.countLogs("socket未连接"), 1u);

  // Nothing was kept for later: a new client gets only what is sent to it.
  CompanionClient later(h.port());
  h.pumpUntil([&] { return h.server->isConnect(); });
  h.server->sendTextMessageWithDict({{"type", 2}});
  EXPECT_EQ(h.readLine(later), R"({"type":2})");
}

TEST(OrvexLocalServerSend, TypeGateAndEncodingOnTheWire) {
  Connected c;
  c.waitConnected();
  auto& h = c.harness;
  const double inf = std::numeric_limits<double>::infinity();
  struct Case {
    Value::Map message;
    bool glasses;
    const char* line;  // null: nothing goes out
  };
  const Case cases[] = {
      {{{"type", 5}}, false, nullptr},
      {{{"type", 7}}, false, nullptr},
      {{{"type", 8}}, false, nullptr},
      {{{"type", "7"}}, false, nullptr},
      {{{"type", 7.5}}, false, nullptr},
      {{{"type", 5}}, true, R"({"type":5})"},
      {{{"type", 7}}, true, R"({"type":7})"},
      {{{"type", "7"}}, true, R"({"type":"7"})"},
      {{{"type", 8}}, true, R"({"type":8})"},
      {{{"type", 6}}, false, R"({"type":6})"},
      {{{"name", "no type"}}, false, R"({"name":"no type"})"},
      {{}, true, nullptr},
      {{{"type", 9997}, {"value", Value::List{std::nan(""), inf, -inf, 2}}},
       false,
       R"({"type":9997,"value":[0,0,0,2]})"},
      {{{"type", 3}, {"text", "\xc3\x28"}}, true, nullptr},
  };
  std::vector<std::string> expected;
  for (const Case& entry : cases) {
    h.state.glassStatus = entry.glasses;
    h.server->sendTextMessageWithDict(entry.message);
    h.main->runUntilIdle();
    if (entry.line) expected.emplace_back(entry.line);
  }
  h.server->sendTextMessageWithDict({{"type", 1000}});
  std::vector<std::string> received;
  for (std::string line; (line = h.readLine(c.client)) != R"({"type":1000})" && !line.empty();) {
    received.push_back(line);
  }
  EXPECT_EQ(received, expected);
  EXPECT_EQ(h.countLogs("socket未连接"), 0u);  // the gate drops silently
  EXPECT_EQ(h.countLogs("消息未发送: 无法转JSON --- type = 3"), 1u);
}

TEST(OrvexLocalServerSend, RawTextLines) {
  Connected c;
  c.waitConnected();
  auto& h = c.harness;
  h.server->sendTextMessage("7");
  h.server->sendTextMessage("");
  h.server->sendTextMessage("hello");
  h.main->runUntilIdle();
  EXPECT_EQ(h.readLine(c.client), "hello");
  EXPECT_EQ(h.countLogs("：发送的数据---(hello)"), 1u);
  EXPECT_EQ(h.countLogs("：发送的数据---(7)"), 0u);
  h.state.glassStatus = true;
  h.server->sendTextMessage("7");
  EXPECT_EQ(h.readLine(c.client), "7");
}

TEST(OrvexLocalServerSend, NoClientYet) {
  CompanionServerHarness h;
  h.server->sendTextMessageWithDict({{"type", 1}});
  h.server->sendTextMessage("x");
  h.main->runUntilIdle();
  EXPECT_EQ(h.countLogs("socket未连接"), 2u);
}

// ---------------------------------------------------------------------------
// The port rule, with the listen step stubbed: the ports asked for, in order.

struct ListenScript {
  std::vector<uint16_t> ports;
  std::vector<bool> ipv6;
  std::function<SocketErrorPtr(uint16_t, bool ipv6Enabled)> answer;

  OrvexLocalServer::Listen listen() {
    return [this](GCDAsyncSocket& socket, uint16_t port, SocketErrorPtr* error) {
      ports.push_back(port);
      ipv6.push_back(socket.isIPv6Enabled());
      SocketErrorPtr failure = answer(port, ipv6.back());
      if (failure) {
        *error = failure;
        return false;
      }
      return socket.acceptOnInterface("localhost", port, error);
    };
  }
};

TEST(OrvexLocalServerPort, WalksDownWhileTheAddressIsInUse) {
  struct Case {
    const char* name;
    int64_t start;
    std::function<SocketErrorPtr(uint16_t, bool)> answer;
    std::vector<uint16_t> ports;
    int64_t serverPort;
    bool listening;
  };
  const auto inUse = [](uint16_t) { return SocketError::posix(EADDRINUSE, "Error in bind()"); };
  const Case cases[] = {
      {"the configured port is 84999, listened on as 19463",
       84999,
       [&](uint16_t port, bool) { return port == 19463 ? inUse(port) : nullptr; },
       {19463, 19462},
       84998,
       true},
      {"port 0 is skipped",
       65537,
       [&](uint16_t port, bool) { return port == 1 ? inUse(port) : nullptr; },
       {1, 65535},
       65535,
       true},
      {"no walk below 6001",
       6001,
       [&](uint16_t port, bool) { return inUse(port); },
       {6001, 6000},
       6000,
       false},
      {"another error: no retry",
       84999,
       [](uint16_t, bool) { return SocketError::posix(EACCES, "Error in bind()"); },
       {19463},
       84999,
       false},
  };
  for (const Case& c : cases) {
    ListenScript script;
    script.answer = c.answer;
    CompanionServerHarness h(
        [&](OrvexLocalServer::Options& options) {
          options.serverPort = c.start;
          options.listen = script.listen();
        },
        false);
    EXPECT_EQ(h.server->createLocalServer(), c.listening) << c.name;
    EXPECT_EQ(script.ports, c.ports) << c.name;
    EXPECT_EQ(h.server->serverPort(), c.serverPort) << c.name;
    EXPECT_EQ(h.countLogs("--启动SocketServer--"), c.ports.size()) << c.name;
  }
}

TEST(OrvexLocalServerPort, AtMostOneHundredTries) {
  ListenScript script;
  script.answer = [](uint16_t, bool) { return SocketError::posix(EADDRINUSE, "Error in bind()"); };
  CompanionServerHarness h(
      [&](OrvexLocalServer::Options& options) {
        options.serverPort.reset();  // the configured "84999"
        options.listen = script.listen();
      },
      false);
  EXPECT_FALSE(h.server->createLocalServer());
  ASSERT_EQ(script.ports.size(), 100u);
  EXPECT_EQ(script.ports.front(), 19463);
  EXPECT_EQ(script.ports.back(), 19364);
  EXPECT_EQ(h.countLogs("--启动SocketServer--0----84999----port = NSPOSIXErrorDomain 98"), 1u);
}

TEST(OrvexLocalServerPort, AHeldPortMovesTheServerOneLower) {
  // A real listener holds the port the configured value names; the one below
  // must be free on both loopback addresses.  Probed as the server binds
  // (TIME_WAIT leftovers do not count), in a range where no connection takes
  // its local port (the kernel hands those out above 32768).
  const auto bindable = [](int family, uint16_t port, dispatch::UniqueFd* keep) {
    dispatch::UniqueFd fd(::socket(family, SOCK_STREAM | SOCK_CLOEXEC, 0));
    const int on = 1;
    setsockopt(fd.get(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    bool bound;
    if (family == AF_INET6) {
      setsockopt(fd.get(), IPPROTO_IPV6, IPV6_V6ONLY, &on, sizeof on);
      sockaddr_in6 address{};
      address.sin6_family = AF_INET6;
      address.sin6_port = htons(port);
      address.sin6_addr = in6addr_loopback;
      bound = ::bind(fd.get(), reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 ||
              errno == EADDRNOTAVAIL;  // no ::1 on this host: nothing to take
    } else {
      sockaddr_in address{};
      address.sin_family = AF_INET;
      address.sin_port = htons(port);
      address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
      bound = ::bind(fd.get(), reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    }
    if (bound && keep != nullptr) {
      bound = ::listen(fd.get(), 1) == 0;
      *keep = std::move(fd);
    }
    return bound;
  };
  uint16_t held = 0;
  dispatch::UniqueFd holder;
  const auto start = static_cast<uint16_t>(20000 + ::getpid() % 9000);
  for (uint16_t candidate = start; candidate < start + 1000 && held == 0; candidate += 2) {
    if (bindable(AF_INET, candidate - 1, nullptr) && bindable(AF_INET6, candidate - 1, nullptr) &&
        bindable(AF_INET, candidate, &holder)) {
      held = candidate;
    }
  }
  ASSERT_NE(held, 0);
  CompanionServerHarness h(
      [&](OrvexLocalServer::Options& options) { options.serverPort = 65536 + held; });
  EXPECT_EQ(h.server->listeningPort(), held - 1);
  EXPECT_EQ(h.server->serverPort(), 65536 + held - 1);
  CompanionClient client(held - 1);
  EXPECT_TRUE(client.connected());
}

TEST(OrvexLocalServerPort, WithoutIpv6LoopbackItListensOnIpv4Alone) {
  ListenScript script;
  script.answer = [](uint16_t, bool ipv6Enabled) {
    return ipv6Enabled ? SocketError::posix(EADDRNOTAVAIL, "Error in bind()") : nullptr;
  };
  CompanionServerHarness h(
      [&](OrvexLocalServer::Options& options) { options.listen = script.listen(); });
  ASSERT_NE(h.server->listeningPort(), 0);
  EXPECT_EQ(script.ipv6, (std::vector<bool>{true, false}));
  EXPECT_EQ(script.ports[0], script.ports[1]);
  EXPECT_TRUE(CompanionClient(h.port(), AF_INET).connected());
  EXPECT_FALSE(CompanionClient(h.port(), AF_INET6).connected());
}

TEST(OrvexLocalServerPort, LoopbackOnlyOnBothFamilies) {
  CompanionServerHarness h;
  ASSERT_NE(h.port(), 0);
  EXPECT_TRUE(CompanionClient(h.port(), AF_INET).connected());
  EXPECT_TRUE(CompanionClient(h.port(), AF_INET6).connected());
  // Every interface address of the host other than the loopback is refused.
  const auto entries = readInterfaces();
  ASSERT_TRUE(entries);
  for (const InterfaceEntry& entry : *entries) {
    if (entry.family != AF_INET || entry.address.empty() || entry.address.rfind("127.", 0) == 0) {
      continue;
    }
    dispatch::UniqueFd fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(h.port());
    inet_pton(AF_INET, entry.address.c_str(), &address.sin_addr);
    EXPECT_NE(::connect(fd.get(), reinterpret_cast<sockaddr*>(&address), sizeof address), 0)
        << entry.address;
  }
}

// ---------------------------------------------------------------------------
// Memory

long residentKilobytes() {
  std::ifstream status("/proc/self/status");
  for (std::string line; std::getline(status, line);) {
    if (line.rfind("VmRSS:", 0) == 0) return std::stol(line.substr(6));
  }
  return -1;
}

TEST(OrvexLocalServerMemory, TenMegabytesWithoutALineEndAreTakenAndDropped) {
  Connected c;
  c.waitConnected();
  auto& h = c.harness;
  const long before = residentKilobytes();
  const std::string chunk(64 * 1024, 'x');
  std::atomic<bool> sent{false};
  std::thread peer([&] {
    for (int i = 0; i < 160; ++i) c.client.send(chunk);  // 10 MiB, never a CR LF
    sent = true;
  });
  // The peer's sends finish only if the server keeps reading; a server that
  // drops the client ends the wait at once.
  h.pumpUntil(
      [&] {
        return !h.server->isConnect() ||
               (sent.load() && h.server->readStats().bytes == 160u * chunk.size());
      },
      60s);
  peer.join();
  ASSERT_TRUE(h.server->isConnect()) << ::testing::PrintToString(h.logs());
  EXPECT_EQ(h.server->readStats().bytes, 160u * chunk.size());
  const auto stats = h.server->readStats();
  EXPECT_LE(stats.largestRead, OrvexLocalServer::kReadChunk);
  h.server->sendTextMessageWithDict({{"type", 1}});
  EXPECT_EQ(h.readLine(c.client), R"({"type":1})");
#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
  // (Sanitizers keep freed blocks in quarantine, so RSS says nothing there.)
  EXPECT_LT(residentKilobytes() - before, 4 * 1024) << "RSS grew";
#else
  (void)before;
#endif
}

TEST(OrvexLocalServerMemory, APeerThatNeverReadsMakesTheCapDropMessages) {
  CompanionServerHarness h;
  CompanionClient client(h.port(), AF_INET, 64 * 1024);
  h.pumpUntil([&] { return h.server->isConnect(); });
  const std::string pad(256 * 1024, 'p');
  size_t largestQueue = 0;
  for (int i = 0; i < 64; ++i) {  // 16 MiB
    h.server->sendTextMessageWithDict({{"type", 3}, {"n", i}, {"pad", pad}});
    h.main->runUntilIdle();
    largestQueue = std::max(largestQueue, h.server->queuedWriteBytes());
  }
  EXPECT_LE(largestQueue, OrvexLocalServer::kMaxQueuedWriteBytes);
  const size_t dropped = h.countLogs("消息未发送: 等待发送的数据超过4194304字节 --- type = 3");
  EXPECT_GT(dropped, 0u);

  // What did go out arrives whole, in order, and the queue empties.
  std::vector<int> received;
  for (size_t i = 0; i < 64 - dropped; ++i) {
    const std::string line = h.readLine(client, 30s);
    const auto json = nlohmann::json::parse(line, nullptr, false);
    ASSERT_TRUE(json.is_object()) << line.substr(0, 80);
    received.push_back(json["n"].get<int>());
  }
  EXPECT_TRUE(std::is_sorted(received.begin(), received.end()));
  h.settleWrites();
  EXPECT_EQ(h.server->queuedWriteBytes(), 0u);
  h.server->sendTextMessageWithDict({{"type", 4}});
  EXPECT_EQ(h.readLine(client), R"({"type":4})");
}

// ---------------------------------------------------------------------------
// Lifetime, notifications, immersion

TEST(OrvexLocalServerLifetime, TheRuntimesStopListClosesEverything) {
  auto harness = std::make_unique<CompanionServerHarness>();
  auto& h = *harness;
  const uint16_t port = h.port();
  CompanionClient client(port);
  h.pumpUntil([&] { return h.server->isConnect(); });

  dispatch::Runtime::shared().runStops();
  EXPECT_EQ(h.server->listeningPort(), 0);
  EXPECT_FALSE(h.server->isConnect());
  h.pumpUntil([&] {
    client.drain();
    return client.ended();
  });
  EXPECT_FALSE(CompanionClient(port).connected());
  // Sends after the stop go nowhere and never reach a closed socket.
  h.server->sendTextMessageWithDict({{"type", 1}});
  h.main->runUntilIdle();
  EXPECT_EQ(h.countLogs("socket未连接"), 0u);
}

TEST(OrvexLocalServerNotification, JsonTextGoesToTheEmitterOnTheGlobalQueue) {
  std::mutex mutex;
  std::vector<std::string> emitted;
  std::vector<bool> onMainThread;
  const auto testThread = std::this_thread::get_id();
  CompanionServerHarness h([&](OrvexLocalServer::Options& options) {
    options.emitNotification = [&](const std::string& json, const OrvexLocalServer::LogSink&) {
      std::lock_guard lock(mutex);
      emitted.push_back(json);
      onMainThread.push_back(std::this_thread::get_id() == testThread);
    };
  });
  h.server->notificationSocketPort();
  h.main->advanceBy(499ms);
  EXPECT_EQ(h.countLogs("JSON string: "), 0u);
  h.main->advanceBy(1ms);
  const std::string expected =
      "{\"socket_fd\":0,\"type\":" + std::to_string(h.server->serverPort()) + "}";
  EXPECT_EQ(h.countLogs("JSON string: " + expected), 1u);
  h.pumpUntil([&] {
    std::lock_guard lock(mutex);
    return !emitted.empty();
  });
  std::lock_guard lock(mutex);
  EXPECT_EQ(emitted, std::vector<std::string>{expected});
  EXPECT_EQ(onMainThread, std::vector<bool>{false});
}

TEST(OrvexLocalServerImmersion, GoesToTheInstalledHandlerOrIsLogged) {
  CompanionServerHarness h(nullptr, false);
  h.server->changeImmersion(3);
  EXPECT_EQ(h.countLogs("value = 3"), 1u);
  std::vector<int32_t> values;
  h.server->setChangeImmersionHandler([&](int32_t value) { values.push_back(value); });
  h.server->changeImmersion(4);
  EXPECT_EQ(values, std::vector<int32_t>{4});
}

TEST(OrvexLocalServerHost, QueriesUseTheInjectedSources) {
  std::vector<std::string> screens = {"Built-in Retina Display", "ORVEX Monitor2 (3D)"};
  const std::string folder = ::testing::TempDir() + "companion-host-" + std::to_string(::getpid());
  std::filesystem::create_directories(folder + "/proc/77");
  std::filesystem::create_symlink("/opt/vst/resources/unity/App", folder + "/proc/77/exe");
  std::ofstream(folder + "/product_name") << "Mac14,30\n";
  {
    CompanionServerHarness h(
        [&](OrvexLocalServer::Options& options) {
          options.screenNames = [&] { return screens; };
          options.procRoot = folder + "/proc";
          options.resourceFolder = "/opt/vst/resources";
          options.productNamePath = folder + "/product_name";
        },
        false);
    EXPECT_TRUE(h.server->isOrvexMonitor2Exist());
    screens = {"Built-in Retina Display", "Orvex Monitor 2"};
    EXPECT_FALSE(h.server->isOrvexMonitor2Exist());
    EXPECT_EQ(h.server->getDeviceModel(), "Mac mini");
    EXPECT_EQ(h.server->getProcessNameWithPid(77), "App");
    const auto processes = h.server->runningProcesses();
    ASSERT_TRUE(processes);
    const Value::List expected = {Value::Map{{"ProcessName", "App"}, {"ProcessID", "77"}}};
    EXPECT_EQ(*processes, expected);
    EXPECT_EQ(h.server->netmaskForIPAddress("127.0.0.1"), "255.0.0.0");
    EXPECT_EQ(h.countLogs("255.0.0.0"), 1u);
    EXPECT_EQ(h.server->netmaskForIPAddress("203.0.113.7"), std::nullopt);
  }
  std::filesystem::remove_all(folder);

  CompanionServerHarness plain(nullptr, false);
  EXPECT_FALSE(plain.server->isOrvexMonitor2Exist());  // no screen list: none
}

}  // namespace
}  // namespace vistrelle::netlocal
