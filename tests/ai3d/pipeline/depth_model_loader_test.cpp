// The install run off the caller's thread, its result delivered on queues.
#include "ai3d/pipeline/depth_model_loader.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <thread>

#include "ai3d/pipeline/depth_model.h"
#include "ai3d/pipeline/temp_folder.h"
#include "platform/dispatch/serial_queue.h"
#include "platform/dispatch/thread_pool.h"
#include "platform/dispatch/virtual_executor.h"
#include "platform/inference/fake/fake_depth_network.h"
#include "tools/model_pack/model_packer.h"

namespace vistrelle::ai3d {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

class LoaderTest : public ::testing::Test {
 protected:
  LoaderTest() {
    const Bytes key(32, 7);
    const auto sealed = tools::aesGcmSealFresh(
        tools::zipEntries({{"DepthAnythingV2float16.mlmodelc/", {}},
                           {"DepthAnythingV2float16.mlmodelc/model.onnx", Bytes{1, 2, 3}}}),
        key);
    tools::writeFile((temp_.path() / "model-enc.bin").string(), sealed.ciphertext);
    keys_ = {tools::hexString(key.data(), key.size()),
             tools::hexString(sealed.nonce.data(), sealed.nonce.size()),
             tools::hexString(sealed.tag.data(), sealed.tag.size())};
    env_.resourcePath = (temp_.path() / "model-enc.bin").string();
    env_.dataFolder = (temp_.path() / ".OrvexSpace").string();
    env_.createDataFolder = [this] { return fs::create_directories(env_.dataFolder); };
    env_.print = [](const std::string&) {};
    env_.log = [](const std::string&) {};
    env_.loadNetwork = [this](std::span<const uint8_t>, std::string*) {
      loadThread_ = std::this_thread::get_id();
      return std::make_unique<inference::FakeDepthNetwork>();
    };
  }

  testing::TempFolder temp_;
  OrvexDecryptAESGCM keys_;
  DepthModelEnvironment env_;
  std::thread::id loadThread_;
  std::shared_ptr<DepthModelHolder> holder_ = std::make_shared<DepthModelHolder>();
};

TEST_F(LoaderTest, ResultReachesEveryQueueThatAskedBeforeOrAfter) {
  auto work = std::make_shared<dispatch::VirtualExecutor>();
  auto main = std::make_shared<dispatch::VirtualExecutor>();
  DepthModelLoader loader(holder_, env_, keys_);
  std::vector<bool> results;
  loader.whenDone(main, [&](bool loaded) { results.push_back(loaded); });
  loader.start(work);
  loader.start(work);  // once only
  EXPECT_EQ(loader.state(), DepthModelLoader::State::Loading);
  loader.whenDone(main, [&](bool loaded) { results.push_back(loaded); });
  main->runUntilIdle();
  EXPECT_TRUE(results.empty()) << "nothing before the install ran";
  EXPECT_EQ(work->runUntilIdle(), 1u);
  EXPECT_EQ(holder_->model() != nullptr, true);
  EXPECT_TRUE(results.empty()) << "results arrive on the asking queue, not the worker";
  main->runUntilIdle();
  EXPECT_EQ(results, (std::vector<bool>{true, true}));
  loader.whenDone(main, [&](bool loaded) { results.push_back(loaded); });
  EXPECT_EQ(results.size(), 2u) << "posted, never run inline";
  main->runUntilIdle();
  EXPECT_EQ(results, (std::vector<bool>{true, true, true}));
  EXPECT_EQ(loader.state(), DepthModelLoader::State::Loaded);
}

TEST_F(LoaderTest, FailedInstallReportsFalse) {
  keys_.aes_gcm_tag[0] = keys_.aes_gcm_tag[0] == '0' ? '1' : '0';
  auto queue = std::make_shared<dispatch::VirtualExecutor>();
  DepthModelLoader loader(holder_, env_, keys_);
  std::optional<bool> result;
  loader.start(queue);
  loader.whenDone(queue, [&](bool loaded) { result = loaded; });
  queue->runUntilIdle();
  EXPECT_EQ(result, false);
  EXPECT_EQ(loader.state(), DepthModelLoader::State::Failed);
  EXPECT_EQ(holder_->model(), nullptr);
}

TEST_F(LoaderTest, LoadsOnAWorkerWhileTheCallerGoesOn) {
  auto pool = std::make_shared<dispatch::ThreadPool>(2);
  auto work = dispatch::SerialQueue::create("model install", pool);
  auto results = dispatch::SerialQueue::create("results", pool);
  std::mutex mutex;
  std::condition_variable cv;
  std::optional<bool> result;
  std::thread::id deliveredOn;
  {
    DepthModelLoader loader(holder_, env_, keys_);
    loader.start(work);
    loader.whenDone(results, [&](bool loaded) {
      std::lock_guard lock(mutex);
      result = loaded;
      deliveredOn = std::this_thread::get_id();
      cv.notify_all();
    });
  }  // the loader may go before its install ends
  std::unique_lock lock(mutex);
  ASSERT_TRUE(cv.wait_for(lock, 10s, [&] { return result.has_value(); }));
  EXPECT_TRUE(*result);
  EXPECT_NE(loadThread_, std::this_thread::get_id());
  EXPECT_NE(deliveredOn, std::this_thread::get_id());
  EXPECT_NE(holder_->model(), nullptr);
}

}  // namespace
}  // namespace vistrelle::ai3d
