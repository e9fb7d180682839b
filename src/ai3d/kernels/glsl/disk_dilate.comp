#version 430
// Flat dilation: the maximum over the 13 pixels of the radius-2 disk.
layout(local_size_x = 16, local_size_y = 16, local_size_z = 1) in;

layout(binding = 0, r16f) uniform readonly image2D source;
layout(binding = 1, r16f) uniform writeonly image2D dilated;

const ivec2 kDisk[13] = ivec2[13](ivec2(0, -2), ivec2(-1, -1), ivec2(0, -1), ivec2(1, -1),
                                  ivec2(-2, 0), ivec2(-1, 0), ivec2(0, 0), ivec2(1, 0),
                                  ivec2(2, 0), ivec2(-1, 1), ivec2(0, 1), ivec2(1, 1),
                                  ivec2(0, 2));

void main() {
  ivec2 size = imageSize(source);
  ivec2 p = ivec2(gl_GlobalInvocationID.xy);
  if (p.x >= size.x || p.y >= size.y) return;
  float m = imageLoad(source, p).r;
  for (int i = 0; i < 13; ++i) {
    m = max(m, imageLoad(source, clamp(p + kDisk[i], ivec2(0), size - 1)).r);
  }
  imageStore(dilated, p, vec4(m, 0.0, 0.0, 1.0));
}
