#include "platform/gpu/linux/gl_program.h"

#include <string>
#include <utility>
#include <vector>

#include "platform/gpu/gl_error.h"

namespace vistrelle::gpu {
namespace {

GLenum glStage(ShaderStage stage) {
  switch (stage) {
    case ShaderStage::Compute:
      return GL_COMPUTE_SHADER;
    case ShaderStage::Vertex:
      return GL_VERTEX_SHADER;
    case ShaderStage::Fragment:
      return GL_FRAGMENT_SHADER;
  }
  return GL_COMPUTE_SHADER;
}

// Shader objects live only until the program is linked.
class ShaderObject {
 public:
  explicit ShaderObject(const KernelFunction& function)
      : shader_(glCreateShader(glStage(function.stage))) {
    if (shader_ == 0) throw GlError("glCreateShader failed for " + function.name);
    const char* text = function.source.c_str();
    const GLint length = static_cast<GLint>(function.source.size());
    glShaderSource(shader_, 1, &text, &length);
    glCompileShader(shader_);
    GLint ok = GL_FALSE;
    glGetShaderiv(shader_, GL_COMPILE_STATUS, &ok);
    if (ok != GL_TRUE) {
      GLint logLength = 0;
      glGetShaderiv(shader_, GL_INFO_LOG_LENGTH, &logLength);
      std::vector<char> log(static_cast<size_t>(logLength) + 1, '\0');
      glGetShaderInfoLog(shader_, logLength, nullptr, log.data());
      glDeleteShader(shader_);
      throw GlError("compiling " + function.name + " failed: " + log.data());
    }
  }
  ~ShaderObject() { glDeleteShader(shader_); }
  ShaderObject(const ShaderObject&) = delete;
  ShaderObject& operator=(const ShaderObject&) = delete;
  GLuint get() const { return shader_; }

 private:
  GLuint shader_;
};

GLuint link(std::initializer_list<const ShaderObject*> shaders, const std::string& what) {
  GLuint program = glCreateProgram();
  if (program == 0) throw GlError("glCreateProgram failed for " + what);
  for (const ShaderObject* s : shaders) glAttachShader(program, s->get());
  glLinkProgram(program);
  for (const ShaderObject* s : shaders) glDetachShader(program, s->get());
  GLint ok = GL_FALSE;
  glGetProgramiv(program, GL_LINK_STATUS, &ok);
  if (ok != GL_TRUE) {
    GLint logLength = 0;
    glGetProgramiv(program, GL_INFO_LOG_LENGTH, &logLength);
    std::vector<char> log(static_cast<size_t>(logLength) + 1, '\0');
    glGetProgramInfoLog(program, logLength, nullptr, log.data());
    glDeleteProgram(program);
    throw GlError("linking " + what + " failed: " + log.data());
  }
  return program;
}

}  // namespace

GlProgram GlProgram::compute(const KernelFunction& function) {
  if (function.stage != ShaderStage::Compute) {
    throw GlError(function.name + " is not a compute function");
  }
  ShaderObject shader(function);
  return GlProgram(link({&shader}, function.name));
}

GlProgram GlProgram::render(const KernelFunction& vertex, const KernelFunction& fragment) {
  if (vertex.stage != ShaderStage::Vertex || fragment.stage != ShaderStage::Fragment) {
    throw GlError(vertex.name + " + " + fragment.name + " is not a vertex + fragment pair");
  }
  ShaderObject vs(vertex);
  ShaderObject fs(fragment);
  return GlProgram(link({&vs, &fs}, vertex.name + " + " + fragment.name));
}

GlProgram::~GlProgram() {
  if (program_ != 0) glDeleteProgram(program_);
}

GlProgram::GlProgram(GlProgram&& other) noexcept : program_(std::exchange(other.program_, 0)) {}

GlProgram& GlProgram::operator=(GlProgram&& other) noexcept {
  if (this != &other) {
    if (program_ != 0) glDeleteProgram(program_);
    program_ = std::exchange(other.program_, 0);
  }
  return *this;
}

}  // namespace vistrelle::gpu
