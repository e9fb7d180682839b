// KernelBackend: one interface for the AI-3D kernels, implemented on OpenGL
// 4.3 compute (GlKernelBackend) and on the CPU (CpuKernelBackend). The
// filter, the stereo generator and the eye-view compositor drive it; the
// pipeline picks one at run time with makeKernelBackend().
//
//   auto backend = makeKernelBackend(BackendChoice::Automatic);
//   auto map = backend->acquireMap(518, 294);
//   backend->upload(depthView, *map);
//
// Every map argument must come from this back-end's acquireMap. Calls may
// come from several threads; a back-end serialises them internally. Errors
// (a refused format, a size mismatch, a GL failure) throw with the reason.
//
// A frame's calls on one thread go inside one Batch, so that a GL back-end
// makes its context current once per frame instead of once per call:
//
//   { KernelBackend::Batch batch(*backend);
//     backend->dynamicDepthFilter(...);  backend->eyeMaps(...); }
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>

#include "ai3d/kernels/bgra_image.h"
#include "ai3d/kernels/depth_map_view.h"
#include "ai3d/kernels/dynamic_filter_params.h"
#include "ai3d/kernels/eye_viewport.h"
#include "ai3d/kernels/kernel_map.h"
#include "ai3d/kernels/stereo_params.h"
#include "platform/gpu/kernel_library.h"

namespace vistrelle::ai3d {

enum class BackendKind { Cpu, OpenGl };

class KernelBackend {
 public:
  virtual ~KernelBackend() = default;

  // Holds the back-end for the calling thread while it lives (for GL: the
  // context current); nests, and other threads' calls wait for it to end.
  class Batch {
   public:
    explicit Batch(KernelBackend& backend) : backend_(backend) { backend_.beginBatch(); }
    ~Batch() { backend_.endBatch(); }
    Batch(const Batch&) = delete;
    Batch& operator=(const Batch&) = delete;

   private:
    KernelBackend& backend_;
  };

  virtual BackendKind kind() const = 0;
  // E.g. "OpenGL: llvmpipe (LLVM 15.0.6, 256 bits), 4.5 (Core Profile) Mesa 22.3.6".
  virtual std::string description() const = 0;
  // The functions the callers look up by name.
  virtual const gpu::KernelLibrary& library() const = 0;

  // A W x H half map from the pool (reused once no shared_ptr holds it).
  // Its contents are unspecified until a kernel writes it.
  virtual std::shared_ptr<KernelMap> acquireMap(int width, int height) = 0;

  // f16 copied, f32 rounded to half; other formats throw std::invalid_argument.
  virtual void upload(const DepthMapView& source, KernelMap& target) = 0;
  // Half bits, rows top to bottom, width * height values. This is how maps
  // reach another GL context (an on-screen widget's): read them here and
  // upload them there as GL_R16F (GL_RED, GL_HALF_FLOAT), unless the two
  // contexts share objects.
  virtual void read(const KernelMap& source, std::span<uint16_t> target) = 0;
  virtual void copy(const KernelMap& source, KernelMap& target) = 0;

  // "dynamicDepthFilter": temporal blend of current and previous into out.
  virtual void dynamicDepthFilter(const KernelMap& current, const KernelMap& previous,
                                  KernelMap& out, const DynamicFilterParams& params) = 0;
  // "depthSmoothing": edge-preserving spatial smoothing.
  virtual void depthSmoothing(const KernelMap& depth, KernelMap& smoothed,
                              const StereoParams& params) = 0;
  // "stereoGenerationHalfDepthImproved": one map per eye.
  virtual void stereoGeneration(const KernelMap& smoothed, KernelMap& left, KernelMap& right,
                                const StereoParams& params) = 0;
  // Flat max over the radius-2 disk, clamped edges.
  virtual void diskDilate(const KernelMap& source, KernelMap& target) = 0;
  // Separable Gaussian, sigma 4, 25 taps, clamped edges.
  virtual void gaussianBlur(const KernelMap& source, KernelMap& target) = 0;

  // Both eyes' maps from one filtered depth map: depthSmoothing, then
  // stereoGeneration, then per eye diskDilate and gaussianBlur, with the same
  // results as those calls in turn. A back-end may fuse the passes.
  virtual void eyeMaps(const KernelMap& depth, KernelMap& left, KernelMap& right,
                       const StereoParams& params);

  // "PSMain" for each draw into target (rows top to bottom); pixels of the
  // draws' rectangles outside their viewports become opaque black.
  virtual void drawEyes(const BgraImageView& frame, const KernelMap& left, const KernelMap& right,
                        std::span<const EyeDraw> draws, const MutableBgraImageView& target) = 0;

 protected:
  virtual void beginBatch() {}
  virtual void endBatch() {}
};

}  // namespace vistrelle::ai3d
