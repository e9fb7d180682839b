// The service's reply bodies, the models and the saved list's format.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "cloud/zerotier/network.h"
#include "cloud/zerotier/network_file.h"
#include "cloud/zerotier/node_status.h"
#include "cloud/zerotier/service_reply.h"
#include "support/http_fixture.h"

namespace vistrelle::cloud::zerotier {
namespace {

using nlohmann::json;

json fullNetwork() {
  return {{"nwid", "8056c2e21c000001"},
          {"assignedAddresses", {"10.147.17.5/24", "fd80::1/88"}},
          {"bridge", true},
          {"broadcastEnabled", true},
          {"dhcp", true},
          {"mac", "aa:bb:cc:dd:ee:ff"},
          {"mtu", 2800},
          {"name", "home"},
          {"netconfRevision", 7},
          {"portDeviceName", "ztabc"},
          {"portError", -3},
          {"status", "ACCESS_DENIED"},
          {"type", "PRIVATE"},
          {"allowManaged", true},
          {"allowGlobal", true},
          {"allowDefault", true},
          {"allowDNS", true},
          {"routes", json::array()}};  // not read
}

TEST(NetworkJson, EveryKeyIsRead) {
  const std::optional<Network> network = Network::initWithJsonData(fullNetwork());
  ASSERT_TRUE(network.has_value());
  EXPECT_EQ(network->nwid, 0x8056c2e21c000001u);
  EXPECT_EQ(network->assignedAddresses, (std::vector<std::string>{"10.147.17.5/24", "fd80::1/88"}));
  EXPECT_TRUE(network->bridge && network->broadcastEnabled && network->dhcp);
  EXPECT_EQ(network->mac, "aa:bb:cc:dd:ee:ff");
  EXPECT_EQ(network->mtu, 2800);
  EXPECT_EQ(network->name, "home");
  EXPECT_EQ(network->netconfRevision, 7);
  EXPECT_EQ(network->portDeviceName, "ztabc");
  EXPECT_EQ(network->portError, -3);
  EXPECT_EQ(network->status, NetworkStatus::accessDenied);
  EXPECT_EQ(network->statusString(), "ACCESS_DENIED");
  EXPECT_EQ(network->type, NetworkType::privateNetwork);
  EXPECT_EQ(network->typeString(), "PRIVATE");
  EXPECT_TRUE(network->allowManaged && network->allowGlobal && network->allowDefault &&
              network->allowDNS);
  EXPECT_TRUE(network->connected);
}

TEST(NetworkJson, StatusAndTypeTexts) {
  const std::pair<const char*, NetworkStatus> statuses[] = {
      {"REQUESTING_CONFIGURATION", NetworkStatus::requestingConfiguration},
      {"OK", NetworkStatus::ok},
      {"ACCESS_DENIED", NetworkStatus::accessDenied},
      {"NOT_FOUND", NetworkStatus::notFound},
      {"PORT_ERROR", NetworkStatus::portError},
      {"CLIENT_TOO_OLD", NetworkStatus::clientTooOld},
      {"AUTHENTICATION_REQUIRED", NetworkStatus::requestingConfiguration},
      {"ok", NetworkStatus::requestingConfiguration},
  };
  for (const auto& [text, status] : statuses) {
    json object = fullNetwork();
    object["status"] = text;
    EXPECT_EQ(Network::initWithJsonData(object)->status, status) << text;
  }
  EXPECT_EQ(networkStatusText(static_cast<NetworkStatus>(6)), "");
  EXPECT_EQ(networkStatusText(static_cast<NetworkStatus>(-1)), "");
  EXPECT_EQ(networkTypeText(NetworkType::publicNetwork), "PUBLIC");
  EXPECT_EQ(networkTypeText(static_cast<NetworkType>(2)), "");
  json publicNetwork = fullNetwork();
  publicNetwork["type"] = "PUBLIC";
  EXPECT_EQ(Network::initWithJsonData(publicNetwork)->type, NetworkType::publicNetwork);
}

TEST(NetworkJson, AbsentOrMistypedFieldsKeepTheirDefaults) {
  const json mistyped = {{"nwid", "1"},      {"assignedAddresses", {"10.0.0.1/8", 5}},
                         {"bridge", 1},      {"mac", 17},
                         {"mtu", "2800"},    {"netconfRevision", 4294967296LL},
                         {"portError", 1.5}, {"status", 1},
                         {"type", true},     {"allowDNS", "true"}};
  const std::optional<Network> network = Network::initWithJsonData(mistyped);
  ASSERT_TRUE(network.has_value());
  Network expected;
  expected.nwid = 1;
  expected.connected = true;
  EXPECT_EQ(*network, expected);
  EXPECT_EQ(network->portError, 0);
  EXPECT_FALSE(network->allowDNS);
}

TEST(NetworkJson, AnEntryWithoutAHexadecimalIdIsSkipped) {
  for (const json& nwid : {json(), json(12345), json(""), json("xyz"), json("8056c2e21c00000g"),
                           json("8056c2e21c0000011"), json(" 8056"), json("0x8056"), json("-1")}) {
    json object = fullNetwork();
    if (nwid.is_null()) {
      object.erase("nwid");
    } else {
      object["nwid"] = nwid;
    }
    EXPECT_FALSE(Network::initWithJsonData(object).has_value()) << nwid.dump();
  }
  EXPECT_EQ(Network::initWithJsonData({{"nwid", "FFFFFFFFFFFFFFFF"}})->nwid, UINT64_MAX);
  EXPECT_FALSE(Network::initWithJsonData(json::array()).has_value());

  std::string error;
  const auto list = ServiceReply::networkList(
      R"([{"nwid": "01"}, 7, {"nwid": 2}, null, {"nwid": "03", "name": "three"}])", &error);
  ASSERT_TRUE(list.has_value());
  ASSERT_EQ(list->size(), 2u);
  EXPECT_EQ((*list)[0].nwid, 1u);
  EXPECT_EQ((*list)[1].name, "three");
}

TEST(ServiceReplies, BodiesThatAreNotTheJsonExpected) {
  std::string error;
  for (const char* body : {"", "not json", "{\"a\":", "[\"\xff\xfe\"]"}) {
    EXPECT_FALSE(ServiceReply::nodeStatus(body, &error).has_value()) << body;
    EXPECT_EQ(error, ServiceReply::kNotJsonText);
    EXPECT_FALSE(ServiceReply::networkList(body, &error).has_value()) << body;
  }
  for (const char* body : {"[]", "\"text\"", "7"}) {
    EXPECT_FALSE(ServiceReply::nodeStatus(body, &error).has_value()) << body;
    EXPECT_EQ(error, ServiceReply::kNotObjectText);
  }
  EXPECT_FALSE(ServiceReply::networkList("{}", &error).has_value());
  EXPECT_EQ(error, ServiceReply::kNotArrayText);
  // Nesting too deep to walk is refused, not built.
  const std::string deep = std::string(100000, '[') + std::string(100000, ']');
  EXPECT_FALSE(ServiceReply::networkList(deep, &error).has_value());
  EXPECT_TRUE(
      ServiceReply::networkList(std::string(500, '[') + std::string(500, ']'), &error).has_value());
}

TEST(NodeStatusJson, TheNineKeysAndTheirRoundTripThroughANotice) {
  const auto status = ServiceReply::nodeStatus(R"({
      "address": "a1b2c3d4e5", "publicIdentity": "a1b2c3d4e5:0:5d8c", "online": true,
      "tcpFallbackActive": true, "versionMajor": 1, "versionMinor": 12, "versionRev": 2,
      "version": "1.12.2", "clock": 18446744073709551615, "planetWorldId": 149604618})",
                                               nullptr);
  ASSERT_TRUE(status.has_value());
  EXPECT_EQ(status->address, "a1b2c3d4e5");
  EXPECT_EQ(status->publicIdentity, "a1b2c3d4e5:0:5d8c");
  EXPECT_TRUE(status->online);
  EXPECT_TRUE(status->tcpFallbackActive);
  EXPECT_EQ(status->versionMajor, 1);
  EXPECT_EQ(status->versionMinor, 12);
  EXPECT_EQ(status->versionRev, 2);
  EXPECT_EQ(status->version, "1.12.2");
  EXPECT_EQ(status->clock, UINT64_MAX);
  EXPECT_EQ(NodeStatus::fromValue(status->toValue()), status);
  EXPECT_FALSE(NodeStatus::fromValue(Value("a1b2c3d4e5")).has_value());

