#version 430
// Vertical half of the Gaussian blur (sigma 4, 25 taps), back to half.
layout(local_size_x = 16, local_size_y = 16, local_size_z = 1) in;

layout(binding = 0, r32f) uniform readonly image2D rowsBlurred;
layout(binding = 1, r16f) uniform writeonly image2D blurred;

void main() {
  ivec2 size = imageSize(rowsBlurred);
  ivec2 p = ivec2(gl_GlobalInvocationID.xy);
  if (p.x >= size.x || p.y >= size.y) return;
  float total = 0.0;
  for (int i = -12; i <= 12; ++i) total += exp(-float(i * i) / 32.0);
  float sum = 0.0;
  for (int i = -12; i <= 12; ++i) {
    float g = exp(-float(i * i) / 32.0) / total;
    sum += g * imageLoad(rowsBlurred, ivec2(p.x, clamp(p.y + i, 0, size.y - 1))).r;
  }
  imageStore(blurred, p, vec4(sum, 0.0, 0.0, 1.0));
}
