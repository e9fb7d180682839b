#pragma once

// An alert presenter that keeps every alert and answers it when the test
// says, with the button the test chooses.

#include <cstddef>
#include <functional>
#include <vector>

#include "app/alert_presenter.h"

namespace vistrelle::testing {

class RecordingAlerts final : public AlertPresenter {
 public:
  void present(const AlertRequest& request, std::function<void(size_t)> done) override {
    requests.push_back(request);
    answers.push_back(std::move(done));
  }
  void answer(size_t index, size_t button) { answers.at(index)(button); }

  std::vector<AlertRequest> requests;
  std::vector<std::function<void(size_t)>> answers;
};

}  // namespace vistrelle::testing
