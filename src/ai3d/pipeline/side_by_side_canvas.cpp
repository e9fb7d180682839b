#include "ai3d/pipeline/side_by_side_canvas.h"

#include <array>
#include <cstring>
#include <new>
#include <stdexcept>

#include "ai3d/kernels/bgra_image.h"

namespace vistrelle::ai3d {
namespace {

size_t canvasBytes(int eyeWidth, int eyeHeight) {
  if (eyeWidth <= 0 || eyeHeight <= 0) throw std::invalid_argument("empty eye view");
  const size_t bytes = static_cast<size_t>(2 * eyeWidth) * static_cast<size_t>(eyeHeight) * 4;
  return (bytes + 63) / 64 * 64;
}

}  // namespace

SideBySideCanvas::SideBySideCanvas(KernelBackend& backend, int eyeWidth, int eyeHeight)
    : backend_(backend),
      eyeWidth_(eyeWidth),
      eyeHeight_(eyeHeight),
      pixels_(static_cast<uint8_t*>(std::aligned_alloc(64, canvasBytes(eyeWidth, eyeHeight)))) {
  if (!pixels_) throw std::bad_alloc();
  clearHalf(false);
  clearHalf(true);
}

void SideBySideCanvas::clearHalf(bool rightEye) {
  const size_t rowBytes = static_cast<size_t>(2 * eyeWidth_) * 4;
  for (int y = 0; y < eyeHeight_; ++y) {
    auto* row = reinterpret_cast<uint32_t*>(pixels_.get() + rowBytes * static_cast<size_t>(y));
    uint32_t* half = row + (rightEye ? eyeWidth_ : 0);
    for (int x = 0; x < eyeWidth_; ++x) half[x] = 0xff000000u;  // opaque black
  }
}

void SideBySideCanvas::attach(bool rightEye) {
  std::lock_guard lock(mutex_);
  Eye& eye = eyes_[rightEye];
  const uint64_t version = eye.version + 1;
  eye = Eye{};
  eye.version = eye.drawn = version;
  clearHalf(rightEye);
}

void SideBySideCanvas::setTextures(bool rightEye, capture::CaptureFramePtr frame,
                                   std::shared_ptr<const KernelMap> left,
                                   std::shared_ptr<const KernelMap> right) {
  std::lock_guard lock(mutex_);
  Eye& eye = eyes_[rightEye];
  eye.frame = std::move(frame);
  eye.left = std::move(left);
  eye.right = std::move(right);
  ++eye.version;
}

void SideBySideCanvas::setDepthValue(bool rightEye, float depthValue) {
  std::lock_guard lock(mutex_);
  Eye& eye = eyes_[rightEye];
  if (eye.depthValue == depthValue) return;
  eye.depthValue = depthValue;
  ++eye.version;
}

bool SideBySideCanvas::draw(bool rightEye) {
  std::lock_guard lock(mutex_);
  Eye& eye = eyes_[rightEye];
  if (!eye.complete()) return false;
  if (eye.drawn == eye.version) return true;  // drawn with the other eye
  Eye& other = eyes_[!rightEye];
  const bool together = other.complete() && other.drawn != other.version &&
                        other.frame == eye.frame && other.left == eye.left &&
                        other.right == eye.right && other.depthValue == eye.depthValue;
  const capture::CaptureFrame& frame = *eye.frame;
  const BgraImageView frameView{frame.data(), frame.width(), frame.height(), frame.stride()};
  const MutableBgraImageView target{pixels_.get(), 2 * eyeWidth_, eyeHeight_, 0};
  const EyeDraw leftDraw{0, 0, eyeWidth_, eyeHeight_, -eyes_[0].depthValue};
  const EyeDraw rightDraw{eyeWidth_, 0, eyeWidth_, eyeHeight_, eyes_[1].depthValue};
  if (together) {
    const std::array<EyeDraw, 2> draws = {leftDraw, rightDraw};
    backend_.drawEyes(frameView, *eye.left, *eye.right, draws, target);
    other.drawn = other.version;
  } else {
    const std::array<EyeDraw, 1> draws = {rightEye ? rightDraw : leftDraw};
    backend_.drawEyes(frameView, *eye.left, *eye.right, draws, target);
  }
  eye.drawn = eye.version;
  ++compositorCalls_;
  return true;
}

capture::CaptureFramePtr SideBySideCanvas::frame(bool rightEye) const {
  std::lock_guard lock(mutex_);
  return eyes_[rightEye].frame;
}

std::shared_ptr<const KernelMap> SideBySideCanvas::leftMap(bool rightEye) const {
  std::lock_guard lock(mutex_);
  return eyes_[rightEye].left;
}

std::shared_ptr<const KernelMap> SideBySideCanvas::rightMap(bool rightEye) const {
  std::lock_guard lock(mutex_);
  return eyes_[rightEye].right;
}

std::vector<uint8_t> SideBySideCanvas::eyePicture(bool rightEye) const {
  std::lock_guard lock(mutex_);
  const size_t eyeRow = static_cast<size_t>(eyeWidth_) * 4;
  std::vector<uint8_t> out(eyeRow * static_cast<size_t>(eyeHeight_));
  for (int y = 0; y < eyeHeight_; ++y) {
    std::memcpy(out.data() + eyeRow * static_cast<size_t>(y),
                pixels_.get() + 2 * eyeRow * static_cast<size_t>(y) + (rightEye ? eyeRow : 0),
                eyeRow);
  }
  return out;
}

std::vector<uint8_t> SideBySideCanvas::picture() const {
  std::lock_guard lock(mutex_);
  const size_t bytes = static_cast<size_t>(2 * eyeWidth_) * static_cast<size_t>(eyeHeight_) * 4;
  return std::vector<uint8_t>(pixels_.get(), pixels_.get() + bytes);
}

void SideBySideCanvas::withPicture(
    const std::function<void(const uint8_t* pixels, int width, int height, size_t stride)>& use)
    const {
  std::lock_guard lock(mutex_);
  use(pixels_.get(), 2 * eyeWidth_, eyeHeight_, static_cast<size_t>(2 * eyeWidth_) * 4);
}

int SideBySideCanvas::compositorCalls() const {
  std::lock_guard lock(mutex_);
  return compositorCalls_;
}

}  // namespace vistrelle::ai3d
