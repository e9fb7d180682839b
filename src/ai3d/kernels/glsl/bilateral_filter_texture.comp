#version 430
// 3x3 bilateral filter of a depth texture. Compiled, never dispatched.
layout(local_size_x = 16, local_size_y = 16, local_size_z = 1) in;

layout(binding = 0, r16f) uniform readonly image2D source;
layout(binding = 1, r16f) uniform writeonly image2D filtered;

void main() {
  ivec2 size = imageSize(source);
  ivec2 p = ivec2(gl_GlobalInvocationID.xy);
  if (p.x >= size.x || p.y >= size.y) return;
  float centre = imageLoad(source, p).r;
  float sum = 0.0;
  float weights = 0.0;
  for (int j = -1; j <= 1; ++j) {
    for (int i = -1; i <= 1; ++i) {
      float q = imageLoad(source, clamp(p + ivec2(i, j), ivec2(0), size - 1)).r;
      float w = exp(-float(i * i + j * j) / 2.0 - (q - centre) * (q - centre) / 0.02);
      sum += w * q;
      weights += w;
    }
  }
  imageStore(filtered, p, vec4(sum / weights, 0.0, 0.0, 1.0));
}
