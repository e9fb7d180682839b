#version 430
// Forward reprojection into a depth-ordered buffer. Compiled, never dispatched.
layout(local_size_x = 16, local_size_y = 16, local_size_z = 1) in;

layout(binding = 0, r16f) uniform readonly image2D depth;
layout(binding = 1, r32ui) uniform coherent uimage2D zBuffer;

void main() {
  ivec2 size = imageSize(depth);
  ivec2 p = ivec2(gl_GlobalInvocationID.xy);
  if (p.x >= size.x || p.y >= size.y) return;
  float d = clamp(imageLoad(depth, p).r, 0.0, 1.0);
  imageAtomicMax(zBuffer, p, uint(d * 65535.0));
}
