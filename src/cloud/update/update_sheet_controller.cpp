#include "cloud/update/update_sheet_controller.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>

#include "base/helpers/language_bundle.h"
#include "cloud/update/package_digest.h"
#include "platform/dispatch/unique_fd.h"
#include "platform/process/launch_request.h"

namespace vistrelle::cloud {
namespace {

std::string localized(std::string_view key) {
  return base::LanguageBundle::shared().localizedStringForKey(key);
}

// The localised pattern with `value` in place of its "%s" (no printf: a
// translation must not be able to ask for arguments that are not there).
std::string withValue(std::string_view key, const std::string& value) {
  std::string text = localized(key);
  if (const size_t at = text.find("%s"); at != std::string::npos) text.replace(at, 2, value);
  return text;
}

std::string exitText(const process::ProcessExit& exit) {
  return exit.exited() ? "exited with " + std::to_string(exit.exitCode)
                       : "ended by signal " + std::to_string(exit.signal);
}

}  // namespace

UpdateSheetController::UpdateSheetController(std::shared_ptr<UpdateSheet> sheet,
                                             UpdateServices services,
                                             std::function<void()> dismissed,
                                             std::function<void()> terminate)
    : sheet_(std::move(sheet)),
      services_(std::move(services)),
      dismissed_(std::move(dismissed)),
      terminate_(std::move(terminate)) {
  sheet_->setActions(this);
}

UpdateSheetController::~UpdateSheetController() {
  sheet_->setActions(nullptr);
}

void UpdateSheetController::setVersion(const std::string& releaseNote, const std::string& version,
                                       const std::string& downloadUrl,
                                       std::optional<std::string> sha256) {
  downloadUrl_ = downloadUrl;
  sha256_ = std::move(sha256);
  sheet_->setVersion(releaseNote, version);
}

void UpdateSheetController::updateButtonClick() {
  sheet_->showPanel(UpdateSheet::Panel::downloading);
  sheet_->setPercentFillWidth(0);
  sheet_->setInstallFailure("");
  updateUrl_.reset();
  const uint64_t download = ++downloadsStarted_;
  download_ = download;
  std::weak_ptr<UpdateSheetController> weak = weak_from_this();
  downloadRequest_ = services_.http->downloadRequest(
      downloadUrl_,
      [weak, download](double fractionCompleted) {
        if (auto self = weak.lock()) self->progressed(download, fractionCompleted);
      },
      [weak, download, expected = sha256_](std::optional<std::string> path,
                                           std::optional<HttpError> error) {
        auto self = weak.lock();
        // The user's own cancel was taken back from download_ already; any
        // other error, a cancel from elsewhere included, is a failure.
        if (!self || self->download_ != download) return;
        if (error || !path) {
          self->failed();
        } else if (expected) {
          self->verify(download, *path, *expected);
        } else {
          self->succeeded(*path);
        }
      },
      downloadGroup());
}

void UpdateSheetController::progressed(uint64_t download, double fractionCompleted) {
  if (download != download_) return;
  sheet_->setPercentFillWidth(sheet_->percentTrackWidth() *
                              std::clamp(fractionCompleted, 0.0, 1.0));
}

void UpdateSheetController::verify(uint64_t download, const std::string& path,
                                   const std::string& expected) {
  // The digest is taken off the main queue from a descriptor opened now, so
  // it is of this download's file whatever happens to the name meanwhile.
  auto file = std::make_shared<dispatch::UniqueFd>(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  struct stat opened {};
  if (!file->valid() || ::fstat(file->get(), &opened) != 0) {
    failed();
    return;
  }
  std::weak_ptr<UpdateSheetController> weak = weak_from_this();
  services_.workQueue->post([file, path, expected, weak, download, main = services_.mainQueue,
                             device = opened.st_dev, inode = opened.st_ino] {
    const std::optional<std::string> digest = sha256HexOfFile(file->get());
    const bool matches = digest && *digest == expected;
    main->post([path, weak, download, matches, device, inode] {
      if (!matches) {
        // Only the file that was digested: a later download may have put a
        // new package under the same name.
        struct stat now {};
        if (::stat(path.c_str(), &now) == 0 && now.st_dev == device && now.st_ino == inode) {
          ::unlink(path.c_str());
        }
      }
      auto self = weak.lock();
      if (!self || self->download_ != download) return;
      if (matches) {
        self->succeeded(path);
      } else {
        self->log("App Update: the package does not match its sha256, removed");
        self->failed();
      }
    });
  });
}

void UpdateSheetController::succeeded(const std::string& path) {
  download_ = 0;
  updateUrl_ = path;
  sheet_->showPanel(UpdateSheet::Panel::result);
  sheet_->setResultTitle(localized("下载成功"));
  sheet_->setResultImage("update-dfu-success");
  sheet_->setStatusButtonTitle(localized("安装"));
  sheet_->setInstallFailure("");
}

void UpdateSheetController::failed() {
  download_ = 0;
  sheet_->showPanel(UpdateSheet::Panel::result);
  sheet_->setResultTitle(localized("下载失败"));
  sheet_->setResultImage("update-dfu-failed");
  sheet_->setStatusButtonTitle(localized("重试"));
  sheet_->setInstallFailure("");
}

void UpdateSheetController::statusButtonClick() {
  if (sheet_->statusButtonTitle() == localized("安装")) {
    install();
  } else {
    updateButtonClick();
  }
}

void UpdateSheetController::install() {
  if (!updateUrl_ || installing_ || terminated_) return;
  const std::string path = *updateUrl_;
  installing_ = true;
  sheet_->setInstallFailure("");
  process::LaunchRequest request;
  request.argv = {services_.installer, path};
  std::weak_ptr<UpdateSheetController> weak = weak_from_this();
  process::LaunchResult started = services_.launcher->launch(
      request, services_.mainQueue, [weak, path](const process::ProcessExit& exit) {
        if (auto self = weak.lock()) self->installerEnded(path, exit);
      });
  if (!started) {
    installing_ = false;
    log("App Update: " + services_.installer + " cannot start: " + started.reason);
    installFailed(path);
  }
}

void UpdateSheetController::installerEnded(const std::string& path,
                                           const process::ProcessExit& exit) {
  installing_ = false;
  if (exit.succeeded()) {
    // Opened: the installer takes over, and the application makes way.
    if (!terminated_) {
      terminated_ = true;
      if (terminate_) terminate_();
    }
    return;
  }
  log("App Update: " + services_.installer + " " + exitText(exit));
  installFailed(path);
}

void UpdateSheetController::installFailed(const std::string& path) {
  sheet_->setInstallFailure(withValue(kInstallFailedText, path));
}

void UpdateSheetController::openFolderClick() {
  if (!updateUrl_) return;
  process::LaunchRequest request;
  request.argv = {services_.installer, std::filesystem::path(*updateUrl_).parent_path().string()};
  std::weak_ptr<UpdateSheetController> weak = weak_from_this();
  const std::string installer = services_.installer;
  process::LaunchResult started = services_.launcher->launch(
      request, services_.mainQueue, [weak, installer](const process::ProcessExit& exit) {
        auto self = weak.lock();
        if (self && !exit.succeeded()) self->log("App Update: " + installer + " " + exitText(exit));
      });
  if (!started) log("App Update: " + services_.installer + " cannot start: " + started.reason);
}

void UpdateSheetController::cancenButtonClick(CancelButton sender) {
  // The holder lets go of this controller in dismissed_.
  std::shared_ptr<UpdateSheetController> self = shared_from_this();
  if (sender == CancelButton::downloading && download_ != 0) {
    // The user's own cancel: its late report changes nothing.
    download_ = 0;
    downloadRequest_.cancel();
  }
  sheet_->remove();
  if (dismissed_) dismissed_();
}

void UpdateSheetController::log(const std::string& line) const {
  if (services_.log) services_.log(line);
}

}  // namespace vistrelle::cloud
