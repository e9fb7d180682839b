// Test helpers: one back-end of each kind per test process (GL may be
// missing: tests then skip with the reason), and conversions between
// reference planes and back-end maps.
#pragma once

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <memory>
#include <random>
#include <string>

#include "ai3d/kernels/depth_map.h"
#include "ai3d/kernels/half_float.h"
#include "ai3d/kernels/kernel_backend.h"
#include "ai3d/kernels/kernel_backend_factory.h"
#include "ai3d/kernels/reference_kernels.h"

namespace vistrelle::ai3d::testing {

using reference::Plane;

inline KernelBackend* backendOf(BackendKind kind, std::string* whyMissing) {
  if (kind == BackendKind::Cpu) {
    static std::unique_ptr<KernelBackend> cpu = makeCpuKernelBackend(4);
    return cpu.get();
  }
  static std::string reason;
  static std::unique_ptr<KernelBackend> gl = makeGlKernelBackend(&reason);
  if (whyMissing != nullptr) *whyMissing = reason;
  return gl.get();
}

inline const char* kindName(BackendKind kind) {
  return kind == BackendKind::Cpu ? "Cpu" : "OpenGl";
}

// Fixture base for tests run on both back-ends.
class BackendTest : public ::testing::TestWithParam<BackendKind> {
 protected:
  void SetUp() override {
    std::string why;
    backend_ = backendOf(GetParam(), &why);
    if (backend_ == nullptr) GTEST_SKIP() << "no OpenGL 4.3 context could be made: " << why;
  }
  KernelBackend& backend() { return *backend_; }

 private:
  KernelBackend* backend_ = nullptr;
};

inline DepthMap toHalfMap(const Plane& p) {
  DepthMap map(p.width, p.height, MapFormat::Float16);
  auto halves = map.halves();
  for (size_t i = 0; i < p.values.size(); ++i) halves[i] = floatToHalf(p.values[i]);
  return map;
}

inline std::shared_ptr<KernelMap> upload(KernelBackend& backend, const Plane& p) {
  auto map = backend.acquireMap(p.width, p.height);
  backend.upload(toHalfMap(p).view(), *map);
  return map;
}

inline Plane readBack(KernelBackend& backend, const KernelMap& map) {
  DepthMap halves(map.width(), map.height(), MapFormat::Float16);
  backend.read(map, halves.halves());
  Plane p(map.width(), map.height());
  for (size_t i = 0; i < p.values.size(); ++i) p.values[i] = halfToFloat(halves.halves()[i]);
  return p;
}

// A map full of NaN, so that any pixel a kernel fails to write shows.
inline std::shared_ptr<KernelMap> poisoned(KernelBackend& backend, int width, int height) {
  return upload(backend, Plane(width, height, std::nanf("")));
}

// Uniform values in [lo, hi], already halves.
inline Plane randomPlane(int width, int height, uint32_t seed, float lo = 0.0f, float hi = 1.0f) {
  std::mt19937 rng(seed);
  std::uniform_real_distribution<float> dist(lo, hi);
  Plane p(width, height);
  for (float& v : p.values) v = roundToHalf(dist(rng));
  return p;
}

// One unit in the last place of a half near v.
inline float halfUlp(float v) {
  const float a = std::fabs(v);
  if (a < 6.103515625e-05f) return 5.9604645e-08f;
  return std::ldexp(1.0f, int(std::floor(std::log2(a))) - 10);
}

inline std::string describeSize(int w, int h) {
  return std::to_string(w) + "x" + std::to_string(h);
}

}  // namespace vistrelle::ai3d::testing
