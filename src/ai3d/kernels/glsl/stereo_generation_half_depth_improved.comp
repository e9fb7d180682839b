#version 430
// One map per eye: a near pixel (large value) keeps its place and reaches
// sideways by its shift, right in the left map and left in the right map, so
// that disoccluded pixels take the foreground value.
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

  float k = clamp(depthValue, 0.0, 0.05);
  // The comparisons must match the CPU back-end bit for bit: no contraction.
  precise float kw = k * mapWidth;
  precise float minimumReach = kw + 0.5;
  int steps = max(clamp(depthSteps, 0, 64), int(ceil(minimumReach)));

  float own = imageLoad(smoothedDepth, p).r;
  float bestLeft = own;
  float bestRight = own;
  for (int j = 1; j <= steps; ++j) {
    float fj = float(j);
    int xl = p.x - j;
    if (xl >= 0) {
      float v = imageLoad(smoothedDepth, ivec2(xl, p.y)).r;
      precise float shift = kw * v;
      precise float reach = shift + 0.5;
      if (fj <= reach && v > bestLeft) bestLeft = v;
    }
    int xr = p.x + j;
    if (xr <= size.x - 1) {
      float v = imageLoad(smoothedDepth, ivec2(xr, p.y)).r;
      precise float shift = kw * v;
      precise float reach = shift + 0.5;
      if (fj <= reach && v > bestRight) bestRight = v;
    }
  }
  imageStore(leftMap, p, vec4(bestLeft, 0.0, 0.0, 1.0));
  imageStore(rightMap, p, vec4(bestRight, 0.0, 0.0, 1.0));
}
