#pragma once

namespace vistrelle::cloud {

// Which of the sheet's two "取消" buttons was clicked.
enum class CancelButton {
  offer,        // cancelButton, on the offer panel
  downloading,  // cancelButton2, on the download panel
};

// What the sheet's controls do: the sheet forwards each click here.
class UpdateSheetActions {
 public:
  virtual ~UpdateSheetActions() = default;

  // "立即下载", and "重试" through statusButtonClick.
  virtual void updateButtonClick() = 0;
  // "安装" or "重试", by the button's title.
  virtual void statusButtonClick() = 0;
  virtual void cancenButtonClick(CancelButton sender) = 0;
  // "打开所在文件夹", shown when the package could not be opened.
  virtual void openFolderClick() = 0;
};

}  // namespace vistrelle::cloud
