// DepthModelLoader: the depth-model install and load run once, off the
// caller's thread, with the result delivered on whichever queue asks for it.
// Loading decrypts, unpacks and reads the network and runs a first pass on
// it: seconds with a real model, so never on the main thread.
//
//   DepthModelLoader loader(holder);
//   loader.start(dispatch::globalQueue());
//   loader.whenDone(dispatch::mainQueue(), [](bool loaded) { ... });   // now or later
//
// A request made while the install runs waits for its result; one made
// after it ended gets the result at once (posted, never inline).
#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <utility>
#include <vector>

#include "ai3d/pipeline/depth_model_holder.h"
#include "ai3d/pipeline/depth_model_install.h"
#include "ai3d/pipeline/orvex_decrypt_aes_gcm.h"
#include "platform/dispatch/executor.h"

namespace vistrelle::ai3d {

class DepthModelLoader {
 public:
  enum class State { Idle, Loading, Loaded, Failed };

  // keys default to the program's own secrets.
  explicit DepthModelLoader(std::shared_ptr<DepthModelHolder> manager,
                            DepthModelEnvironment environment = {},
                            std::optional<OrvexDecryptAESGCM> keys = std::nullopt);
  DepthModelLoader(const DepthModelLoader&) = delete;
  DepthModelLoader& operator=(const DepthModelLoader&) = delete;

  // Posts the install to work; only the first call does anything.
  void start(const dispatch::ExecutorPtr& work);
  // done(loaded) runs on queue once the install has ended.
  void whenDone(const dispatch::ExecutorPtr& queue, std::function<void(bool loaded)> done);

  State state() const;
  const std::shared_ptr<DepthModelHolder>& manager() const { return manager_; }

 private:
  struct Shared;
  static void run(const std::shared_ptr<Shared>& shared);

  std::shared_ptr<DepthModelHolder> manager_;
  std::shared_ptr<Shared> shared_;
};

}  // namespace vistrelle::ai3d
