// The AI-3D GPU functions, embedded in the binary and found by name.
//
//   const gpu::KernelLibrary& lib = ai3dKernelLibrary();
//   lib.find(kDepthSmoothingKernel)->source   // GLSL 4.30
#pragma once

#include <array>
#include <string_view>

#include "platform/gpu/kernel_library.h"

namespace vistrelle::ai3d {

inline constexpr std::string_view kDynamicDepthFilterKernel = "dynamicDepthFilter";
inline constexpr std::string_view kDepthSmoothingKernel = "depthSmoothing";
inline constexpr std::string_view kStereoKernel = "stereoGenerationHalfDepthImproved";
inline constexpr std::string_view kDiskDilateKernel = "diskDilate";
inline constexpr std::string_view kGaussianBlurRowsKernel = "gaussianBlurRows";
inline constexpr std::string_view kGaussianBlurColumnsKernel = "gaussianBlurColumns";
inline constexpr std::string_view kEyeVertexShader = "vertexShaderDe";
inline constexpr std::string_view kEyeFragmentShader = "PSMain";

// What the stereo generator looks up before it builds any pipeline.
inline constexpr std::array<std::string_view, 7> kStereoSetupLookups = {
    "stereoGenerationHalfDepth",
    "stereoGenerationHalfDepthImproved",
    "depthSmoothing",
    "bilateralFilterTexture",
    "stereoGenerationInterpolate",
    "PSMain",
    "vertexShaderDe"};

const gpu::KernelLibrary& ai3dKernelLibrary();

}  // namespace vistrelle::ai3d
