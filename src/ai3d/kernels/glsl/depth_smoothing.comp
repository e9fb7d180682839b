#version 430
// Edge-preserving smoothing: spatial Gaussian times a range Gaussian on the
// depth difference to the centre.
layout(local_size_x = 16, local_size_y = 16, local_size_z = 1) in;

layout(binding = 0, r16f) uniform readonly image2D depth;
layout(binding = 1, r16f) uniform writeonly image2D smoothedDepth;

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

bool finiteValue(float v) { return !isnan(v) && !isinf(v); }

void main() {
  ivec2 size = imageSize(depth);
  ivec2 p = ivec2(gl_GlobalInvocationID.xy);
  if (p.x >= size.x || p.y >= size.y) return;

  float centre = imageLoad(depth, p).r;
  if (!finiteValue(centre)) {
    imageStore(smoothedDepth, p, vec4(centre, 0.0, 0.0, 1.0));
    return;
  }
  int r = clamp(radius, 0, 8);
  float ss = max(sigmaSpatial, 1e-6);
  float sr = max(sigmaRange, 1e-6);
  float sum = 0.0;
  float weights = 0.0;
  for (int j = -r; j <= r; ++j) {
    for (int i = -r; i <= r; ++i) {
      float q = imageLoad(depth, clamp(p + ivec2(i, j), ivec2(0), size - 1)).r;
      if (!finiteValue(q)) continue;
      float diff = q - centre;
      float w = exp(-float(i * i + j * j) / (2.0 * ss * ss) - diff * diff / (2.0 * sr * sr));
      sum += w * q;
      weights += w;
    }
  }
  imageStore(smoothedDepth, p, vec4(sum / weights, 0.0, 0.0, 1.0));
}
