#include <gtest/gtest.h>

#include <chrono>

#include <atomic>
#include <cerrno>
#include <map>
#include <thread>

#include "device/hid/qx_rig.h"

namespace vistrelle::device {
namespace {

using sim::SimGlassesModel;
using testing::QxRig;

// One command a thread made: the connection epochs around it and its result.
struct Issued {
  uint64_t before = 0;
  uint64_t after = 0;
  int32_t result = 0;
};

// Four threads command the glasses while two pairs of glasses take turns
// being plugged in.  Every command carries its own number (as the
// temperature of a bias record); each one a pair of glasses received must
// have been made while that pair was the current glasses, so no write ever
// reached glasses through a transport that had been detached, or another
// device through a reused descriptor.
TEST(OrvexQXServerThreads, CommandsWhileGlassesComeAndGo) {
  QxRig rig;
  auto first = rig.sim.glasses(SimGlassesModel::secondGeneration());
  auto second = rig.sim.glasses(SimGlassesModel::secondGenerationPro());

  std::mutex mutex;
  std::map<uint32_t, Issued> issued;
  std::atomic<bool> done{false};
  std::atomic<uint32_t> nextNumber{1};
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      for (uint32_t n = 0; !done.load(); ++n) {
        const uint32_t number = nextNumber.fetch_add(1);
        Issued command;
        command.before = rig.qx->connectionEpoch();
        command.result = rig.qx->setUserImuTempBias(0, static_cast<float>(number), 0, 0, 0);
        command.after = rig.qx->connectionEpoch();
        // Other commands and readers in between, for the locks' sake.
        switch ((n + t) % 4) {
          case 0:
            rig.qx->change_display_volume(3);
            break;
          case 1:
            rig.qx->change_display_3d(n % 2 == 0);
            break;
          case 2:
            rig.qx->refreshConnectedDevice();
            break;
          default:
            rig.qx->checkNeedDfuUpdate([](bool) {});
            break;
        }
        std::lock_guard lock(mutex);
        issued[number] = command;
      }
    });
  }

  // Per plug-in: the epoch while those glasses were current, and the
  // numbers they received.
  std::vector<std::pair<uint64_t, std::vector<uint32_t>>> sessions;
  for (int round = 0; round < 30; ++round) {
    sim::SimGlassesHidDevice& glasses = round % 2 == 0 ? *first : *second;
    glasses.glasses().clearCommandLog();
    const size_t plugs = rig.notes.count(OrvexQXServer::kStatusChange);
    glasses.plug();
    ASSERT_TRUE(rig.notes.waitFor(OrvexQXServer::kStatusChange, plugs + 1));
    const uint64_t epoch = rig.qx->connectionEpoch();
    // Some commands while they are current.
    const uint32_t target = nextNumber.load() + 20;
    while (nextNumber.load() < target) std::this_thread::yield();
    // And until the glasses have taken at least one of them in (their side
    // of the bus reads on a thread of its own), so every round delivers.
    const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    auto tookOne = [&] {
      for (const auto& record : glasses.glasses().commandLog()) {
        if (record.group == 12 && record.command == 5) return true;
      }
      return false;
    };
    while (!tookOne() && std::chrono::steady_clock::now() < limit) std::this_thread::yield();
    glasses.unplug();
    ASSERT_TRUE(rig.notes.waitFor(OrvexQXServer::kStatusChange, plugs + 2));
    // Unplugged: the bus has hung up, nothing more reaches these glasses.
    std::vector<uint32_t> received;
    for (const auto& record : glasses.glasses().commandLog()) {
      if (record.group == 12 && record.command == 5) {
        received.push_back(static_cast<uint32_t>(record.report.f32(20)));
      }
    }
    sessions.emplace_back(epoch, std::move(received));
  }
  done.store(true);
  for (auto& thread : threads) thread.join();

  size_t delivered = 0;
  std::lock_guard lock(mutex);
  for (const auto& [epoch, numbers] : sessions) {
    for (uint32_t number : numbers) {
      ASSERT_EQ(issued.count(number), 1u) << number;
      const Issued& command = issued[number];
      EXPECT_LE(command.before, epoch) << "command " << number << " went to glasses plugged later";
      EXPECT_GE(command.after, epoch) << "command " << number << " went to glasses already gone";
      ++delivered;
    }
  }
  EXPECT_GT(delivered, 0u);
  // Commands made entirely without glasses never claimed success.
  for (const auto& [number, command] : issued) {
    if (command.before == command.after && command.before % 2 == 0) {
      EXPECT_TRUE(command.result == -1 || command.result == -ENODEV) << command.result;
    }
  }
}

}  // namespace
}  // namespace vistrelle::device
