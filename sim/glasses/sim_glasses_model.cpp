#include "sim/glasses/sim_glasses_model.h"

namespace vistrelle::sim {

namespace {

// A plausible factory table: bias growing with temperature from 10 to 45 °C.
std::array<SimBiasEntry, 8> factoryTable(float scale) {
  std::array<SimBiasEntry, 8> table{};
  for (size_t i = 0; i < table.size(); ++i) {
    const auto step = static_cast<float>(i);
    table[i] = {10.0f + 5.0f * step, scale * (0.001f + 0.0005f * step),
                scale * (-0.002f + 0.00025f * step), scale * (0.0015f - 0.0001f * step)};
  }
  return table;
}

}  // namespace

SimGlassesModel SimGlassesModel::firstGeneration() {
  SimGlassesModel model;
  model.kind = SimGlassesKind::FirstGeneration;
  model.generation = 1;
  model.vendorId = 0x0483;
  model.productId = 0x5750;
  model.productName = "ORVEX Glass";
  model.versionText = "ORVEX1_FW_V2.05";
  model.imuIdByte = 0;
  model.factoryBias = factoryTable(1.0f);
  return model;
}

SimGlassesModel SimGlassesModel::secondGeneration() {
  SimGlassesModel model;
  model.kind = SimGlassesKind::SecondGeneration;
  model.generation = 2;
  model.vendorId = 0x0483;
  model.productId = 0x8003;
  model.productName = "ORVEX Glass 2";
  model.versionText = "ORVEX2_FW_V1.63";
  model.imuIdByte = 'C';
  model.wearThreshold1 = 30;
  model.wearThreshold2 = 40;
  model.offsets = {0.5f, -0.25f, 0.125f, 0.0625f, -0.03125f, 9.75f};
  model.factoryBias = factoryTable(1.0f);
  return model;
}

SimGlassesModel SimGlassesModel::secondGenerationPro() {
  SimGlassesModel model = secondGeneration();
  model.kind = SimGlassesKind::SecondGenerationPro;
  model.productId = 0x8005;
  model.productName = "ORVEX Glass 2 Pro";
  model.versionText = "ORVEX2PRO_FW_V1.12";
  model.imuIdByte = 'p';
  model.wearThreshold1 = 45;
  model.wearThreshold2 = 60;
  model.offsets = {0.25f, 0.5f, -0.75f, -0.0125f, 0.025f, 9.8f};
  model.factoryBias = factoryTable(0.5f);
  model.supportsImmersion = true;
  return model;
}

}  // namespace vistrelle::sim