  const auto mistyped = ServiceReply::nodeStatus(R"({"address": 5, "online": "yes"})", nullptr);
  ASSERT_TRUE(mistyped.has_value());
  EXPECT_EQ(*mistyped, NodeStatus());
}

TEST(NetworkModel, EqualityHashAndDefaultRoute) {
  const Network a = *Network::initWithJsonData(fullNetwork());
  Network b = a;
  b.portError = 99;
  EXPECT_TRUE(a.isEqualToNetwork(b));
  EXPECT_EQ(a.hash(), b.hash());
  // Every other property counts.
  const std::vector<std::function<void(Network&)>> changes = {
      [](Network& n) { n.assignedAddresses.pop_back(); },
      [](Network& n) { n.bridge = false; },
      [](Network& n) { n.broadcastEnabled = false; },
      [](Network& n) { n.dhcp = false; },
      [](Network& n) { n.mac = "x"; },
      [](Network& n) { n.mtu = 1; },
      [](Network& n) { n.name = "x"; },
      [](Network& n) { n.netconfRevision = 1; },
      [](Network& n) { n.nwid = 1; },
      [](Network& n) { n.portDeviceName = "x"; },
      [](Network& n) { n.status = NetworkStatus::ok; },
      [](Network& n) { n.type = NetworkType::publicNetwork; },
      [](Network& n) { n.allowManaged = false; },
      [](Network& n) { n.allowGlobal = false; },
      [](Network& n) { n.allowDefault = false; },
      [](Network& n) { n.allowDNS = false; },
      [](Network& n) { n.connected = false; },
  };
  for (size_t i = 0; i < changes.size(); ++i) {
    Network changed = a;
    changes[i](changed);
    EXPECT_FALSE(a.isEqualToNetwork(changed)) << "change " << i;
  }
  EXPECT_TRUE(a.hasSameNetworkId(0x8056c2e21c000001u));
  EXPECT_FALSE(a.hasSameNetworkId(1));

  Network offline = a;
  offline.connected = false;
  Network noDefault = a;
  noDefault.allowDefault = false;
  EXPECT_FALSE(Network::defaultRouteExists({offline, noDefault}));
  EXPECT_TRUE(Network::defaultRouteExists({offline, a}));
  EXPECT_FALSE(Network::defaultRouteExists({}));
}

