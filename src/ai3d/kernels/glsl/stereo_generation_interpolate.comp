#version 430
// Fills a map from its horizontal neighbours' mean. Compiled, never dispatched.
layout(local_size_x = 16, local_size_y = 16, local_size_z = 1) in;

layout(binding = 0, r16f) uniform readonly image2D source;
layout(binding = 1, r16f) uniform writeonly image2D interpolated;

void main() {
  ivec2 size = imageSize(source);
  ivec2 p = ivec2(gl_GlobalInvocationID.xy);
  if (p.x >= size.x || p.y >= size.y) return;
  float a = imageLoad(source, ivec2(max(p.x - 1, 0), p.y)).r;
  float b = imageLoad(source, ivec2(min(p.x + 1, size.x - 1), p.y)).r;
  imageStore(interpolated, p, vec4(0.5 * (a + b), 0.0, 0.0, 1.0));
}
