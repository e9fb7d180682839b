// GlKernelBackend: the kernels as OpenGL 4.3 compute shaders (r16f images)
// and the eye views as a GL render pass (EyeProgram), on a headless EGL
// context.
//
//   auto backend = GlKernelBackend::create(EglContext::create(driver, {}));  // throws
//
// Every function of the kernel library is compiled once, at creation. Maps
// are r16f textures from a pool; maps must not outlive the back-end. Each
// call makes the context current unless a Batch already holds it. drawEyes
// uploads the frame once and reads the target back once for all its eyes;
// the target is rendered bottom-up as GL does and read back top-down.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "ai3d/kernels/kernel_backend.h"
#include "platform/gpu/egl_context.h"
#include "platform/gpu/linux/gl_object.h"
#include "platform/gpu/linux/gl_program.h"

namespace vistrelle::ai3d {

class GlKernelBackend final : public KernelBackend {
 public:
  static std::unique_ptr<GlKernelBackend> create(std::unique_ptr<gpu::EglContext> context);
  ~GlKernelBackend() override;

  BackendKind kind() const override { return BackendKind::OpenGl; }
  std::string description() const override;
  const gpu::KernelLibrary& library() const override;

  std::shared_ptr<KernelMap> acquireMap(int width, int height) override;
  void upload(const DepthMapView& source, KernelMap& target) override;
  void read(const KernelMap& source, std::span<uint16_t> target) override;
  void copy(const KernelMap& source, KernelMap& target) override;
  void dynamicDepthFilter(const KernelMap& current, const KernelMap& previous, KernelMap& out,
                          const DynamicFilterParams& params) override;
  void depthSmoothing(const KernelMap& depth, KernelMap& smoothed,
                      const StereoParams& params) override;
  void stereoGeneration(const KernelMap& smoothed, KernelMap& left, KernelMap& right,
                        const StereoParams& params) override;
  void diskDilate(const KernelMap& source, KernelMap& target) override;
  void gaussianBlur(const KernelMap& source, KernelMap& target) override;
  void drawEyes(const BgraImageView& frame, const KernelMap& left, const KernelMap& right,
                std::span<const EyeDraw> draws, const MutableBgraImageView& target) override;

  const gpu::EglContext& context() const { return *context_; }

 protected:
  void beginBatch() override { context_->acquire(); }
  void endBatch() override { context_->release(); }

 private:
  struct Resources;
  explicit GlKernelBackend(std::unique_ptr<gpu::EglContext> context);
  void build();  // compiles the library and makes the fixed GL objects; context current

  std::unique_ptr<gpu::EglContext> context_;
  std::unique_ptr<Resources> resources_;
};

}  // namespace vistrelle::ai3d
