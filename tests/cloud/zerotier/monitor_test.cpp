// The manager and the network monitor: polling on the virtual clock, the
// merge with the saved list, the notices, join, leave and quit.

#include <gtest/gtest.h>

#include "cloud/zerotier/network_file.h"
#include "cloud/zerotier/orvex_zero_tier_manager.h"
#include "zerotier_fixture.h"

namespace vistrelle::cloud::zerotier {
namespace {

using privileged::FakePrivilegedReader;
using privileged::PrivilegedReadResult;
using testing::ServiceStandIn;
using Reply = ServiceStandIn::Reply;
using namespace std::chrono_literals;

constexpr int kListTag = NetworkMonitor::kListTokenErrorTag;
constexpr int kStatusTag = NetworkMonitor::kStatusTokenErrorTag;

Network savedNetwork(uint64_t nwid, std::string name) {
  Network network;
  network.nwid = nwid;
  network.name = std::move(name);
  network.status = NetworkStatus::ok;
  return network;
}

class MonitorTest : public ZeroTierFixture {
 protected:
  void SetUp() override {
    ZeroTierFixture::SetUp();
    writeUserCopy(kServiceToken);
    OrvexZeroTierManager::Options options;
    options.client = client_;
    options.mainQueue = main_;
    options.monitor.console = [this](const std::string& line) { monitorConsole_.push_back(line); };
    manager_ = OrvexZeroTierManager::create(options);
  }
  void TearDown() override {
    manager_.reset();
    ZeroTierFixture::TearDown();
  }

  std::string dataFile() const { return userFolder() + "/networkinfo.dat"; }
  NetworkMonitor& monitor() { return manager_->monitor(); }
  // Lets the poll that is out answer (the clock stands still meanwhile).
  void finishPoll() {
    ASSERT_TRUE(runUntil([&] { return !monitor().pollInFlight(); }));
  }
  // Moves the clock by `delay` and lets a poll that started meanwhile answer
  // (the replies may come while the clock moves, so a poll is seen by what
  // it asked, not by whether it is still out).
  void advance(std::chrono::milliseconds delay) {
    main_->advanceBy(delay);
    finishPoll();
  }
  void nextPoll() { advance(NetworkMonitor::kPollInterval); }

