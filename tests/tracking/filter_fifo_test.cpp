#include <gtest/gtest.h>

#include <cstdint>

#include "tracking/m_filter_fifo.h"

namespace vistrelle::tracking {
namespace {

class Vec3Fifo : public ::testing::Test {
 protected:
  void SetUp() override { m_ff_vec3_f32_create(&ff_, 4); }
  void TearDown() override { m_ff_vec3_f32_destroy(&ff_); }

  void push(float x, uint64_t t) {
    const vec3 sample{x, 2.0f * x, -x};
    m_ff_vec3_f32_push(ff_, &sample, t);
  }

  m_ff_vec3_f32* ff_ = nullptr;
};

TEST_F(Vec3Fifo, GetAndFilterOverThreeOfFourSlots) {
  push(1.0f, 10);
  push(2.0f, 20);
  push(3.0f, 30);

  struct GetCase {
    size_t index;
    bool found;
    float x;
    uint64_t t;
  };
  const GetCase gets[] = {{0, true, 3.0f, 30},
                          {1, true, 2.0f, 20},
                          {2, true, 1.0f, 10},
                          {3, true, 0.0f, 0},
                          {4, false, 0.0f, 0}};
  for (const GetCase& c : gets) {
    SCOPED_TRACE(c.index);
    vec3 sample{-9.0f, -9.0f, -9.0f};
    uint64_t t = 99;
    ASSERT_EQ(m_ff_vec3_f32_get(ff_, c.index, &sample, &t), c.found);
    if (c.found) {
      EXPECT_EQ(sample.x, c.x);
      EXPECT_EQ(sample.y, 2.0f * c.x);
      EXPECT_EQ(t, c.t);
    }
  }

  struct FilterCase {
    uint64_t start, stop;
    size_t count;
    float mean_x;
  };
  // The never-written slot has time 0 and would count as a zero sample in
  // [0, 30] if the walk went past the written ones.
  const FilterCase filters[] = {
      {15, 25, 1, 2.0f}, {0, 30, 3, 2.0f},  {10, 20, 2, 1.5f},
      {25, 15, 0, 0.0f}, {31, 40, 0, 0.0f}, {0, 5, 0, 0.0f},
  };
  for (const FilterCase& c : filters) {
    SCOPED_TRACE(testing::Message() << c.start << ".." << c.stop);
    vec3 mean{-9.0f, -9.0f, -9.0f};
    EXPECT_EQ(m_ff_vec3_f32_filter(ff_, c.start, c.stop, &mean), c.count);
    EXPECT_FLOAT_EQ(mean.x, c.mean_x);
    EXPECT_FLOAT_EQ(mean.y, 2.0f * c.mean_x);
    EXPECT_FLOAT_EQ(mean.z, -c.mean_x);
  }
}

TEST_F(Vec3Fifo, FifthSampleOverwritesTheOldestAndEqualTimesAreAllowed) {
  for (int i = 1; i <= 5; i++) {
    push(static_cast<float>(i), static_cast<uint64_t>(i) * 10);
  }
  push(6.0f, 50);
  vec3 sample;
  uint64_t t;
  ASSERT_TRUE(m_ff_vec3_f32_get(ff_, 0, &sample, &t));
  EXPECT_EQ(sample.x, 6.0f);
  EXPECT_EQ(t, 50u);
  ASSERT_TRUE(m_ff_vec3_f32_get(ff_, 3, &sample, &t));
  EXPECT_EQ(sample.x, 3.0f);
  EXPECT_EQ(t, 30u);

  vec3 mean;
  EXPECT_EQ(m_ff_vec3_f32_filter(ff_, 0, 100, &mean), 4u);
  EXPECT_FLOAT_EQ(mean.x, (3.0f + 4.0f + 5.0f + 6.0f) / 4.0f);
}

TEST_F(Vec3Fifo, DestroyClearsThePointerAndToleratesNull) {
  m_ff_vec3_f32_destroy(&ff_);
  EXPECT_EQ(ff_, nullptr);
  m_ff_vec3_f32_destroy(&ff_);
  EXPECT_EQ(ff_, nullptr);
}

TEST(F64Fifo, BehavesLikeTheVectorRing) {
  m_ff_f64* ff = nullptr;
  m_ff_f64_create(&ff, 4);
  for (double v : {1.0, 2.0, 3.0}) {
    m_ff_f64_push(ff, &v, static_cast<uint64_t>(v * 10.0));
  }
  double sample = -1.0;
  uint64_t t = 99;
  ASSERT_TRUE(m_ff_f64_get(ff, 3, &sample, &t));
  EXPECT_EQ(sample, 0.0);
  EXPECT_EQ(t, 0u);
  EXPECT_FALSE(m_ff_f64_get(ff, 4, &sample, &t));
  double mean = -1.0;
  EXPECT_EQ(m_ff_f64_filter(ff, 15, 25, &mean), 1u);
  EXPECT_EQ(mean, 2.0);
  EXPECT_EQ(m_ff_f64_filter(ff, 0, 30, &mean), 3u);
  EXPECT_EQ(mean, 2.0);
  EXPECT_EQ(m_ff_f64_filter(ff, 30, 0, &mean), 0u);
  EXPECT_EQ(mean, 0.0);
  m_ff_f64_destroy(&ff);
  EXPECT_EQ(ff, nullptr);
}

TEST(FifoDeathTest, PushingAnEarlierTimeStops) {
  m_ff_vec3_f32* ff = nullptr;
  m_ff_vec3_f32_create(&ff, 4);
  const vec3 sample{1.0f, 1.0f, 1.0f};
  m_ff_vec3_f32_push(ff, &sample, 20);
  EXPECT_DEATH(m_ff_vec3_f32_push(ff, &sample, 19),
               "m_filter_fifo.cpp: m_ff_vec3_f32_push: Assertion "
               "`ff->timestamps_ns\\[ff->latest\\] <= timestamp_ns' failed");
  m_ff_vec3_f32_destroy(&ff);

  m_ff_f64* ffd = nullptr;
  m_ff_f64_create(&ffd, 4);
  const double value = 1.0;
  m_ff_f64_push(ffd, &value, 20);
  EXPECT_DEATH(m_ff_f64_push(ffd, &value, 5), "m_ff_f64_push: Assertion");
  m_ff_f64_destroy(&ffd);
}

}  // namespace
}  // namespace vistrelle::tracking
