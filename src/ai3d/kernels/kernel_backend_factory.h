// Picks the kernel back-end at run time.
//
//   auto backend = makeKernelBackend(BackendChoice::Automatic);  // GL, else CPU
//   std::string why;  auto gl = makeGlKernelBackend(&why);        // null + reason
#pragma once

#include <memory>
#include <string>

#include "ai3d/kernels/kernel_backend.h"

namespace vistrelle::ai3d {

enum class BackendChoice { Automatic, Cpu, OpenGl };

// Automatic: OpenGL when a GL 4.3 context can be made, else the CPU.
// OpenGl: throws with the reason when no context can be made.
std::unique_ptr<KernelBackend> makeKernelBackend(BackendChoice choice);

// Null (and the reason in *reason) where no GL 4.3 context can be made or GL
// support was not built.
std::unique_ptr<KernelBackend> makeGlKernelBackend(std::string* reason = nullptr);
std::unique_ptr<KernelBackend> makeCpuKernelBackend(unsigned threads = 0);

}  // namespace vistrelle::ai3d
