#pragma once

#include <string>

#include "cloud/update/update_sheet_actions.h"

namespace vistrelle::cloud {

// The update sheet as the update logic drives it: laid over the main
// window's content, showing one of its three panels.  The widgets live in
// ui/ (OrvexAppUpdateView); tests use a fake.
class UpdateSheet {
 public:
  enum class Panel {
    offer,        // "发现新版本": version, notes, "取消" and "立即下载"
    downloading,  // "正在下载": the progress track, "取消"
    result,       // "下载成功" / "下载失败": the status image and button
  };

  virtual ~UpdateSheet() = default;

  // Where the controls' clicks go; none: they do nothing.
  virtual void setActions(UpdateSheetActions* actions) = 0;

  // Laid over the main window's current content, covering it; remove()
  // takes it away again.  isShown: laid over the content and not hidden.
  virtual void show() = 0;
  virtual void remove() = 0;
  virtual bool isShown() const = 0;

  // Exactly this panel visible.
  virtual void showPanel(Panel panel) = 0;
  virtual Panel panel() const = 0;

  // "V" + version on the three version labels, the notes in the notes style.
  virtual void setVersion(const std::string& releaseNote, const std::string& version) = 0;

  // The progress track's width and the fill's, in points.
  virtual double percentTrackWidth() const = 0;
  virtual void setPercentFillWidth(double width) = 0;

  // The result panel: its title (tipsLabel3), image and button.
  virtual void setResultTitle(const std::string& text) = 0;
  virtual void setResultImage(const std::string& imageName) = 0;
  virtual void setStatusButtonTitle(const std::string& title) = 0;
  virtual std::string statusButtonTitle() const = 0;

  // A line on the result panel for a package that could not be opened, with
  // the entry that opens its folder; an empty text hides both.
  virtual void setInstallFailure(const std::string& text) = 0;
};

}  // namespace vistrelle::cloud
