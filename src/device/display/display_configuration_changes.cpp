// The changes of DisplayConfiguration: mirrors, the main display, the
// glasses' width.
#include <algorithm>

#include "device/display/display_configuration.h"
#include "device/display/glasses_layout.h"
#include "device/display/glasses_screen_name.h"

namespace vistrelle::device {
namespace {

using display::DisplayLayout;
using display::DisplayOutput;

std::string size(int width, int height) {
  return std::to_string(width) + " x " + std::to_string(height) + ")";
}

}  // namespace

std::optional<uint32_t> DisplayConfiguration::targetIn(const DisplayLayout& layout) {
  // The remembered built-in screen counts while it is on: a closed lid
  // leaves nothing to put the main display on.
  if (const auto builtin = builtinScreenIn(layout)) {
    const DisplayOutput* output = layout.find(builtin->displayID);
    if (output != nullptr && output->active()) return builtin->displayID;
  }
  if (const auto external = externalNonGlassesScreenIn(layout)) return external->displayID;
  return std::nullopt;
}

bool DisplayConfiguration::unmirrorGlasses(DisplayLayout& layout, uint32_t glasses) {
  auto applied = options_.server->apply(unmirrorChange(layout, glasses, targetIn(layout)),
                                        display::DisplayServer::kDefaultLimit);
  if (applied) {
    changeSucceeded();
    options_.trace("---取消眼镜--镜像设置成功----");
  } else {
    options_.trace("----取消眼镜--镜像设置失败--");
    options_.trace("---取消眼镜--错误：" + applied.error().reason);
    logOnce("ending the glasses' mirror: " + applied.error().reason);
  }
  if (auto now = readLayout()) layout = std::move(*now);
  return applied.ok();
}

bool DisplayConfiguration::moveMainOffGlasses(DisplayLayout& layout, uint32_t glasses,
                                              uint32_t target) {
  auto applied = options_.server->apply(mainOffGlassesChange(layout, glasses, target),
                                        display::DisplayServer::kDefaultLimit);
  if (applied) {
    changeSucceeded();
    options_.trace("---设置内置显示器为主屏幕成功--0000--");
  } else {
    options_.trace("----设置内置显示器为主屏幕失败-0000-");
    options_.trace("-1111--错误：" + applied.error().reason);
    logOnce("moving the main display off the glasses: " + applied.error().reason);
  }
  if (auto now = readLayout()) layout = std::move(*now);
  return applied.ok();
}

bool DisplayConfiguration::unmirrorMain(DisplayLayout& layout, uint32_t target) {
  auto applied = options_.server->apply(unmirrorMainChange(layout, target),
                                        display::DisplayServer::kDefaultLimit);
  if (applied) {
    changeSucceeded();
    options_.trace("---取消主显示器--镜像设置成功----");
  } else {
    options_.trace("----取消主显示器--镜像设置失败--");
    options_.trace("---取消主显示器镜像--错误：" + applied.error().reason);
    logOnce("ending the main display's mirror: " + applied.error().reason);
  }
  return applied.ok();
}

bool DisplayConfiguration::cancelGlassesMirrorAndMoveMain(bool requireTwoScreens, bool moveMain) {
  auto read = readLayout();
  if (!read) return false;
  DisplayLayout layout = std::move(*read);
  const std::vector<DisplayScreen> screens = screensOf(layout);
  const size_t count = screens.size();
  bool result = !requireTwoScreens || count >= 2;

  for (const DisplayScreen& screen : screens) {
    if (!isGlassesScreenName(screen.name)) continue;
    const uint32_t glasses = screen.displayID;
    const DisplayOutput* output = layout.find(glasses);
    if (output == nullptr || !output->active()) continue;  // gone meanwhile
    if (isMirrored(layout, glasses) && !unmirrorGlasses(layout, glasses)) result = false;
    if (mainOutputOf(layout) != glasses) continue;
    if (!moveMain) {
      result = false;
      continue;
    }
    const std::optional<uint32_t> target = targetIn(layout);
    if (!target || *target == glasses) continue;
    if (!moveMainOffGlasses(layout, glasses, *target)) result = false;
  }

  if (count == 1) {
    const std::optional<uint32_t> target = targetIn(layout);
    if (target && isMirrored(layout, *target) && !unmirrorMain(layout, *target)) result = false;
  }
  return result;
}

void DisplayConfiguration::resolutionSwitch(uint32_t displayID, int width, int height,
                                            Completion completion) {
  options_.printLog("开始设置分辨率");
  if (!completion) completion = [](bool) {};
  auto layout = readLayout();
  const DisplayOutput* output = layout ? layout->find(displayID) : nullptr;
  if (output == nullptr || !output->active()) {
    options_.trace("分辨率切换失败 " + std::string(layout ? "no such screen" : "no layout"));
    completion(false);
    return;
  }
  const display::DisplayMode* current = output->currentMode();
  if (current != nullptr && current->width == width && current->height == height) {
    options_.trace("当前分辨率不需要切换--(" + size(width, height));
    completion(true);
    return;
  }
  auto firstOfWidth = [width](const DisplayOutput& o) -> const display::DisplayMode* {
    auto it = std::find_if(o.modes.begin(), o.modes.end(),
                           [width](const display::DisplayMode& m) { return m.width == width; });
    return it == o.modes.end() ? nullptr : &*it;
  };
  const display::DisplayMode* mode = firstOfWidth(*output);
  if (mode == nullptr) {
    // Glasses may list their wide mode only once a probe has asked them.
    auto probed = options_.server->layout(true, display::DisplayServer::kDefaultLimit);
    if (probed) {
      layout = std::move(probed).value();
      output = layout->find(displayID);
      mode = output != nullptr ? firstOfWidth(*output) : nullptr;
    }
  }
  if (output == nullptr || output->modes.empty()) {
    options_.trace("分辨率切换失败, 没有找到该分辨率  (" + size(width, height));
    completion(false);
    return;
  }
  if (mode == nullptr) {
    completion(false);
    return;
  }
  const display::DisplayMode chosen = *mode;
  auto applied = options_.server->apply({{{displayID, output->x, output->y, chosen.id}}, 0},
                                        display::DisplayServer::kDefaultLimit);
  if (!applied) {
    options_.trace("分辨率切换失败 " + applied.error().reason);
    logOnce("switching the glasses to " + std::to_string(width) +
            " wide: " + applied.error().reason);
    completion(false);
    return;
  }
  changeSucceeded();
  options_.trace("分辨率切换成功9999 ------- (" + size(chosen.width, chosen.height));
  completion(true);
}

bool DisplayConfiguration::restoreGlasses1920Sync(std::chrono::milliseconds limit) {
  if (!options_.server) return false;
  const auto deadline = std::chrono::steady_clock::now() + limit;
  auto left = [deadline] {
    return std::max(std::chrono::milliseconds(0),
                    std::chrono::duration_cast<std::chrono::milliseconds>(
                        deadline - std::chrono::steady_clock::now()));
  };
  auto layout = options_.server->layout(false, left());
  if (!layout) return false;
  for (const DisplayOutput* output : layout.value().activeOutputs()) {
    if (!isGlassesScreenName(output->name())) continue;
    const display::DisplayMode* current = output->currentMode();
    if (current != nullptr && current->width == kNarrowWidth) return true;
    auto narrow =
        std::find_if(output->modes.begin(), output->modes.end(),
                     [](const display::DisplayMode& m) { return m.width == kNarrowWidth; });
    if (narrow == output->modes.end()) return false;
    return options_.server->apply({{{output->id, output->x, output->y, narrow->id}}, 0}, left())
        .ok();
  }
  return true;
}

}  // namespace vistrelle::device
