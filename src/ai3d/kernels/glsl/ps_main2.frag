#version 430
// The captured frame without any shift. Compiled, never drawn.
in vec2 uv;
layout(location = 0) out vec4 colour;

layout(binding = 0) uniform sampler2D capturedFrame;

void main() { colour = vec4(texture(capturedFrame, uv).rgb, 1.0); }
