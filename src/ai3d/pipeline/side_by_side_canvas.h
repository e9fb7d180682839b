// SideBySideCanvas: the glasses' whole picture (left eye in the left half,
// right eye in the right half) that the two headless eye views draw into,
// like the one window surface the on-screen views share. Where both eyes
// hold the same frame, maps and depth value, the first eye's draw draws both
// in one compositor call, so the frame is read (on GL: uploaded and read
// back) once a frame; the other eye's draw then finds its half done.
//
//   auto canvas = std::make_shared<SideBySideCanvas>(backend, 1920, 1080);
//   canvas->attach(false);                            // a fresh left view: black
//   canvas->setTextures(false, frame, left, right);   canvas->setDepthValue(false, 0.01f);
//   canvas->draw(false);
#pragma once

#include <cstdint>
#include <cstdlib>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include "ai3d/kernels/kernel_backend.h"
#include "platform/capture/capture_frame.h"

namespace vistrelle::ai3d {

class SideBySideCanvas {
 public:
  SideBySideCanvas(KernelBackend& backend, int eyeWidth, int eyeHeight);
  SideBySideCanvas(const SideBySideCanvas&) = delete;
  SideBySideCanvas& operator=(const SideBySideCanvas&) = delete;

  // A new view of that eye: its textures are dropped and its half is black.
  void attach(bool rightEye);
  void setTextures(bool rightEye, capture::CaptureFramePtr frame,
                   std::shared_ptr<const KernelMap> left, std::shared_ptr<const KernelMap> right);
  void setDepthValue(bool rightEye, float depthValue);
  // Draws the eye (and the other one where they share their inputs); false,
  // with the half left as it was, while the eye lacks a texture.
  bool draw(bool rightEye);

  capture::CaptureFramePtr frame(bool rightEye) const;
  std::shared_ptr<const KernelMap> leftMap(bool rightEye) const;
  std::shared_ptr<const KernelMap> rightMap(bool rightEye) const;
  // Copies: one eye's half (eyeWidth x eyeHeight) or the whole picture.
  std::vector<uint8_t> eyePicture(bool rightEye) const;
  std::vector<uint8_t> picture() const;
  // The whole picture in place (2 * eyeWidth x eyeHeight BGRA, rows of
  // stride bytes) while `use` runs, under the canvas' lock: for a widget that
  // paints it without a copy.
  void withPicture(const std::function<void(const uint8_t* pixels, int width, int height,
                                            size_t stride)>& use) const;
  // Compositor calls made so far: one per frame where both eyes share it.
  int compositorCalls() const;

  int eyeWidth() const { return eyeWidth_; }
  int eyeHeight() const { return eyeHeight_; }

 private:
  struct Eye {
    capture::CaptureFramePtr frame;
    std::shared_ptr<const KernelMap> left;
    std::shared_ptr<const KernelMap> right;
    float depthValue = 0;
    uint64_t version = 0;  // bumped by every change
    uint64_t drawn = 0;    // the version the half shows
    bool complete() const { return frame && left && right; }
  };
  struct Free {
    void operator()(uint8_t* p) const { std::free(p); }
  };

  void clearHalf(bool rightEye);

  KernelBackend& backend_;
  const int eyeWidth_;
  const int eyeHeight_;
  mutable std::mutex mutex_;
  Eye eyes_[2];
  // Aligned for the compositor's streaming stores.
  std::unique_ptr<uint8_t[], Free> pixels_;
  int compositorCalls_ = 0;
};

}  // namespace vistrelle::ai3d
