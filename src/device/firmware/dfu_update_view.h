#pragma once

#include <string>

namespace vistrelle::device {

// How the first tips text is set.
struct DfuTipsStyle {
  bool centred = true;
  double lineSpacing = 5;
  int fontPixelSize = 18;
  std::string color = "#000000";
  bool operator==(const DfuTipsStyle&) const = default;
};

// The update window's widgets as its logic drives them.  Colours are "#RRGGBB"
// texts; image names are the image catalogue's.
class DfuUpdateView {
 public:
  virtual ~DfuUpdateView() = default;
  virtual void setImage(const std::string& name) = 0;
  virtual void setTipsText(const std::string& text, const DfuTipsStyle& style) = 0;
  virtual void setTips2Text(const std::string& text) = 0;
  virtual void setButtonHidden(bool hidden) = 0;
  virtual void setButtonTitle(const std::string& title, const std::string& tint) = 0;
  virtual void setButtonBackground(const std::string& color) = 0;
  virtual void setProgressHidden(bool hidden) = 0;
  // 0-100.
  virtual void setProgressValue(double percent) = 0;
};

}  // namespace vistrelle::device
