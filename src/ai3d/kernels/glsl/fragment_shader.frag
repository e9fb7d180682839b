#version 430
// Depth preview: the map as grey, scaled by the preview factor (1.0).
in vec2 uv;
layout(location = 0) out vec4 colour;

layout(binding = 0) uniform sampler2D depthTexture;

layout(std140, binding = 1) uniform PreviewParams {
  float scale;
};

void main() { colour = vec4(vec3(texture(depthTexture, uv).r * scale), 1.0); }
