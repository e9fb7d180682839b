// Fuzz target: the local ZeroTier service's replies and the saved network
// list, fed any bytes: the same input is read as a "/status" body, as a
// "/network" body and as "networkinfo.dat".  Checked: nothing crashes; a
// body that is refused says why; every network kept from a reply or the
// file round-trips through save and load (a reply's network comes back the
// same but not connected), also through a real file; the node status
// round-trips through its notice; and merging the two lists keeps every id
// the service reported, sorted.
// Links: vistrelle_cloud_zerotier

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

#include "cloud/zerotier/network_file.h"
#include "cloud/zerotier/network_monitor.h"
#include "cloud/zerotier/service_reply.h"
#include "fuzz/fuzz_support.h"

using namespace vistrelle::cloud::zerotier;

namespace {

// `network` as it reads back from the saved list.
Network asSaved(Network network) {
  network.connected = false;
  return network;
}

bool sameAsSaved(const std::vector<Network>& kept, const std::vector<Network>& loaded) {
  if (kept.size() != loaded.size()) return false;
  for (size_t i = 0; i < kept.size(); ++i) {
    if (!(loaded[i] == asSaved(kept[i])) || loaded[i].portError != kept[i].portError) return false;
  }
  return true;
}

void checkRoundTrip(const std::vector<Network>& networks) {
  const std::optional<std::vector<Network>> decoded =
      NetworkFile::decode(NetworkFile::encode(networks));
  FUZZ_CHECK(decoded.has_value());
  FUZZ_CHECK(sameAsSaved(networks, *decoded));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string body(reinterpret_cast<const char*>(data), size);
  std::string error;

  // "/status"
  const std::optional<NodeStatus> status = ServiceReply::nodeStatus(body, &error);
  if (status) {
    FUZZ_CHECK(NodeStatus::fromValue(status->toValue()) == status);
  } else {
    FUZZ_CHECK(!error.empty());
  }

  // "/network"
  error.clear();
  const std::optional<std::vector<Network>> received = ServiceReply::networkList(body, &error);
  if (received) {
    for (const Network& network : *received) {
      FUZZ_CHECK(network.connected);
      FUZZ_CHECK(Network::parseNetworkId(Network::networkIdText(network.nwid)) == network.nwid);
    }
    checkRoundTrip(*received);
  } else {
    FUZZ_CHECK(!error.empty());
  }

  // "networkinfo.dat"
  const std::optional<std::vector<Network>> saved = NetworkFile::decode(body);
  if (saved) {
    for (const Network& network : *saved) FUZZ_CHECK(!network.connected);
    checkRoundTrip(*saved);
  }

  // The monitor's merge, saved through a real file and read back.
  const std::vector<Network> merged = NetworkMonitor::merge(
      saved.value_or(std::vector<Network>()), received.value_or(std::vector<Network>()));
  FUZZ_CHECK(std::is_sorted(merged.begin(), merged.end(),
                            [](const Network& a, const Network& b) { return a.nwid < b.nwid; }));
  if (received) {
    for (const Network& network : *received) {
      FUZZ_CHECK(std::any_of(merged.begin(), merged.end(),
                             [&](const Network& m) { return m.hasSameNetworkId(network.nwid); }));
    }
  }
  if (!merged.empty()) {
    const std::string path = vistrelle::fuzz::scratchFolder() + "/ZTORVEX/One/networkinfo.dat";
    FUZZ_CHECK(NetworkFile::write(path, merged, &error));
    const std::optional<std::vector<Network>> loaded = NetworkFile::read(path);
    FUZZ_CHECK(loaded.has_value());
    FUZZ_CHECK(sameAsSaved(merged, *loaded));
  }
  return 0;
}
