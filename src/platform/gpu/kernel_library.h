// KernelLibrary: the set of GPU functions a program carries, found by name.
//
//   const KernelFunction* f = library.find("depthSmoothing");
//   if (f == nullptr) { /* the caller decides: e.g. build no pipelines */ }
//
// A function is a complete GLSL 4.30 translation unit with its stage. The
// library owns no GL objects; back-ends compile what they look up.
#pragma once

#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace vistrelle::gpu {

enum class ShaderStage { Compute, Vertex, Fragment };

struct KernelFunction {
  std::string name;
  ShaderStage stage;
  std::string source;
};

class KernelLibrary {
 public:
  KernelLibrary() = default;
  explicit KernelLibrary(std::vector<KernelFunction> functions);

  // Null when no function of that name is in the library.
  const KernelFunction* find(std::string_view name) const;
  bool contains(std::string_view name) const { return find(name) != nullptr; }
  std::span<const KernelFunction> functions() const { return functions_; }

  // A copy of this library without the named function (e.g. to model an
  // incomplete install).
  KernelLibrary without(std::string_view name) const;

 private:
  std::vector<KernelFunction> functions_;
};

}  // namespace vistrelle::gpu
