#include "ai3d/kernels/gl/gl_kernel_backend.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <initializer_list>
#include <stdexcept>
#include <string>

#include "ai3d/kernels/ai3d_kernel_library.h"
#include "ai3d/kernels/gl/eye_program.h"
#include "ai3d/kernels/half_float.h"
#include "ai3d/kernels/kernel_map_checks.h"
#include "platform/gpu/gl_error.h"

namespace vistrelle::ai3d {
namespace {

using gpu::EglContext;
using gpu::GlError;
using gpu::GlProgram;

class GlMap final : public KernelMap {
 public:
  GlMap(const void* owner, int width, int height, GLuint texture)
      : KernelMap(width, height), owner_(owner), texture_(texture) {}
  const void* owner() const { return owner_; }
  GLuint texture() const { return texture_; }

 private:
  const void* owner_;
  GLuint texture_;  // owned by the back-end's pool
};

struct PoolEntry {
  std::shared_ptr<GlMap> map;
  gpu::GlTexture texture;
};

gpu::GlTexture makeTexture(GLenum format, int width, int height) {
  gpu::GlTexture texture = gpu::GlTexture::create();
  glBindTexture(GL_TEXTURE_2D, texture.get());
  glTexStorage2D(GL_TEXTURE_2D, 1, format, width, height);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
  glBindTexture(GL_TEXTURE_2D, 0);
  return texture;
}

void checkGl(const char* what) {
  const GLenum error = glGetError();
  if (error != GL_NO_ERROR) {
    char code[16];
    std::snprintf(code, sizeof code, "0x%04X", error);
    throw GlError(std::string(what) + " failed (GL error " + code + ")");
  }
}

GLuint groups(int size) {
  return static_cast<GLuint>((size + 15) / 16);
}

}  // namespace

struct GlKernelBackend::Resources {
  std::vector<PoolEntry> pool;
  // Every function of the library, each compiled once.
  std::vector<std::pair<std::string, GlProgram>> compute;
  std::vector<GlProgram> renderPrograms;  // the preview and "PSMain2": compiled, never drawn
  const GlProgram* filter = nullptr;
  const GlProgram* smoothing = nullptr;
  const GlProgram* stereo = nullptr;
  const GlProgram* dilate = nullptr;
  const GlProgram* blurRows = nullptr;
  const GlProgram* blurColumns = nullptr;
  std::unique_ptr<EyeProgram> eye;
  gpu::GlBuffer filterBlock, stereoBlock;
  gpu::GlTexture blurScratch;
  int blurWidth = 0, blurHeight = 0;
  gpu::GlTexture frame;
  int frameWidth = 0, frameHeight = 0;
  gpu::GlTexture target;
  gpu::GlFramebuffer targetFramebuffer;
  int targetWidth = 0, targetHeight = 0;
  std::vector<uint16_t> halfStaging;
  std::vector<uint8_t> pixelStaging;
};

std::unique_ptr<GlKernelBackend> GlKernelBackend::create(std::unique_ptr<gpu::EglContext> context) {
  if (!context) throw GlError("no GL context to build the kernels on");
  return std::unique_ptr<GlKernelBackend>(new GlKernelBackend(std::move(context)));
}

GlKernelBackend::GlKernelBackend(std::unique_ptr<gpu::EglContext> context)
    : context_(std::move(context)), resources_(std::make_unique<Resources>()) {
  EglContext::Current current(*context_);
  try {
    build();
  } catch (...) {
    resources_.reset();  // while the context is current, so the GL objects go too
    throw;
  }
}

void GlKernelBackend::build() {
  Resources& r = *resources_;
  const gpu::KernelLibrary& lib = library();
  // All of it, so that a broken library fails here and not at a first use.
  for (const gpu::KernelFunction& f : lib.functions()) {
    if (f.stage == gpu::ShaderStage::Compute) r.compute.emplace_back(f.name, GlProgram::compute(f));
  }
  auto computeProgram = [&](std::string_view name) -> const GlProgram* {
    for (const auto& [n, program] : r.compute) {
      if (n == name) return &program;
    }
    throw GlError("kernel library has no function " + std::string(name));
  };
  r.filter = computeProgram(kDynamicDepthFilterKernel);
  r.smoothing = computeProgram(kDepthSmoothingKernel);
  r.stereo = computeProgram(kStereoKernel);
  r.dilate = computeProgram(kDiskDilateKernel);
  r.blurRows = computeProgram(kGaussianBlurRowsKernel);
  r.blurColumns = computeProgram(kGaussianBlurColumnsKernel);
  r.eye = std::make_unique<EyeProgram>(lib);
  const gpu::KernelFunction* vs = lib.find(kEyeVertexShader);
  if (const auto* pv = lib.find("vertexShader"), *pf = lib.find("fragmentShader"); pv && pf) {
    r.renderPrograms.push_back(GlProgram::render(*pv, *pf));
  }
  if (const auto* p2 = lib.find("PSMain2"); p2 != nullptr && vs != nullptr) {
    r.renderPrograms.push_back(GlProgram::render(*vs, *p2));
  }

  auto makeBlock = [](gpu::GlBuffer& buffer, GLsizeiptr size) {
    buffer = gpu::GlBuffer::create();
    glBindBuffer(GL_UNIFORM_BUFFER, buffer.get());
    glBufferData(GL_UNIFORM_BUFFER, size, nullptr, GL_DYNAMIC_DRAW);
  };
  makeBlock(r.filterBlock, 16);
  makeBlock(r.stereoBlock, 64);
  glBindBuffer(GL_UNIFORM_BUFFER, 0);
  checkGl("setting up the GL kernel back-end");
}

GlKernelBackend::~GlKernelBackend() {
  // GL objects can only be deleted with the context current.
  EglContext::Current current(*context_);
  resources_.reset();
}

std::string GlKernelBackend::description() const {
  return "OpenGL: " + context_->renderer();
}

const gpu::KernelLibrary& GlKernelBackend::library() const {
  return ai3dKernelLibrary();
}

namespace {
const GlMap& ownMap(const KernelMap& map, const void* owner) {
  const auto* gl = dynamic_cast<const GlMap*>(&map);
  if (gl == nullptr || gl->owner() != owner) {
    throw std::invalid_argument("map does not belong to this GL back-end");
  }
  return *gl;
}
}  // namespace

std::shared_ptr<KernelMap> GlKernelBackend::acquireMap(int width, int height) {
  if (width <= 0 || height <= 0) {
    throw std::invalid_argument("map size must be positive, not " + std::to_string(width) + "x" +
                                std::to_string(height));
  }
  EglContext::Current current(*context_);
  Resources& r = *resources_;
  PoolEntry* spare = nullptr;
  for (PoolEntry& entry : r.pool) {
    // Only the pool holds it: free. Its texture is only ever touched under
    // the context lock, which orders the last use before reuse.
    if (entry.map.use_count() != 1) continue;
    if (entry.map->width() == width && entry.map->height() == height) {
      return entry.map;
    }
    spare = &entry;
  }
  gpu::GlTexture texture = makeTexture(GL_R16F, width, height);
  checkGl("creating an r16f map");
  auto map = std::make_shared<GlMap>(this, width, height, texture.get());
  if (spare != nullptr) {
    *spare = PoolEntry{map, std::move(texture)};
  } else {
    r.pool.push_back(PoolEntry{map, std::move(texture)});
  }
  return map;
}

void GlKernelBackend::upload(const DepthMapView& source, KernelMap& target) {
  const GlMap& out = ownMap(target, this);
  if (source.width != out.width() || source.height != out.height()) {
    throw std::invalid_argument(
        "upload: source " + std::to_string(source.width) + "x" + std::to_string(source.height) +
        " into a " + std::to_string(out.width()) + "x" + std::to_string(out.height()) + " map");
  }
  if (!isDepthFormat(source.format)) {
    throw std::invalid_argument(std::string("upload: format ") + mapFormatName(source.format) +
                                " refused, depth maps are f16 or f32");
  }
  EglContext::Current current(*context_);
  Resources& r = *resources_;
  const void* pixels = source.data;
  GLint rowLength = 0;
  if (source.format == MapFormat::Float16) {
    if (source.pitch() % 2 != 0) throw std::invalid_argument("upload: odd row pitch for f16");
    rowLength = static_cast<GLint>(source.pitch() / 2);
  } else {
    // Rounded here rather than by the driver, so both back-ends hold the
    // same halves.
    const size_t count = static_cast<size_t>(source.width) * static_cast<size_t>(source.height);
    if (r.halfStaging.size() < count) r.halfStaging.resize(count);
    for (int y = 0; y < source.height; ++y) {
      const auto* row = static_cast<const float*>(source.row(y));
      uint16_t* dst =
          r.halfStaging.data() + static_cast<size_t>(y) * static_cast<size_t>(source.width);
      for (int x = 0; x < source.width; ++x) dst[x] = floatToHalf(row[x]);
    }
    pixels = r.halfStaging.data();
    rowLength = source.width;
  }
  glBindTexture(GL_TEXTURE_2D, out.texture());
  glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
  glPixelStorei(GL_UNPACK_ROW_LENGTH, rowLength);
  glTexSubImage2D(GL_TEXTURE_2D, 0, 0, 0, out.width(), out.height(), GL_RED, GL_HALF_FLOAT, pixels);
  glPixelStorei(GL_UNPACK_ROW_LENGTH, 0);
  glBindTexture(GL_TEXTURE_2D, 0);
  checkGl("uploading a depth map");
}

void GlKernelBackend::read(const KernelMap& source, std::span<uint16_t> target) {
  const GlMap& in = ownMap(source, this);
  const size_t count = static_cast<size_t>(in.width()) * static_cast<size_t>(in.height());
  if (target.size() != count) {
    throw std::invalid_argument("read: target holds " + std::to_string(target.size()) +
                                " values, the map " + std::to_string(count));
  }
  EglContext::Current current(*context_);
  glMemoryBarrier(GL_TEXTURE_UPDATE_BARRIER_BIT);
  glBindTexture(GL_TEXTURE_2D, in.texture());
  glPixelStorei(GL_PACK_ALIGNMENT, 1);
  glGetTexImage(GL_TEXTURE_2D, 0, GL_RED, GL_HALF_FLOAT, target.data());
  glBindTexture(GL_TEXTURE_2D, 0);
  checkGl("reading a map back");
}

void GlKernelBackend::copy(const KernelMap& source, KernelMap& target) {
  requireSameSize(source, target, "copy");
  const GlMap& in = ownMap(source, this);
  const GlMap& out = ownMap(target, this);
  if (&in == &out) return;
  EglContext::Current current(*context_);
  glCopyImageSubData(in.texture(), GL_TEXTURE_2D, 0, 0, 0, 0, out.texture(), GL_TEXTURE_2D, 0, 0, 0,
                     0, in.width(), in.height(), 1);
  checkGl("copying a map");
}

namespace {
void bindImage(GLuint unit, GLuint texture, GLenum access, GLenum format = GL_R16F) {
  glBindImageTexture(unit, texture, 0, GL_FALSE, 0, access, format);
}
void dispatch(const GlProgram& program, int width, int height) {
  glUseProgram(program.get());
  glDispatchCompute(groups(width), groups(height), 1);
  glMemoryBarrier(GL_SHADER_IMAGE_ACCESS_BARRIER_BIT | GL_TEXTURE_FETCH_BARRIER_BIT |
                  GL_TEXTURE_UPDATE_BARRIER_BIT | GL_PIXEL_BUFFER_BARRIER_BIT);
}
void setBlock(const gpu::GlBuffer& buffer, const void* data, GLsizeiptr size) {
  glBindBuffer(GL_UNIFORM_BUFFER, buffer.get());
  glBufferSubData(GL_UNIFORM_BUFFER, 0, size, data);
  glBindBufferBase(GL_UNIFORM_BUFFER, 0, buffer.get());
}
}  // namespace

void GlKernelBackend::dynamicDepthFilter(const KernelMap& current, const KernelMap& previous,
                                         KernelMap& out, const DynamicFilterParams& params) {
  requireSameSize(current, previous, "dynamicDepthFilter");
  requireSameSize(current, out, "dynamicDepthFilter");
  requireDistinct({&current, &out}, "dynamicDepthFilter");
  requireDistinct({&previous, &out}, "dynamicDepthFilter");
  const GlMap& c = ownMap(current, this);
  const GlMap& p = ownMap(previous, this);
  const GlMap& o = ownMap(out, this);
  EglContext::Current scope(*context_);
  setBlock(resources_->filterBlock, &params, sizeof params);
  bindImage(0, c.texture(), GL_READ_ONLY);
  bindImage(1, p.texture(), GL_READ_ONLY);
  bindImage(2, o.texture(), GL_WRITE_ONLY);
  dispatch(*resources_->filter, c.width(), c.height());
  checkGl("dynamicDepthFilter");
}

void GlKernelBackend::depthSmoothing(const KernelMap& depth, KernelMap& smoothed,
                                     const StereoParams& params) {
  requireSameSize(depth, smoothed, "depthSmoothing");
  requireDistinct({&depth, &smoothed}, "depthSmoothing");
  const GlMap& d = ownMap(depth, this);
  const GlMap& s = ownMap(smoothed, this);
  EglContext::Current scope(*context_);
  setBlock(resources_->stereoBlock, &params, sizeof params);
  bindImage(0, d.texture(), GL_READ_ONLY);
  bindImage(1, s.texture(), GL_WRITE_ONLY);
  dispatch(*resources_->smoothing, d.width(), d.height());
  checkGl("depthSmoothing");
}

void GlKernelBackend::stereoGeneration(const KernelMap& smoothed, KernelMap& left, KernelMap& right,
                                       const StereoParams& params) {
  requireSameSize(smoothed, left, "stereoGeneration");
  requireSameSize(smoothed, right, "stereoGeneration");
  requireDistinct({&smoothed, &left, &right}, "stereoGeneration");
  const GlMap& s = ownMap(smoothed, this);
  const GlMap& l = ownMap(left, this);
  const GlMap& r = ownMap(right, this);
  EglContext::Current scope(*context_);
  setBlock(resources_->stereoBlock, &params, sizeof params);
  bindImage(0, s.texture(), GL_READ_ONLY);
  bindImage(1, l.texture(), GL_WRITE_ONLY);
  bindImage(2, r.texture(), GL_WRITE_ONLY);
  dispatch(*resources_->stereo, s.width(), s.height());
  checkGl("stereoGeneration");
}

void GlKernelBackend::diskDilate(const KernelMap& source, KernelMap& target) {
  requireSameSize(source, target, "diskDilate");
  requireDistinct({&source, &target}, "diskDilate");
  const GlMap& in = ownMap(source, this);
  const GlMap& out = ownMap(target, this);
  EglContext::Current scope(*context_);
  bindImage(0, in.texture(), GL_READ_ONLY);
  bindImage(1, out.texture(), GL_WRITE_ONLY);
  dispatch(*resources_->dilate, in.width(), in.height());
  checkGl("diskDilate");
}

void GlKernelBackend::gaussianBlur(const KernelMap& source, KernelMap& target) {
  requireSameSize(source, target, "gaussianBlur");
  requireDistinct({&source, &target}, "gaussianBlur");
  const GlMap& in = ownMap(source, this);
  const GlMap& out = ownMap(target, this);
  EglContext::Current scope(*context_);
  Resources& r = *resources_;
  if (r.blurWidth != in.width() || r.blurHeight != in.height()) {
    r.blurScratch = makeTexture(GL_R32F, in.width(), in.height());
    r.blurWidth = in.width();
    r.blurHeight = in.height();
  }
  bindImage(0, in.texture(), GL_READ_ONLY);
  bindImage(1, r.blurScratch.get(), GL_WRITE_ONLY, GL_R32F);
  dispatch(*r.blurRows, in.width(), in.height());
  bindImage(0, r.blurScratch.get(), GL_READ_ONLY, GL_R32F);
  bindImage(1, out.texture(), GL_WRITE_ONLY);
  dispatch(*r.blurColumns, in.width(), in.height());
  checkGl("gaussianBlur");
}

void GlKernelBackend::drawEyes(const BgraImageView& frame, const KernelMap& left,
                               const KernelMap& right, std::span<const EyeDraw> draws,
                               const MutableBgraImageView& target) {
  const GlMap& l = ownMap(left, this);
  const GlMap& rm = ownMap(right, this);
  if (frame.data == nullptr || frame.width <= 0 || frame.height <= 0) {
    throw std::invalid_argument("drawEyes: no captured frame");
  }
  for (const EyeDraw& draw : draws) {
    if (draw.x < 0 || draw.y < 0 || draw.width <= 0 || draw.height <= 0 ||
        draw.x + draw.width > target.width || draw.y + draw.height > target.height) {
      throw std::invalid_argument("drawEyes: eye rectangle outside the target");
    }
  }
  if (frame.pitch() % 4 != 0) throw std::invalid_argument("drawEyes: frame pitch not BGRA");
  EglContext::Current scope(*context_);
  Resources& r = *resources_;
  if (r.frameWidth != frame.width || r.frameHeight != frame.height) {
    r.frame = makeTexture(GL_RGBA8, frame.width, frame.height);
    r.frameWidth = frame.width;
    r.frameHeight = frame.height;
  }
  glBindTexture(GL_TEXTURE_2D, r.frame.get());
  glPixelStorei(GL_UNPACK_ALIGNMENT, 4);
  glPixelStorei(GL_UNPACK_ROW_LENGTH, static_cast<GLint>(frame.pitch() / 4));
  glTexSubImage2D(GL_TEXTURE_2D, 0, 0, 0, frame.width, frame.height, GL_BGRA, GL_UNSIGNED_BYTE,
                  frame.data);
  glPixelStorei(GL_UNPACK_ROW_LENGTH, 0);
  glBindTexture(GL_TEXTURE_2D, 0);

  if (r.targetWidth != target.width || r.targetHeight != target.height) {
    r.targetFramebuffer.reset();
    r.target = makeTexture(GL_RGBA8, target.width, target.height);
    r.targetFramebuffer = gpu::GlFramebuffer::create();
    glBindFramebuffer(GL_FRAMEBUFFER, r.targetFramebuffer.get());
    glFramebufferTexture2D(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, r.target.get(), 0);
    if (glCheckFramebufferStatus(GL_FRAMEBUFFER) != GL_FRAMEBUFFER_COMPLETE) {
      glBindFramebuffer(GL_FRAMEBUFFER, 0);
      throw GlError("eye-view framebuffer incomplete");
    }
    r.targetWidth = target.width;
    r.targetHeight = target.height;
  }
  glBindFramebuffer(GL_FRAMEBUFFER, r.targetFramebuffer.get());
  for (const EyeDraw& draw : draws) {
    r.eye->drawEye(draw, target.height, frame.width, frame.height, r.frame.get(), l.texture(),
                   rm.texture());
  }

  const size_t rowBytes = static_cast<size_t>(target.width) * 4;
  const size_t bytes = rowBytes * static_cast<size_t>(target.height);
  if (r.pixelStaging.size() < bytes) r.pixelStaging.resize(bytes);
  glPixelStorei(GL_PACK_ALIGNMENT, 4);
  glReadPixels(0, 0, target.width, target.height, GL_BGRA, GL_UNSIGNED_BYTE, r.pixelStaging.data());
  glBindFramebuffer(GL_FRAMEBUFFER, 0);
  checkGl("drawing the eye views");
  // Read-back rows run bottom-up; the target runs top-down.
  for (const EyeDraw& draw : draws) {
    for (int y = draw.y; y < draw.y + draw.height; ++y) {
      const uint8_t* src = r.pixelStaging.data() +
                           static_cast<size_t>(target.height - 1 - y) * rowBytes +
                           static_cast<size_t>(draw.x) * 4;
      std::memcpy(target.row(y) + static_cast<size_t>(draw.x) * 4, src,
                  static_cast<size_t>(draw.width) * 4);
    }
  }
}

}  // namespace vistrelle::ai3d
