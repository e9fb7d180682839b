#version 430
// Plain per-pixel shift of the depth map, one map per eye. Kept compiled
// beside the improved kernel; the generation road does not dispatch it.
layout(local_size_x = 16, local_size_y = 16, local_size_z = 1) in;

layout(binding = 0, r16f) uniform readonly image2D smoothedDepth;
layout(binding = 1, r16f) uniform writeonly image2D leftMap;
layout(binding = 2, r16f) uniform writeonly image2D rightMap;

layout(std140, binding = 0) uniform StereoParams {
  float focalLength;
  float baseline;
  float mapWidth;
  float mapHeight;
  float sigmaSpatial;
  float depthValue;
  int radius;
  int depthSteps;
  float occlusionScale;
  float sigmaRange;
  float edgeScale;
};

void main() {
  ivec2 size = imageSize(smoothedDepth);
  ivec2 p = ivec2(gl_GlobalInvocationID.xy);
  if (p.x >= size.x || p.y >= size.y) return;
  float d = imageLoad(smoothedDepth, p).r;
  int shift = int(clamp(depthValue, 0.0, 0.05) * mapWidth * d + 0.5);
  imageStore(leftMap, ivec2(min(p.x + shift, size.x - 1), p.y), vec4(d, 0.0, 0.0, 1.0));
  imageStore(rightMap, ivec2(max(p.x - shift, 0), p.y), vec4(d, 0.0, 0.0, 1.0));
}
