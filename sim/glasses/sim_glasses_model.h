#pragma once

#include <array>
#include <cstdint>
#include <string>

namespace vistrelle::sim {

// Gyro bias at one temperature, as the glasses keep it in their tables.
struct SimBiasEntry {
  float temperature = 0;
  float x = 0;
  float y = 0;
  float z = 0;
  bool operator==(const SimBiasEntry&) const = default;
};

enum class SimGlassesKind { FirstGeneration, SecondGeneration, SecondGenerationPro };

// Everything that tells one model of glasses from another, and the values
// they answer with.  Start from one of the factories and change what a test
// needs.
struct SimGlassesModel {
  SimGlassesKind kind = SimGlassesKind::SecondGeneration;
  int32_t generation = 2;
  uint16_t vendorId = 0;
  uint16_t productId = 0;
  std::string productName;
  // The version reply's text bytes, sent as they are: any length (the reply's
  // length field says the full length, the report carries what fits) and any
  // bytes (invalid UTF-8 included).
  std::string versionText;
  // Byte 51 of the version reply: 'p', 'C' or anything else.
  uint8_t imuIdByte = 0;
  uint16_t wearThreshold1 = 0;
  uint16_t wearThreshold2 = 0;
  // The offset reply's six numbers in the order the host hands them on: the
  // values at bytes 40, 44, 48, then the acceleration at 16, 24, 32.
  std::array<float, 6> offsets{};
  std::array<SimBiasEntry, 8> factoryBias{};
  std::array<SimBiasEntry, 6> userBias{};
  // Only the Pro firmware acts on the immersion command.
  bool supportsImmersion = false;
  uint8_t immersion = 76;
  uint8_t volume = 8;
  uint8_t duty = 128;
  // IMU reports per second (the first generation streams once attached, the
  // second once its stream is opened).
  double imuRateHz = 1000;

  static SimGlassesModel firstGeneration();
  static SimGlassesModel secondGeneration();
  static SimGlassesModel secondGenerationPro();
};

}  // namespace vistrelle::sim
