#include "platform/gpu/linux/gl_object.h"

namespace vistrelle::gpu::gl_names {

void genTexture(GLuint* name) {
  glGenTextures(1, name);
}
void deleteTexture(GLuint name) {
  glDeleteTextures(1, &name);
}
void genBuffer(GLuint* name) {
  glGenBuffers(1, name);
}
void deleteBuffer(GLuint name) {
  glDeleteBuffers(1, &name);
}
void genFramebuffer(GLuint* name) {
  glGenFramebuffers(1, name);
}
void deleteFramebuffer(GLuint name) {
  glDeleteFramebuffers(1, &name);
}
void genVertexArray(GLuint* name) {
  glGenVertexArrays(1, name);
}
void deleteVertexArray(GLuint name) {
  glDeleteVertexArrays(1, &name);
}
void genSampler(GLuint* name) {
  glGenSamplers(1, name);
}
void deleteSampler(GLuint name) {
  glDeleteSamplers(1, &name);
}

}  // namespace vistrelle::gpu::gl_names
