#include "ai3d/pipeline/depth_model_loader.h"

#include <exception>
#include <string>

namespace vistrelle::ai3d {

// What the install task needs, kept alive by it: the loader may go first.
struct DepthModelLoader::Shared {
  std::shared_ptr<DepthModelHolder> manager;
  DepthModelEnvironment environment;
  OrvexDecryptAESGCM keys;
  mutable std::mutex mutex;
  State state = State::Idle;
  std::vector<std::pair<dispatch::ExecutorPtr, std::function<void(bool)>>> waiting;
};

DepthModelLoader::DepthModelLoader(std::shared_ptr<DepthModelHolder> manager,
                                   DepthModelEnvironment environment,
                                   std::optional<OrvexDecryptAESGCM> keys)
    : manager_(std::move(manager)), shared_(std::make_shared<Shared>()) {
  shared_->manager = manager_;
  shared_->environment = std::move(environment);
  shared_->keys = keys ? std::move(*keys) : OrvexDecryptAESGCM::shared();
}

void DepthModelLoader::start(const dispatch::ExecutorPtr& work) {
  {
    std::lock_guard lock(shared_->mutex);
    if (shared_->state != State::Idle) return;
    shared_->state = State::Loading;
  }
  work->post([shared = shared_] { run(shared); });
}

void DepthModelLoader::run(const std::shared_ptr<Shared>& shared) {
  bool loaded = false;
  try {
    loaded = installDepthModel(shared->keys, *shared->manager, shared->environment);
  } catch (const std::exception& error) {
    // A failure of the environment itself (no memory, a throwing callback):
    // the model stays absent like on any other failed road.
    const DepthModelEnvironment env = shared->environment.withDefaults();
    env.log(std::string("depth model install failed: ") + error.what());
  }
  std::vector<std::pair<dispatch::ExecutorPtr, std::function<void(bool)>>> waiting;
  {
    std::lock_guard lock(shared->mutex);
    shared->state = loaded ? State::Loaded : State::Failed;
    waiting.swap(shared->waiting);
  }
  for (auto& [queue, done] : waiting) {
    queue->post([done = std::move(done), loaded] { done(loaded); });
  }
}

void DepthModelLoader::whenDone(const dispatch::ExecutorPtr& queue,
                                std::function<void(bool loaded)> done) {
  bool loaded = false;
  {
    std::lock_guard lock(shared_->mutex);
    if (shared_->state == State::Idle || shared_->state == State::Loading) {
      shared_->waiting.emplace_back(queue, std::move(done));
      return;
    }
    loaded = shared_->state == State::Loaded;
  }
  queue->post([done = std::move(done), loaded] { done(loaded); });
}

DepthModelLoader::State DepthModelLoader::state() const {
  std::lock_guard lock(shared_->mutex);
  return shared_->state;
}

}  // namespace vistrelle::ai3d
