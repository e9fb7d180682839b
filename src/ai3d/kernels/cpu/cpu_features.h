#pragma once

namespace vistrelle::ai3d {

// Whether this processor runs the CPU kernels' AVX2 roads: AVX2 with FMA and
// F16C (every x86-64 processor since 2013 that has AVX2 has both).
bool cpuHasAvx2();

}  // namespace vistrelle::ai3d