TEST(NetworkFileFormat, TheArchiveKeysInTheirOrder) {
  Network network = *Network::initWithJsonData(fullNetwork());
  network.nwid = 0xfedcba9876543210u;  // past the signed range
  const json saved = json::parse(NetworkFile::encode({network}));
  ASSERT_TRUE(saved.is_array());
  const nlohmann::ordered_json object = network.encodeWithCoder();
  std::vector<std::string> keys;
  for (const auto& [key, value] : object.items()) keys.push_back(key);
  EXPECT_EQ(keys, (std::vector<std::string>{"addresses", "bridge", "broadcast", "dhcp", "mac",
                                            "mtu", "name", "netconf", "nwid", "port", "portError",
                                            "status", "type", "allowManaged", "allowGlobal",
                                            "allowDefault", "allowDNS"}));
  EXPECT_EQ(saved[0]["nwid"], json(0xfedcba9876543210u));
  EXPECT_TRUE(saved[0]["nwid"].is_number_unsigned());
  EXPECT_EQ(saved[0]["status"], 2);
  EXPECT_EQ(saved[0]["type"], 1);
  EXPECT_EQ(saved[0]["netconf"], 7);
  EXPECT_EQ(saved[0]["port"], "ztabc");
  EXPECT_FALSE(saved[0].contains("connected"));

  const auto decoded = NetworkFile::decode(NetworkFile::encode({network}));
  ASSERT_TRUE(decoded.has_value());
  ASSERT_EQ(decoded->size(), 1u);
  Network expected = network;
  expected.connected = false;
  EXPECT_EQ((*decoded)[0], expected);
  EXPECT_EQ((*decoded)[0].portError, -3);
}

