#version 430
// Temporal blend of the current depth map with the previous smoothed map.
layout(local_size_x = 16, local_size_y = 16, local_size_z = 1) in;

layout(binding = 0, r16f) uniform readonly image2D currentDepth;
layout(binding = 1, r16f) uniform readonly image2D previousDepth;
layout(binding = 2, r16f) uniform writeonly image2D filteredDepth;

layout(std140, binding = 0) uniform DynamicFilterParams {
  float alpha;
  float eta;
  float sceneChangeThresh;
  float dt;
};

bool finiteValue(float v) { return !isnan(v) && !isinf(v); }

void main() {
  ivec2 size = imageSize(currentDepth);
  ivec2 p = ivec2(gl_GlobalInvocationID.xy);
  if (p.x >= size.x || p.y >= size.y) return;

  float c = imageLoad(currentDepth, p).r;
  float prev = imageLoad(previousDepth, p).r;
  float result;
  if (!finiteValue(c)) {
    result = prev;
  } else if (!finiteValue(prev)) {
    result = c;
  } else {
    // Mean change over the 3x3 neighbourhood; a non-finite term is skipped
    // so that one NaN never spreads.
    float sum = 0.0;
    int count = 0;
    for (int dy = -1; dy <= 1; ++dy) {
      for (int dx = -1; dx <= 1; ++dx) {
        ivec2 q = clamp(p + ivec2(dx, dy), ivec2(0), size - 1);
        float d = abs(imageLoad(currentDepth, q).r - imageLoad(previousDepth, q).r);
        if (finiteValue(d)) {
          sum += d;
          count += 1;
        }
      }
    }
    float m = count > 0 ? sum / float(count) : 0.0;
    float keep = 1.0 - clamp(alpha, 0.0, 1.0);
    float a = keep <= 0.0 ? 1.0 : 1.0 - pow(keep, clamp(dt, 1.0, 250.0) / 16.0);
    float w = m > sceneChangeThresh ? 1.0 : a + (1.0 - a) * m / (m + max(eta, 1e-6));
    result = prev + w * (c - prev);
  }
  imageStore(filteredDepth, p, vec4(result, 0.0, 0.0, 1.0));
}
