#version 430
// One eye's colour: the captured frame sampled at u shifted by the eye's map
// times the signed depth value (negative: left eye and left map).
in vec2 uv;
layout(location = 0) out vec4 colour;

layout(binding = 0) uniform sampler2D capturedFrame;
layout(binding = 1) uniform sampler2D leftMap;
layout(binding = 2) uniform sampler2D rightMap;

layout(std140, binding = 0) uniform EyeParams {
  float signedDepth;
};

void main() {
  float us = uv.x;
  if (signedDepth < 0.0) {
    us = clamp(uv.x + signedDepth * texture(leftMap, uv).r, 0.0, 1.0);
  } else if (signedDepth > 0.0) {
    us = clamp(uv.x + signedDepth * texture(rightMap, uv).r, 0.0, 1.0);
  }
  colour = vec4(texture(capturedFrame, vec2(us, uv.y)).rgb, 1.0);
}
