#version 430
// Clears the depth-ordered buffer. Compiled, never dispatched.
layout(local_size_x = 16, local_size_y = 16, local_size_z = 1) in;

layout(binding = 0, r32ui) uniform writeonly uimage2D zBuffer;

void main() {
  ivec2 size = imageSize(zBuffer);
  ivec2 p = ivec2(gl_GlobalInvocationID.xy);
  if (p.x >= size.x || p.y >= size.y) return;
  imageStore(zBuffer, p, uvec4(0u));
}
