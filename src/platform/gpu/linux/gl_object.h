// GlObject: owns one GL object name and deletes it on destruction.
//
//   GlTexture texture = GlTexture::create();   // glGenTextures
//   glBindTexture(GL_TEXTURE_2D, texture.get());
//
// The owning context must be current wherever an object is created or
// destroyed.
#pragma once

#include <GL/glcorearb.h>

#include <utility>

namespace vistrelle::gpu {

template <void (*Generate)(GLuint*), void (*Delete)(GLuint)>
class GlObject {
 public:
  GlObject() = default;
  static GlObject create() {
    GlObject object;
    Generate(&object.name_);
    return object;
  }
  ~GlObject() { reset(); }
  GlObject(GlObject&& other) noexcept : name_(std::exchange(other.name_, 0)) {}
  GlObject& operator=(GlObject&& other) noexcept {
    if (this != &other) {
      reset();
      name_ = std::exchange(other.name_, 0);
    }
    return *this;
  }
  GlObject(const GlObject&) = delete;
  GlObject& operator=(const GlObject&) = delete;

  GLuint get() const { return name_; }
  explicit operator bool() const { return name_ != 0; }
  void reset() {
    if (name_ != 0) Delete(name_);
    name_ = 0;
  }

 private:
  GLuint name_ = 0;
};

namespace gl_names {
void genTexture(GLuint* name);
void deleteTexture(GLuint name);
void genBuffer(GLuint* name);
void deleteBuffer(GLuint name);
void genFramebuffer(GLuint* name);
void deleteFramebuffer(GLuint name);
void genVertexArray(GLuint* name);
void deleteVertexArray(GLuint name);
void genSampler(GLuint* name);
void deleteSampler(GLuint name);
}  // namespace gl_names

using GlTexture = GlObject<gl_names::genTexture, gl_names::deleteTexture>;
using GlBuffer = GlObject<gl_names::genBuffer, gl_names::deleteBuffer>;
using GlFramebuffer = GlObject<gl_names::genFramebuffer, gl_names::deleteFramebuffer>;
using GlVertexArray = GlObject<gl_names::genVertexArray, gl_names::deleteVertexArray>;
using GlSampler = GlObject<gl_names::genSampler, gl_names::deleteSampler>;

}  // namespace vistrelle::gpu