  std::shared_ptr<OrvexZeroTierManager> manager_;
  std::vector<std::string> monitorConsole_;
  NotificationLog notices_{{"ztZeroTier_join_ok", "notificationName_LoginSuccess",
                            "com.zerotier.one.status", "com.zerotier.one.network-list"}};
};

TEST_F(MonitorTest, TheMergeReplacesInPlaceAppendsSortsAndSaves) {
  const std::vector<Network> saved = {savedNetwork(0x30, "third"), savedNetwork(0x10, "first"),
                                      savedNetwork(0x30, "third again")};
  Network replaced = savedNetwork(0x30, "third, now");
  replaced.connected = true;
  const std::vector<Network> merged =
      NetworkMonitor::merge(saved, {replaced, savedNetwork(0x20, "second")});
  std::vector<std::string> names;
  for (const Network& network : merged) names.push_back(network.name);
  // The first 0x30 replaced where it stood, then sorted (stable) by id.
  EXPECT_EQ(names, (std::vector<std::string>{"first", "second", "third, now", "third again"}));
}

TEST_F(MonitorTest, APollMergesTheReplyWithTheSavedFileAndPostsBoth) {
  std::string error;
  ASSERT_TRUE(NetworkFile::write(dataFile(),
                                 {savedNetwork(0xffffffffffffff00, "saved last"),
                                  savedNetwork(*Network::parseNetworkId(kNetworkId), "old name")},
                                 &error))
      << error;
  // No node status yet, so the monitor keeps polling.
  service_.script("GET", "/status", Reply::text(503, ""));
  ErrorAnswer joined;
  manager_->joinNetwork(kNetworkId, joined.completion());
  EXPECT_EQ(manager_->networkId(), kNetworkId);
  ASSERT_TRUE(runUntil([&] { return joined.done() && !monitor().pollInFlight(); }));
  // The join's own poll may have been answered before the join was; the
  // next one, a second later, sees the network.
  nextPoll();

  const std::vector<Network> all = monitor().allNetworks();
  ASSERT_EQ(all.size(), 2u);
  EXPECT_EQ(Network::networkIdText(all[0].nwid), kNetworkId);
  EXPECT_EQ(all[0].name, "stand-in 0001");  // the reply's, in place of the saved one
  EXPECT_TRUE(all[0].connected);
  EXPECT_EQ(all[1].name, "saved last");
  EXPECT_FALSE(all[1].connected);
  EXPECT_EQ(monitor().findNetworkWithID(all[1].nwid), 1);
  EXPECT_EQ(monitor().findNetworkWithID(0x42), NetworkMonitor::kNotFound);
  EXPECT_EQ(monitor().findSavedNetworkWithID(all[1].nwid),
            1);  // the file as the first poll sorted it

  // The file holds the union, and reads back (never connected).
  const std::optional<std::vector<Network>> reread = NetworkFile::read(dataFile());
  ASSERT_TRUE(reread.has_value());
  ASSERT_EQ(reread->size(), 2u);
  Network expected = all[0];
  expected.connected = false;
  EXPECT_EQ((*reread)[0], expected);
  EXPECT_EQ((*reread)[1], all[1]);
  EXPECT_EQ(modeOf(dataFile()), 0600u);
  EXPECT_EQ(modeOf(userFolder()), 0700u);

  const Notification list = notices_.named("com.zerotier.one.network-list").back();
  const Value::List* networks = list.userInfo.at("networks").asList();
  ASSERT_NE(networks, nullptr);
  ASSERT_EQ(networks->size(), 2u);
  EXPECT_EQ((*networks)[0]["nwid"], Value(kNetworkId));
  EXPECT_EQ((*networks)[0]["status"], Value("OK"));
  EXPECT_EQ((*networks)[0]["connected"], Value(true));

  monitor().deleteSavedNetwork(Network::networkIdText(all[1].nwid));
  monitor().deleteSavedNetwork("not hex");
  EXPECT_EQ(monitor().allNetworks().size(), 1u);
  EXPECT_EQ(NetworkFile::read(dataFile())->size(), 1u);
}

TEST_F(MonitorTest, ItPollsEverySecondUntilTheNodeReportsOnce) {
  // No status yet: the monitor polls, the first report stops it.
  service_.script("GET", "/status", Reply::text(503, ""));
  manager_->updateNetworkInfo();
  finishPoll();
  EXPECT_TRUE(monitor().isRunning());
  advance(NetworkMonitor::kPollInterval - 1ms);
  EXPECT_EQ(requestsTo("/status"), 1u);
  advance(1ms);
  EXPECT_EQ(requestsTo("/status"), 2u);
  nextPoll();
  nextPoll();
  EXPECT_EQ(requestsTo("/status"), 4u);
  EXPECT_EQ(requestsTo("/network"), 4u);
  EXPECT_EQ(notices_.count("com.zerotier.one.network-list"), 4u);
  EXPECT_EQ(notices_.count("com.zerotier.one.status"), 0u);
  EXPECT_FALSE(manager_->status().has_value());

  service_.clearScripts();
  nextPoll();
  ASSERT_TRUE(runUntil([&] { return manager_->status().has_value(); }));
  EXPECT_EQ(manager_->status()->address, ServiceStandIn::kZeroTierAddress);
  EXPECT_FALSE(monitor().isRunning());
  const auto joinOk = notices_.named("ztZeroTier_join_ok");
  ASSERT_EQ(joinOk.size(), 1u);
  EXPECT_EQ(joinOk[0].object, Value(std::string(ServiceStandIn::kZeroTierAddress)));
  EXPECT_EQ(monitorConsole_.front(), "ZeroTier monitor started");
  EXPECT_EQ(monitorConsole_.back(), "ZeroTier monitor stopped");

  // Stopped: time passes, nothing is asked.
  advance(std::chrono::seconds(5));
  EXPECT_EQ(requestsTo("/status"), 5u);

  // A second report changes nothing.
  NodeStatus other;
  other.address = "ffffffffff";
  NotificationCenter::defaultCenter().post("com.zerotier.one.status", Value(),
                                           {{"status", other.toValue()}});
  main_->runUntilIdle();
  EXPECT_EQ(notices_.count("ztZeroTier_join_ok"), 1u);
  EXPECT_EQ(manager_->status()->address, ServiceStandIn::kZeroTierAddress);
}

TEST_F(MonitorTest, ATokenFailurePausesThePollForASecondAndLogsTags0And1) {
  std::filesystem::remove(userCopy());
  reader_->setFallback(FakePrivilegedReader::refused(PrivilegedReadResult::Outcome::notStarted));
  manager_->updateNetworkInfo();
  finishPoll();
  EXPECT_EQ(logCount(kListTag), 1u);
  EXPECT_EQ(logCount(kStatusTag), 1u);
  EXPECT_EQ(zeroTierLog().front().first, "Couldn't create AuthorizationRef");
  EXPECT_FALSE(monitor().isRunning());
  const size_t reads = reader_->readCount();

  // Stopped for a second, then the poll's own second: nothing until 2 s.
  advance(1999ms);
  EXPECT_TRUE(monitor().isRunning());
  EXPECT_EQ(reader_->readCount(), reads);
  EXPECT_EQ(logCount(kListTag), 1u);
  advance(1ms);
  EXPECT_EQ(logCount(kListTag), 2u);
  EXPECT_GT(reader_->readCount(), reads);
  EXPECT_EQ(requestsTo("/status") + requestsTo("/network"), 0u);

  // A stop during the pause is final.
  monitor().stop();
  const size_t stopped = reader_->readCount();
  advance(std::chrono::seconds(5));
  EXPECT_FALSE(monitor().isRunning());
  EXPECT_EQ(reader_->readCount(), stopped);
}

TEST_F(MonitorTest, PollsDoNotPileUpBehindAPrompt) {
  std::filesystem::remove(userCopy());
  reader_->hold();
  manager_->updateNetworkInfo();
  ASSERT_TRUE(reader_->waitForReads(1));
  main_->advanceBy(std::chrono::seconds(5));
  EXPECT_TRUE(monitor().isRunning());
  EXPECT_EQ(reader_->readCount(), 1u);
  reader_->script(FakePrivilegedReader::prompted(kServiceToken));
  reader_->release();
  finishPoll();
  EXPECT_EQ(requestsTo("/status"), 1u);
  EXPECT_EQ(requestsTo("/network"), 1u);
}

TEST_F(MonitorTest, AnAbsentOrCorruptFileMeansNoSavedNetworks) {
  service_.script("GET", "/network", Reply::json(200, nlohmann::json::array()));
  for (const char* text : {"", "{not json", "{\"nwid\": 1}", "[{\"nwid\": \"abc\"}, 7]",
                           "[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[["}) {
    std::ofstream(dataFile()) << text;
    const size_t posted = notices_.count("com.zerotier.one.network-list");
    monitor().updateNetworkInfo();
    EXPECT_TRUE(monitor().savedNetworks().empty()) << text;
    finishPoll();
    EXPECT_EQ(notices_.count("com.zerotier.one.network-list"), posted + 1);
    EXPECT_TRUE(monitor().allNetworks().empty()) << text;
  }
  // A good file, then none at all: its networks are forgotten.
  ASSERT_TRUE(NetworkFile::write(dataFile(), {savedNetwork(7, "seven")}, nullptr));
  monitor().updateNetworkInfo();
  EXPECT_EQ(monitor().savedNetworks().size(), 1u);
  finishPoll();
  std::filesystem::remove(dataFile());
  monitor().updateNetworkInfo();
  EXPECT_TRUE(monitor().savedNetworks().empty());
  finishPoll();
}

TEST_F(MonitorTest, LeaveClearsTheNetworkIdOnlyOnItsOk) {
  ErrorAnswer joined;
  manager_->joinNetwork(kNetworkId, joined.completion());
  ASSERT_TRUE(runUntil([&] { return joined.done() && manager_->status().has_value(); }));

  // An error status keeps both.  (A 401, whose handling shows in the
  // client's reset flag, so the test knows when the reply was handled.)
  service_.setZeroTierToken("another");
  manager_->leaveNetwork(kNetworkId);
  EXPECT_EQ(manager_->networkId(), kNetworkId);  // not cleared as the request starts
  ASSERT_TRUE(runUntil([&] { return client_->resetKey(); }));
  EXPECT_EQ(manager_->networkId(), kNetworkId);
  EXPECT_TRUE(manager_->status().has_value());

  service_.setZeroTierToken(kServiceToken);
  reader_->script(FakePrivilegedReader::prompted(kServiceToken));
  manager_->leaveNetwork(kNetworkId);
  EXPECT_EQ(manager_->networkId(), kNetworkId);
  ASSERT_TRUE(runUntil([&] { return manager_->networkId().empty(); }));
  EXPECT_FALSE(manager_->status().has_value());
  EXPECT_TRUE(service_.zeroTierNetworks().empty());
  manager_->leaveNetwork("");
  main_->runUntilIdle();
  EXPECT_EQ(service_.requestsTo(std::string("/network/") + kNetworkId).size(), 3u);
}

TEST_F(MonitorTest, TheJoinCompletionCarriesTheStatusOrTheRefusal) {
  service_.scriptOnce("POST", std::string("/network/") + kNetworkId, Reply::text(500, ""));
  ErrorAnswer failed;
  manager_->joinNetwork(kNetworkId, failed.completion());
  ASSERT_TRUE(runUntil([&] { return failed.done(); }));
  EXPECT_EQ(failed.calls, 1);
  EXPECT_EQ(failed.error->statusCode(), 500);
  finishPoll();
  monitor().stop();

  // Refused before anything is sent: the completion still runs, once, on
  // the main queue.
  exhaustPrompts();
  ErrorAnswer refused;
  manager_->joinNetwork(kNetworkId, refused.completion());
  EXPECT_FALSE(refused.done());
  main_->runUntilIdle();
  EXPECT_EQ(refused.calls, 1);
  EXPECT_EQ(refused.error->kind(), ServiceComError::Kind::tooManyPrompts);
}

TEST_F(MonitorTest, QuitClearsTheStatusASecondLaterOnlyWhenTheServiceQuit) {
  ErrorAnswer joined;
  manager_->joinNetwork(kNetworkId, joined.completion());
  ASSERT_TRUE(runUntil([&] { return joined.done() && manager_->status().has_value(); }));
  finishPoll();
  const size_t before = notices_.count("notificationName_LoginSuccess");

  // An error status is no quit.  (A 401, whose handling shows in the
  // client's reset flag.)
  service_.setZeroTierToken("another");
  manager_->quitZT();
  ASSERT_TRUE(runUntil([&] { return client_->resetKey(); }));
  main_->advanceBy(std::chrono::seconds(2));
  EXPECT_TRUE(manager_->status().has_value());
  EXPECT_EQ(notices_.count("notificationName_LoginSuccess"), before);

  // The stand-in hangs up, as the service does when it exits.
  service_.setZeroTierToken(kServiceToken);
  reader_->script(FakePrivilegedReader::prompted(kServiceToken));
  main_->runUntilIdle();
  const size_t pending = main_->pendingCount();
  manager_->quitZT();
  // Its answer leaves one task for a second later.
  ASSERT_TRUE(runUntil([&] { return main_->pendingCount() == pending + 1; }));
  main_->advanceBy(999ms);
  EXPECT_TRUE(manager_->status().has_value());
  main_->advanceBy(1ms);
  EXPECT_FALSE(manager_->status().has_value());
  const auto posted = notices_.named("notificationName_LoginSuccess");
  ASSERT_EQ(posted.size(), before + 1);
  EXPECT_TRUE(posted.back().object.isNull());
}

}  // namespace
}  // namespace vistrelle::cloud::zerotier
