#pragma once

#include <memory>

#include "cloud/update/update_sheet.h"

namespace vistrelle::cloud {

// What the update logic needs from the application above it: whether the
// main window shows its home content, a new sheet, and the exit road.  The
// application layer implements it.
class UpdateHost {
 public:
  virtual ~UpdateHost() = default;

  virtual bool isShowingHome() const = 0;
  // A new sheet, not shown yet (hideInteractions: clicks outside its panels
  // reach the window underneath); none when it cannot be made.
  virtual std::shared_ptr<UpdateSheet> loadSheet(bool hideInteractions) = 0;
  // Ends the application through its one exit road.
  virtual void terminate() = 0;
};

}  // namespace vistrelle::cloud
