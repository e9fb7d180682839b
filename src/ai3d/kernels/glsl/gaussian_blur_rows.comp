#version 430
// Horizontal half of the Gaussian blur (sigma 4, 25 taps), into f32.
layout(local_size_x = 16, local_size_y = 16, local_size_z = 1) in;

layout(binding = 0, r16f) uniform readonly image2D source;
layout(binding = 1, r32f) uniform writeonly image2D rowsBlurred;

void main() {
  ivec2 size = imageSize(source);
  ivec2 p = ivec2(gl_GlobalInvocationID.xy);
  if (p.x >= size.x || p.y >= size.y) return;
  float total = 0.0;
  for (int i = -12; i <= 12; ++i) total += exp(-float(i * i) / 32.0);
  float sum = 0.0;
  for (int i = -12; i <= 12; ++i) {
    float g = exp(-float(i * i) / 32.0) / total;
    sum += g * imageLoad(source, ivec2(clamp(p.x + i, 0, size.x - 1), p.y)).r;
  }
  imageStore(rowsBlurred, p, vec4(sum, 0.0, 0.0, 1.0));
}
