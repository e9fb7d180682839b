#include "platform/gpu/kernel_library.h"

#include <gtest/gtest.h>

namespace vistrelle::gpu {
namespace {

KernelLibrary sample() {
  return KernelLibrary({{"a", ShaderStage::Compute, "#version 430\n"},
                        {"b", ShaderStage::Vertex, "#version 430\n"},
                        {"c", ShaderStage::Fragment, "#version 430\n"}});
}

TEST(KernelLibraryTest, FindsByExactName) {
  const KernelLibrary lib = sample();
  ASSERT_NE(lib.find("b"), nullptr);
  EXPECT_EQ(lib.find("b")->stage, ShaderStage::Vertex);
  EXPECT_EQ(lib.find("B"), nullptr);
  EXPECT_EQ(lib.find(""), nullptr);
  EXPECT_FALSE(lib.contains("ab"));
  EXPECT_EQ(lib.functions().size(), 3u);
}

TEST(KernelLibraryTest, WithoutDropsOnlyThatFunction) {
  const KernelLibrary lib = sample().without("b");
  EXPECT_FALSE(lib.contains("b"));
  EXPECT_TRUE(lib.contains("a"));
  EXPECT_TRUE(lib.contains("c"));
  EXPECT_EQ(sample().without("zzz").functions().size(), 3u);
}

TEST(KernelLibraryTest, RefusesDuplicateNames) {
  EXPECT_THROW(KernelLibrary({{"a", ShaderStage::Compute, ""}, {"a", ShaderStage::Vertex, ""}}),
               std::invalid_argument);
}

}  // namespace
}  // namespace vistrelle::gpu
