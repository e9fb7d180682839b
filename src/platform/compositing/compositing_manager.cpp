#include "platform/compositing/compositing_manager.h"

#if VISTRELLE_HAVE_XCB
#include "platform/compositing/linux/x11_compositing_manager.h"
#endif

namespace vistrelle::compositing {

namespace {

class FixedCompositingManager final : public CompositingManager {
 public:
  explicit FixedCompositingManager(bool active) : active_(active) {}
  bool isActive() override { return active_; }

 private:
  const bool active_;
};

}  // namespace

std::shared_ptr<CompositingManager> CompositingManager::x11(std::string display) {
#if VISTRELLE_HAVE_XCB
  return std::make_shared<X11CompositingManager>(std::move(display));
#else
  (void)display;
  return nullptr;
#endif
}

std::shared_ptr<CompositingManager> CompositingManager::fixed(bool active) {
  return std::make_shared<FixedCompositingManager>(active);
}

}  // namespace vistrelle::compositing