TEST(NetworkFileFormat, DecodingSetsOnlyWhatTheObjectHolds) {
  const auto decoded = NetworkFile::decode(R"([
      {"nwid": 5, "name": "no dns", "allowDefault": true, "status": 42},
      {"nwid": "5"}, {"name": "no id"}, {"nwid": -1}, {"nwid": 1.5}, [], 3,
      {"nwid": 18446744073709551615, "mtu": 1e3, "addresses": "x"}])");
  ASSERT_TRUE(decoded.has_value());
  ASSERT_EQ(decoded->size(), 2u);
  EXPECT_EQ((*decoded)[0].name, "no dns");
  EXPECT_FALSE((*decoded)[0].allowDNS);
  EXPECT_FALSE((*decoded)[0].connected);
  EXPECT_TRUE((*decoded)[0].allowDefault);
  // A number the service has no text for is kept as it is.
  EXPECT_EQ(static_cast<int32_t>((*decoded)[0].status), 42);
  EXPECT_EQ((*decoded)[0].statusString(), "");
  EXPECT_EQ((*decoded)[1].nwid, UINT64_MAX);
  EXPECT_EQ((*decoded)[1].mtu, 0);
  EXPECT_TRUE((*decoded)[1].assignedAddresses.empty());
  EXPECT_FALSE(NetworkFile::decode("{}").has_value());
  EXPECT_FALSE(NetworkFile::decode("").has_value());
}

TEST(NetworkFileFormat, WrittenAtomicallyOwnerOnly) {
  TemporaryHome home;
  const std::string folder = home.path() + "/data/ZTORVEX/One";
  const std::string path = folder + "/networkinfo.dat";
  std::string error;
  ASSERT_TRUE(NetworkFile::write(path, {*Network::initWithJsonData(fullNetwork())}, &error))
      << error;
  EXPECT_EQ(std::filesystem::status(path).permissions(), std::filesystem::perms(0600));
  EXPECT_EQ(std::filesystem::status(folder).permissions(), std::filesystem::perms(0700));
  ASSERT_TRUE(NetworkFile::write(path, {}, &error)) << error;
  EXPECT_EQ(NetworkFile::read(path)->size(), 0u);
  size_t entries = 0;
  for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(folder)) ++entries;
  EXPECT_EQ(entries, 1u);
  EXPECT_FALSE(NetworkFile::read(folder + "/absent").has_value());

  // A file that cannot be replaced leaves the old one whole.
  ASSERT_TRUE(NetworkFile::write(path, {*Network::initWithJsonData(fullNetwork())}, &error));
  std::filesystem::remove(path);
  std::filesystem::create_directory(path);  // a folder in its place
  EXPECT_FALSE(NetworkFile::write(path, {}, &error));
  EXPECT_FALSE(error.empty());
  entries = 0;
  for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(folder)) ++entries;
  EXPECT_EQ(entries, 1u);  // no temporary file left behind
}

}  // namespace
}  // namespace vistrelle::cloud::zerotier
