#pragma once

#include <memory>
#include <vector>

#include "cloud/update/fake/fake_update_sheet.h"
#include "cloud/update/update_host.h"

namespace vistrelle::cloud {

// A host for tests: the home content shows or not as the test says, every
// sheet it makes is a FakeUpdateSheet it keeps, and terminate() is counted.
class FakeUpdateHost final : public UpdateHost {
 public:
  bool isShowingHome() const override { return showingHome; }
  std::shared_ptr<UpdateSheet> loadSheet(bool hideInteractions) override {
    if (!makesSheets) return nullptr;
    auto sheet = std::make_shared<FakeUpdateSheet>(hideInteractions);
    sheet->refusesToShow = sheetsRefuseToShow;
    sheets.push_back(sheet);
    return sheet;
  }
  void terminate() override { ++terminations; }

  // The latest sheet made, if any.
  FakeUpdateSheet* lastSheet() const { return sheets.empty() ? nullptr : sheets.back().get(); }

  bool showingHome = true;
  bool makesSheets = true;
  bool sheetsRefuseToShow = false;
  int terminations = 0;
  std::vector<std::shared_ptr<FakeUpdateSheet>> sheets;
};

}  // namespace vistrelle::cloud
