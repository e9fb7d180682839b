#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "cloud/http/http_error.h"
#include "cloud/http/request_group.h"
#include "cloud/http/request_handle.h"
#include "cloud/update/update_services.h"
#include "cloud/update/update_sheet.h"
#include "cloud/update/update_sheet_actions.h"
#include "platform/process/process_exit.h"

namespace vistrelle::cloud {

// The update sheet's state and actions: the offer, the download with its
// progress, the package's verification and the hand-off to the installer.
// Everything runs on the main queue.  Made with std::make_shared: the
// download's and the installer's late reports reach it only while it lives.
class UpdateSheetController final : public UpdateSheetActions,
                                    public std::enable_shared_from_this<UpdateSheetController> {
 public:
  // `dismissed` runs when a "取消" button has taken the sheet away (the holder
  // drops it then); `terminate` once the installer has opened the package.
  UpdateSheetController(std::shared_ptr<UpdateSheet> sheet, UpdateServices services,
                        std::function<void()> dismissed, std::function<void()> terminate);
  ~UpdateSheetController() override;
  UpdateSheetController(const UpdateSheetController&) = delete;
  UpdateSheetController& operator=(const UpdateSheetController&) = delete;

  // The offer's texts and the package's address; `sha256`, when stated, is
  // what the package must digest to.  A running download keeps its own.
  void setVersion(const std::string& releaseNote, const std::string& version,
                  const std::string& downloadUrl, std::optional<std::string> sha256 = std::nullopt);

  void updateButtonClick() override;
  void statusButtonClick() override;
  void cancenButtonClick(CancelButton sender) override;
  void openFolderClick() override;

  UpdateSheet& sheet() const { return *sheet_; }
  // The verified package once a download succeeded.
  const std::optional<std::string>& updateUrl() const { return updateUrl_; }
  const std::string& downloadUrl() const { return downloadUrl_; }
  // A download (or its verification) is running.
  bool isDownloading() const { return download_ != 0; }

  // The group of the package downloads, apart from every other request.
  static RequestGroup downloadGroup() { return RequestGroup("appUpdate"); }
  // Shown with the saved path in place of "%s" when the package could not
  // be opened; the entry under it.
  static constexpr const char* kInstallFailedText = "无法打开安装包，安装包已保存到：%s";
  static constexpr const char* kOpenFolderText = "打开所在文件夹";

 private:
  void progressed(uint64_t download, double fractionCompleted);
  void completed(uint64_t download, std::optional<std::string> path,
                 std::optional<HttpError> error);
  void verify(uint64_t download, const std::string& path, const std::string& expected);
  void succeeded(const std::string& path);
  void failed();
  void install();
  void installerEnded(const std::string& path, const process::ProcessExit& exit);
  void installFailed(const std::string& path);
  void log(const std::string& line) const;

  std::shared_ptr<UpdateSheet> sheet_;
  UpdateServices services_;
  std::function<void()> dismissed_;
  std::function<void()> terminate_;

  std::optional<std::string> updateUrl_;
  RequestHandle downloadRequest_;
  std::string downloadUrl_;
  std::optional<std::string> sha256_;
  // The running download's number (0: none): reports of an earlier one, or
  // of one the user cancelled, change nothing.
  uint64_t download_ = 0;
  uint64_t downloadsStarted_ = 0;
  bool installing_ = false;
  bool terminated_ = false;
};

}  // namespace vistrelle::cloud
