#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

namespace vistrelle {

// A modal alert as the application asks for it: texts already in the in-app
// language, the buttons from left to right with the first one the default.
struct AlertRequest {
  bool critical = true;
  std::string messageText;
  std::string informativeText;
  std::vector<std::string> buttons;
};

// Shows alerts without holding up the caller: `done` runs on the main queue
// with the index of the button the user chose, once the alert is gone.
// The user interface implements it; tests record the requests and answer.
class AlertPresenter {
 public:
  virtual ~AlertPresenter() = default;
  virtual void present(const AlertRequest& request, std::function<void(size_t button)> done) = 0;
};

}  // namespace vistrelle
